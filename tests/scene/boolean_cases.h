// Operand pairs with known exact results, shared by the scene tests and the benchmarks.
#pragma once

#include <cmath>
#include <numbers>
#include <string>

#include "generator/generators.h"
#include "geometry/vector4.h"
#include "meshio/edge_sampling.h"
#include "scene/scene.h"
#include "support/mesh_checks.h"

namespace korvan::test {

enum class Operation { Union, Intersection, Difference };

inline PrimitiveParameters sphereParameters(int32_t m, int32_t n, float r) {
    PrimitiveParameters p;
    p.shape = Shape::Sphere;
    p.m = m;
    p.n = n;
    p.a = r;
    return p;
}
inline PrimitiveParameters cubeParameters(float a) {
    PrimitiveParameters p;
    p.shape = Shape::Cube;
    p.a = a;
    return p;
}
inline PrimitiveParameters cylinderParameters(int32_t n, float r, float h) {
    PrimitiveParameters p;
    p.shape = Shape::Cylinder;
    p.m = n;
    p.a = r;
    p.b = h;
    return p;
}

inline Status runOperation(Scene& scene, Operation op) {
    switch (op) {
        case Operation::Union:
            return scene.OnUnion();
        case Operation::Intersection:
            return scene.OnIntersection();
        case Operation::Difference:
            return scene.OnDifference();
    }
    return {};
}

// Generates both operands with `factor`, moves object 2 by `offset` and runs the operation.
inline void runCase(Scene& scene, const PrimitiveParameters& p1, const PrimitiveParameters& p2,
                    const Vector4& offset, Operation op, float factor) {
    const float saved = g_samplingFactor;
    g_samplingFactor = factor;
    (void)scene.GenerateObject(1, p1);
    (void)scene.GenerateObject(2, p2);
    g_samplingFactor = saved;
    g_object2Offset = offset;
    (void)runOperation(scene, op);
}

}  // namespace korvan::test
