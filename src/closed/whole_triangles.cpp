// Split triangles that the result keeps entirely go back in whole.
//
// Where surfaces lie on one plane (coplanar faces, a flat tool on a floor it cut before), every
// triangle there is cut by the other surface's edges although each piece ends up on the same
// side: the result would carry all the pieces and grow with every operation. A triangle with a
// piece on the other surface whose pieces are all kept is the triangle itself, exactly, provided
// it meets every point that another kept piece uses inside it or inside its edges. With none,
// it goes back whole; with some inside its edges only, it is split at those alone, which keeps
// every other seam point out; with one inside it, it keeps its pieces, and their points then
// oblige the triangles around in turn. Triangles the split left whole
// (Arrangement::isDeferred) take part as if split, with the points their pieces would have.
#include <algorithm>
#include <tuple>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_sort.h>

#include "closed/passes.h"

namespace korvan::closed {

WholeTriangles wholeTriangles(const Arrangement& arrangement, const std::vector<char>& keep) {
    const std::vector<Piece>& pieces = arrangement.pieces();
    const std::vector<Corners>& triangles = arrangement.triangles();
    const auto n = static_cast<int32_t>(pieces.size());
    // Runs of pieces of one source triangle; a run of one piece is the triangle already,
    // unless the split left it whole.
    struct Run {
        int32_t begin, end;
        bool deferred;
    };
    std::vector<Run> runs;
    for (int32_t p = 0; p < n;) {
        int32_t q = p + 1;
        while (q < n && pieces[q].source == pieces[p].source) {
            ++q;
        }
        const bool allKept =
            std::all_of(keep.begin() + p, keep.begin() + q, [](char k) { return k != 0; });
        const bool onOther = std::any_of(pieces.begin() + p, pieces.begin() + q,
                                         [](const Piece& x) { return x.coplanar != 0; });
        const bool deferred = q - p == 1 && arrangement.isDeferred(pieces[p].source);
        if ((q - p > 1 || deferred) && allKept && onOther) {
            runs.push_back({p, q, deferred});
        }
        p = q;
    }
    WholeTriangles out;
    out.action.assign(pieces.size(), kKeepPiece);
    if (runs.empty()) {
        return out;
    }
    // Every point of a run's pieces, corners included.
    const auto forEachPoint = [&](const Run& run, const auto& f) {
        if (run.deferred) {
            for (const int32_t v : arrangement.deferredPoints(pieces[run.begin].source)) {
                f(v);
            }
            return;
        }
        for (int32_t p = run.begin; p < run.end; ++p) {
            for (const int32_t v : pieces[p].v) {
                f(v);
            }
        }
    };
    std::vector<char>& used = out.used;
    used.assign(static_cast<size_t>(arrangement.pointCount()), 0);
    // Points that a kept piece outside every run uses, and the runs' corners, which every way
    // of emitting a run uses.
    {
        size_t r = 0;
        for (int32_t p = 0; p < n; ++p) {
            if (r < runs.size() && p == runs[r].begin) {
                for (const int32_t v : triangles[static_cast<size_t>(pieces[p].source)]) {
                    used[static_cast<size_t>(v)] = 1;
                }
                p = runs[r++].end - 1;
                continue;
            }
            if (keep[p]) {
                for (const int32_t v : pieces[p].v) {
                    used[static_cast<size_t>(v)] = 1;
                }
            }
        }
    }
    // For each point, the runs it lies inside of (not at a corner), and whether inside the
    // triangle rather than inside one of its edges.
    struct Inner {
        int32_t point, run;
        bool interior;
        bool operator<(const Inner& o) const {
            return std::tie(point, run, interior) < std::tie(o.point, o.run, o.interior);
        }
    };
    std::vector<Inner> inner;
    {
        std::vector<std::vector<Inner>> ofRun(runs.size());
        tbb::parallel_for(tbb::blocked_range<size_t>(0, runs.size(), 256),
                          [&](const tbb::blocked_range<size_t>& range) {
                              std::vector<int32_t> onEdges, inside;
                              for (size_t r = range.begin(); r < range.end(); ++r) {
                                  arrangement.innerPoints(pieces[runs[r].begin].source, onEdges,
                                                          inside);
                                  const auto run = static_cast<int32_t>(r);
                                  for (const int32_t v : onEdges) {
                                      ofRun[r].push_back({v, run, false});
                                  }
                                  for (const int32_t v : inside) {
                                      ofRun[r].push_back({v, run, true});
                                  }
                              }
                          });
        for (const std::vector<Inner>& points : ofRun) {
            inner.insert(inner.end(), points.begin(), points.end());
        }
    }
    tbb::parallel_sort(inner.begin(), inner.end());
    // A used point inside a run's edge makes it emit the triangle split at the used points of
    // its edges only (kSplitAtUsed), which uses no point that was not used already; a used point
    // inside the triangle makes it emit its pieces, whose points are then used in turn.
    enum : uint8_t { kWhole, kAtUsed, kPieces };
    std::vector<uint8_t> state(runs.size(), kWhole);
    std::vector<int32_t> pending;
    for (const Inner& i : inner) {
        if (used[static_cast<size_t>(i.point)] && (pending.empty() || pending.back() != i.point)) {
            pending.push_back(i.point);
        }
    }
    const auto below = [](const Inner& e, int32_t x) { return e.point < x; };
    while (!pending.empty()) {
        const int32_t v = pending.back();
        pending.pop_back();
        for (auto it = std::lower_bound(inner.begin(), inner.end(), v, below);
             it != inner.end() && it->point == v; ++it) {
            const auto r = static_cast<size_t>(it->run);
            if (state[r] == kPieces) {
                continue;
            }
            if (!it->interior) {
                state[r] = kAtUsed;
                continue;
            }
            state[r] = kPieces;
            forEachPoint(runs[r], [&](int32_t u) {
                if (!used[static_cast<size_t>(u)]) {
                    used[static_cast<size_t>(u)] = 1;
                    pending.push_back(u);
                }
            });
        }
    }
    std::vector<uint8_t>& action = out.action;
    for (size_t r = 0; r < runs.size(); ++r) {
        const auto first = static_cast<size_t>(runs[r].begin);
        if (state[r] == kPieces) {
            action[first] = runs[r].deferred ? kSplitNow : kKeepPiece;
            continue;
        }
        action[first] = state[r] == kWhole ? kWholeTriangle : kSplitAtUsed;
        std::fill(action.begin() + runs[r].begin + 1, action.begin() + runs[r].end, kDropPiece);
    }
    return out;
}

}  // namespace korvan::closed
