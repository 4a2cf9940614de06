// Operand pairs with known exact results, shared by the scene tests and the benchmarks.
#pragma once

#include "generator/generators.h"
#include "geometry/vector4.h"
#include "scene/scene.h"

namespace korvan::test {

// Generates both operands with `factor`, moves object 2 by `offset` and runs the operation.
inline Status runCase(Scene& scene, const PrimitiveParameters& p1, const PrimitiveParameters& p2,
                      const Vector4& offset, BooleanOp op, float factor) {
    scene.m_samplingFactor = factor;
    if (Status s = scene.GenerateObject(1, p1); !s) {
        return s;
    }
    if (Status s = scene.GenerateObject(2, p2); !s) {
        return s;
    }
    scene.m_object2Offset = offset;
    return scene.BooleanOperation(op);
}

}  // namespace korvan::test
