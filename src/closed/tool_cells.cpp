#include "closed/tool_cells.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace korvan::closed {

namespace {

// Cells along the reach box's longest edge: a few per tool triangle across, so that the
// crossed cells hug the tool's surface, and never so many that marking them costs more than
// the triangles it spares.
int32_t cellsAlongLongest(size_t toolTriangles) {
    const auto n = static_cast<int32_t>(4.0 * std::cbrt(static_cast<double>(toolTriangles)));
    return std::clamp(n, 8, 64);
}

}  // namespace

ToolCells::ToolCells(const Box& reach, const std::vector<Vector4>& tool,
                     const std::vector<Triangle>& toolTriangles, double margin) {
    double longest = 0;
    double scale = 1;
    for (int i = 0; i < 3; ++i) {
        longest = std::max(longest, reach.hi[i] - reach.lo[i]);
        scale = std::max({scale, std::abs(reach.lo[i]), std::abs(reach.hi[i])});
    }
    m_lo = reach.lo;
    const double size = longest / cellsAlongLongest(toolTriangles.size());
    m_perCell = 1.0 / size;
    m_slack = 1e-9 * scale;
    for (int i = 0; i < 3; ++i) {
        m_count[i] =
            std::max(1, static_cast<int32_t>(std::ceil((reach.hi[i] - reach.lo[i]) / size)));
    }
    m_state.assign(static_cast<size_t>(m_count[0]) * m_count[1] * m_count[2], kUnknown);

    for (const Triangle& t : toolTriangles) {
        const Vector4& a = tool[static_cast<size_t>(t.i0)];
        const Vector4& b = tool[static_cast<size_t>(t.i1)];
        const Vector4& c = tool[static_cast<size_t>(t.i2)];
        const double lo[3] = {std::min({a.x, b.x, c.x}) - margin,
                              std::min({a.y, b.y, c.y}) - margin,
                              std::min({a.z, b.z, c.z}) - margin};
        const double hi[3] = {std::max({a.x, b.x, c.x}) + margin,
                              std::max({a.y, b.y, c.y}) + margin,
                              std::max({a.z, b.z, c.z}) + margin};
        const int32_t x1 = cell(hi[0], 0), y1 = cell(hi[1], 1), z1 = cell(hi[2], 2);
        for (int32_t x = cell(lo[0], 0); x <= x1; ++x) {
            for (int32_t y = cell(lo[1], 1); y <= y1; ++y) {
                for (int32_t z = cell(lo[2], 2); z <= z1; ++z) {
                    m_state[at(x, y, z)] = kCrossed;
                }
            }
        }
    }

    // A border cell holds points of the reach box's boundary, which lie outside the tool; an
    // uncrossed cell lies wholly on one side of the surface, as does a face-joined run of them.
    const int32_t nx = m_count[0], ny = m_count[1], nz = m_count[2];
    std::vector<uint32_t> stack;
    const auto reachOut = [&](size_t i) {
        if (m_state[i] == kUnknown) {
            m_state[i] = kOutside;
            stack.push_back(static_cast<uint32_t>(i));
        }
    };
    for (int32_t x = 0; x < nx; ++x) {
        for (int32_t y = 0; y < ny; ++y) {
            if (x == 0 || y == 0 || x + 1 == nx || y + 1 == ny) {
                for (int32_t z = 0; z < nz; ++z) {
                    reachOut(at(x, y, z));
                }
            } else {
                reachOut(at(x, y, 0));
                reachOut(at(x, y, nz - 1));
            }
        }
    }
    const size_t strideY = static_cast<size_t>(nz), strideX = strideY * static_cast<size_t>(ny);
    while (!stack.empty()) {
        const size_t i = stack.back();
        stack.pop_back();
        const auto x = static_cast<int32_t>(i / strideX);
        const auto y = static_cast<int32_t>(i / strideY % static_cast<size_t>(ny));
        const auto z = static_cast<int32_t>(i % strideY);
        const std::array<std::pair<bool, size_t>, 6> neighbours = {{{x > 0, i - strideX},
                                                                    {x + 1 < nx, i + strideX},
                                                                    {y > 0, i - strideY},
                                                                    {y + 1 < ny, i + strideY},
                                                                    {z > 0, i - 1},
                                                                    {z + 1 < nz, i + 1}}};
        for (const auto& [inside, n] : neighbours) {
            if (inside) {
                reachOut(n);
            }
        }
    }
}

int32_t ToolCells::cell(double v, int axis) const {
    // Clamped first, so that truncation is the floor.
    const double c =
        std::clamp((v - m_lo[axis]) * m_perCell, 0.0, static_cast<double>(m_count[axis] - 1));
    return static_cast<int32_t>(c);
}

bool ToolCells::outside(const std::array<double, 3>& lo, const std::array<double, 3>& hi) const {
    const int32_t x1 = cell(hi[0] + m_slack, 0), y1 = cell(hi[1] + m_slack, 1),
                  z1 = cell(hi[2] + m_slack, 2);
    for (int32_t x = cell(lo[0] - m_slack, 0); x <= x1; ++x) {
        for (int32_t y = cell(lo[1] - m_slack, 1); y <= y1; ++y) {
            for (int32_t z = cell(lo[2] - m_slack, 2); z <= z1; ++z) {
                if (m_state[at(x, y, z)] != kOutside) {
                    return false;
                }
            }
        }
    }
    return true;
}

}  // namespace korvan::closed
