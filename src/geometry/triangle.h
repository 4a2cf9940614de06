// One face of an indexed mesh with the data the octree and the Boolean engine sort by.
#pragma once

#include <cstdint>

#include "geometry/vector4.h"

namespace korvan {

// Triangle labels with respect to the other solid of a Boolean operation.
enum : int32_t {
    kLabelNone = 0,     // not labelled yet
    kLabelCut = 1,      // cut; its pieces stand in for it
    kLabelInside = 5,   // inside the other solid
    kLabelOutside = 6,  // outside the other solid
};

// Vertex indices run counter-clockwise seen from outside, so `normal` points out of the solid.
// `centroid` and `normal` are derived data, filled by Solid::computeTriangleData.
//
// Copy construction copies every field; assignment copies everything but `label`, which
// stays the target's. Code that must move a triangle whole (label included) copy-constructs it.
struct Triangle {
    int32_t i0 = 0;
    int32_t i1 = 0;
    int32_t i2 = 0;
    Vector4 centroid;
    Vector4 normal;
    int32_t label = kLabelNone;

    Triangle() = default;
    Triangle(const Triangle&) = default;
    Triangle& operator=(const Triangle& other) {
        i0 = other.i0;
        i1 = other.i1;
        i2 = other.i2;
        centroid = other.centroid;
        normal = other.normal;
        return *this;
    }

    // Sets the corners and resets the label; centroid and normal keep their stale values.
    void setIndices(int32_t a, int32_t b, int32_t c) {
        i0 = a;
        i1 = b;
        i2 = c;
        label = kLabelNone;
    }
};

}  // namespace korvan
