// Random closed solids and pairs of them, built from a stream of choices, for the closed
// engine's fuzz target and its randomised tests: convex hulls of points, boxes turned by tiny
// angles, height fields full of coplanar faces, bumpy spheres, an operand against a copy of
// itself, offsets down to 1e-30, split vertices and needle triangles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "boolean/operation.h"
#include "geometry/solid.h"

namespace korvan::test {

// Reads choices from bytes: the fuzzer's, or bytes drawn from a seed. Past the end every read
// gives 0, so any input makes some pair.
class Choices {
public:
    Choices(const uint8_t* data, size_t size);
    // `count` bytes from a 64-bit Mersenne twister seeded with `seed`.
    explicit Choices(uint64_t seed, size_t count = 512);

    uint32_t below(uint32_t n);  // in [0, n); 0 when n is 0
    double unit();               // in [0, 1), 16 bits
    bool flip() { return below(2) == 1; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_at = 0;
};

// Two operands and object 2's offset, with a line saying what they are (for a failure's
// message and a seed's description).
struct OperandPair {
    Solid a;
    Solid b;
    Vector4 offset;
    bool sameAsA = false;  // b is a, unmoved, and offset is zero: A op A
    std::string description;
};

OperandPair randomOperands(Choices& choices);

// The convex hull of the points as a closed, outward-oriented triangle mesh; empty when the
// points span no volume.
Solid convexHull(const std::vector<Vector4>& points);

// What one closed operation gave, judged independently of the engine: closed and oriented by
// welded positions, its edges with two triangles each (pinched: more, as many each way), and its
// signed volume. `roundingSlack` bounds how much rounding the result's new vertices to floats
// can have changed its volume.
struct Judged {
    bool ok = false;  // the engine returned a result
    std::string message;
    int64_t openOrFlipped = 0;
    int64_t pinchedEdges = 0;
    double volume = 0;
    double roundingSlack = 0;
    double seconds = 0;
    int64_t folds = 0;    // the engine's own counts, for a closer look
    int64_t slivers = 0;
};

// Runs closedBoolean(a, b moved by offset, op) and judges its result.
Judged runAndJudge(const OperandPair& pair, BooleanOp op);

// A fault in the three operations on one pair, or empty when none: a result that is open or
// has edges used unevenly each way, an engine failure on operands it
// accepted, volumes that break vol(A u B) + vol(A n B) = vol(A) + vol(B) or
// vol(A - B) = vol(A) - vol(A n B), and for A against itself anything but A, A, empty.
// `times` receives each operation's seconds.
std::string faultOfPair(const OperandPair& pair, double times[3] = nullptr);

}  // namespace korvan::test
