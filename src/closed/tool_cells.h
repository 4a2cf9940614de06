// Cells of a box around a milling tool: where its surface may pass, and where the box is
// wholly outside it. Internal to the closed engine's milling step.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "closed/passes.h"
#include "geometry/solid.h"

namespace korvan::closed {

class ToolCells {
public:
    // `reach` holds the tool with room to spare on every side; each tool triangle's box,
    // widened by `margin`, marks the cells it meets as crossed. Cells joined to the reach box's
    // border through uncrossed cells are outside the tool; the rest (the tool's inside, or a
    // pocket it encloses) are neither.
    ToolCells(const Box& reach, const std::vector<Vector4>& tool,
              const std::vector<Triangle>& toolTriangles, double margin);

    // Whether every cell that the box [lo, hi] meets, or comes within rounding of, is outside
    // the tool; a box beyond the reach box is outside too.
    bool outside(const std::array<double, 3>& lo, const std::array<double, 3>& hi) const;

private:
    enum : uint8_t { kUnknown = 0, kCrossed = 1, kOutside = 2 };
    int32_t cell(double v, int axis) const;
    size_t at(int32_t x, int32_t y, int32_t z) const {
        return (static_cast<size_t>(x) * m_count[1] + static_cast<size_t>(y)) * m_count[2] +
               static_cast<size_t>(z);
    }

    std::array<double, 3> m_lo{};
    double m_perCell = 1;  // cells per unit of length
    double m_slack = 0;    // rounding allowance of a query
    std::array<int32_t, 3> m_count{};
    std::vector<uint8_t> m_state;
};

}  // namespace korvan::closed
