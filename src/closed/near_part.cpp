// Which of the workpiece's triangles a milling step must put through the arrangement, and
// whether the tool removes the others that lie in its box.
#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <vector>

#include "closed/passes.h"

namespace korvan::closed {

std::vector<int32_t> withinReachOfTool(const std::vector<Vector4>& vertices,
                                       const std::vector<Triangle>& triangles,
                                       const std::vector<int32_t>& candidates,
                                       const std::vector<Vector4>& tool,
                                       const std::vector<Triangle>& toolTriangles, double margin) {
    const auto boxOf = [](const Vector4& a, const Vector4& b, const Vector4& c, double widen) {
        return Box{{std::min({a.x, b.x, c.x}) - widen, std::min({a.y, b.y, c.y}) - widen,
                    std::min({a.z, b.z, c.z}) - widen},
                   {std::max({a.x, b.x, c.x}) + widen, std::max({a.y, b.y, c.y}) + widen,
                    std::max({a.z, b.z, c.z}) + widen}};
    };
    std::vector<Box> boxes;
    boxes.reserve(toolTriangles.size());
    Box region = emptyBox();
    double sizeSum = 0;
    for (const Triangle& t : toolTriangles) {
        const Box b = boxOf(tool[t.i0], tool[t.i1], tool[t.i2], margin);
        boxes.push_back(b);
        grow(region, b);
        sizeSum += std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
    }
    // A dense grid of cells about twice a tool triangle's size, at most 128 a side.
    double cell = std::max(2.0 * sizeSum / static_cast<double>(boxes.size()), 1e-30);
    std::array<int32_t, 3> dim{};
    for (;;) {
        for (int i = 0; i < 3; ++i) {
            dim[i] = static_cast<int32_t>(
                std::max(std::ceil((region.hi[i] - region.lo[i]) / cell), 1.0));
        }
        if (dim[0] <= 128 && dim[1] <= 128 && dim[2] <= 128) {
            break;
        }
        cell *= 2.0;
    }
    const auto cellOf = [&](int i, double v) {
        return std::clamp(static_cast<int32_t>(std::floor((v - region.lo[i]) / cell)), 0,
                          dim[i] - 1);
    };
    const auto forCells = [&](const Box& b, const auto& f) {
        for (int32_t z = cellOf(2, b.lo[2]); z <= cellOf(2, b.hi[2]); ++z) {
            for (int32_t y = cellOf(1, b.lo[1]); y <= cellOf(1, b.hi[1]); ++y) {
                for (int32_t x = cellOf(0, b.lo[0]); x <= cellOf(0, b.hi[0]); ++x) {
                    if (f((z * dim[1] + y) * dim[0] + x)) {
                        return true;
                    }
                }
            }
        }
        return false;
    };
    std::vector<int32_t> start(static_cast<size_t>(dim[0]) * dim[1] * dim[2] + 1, 0);
    for (const Box& b : boxes) {
        forCells(b, [&](int32_t c) { return ++start[static_cast<size_t>(c) + 1], false; });
    }
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<int32_t> members(static_cast<size_t>(start.back()));
    {
        std::vector<int32_t> fill(start.begin(), start.end() - 1);
        for (int32_t n = 0; n < static_cast<int32_t>(boxes.size()); ++n) {
            forCells(boxes[static_cast<size_t>(n)], [&](int32_t c) {
                members[static_cast<size_t>(fill[static_cast<size_t>(c)]++)] = n;
                return false;
            });
        }
    }
    const auto overlaps = [](const Box& a, const Box& b) {
        return a.lo[0] <= b.hi[0] && b.lo[0] <= a.hi[0] && a.lo[1] <= b.hi[1] &&
               b.lo[1] <= a.hi[1] && a.lo[2] <= b.hi[2] && b.lo[2] <= a.hi[2];
    };
    return selectInOrder(static_cast<int32_t>(candidates.size()), [&](int32_t k) {
        const Triangle& t = triangles[static_cast<size_t>(candidates[static_cast<size_t>(k)])];
        const Box b = boxOf(vertices[t.i0], vertices[t.i1], vertices[t.i2], 0.0);
        return forCells(b, [&](int32_t c) {
            for (int32_t m = start[static_cast<size_t>(c)]; m < start[static_cast<size_t>(c) + 1];
                 ++m) {
                if (overlaps(b, boxes[static_cast<size_t>(members[static_cast<size_t>(m)])])) {
                    return true;
                }
            }
            return false;
        });
    });
}

bool passiveInside(const std::vector<Triangle>& triangles, const std::vector<Vector4>& vertices,
                   const std::vector<int32_t>& passive, const Box& toolBox,
                   const std::vector<int8_t>& vertexInside, std::vector<char>& inside) {
    // Vertices joined by passive triangles; statuses gathered per group.
    std::vector<int32_t> parent(vertexInside.size());
    std::iota(parent.begin(), parent.end(), 0);
    const auto find = [&](int32_t v) {
        while (parent[static_cast<size_t>(v)] != v) {
            parent[static_cast<size_t>(v)] = parent[static_cast<size_t>(parent[v])];
            v = parent[static_cast<size_t>(v)];
        }
        return v;
    };
    const auto join = [&](int32_t a, int32_t b) {
        a = find(a);
        b = find(b);
        if (a != b) {
            parent[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
        }
    };
    for (int32_t t : passive) {
        const Triangle& tri = triangles[static_cast<size_t>(t)];
        join(tri.i0, tri.i1);
        join(tri.i1, tri.i2);
    }
    const auto outsideToolBox = [&](const Vector4& p) {
        return p.x < toolBox.lo[0] || p.x > toolBox.hi[0] || p.y < toolBox.lo[1] ||
               p.y > toolBox.hi[1] || p.z < toolBox.lo[2] || p.z > toolBox.hi[2];
    };
    std::vector<int8_t> groupInside(vertexInside.size(), -1);
    const auto settle = [&](int32_t v, int8_t status) {
        int8_t& s = groupInside[static_cast<size_t>(find(v))];
        if (s >= 0 && s != status) {
            return false;
        }
        s = status;
        return true;
    };
    for (int32_t t : passive) {
        const Triangle& tri = triangles[static_cast<size_t>(t)];
        for (int32_t v : {tri.i0, tri.i1, tri.i2}) {
            const int8_t known = vertexInside[static_cast<size_t>(v)];
            if ((known >= 0 && !settle(v, known)) ||
                (outsideToolBox(vertices[static_cast<size_t>(v)]) && !settle(v, 0))) {
                return false;
            }
        }
    }
    inside.assign(passive.size(), 0);
    for (size_t k = 0; k < passive.size(); ++k) {
        const int8_t s =
            groupInside[static_cast<size_t>(find(triangles[static_cast<size_t>(passive[k])].i0))];
        if (s < 0) {
            return false;
        }
        inside[k] = static_cast<char>(s);
    }
    return true;
}

}  // namespace korvan::closed
