// The closed engine on random solid pairs from the fuzz target's generator: each seed names a
// pair that once gave a wrong result, so its smallest reproducer stays a test.
#include <gtest/gtest.h>

#include <string>

#include "closed/closed_boolean.h"
#include "geometry/mesh_topology.h"
#include "support/mesh_checks.h"
#include "support/random_solids.h"

namespace korvan {
namespace {

std::string faultOfSeed(uint64_t seed) {
    test::Choices choices(seed);
    const test::OperandPair pair = test::randomOperands(choices);
    const std::string fault = test::faultOfPair(pair);
    return fault.empty() ? fault : pair.description + ": " + fault;
}

// A seam point a hair's breadth from an operand's edge rounds onto it or across it: the
// sliver it bounds turns flat or over. Collapsing it along an edge moved the seam point as far
// as the edge is long, and the volumes went wrong by up to a third.
TEST(ClosedRandom, SeamPointsRoundedOntoOrAcrossAnEdgeKeepTheVolumes) {
    // box / bipyramid nudged by 1e-7 (flat slivers on both faces at a box edge); bipyramid /
    // itself turned 7 degrees with corners 1e-17 apart; sphere / box and hull / copy moved
    // by 1e-30 (slivers turned over).
    for (uint64_t seed : {3140u, 4779u, 4722u, 4542u}) {
        EXPECT_EQ(faultOfSeed(seed), "") << "seed " << seed;
    }
}

// A spread of seeds of every kind, a few hundred operations.
TEST(ClosedRandom, PairsOfEveryKindGiveClosedResultsWithTheVolumeIdentity) {
    for (uint64_t seed = 1; seed <= 100; ++seed) {
        EXPECT_EQ(faultOfSeed(seed), "") << "seed " << seed;
    }
}

// A seed gives one pair whatever the process did before: a fuzz input found after hours must
// give the same operands when it runs alone. Seed 13132 is a hull with a flat facet, which
// CGAL's hull cut along the other diagonal once the operations on the seeds before it had run.
TEST(ClosedRandom, ASeedGivesThePairItGaveBefore) {
    const auto pairOf = [](uint64_t seed) {
        test::Choices choices(seed);
        return test::randomOperands(choices);
    };
    const test::OperandPair first = pairOf(13132);
    for (uint64_t seed = 12900; seed < 13132; ++seed) {
        const test::OperandPair other = pairOf(seed);
        for (const BooleanOp op :
             {BooleanOp::Union, BooleanOp::Intersection, BooleanOp::Difference}) {
            Solid out;
            (void)closedBoolean(other.a, other.b, op, out, nullptr, 0, other.offset);
        }
    }
    const test::OperandPair again = pairOf(13132);
    EXPECT_TRUE(test::sameMesh(first.a, again.a));
    EXPECT_TRUE(test::sameMesh(first.b, again.b));
}

// Unions go on as object 1 of a chain, whose triangles are not checked; each next step is
// closed, or refused with the output left as it was.
// - Seed 769's union touches itself (a needle through a hull, its sphere moved by 1e-20):
//   seam points fell outside the triangles they were found for, and the constrained
//   triangulation walked its constraints off the triangle and crashed.
// - Seed 904's union has a needle whose rounded normal is zero: seen along an axis its plane
//   contains, points off its edges were filed on them, and the triangulation crashed.
TEST(ClosedRandom, AChainOnAResultIsClosedOrRefused) {
    for (const uint64_t seed : {769, 904}) {
        test::Choices choices(seed);
        const test::OperandPair pair = test::randomOperands(choices);
        Solid joined;
        ASSERT_TRUE(
            closedBoolean(pair.a, pair.b, BooleanOp::Union, joined, nullptr, 0, pair.offset).ok());
        for (const Vector4& at : {Vector4(), pair.offset}) {
            for (const BooleanOp op :
                 {BooleanOp::Union, BooleanOp::Intersection, BooleanOp::Difference}) {
                Solid out;
                out.copyMeshFrom(pair.a);
                const Status s = closedBooleanOfResult(joined, pair.b, op, out, nullptr, 0, at);
                SCOPED_TRACE(seed);
                if (s.ok()) {
                    // Edges with four triangles are allowed: where the exact result pinches, its
                    // parts touch along them.
                    const MeshTopology topo = analyzeTopology(out);
                    EXPECT_EQ(topo.openEdges + topo.orientationFlips, 0);
                } else {
                    EXPECT_TRUE(test::sameMesh(out, pair.a));
                }
            }
        }
    }
}

}  // namespace
}  // namespace korvan
