// Parts of one operand's surface proven free of crossings as a whole, so that the self-crossing
// count tests only the triangles near their borders; internal to the engine.
#pragma once

#include <cstdint>

#include "closed/passes.h"

namespace korvan::closed {

// A triangle's box, exact in float.
struct Bounds {
    float lo[3], hi[3];
};

// Triangles first + i, i in [0, n), of the weld, as the self-crossing count reads them: their
// boxes, and per triangle 0 where it takes no part, else 0x40 | (s0 + 1) | (s1 + 1) << 2 |
// (s2 + 1) << 4 for the exact signs s of its normal's components.
struct CountedTriangles {
    const WeldedView& w;
    int32_t first, n;
    const Bounds* bounds;
    char* usable;
    // Written for each triangle that takes part, whether or not any is cleared: its sheet's
    // number, or -1 - i where it is in none. Two triangles of one sheet meet in nothing but
    // what they share.
    int32_t* sheet;
};

// Clears the entry in `usable` of every triangle whose only possible crossings are with
// triangles of its own sheet, which has none: then the pairs among what is left are all that
// need testing, and they hold every crossing pair. `region` holds the boxes; `meanSize` is a
// box's mean largest side. Returns how many were cleared.
int64_t dropSheetInteriors(const CountedTriangles& t, const Box& region, double meanSize,
                           const StopToken& stop);

}  // namespace korvan::closed
