// Split triangles that the result keeps entirely go back in whole.
//
// Where surfaces lie on one plane (coplanar faces, a flat tool on a floor it cut before), every
// triangle there is cut by the other surface's edges although each piece ends up on the same
// side: the result would carry all the pieces and grow with every operation. A triangle with a
// piece on the other surface whose pieces are all kept is the triangle itself, exactly, provided
// no other kept piece uses a point that only its pieces had (a seam point inside it or inside
// one of its edges): such a piece would meet its edge in the middle. Leaving one triangle split
// can oblige its neighbours, so the refusals spread from point to point until none is left.
// Triangles the split left whole (Arrangement::isDeferred) take part as if split, with the
// points their pieces would have.
#include <algorithm>

#include "closed/passes.h"

namespace korvan::closed {

std::vector<uint8_t> wholeTriangles(const Arrangement& arrangement, const std::vector<char>& keep) {
    const std::vector<Piece>& pieces = arrangement.pieces();
    const std::vector<Corners>& triangles = arrangement.triangles();
    const auto n = static_cast<int32_t>(pieces.size());
    std::vector<uint8_t> action(pieces.size(), kKeepPiece);
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
    if (runs.empty()) {
        return action;
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
    // Points that a kept piece outside every run uses.
    std::vector<char> used(static_cast<size_t>(arrangement.pointCount()), 0);
    {
        size_t r = 0;
        for (int32_t p = 0; p < n; ++p) {
            if (r < runs.size() && p == runs[r].begin) {
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
    // For each point, the runs it lies inside of (not at a corner).
    std::vector<std::pair<int32_t, int32_t>> inner;  // (point, run)
    for (size_t r = 0; r < runs.size(); ++r) {
        const Corners& c = triangles[static_cast<size_t>(pieces[runs[r].begin].source)];
        forEachPoint(runs[r], [&](int32_t v) {
            if (v != c[0] && v != c[1] && v != c[2]) {
                inner.emplace_back(v, static_cast<int32_t>(r));
            }
        });
    }
    std::sort(inner.begin(), inner.end());
    inner.erase(std::unique(inner.begin(), inner.end()), inner.end());
    std::vector<char> whole(runs.size(), 1);
    std::vector<int32_t> pending;
    for (const auto& [v, r] : inner) {
        if (used[static_cast<size_t>(v)] && (pending.empty() || pending.back() != v)) {
            pending.push_back(v);
        }
    }
    const auto below = [](const std::pair<int32_t, int32_t>& e, int32_t x) { return e.first < x; };
    while (!pending.empty()) {
        const int32_t v = pending.back();
        pending.pop_back();
        for (auto it = std::lower_bound(inner.begin(), inner.end(), v, below);
             it != inner.end() && it->first == v; ++it) {
            const auto r = static_cast<size_t>(it->second);
            if (!whole[r]) {
                continue;
            }
            whole[r] = 0;
            forEachPoint(runs[r], [&](int32_t u) {
                if (!used[static_cast<size_t>(u)]) {
                    used[static_cast<size_t>(u)] = 1;
                    pending.push_back(u);
                }
            });
        }
    }
    for (size_t r = 0; r < runs.size(); ++r) {
        if (whole[r]) {
            action[static_cast<size_t>(runs[r].begin)] = kWholeTriangle;
            std::fill(action.begin() + runs[r].begin + 1, action.begin() + runs[r].end, kDropPiece);
        } else if (runs[r].deferred) {
            action[static_cast<size_t>(runs[r].begin)] = kSplitNow;
        }
    }
    return action;
}

}  // namespace korvan::closed
