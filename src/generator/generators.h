// The five parametric primitives, and the parameter rules of the generator dialog.
#pragma once

#include <cstdint>
#include <optional>

#include "geometry/solid.h"
#include "geometry/status.h"

namespace korvan {

// Each generator replaces the solid's arrays with a closed mesh centred on the origin, its
// triangles counter-clockwise seen from outside, and sets the box from the parameters.
// Poles and axes lie on y. Centroids and normals stay zero (computeTriangleData follows).
// The generators check nothing; validate with firstInvalidField first.

// m divisions pole to pole, n around y: (m-1)n+2 vertices, 2(m-1)n triangles.
void MakeSphere(Solid& solid, int32_t m, int32_t n, float r);
// Cube of edge a: 8 vertices, 12 triangles.
void MakeCube(Solid& solid, float a);
// Box with edges a, b, c along x, y, z: 8 vertices, 12 triangles.
void MakeBox(Solid& solid, float a, float b, float c);
// n divisions around the axis: 2n+2 vertices, 4n triangles.
void MakeCylinder(Solid& solid, int32_t n, float r, float h);
// n divisions around the axis, apex up: n+2 vertices, 2n triangles.
void MakeCone(Solid& solid, int32_t n, float r, float h);

// Shapes in the order of the generator dialog's list.
enum class Shape : int32_t { Sphere = 0, Cube = 1, Box = 2, Cylinder = 3, Cone = 4 };

// The dialog's fields: integers m, n (rows 1, 2) and floats a, b, c (rows 4, 5, 6). Which
// fields a shape reads: sphere m, n, a; cube a; box a, b, c; cylinder and cone m, a, b.
struct PrimitiveParameters {
    Shape shape = Shape::Sphere;
    int32_t m = 0;
    int32_t n = 0;
    float a = 0.0f;
    float b = 0.0f;
    float c = 0.0f;

    // Each shape with the fields it reads.
    static PrimitiveParameters sphere(int32_t m, int32_t n, float r) {
        return {Shape::Sphere, m, n, r, 0.0f, 0.0f};
    }
    static PrimitiveParameters cube(float a) { return {Shape::Cube, 0, 0, a, 0.0f, 0.0f}; }
    static PrimitiveParameters box(float a, float b, float c) {
        return {Shape::Box, 0, 0, a, b, c};
    }
    static PrimitiveParameters cylinder(int32_t n, float r, float h) {
        return {Shape::Cylinder, n, 0, r, h, 0.0f};
    }
    static PrimitiveParameters cone(int32_t n, float r, float h) {
        return {Shape::Cone, n, 0, r, h, 0.0f};
    }
};

enum class ParameterField { M, N, A, B, C };

inline constexpr const char* kInvalidParameterMessage = "Nedozvoljena vrijednost parametra";

// 3 <= value <= 1000.
bool isValidCount(int32_t value);
// 0.0001 < value <= 10000, compared in double (so a typed 0.0001 is refused).
bool isValidLength(float value);

// The first field the shape uses that is out of bounds, in the dialog's order of tests;
// nullopt when all are valid.
std::optional<ParameterField> firstInvalidField(const PrimitiveParameters& p);

// Fills `solid` with the shape. Parameters must be valid.
void generateShape(Solid& solid, const PrimitiveParameters& p);

// The generate command without its dialog: validates, generates, samples with
// `samplingFactor` and computes triangle data. `target` is replaced only on success and
// keeps its `wireframe` flag; on failure it is left exactly as it was. `plain`: as
// completeAndReplace's.
Status generateObject(const PrimitiveParameters& p, float samplingFactor, Solid& target,
                      Solid* plain = nullptr);

}  // namespace korvan
