#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "formats/off.h"
#include "formats/stl.h"
#include "generator/generators.h"
#include "support/format_checks.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

TEST(StlWriter, BinaryHoldsUnitNormalsOfTheCornersAndNoSolidHeader) {
    Solid cube;
    MakeCube(cube, 2.0f);
    // A degenerate triangle gets the zero normal.
    cube.triangles.emplace_back().setIndices(0, 0, 1);
    const std::string bytes = test::savedBytes(cube, "m.stl");
    ASSERT_EQ(bytes.size(), 84u + 50u * 13u);
    EXPECT_NE(bytes.substr(0, 5), "solid");  // other readers would take it for text
    uint32_t count = 0;
    std::memcpy(&count, bytes.data() + 80, 4);
    EXPECT_EQ(count, 13u);
    for (size_t t = 0; t < 13; ++t) {
        const char* record = bytes.data() + 84 + 50 * t;
        float f[12];
        std::memcpy(f, record, sizeof f);
        const Vector4 n(f[0], f[1], f[2]);
        const Vector4 a(f[3], f[4], f[5]), b(f[6], f[7], f[8]), c(f[9], f[10], f[11]);
        const Vector4 expected = cross(b - a, c - a) / 4.0f;  // faces of area 2 in a cube of 2
        EXPECT_EQ(n, t < 12 ? expected : Vector4()) << t;
        EXPECT_EQ(record[48], 0);
        EXPECT_EQ(record[49], 0);
    }
}

TEST(StlWriter, AsciiIsTheFamiliarText) {
    const Solid s = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1e-7f, 0}}, {0, 1, 2});
    EXPECT_EQ(test::savedBytes(s, "a.stl", WriteOptions{true}),
              "solid korvan\n"
              "  facet normal 0.000000 0.000000 1.000000\n"
              "    outer loop\n"
              "      vertex 0.000000 0.000000 0.000000\n"
              "      vertex 1.000000 0.000000 0.000000\n"
              "      vertex 0.000000 1e-07 0.000000\n"
              "    endloop\n"
              "  endfacet\n"
              "endsolid korvan\n");
}

TEST(StlReader, TakesABinaryFileWhoseHeaderSaysSolidByItsLength) {
    Solid cube;
    MakeCube(cube, 1.0f);
    std::string bytes = test::savedBytes(cube, "m.stl");
    std::memcpy(bytes.data(), "solid cube\n  facet normal", 25);
    Solid back;
    ASSERT_TRUE(readStlBytes(bytes, "cube.stl", back).ok());
    EXPECT_EQ(back.triangleCount(), 12);
    EXPECT_EQ(back.vertexCount(), 8);
    EXPECT_EQ(test::openEdgeCount(back), 0);
}

// A binary file is parsed as it is read, in pieces: across them the mesh is the one the bytes
// give in memory, welded alike, and a fault is placed by its triangle's number in the file.
TEST(StlReader, ABinaryFileReadInPiecesIsTheMeshOfItsBytes) {
    Solid sphere;
    ASSERT_TRUE(generateObject(PrimitiveParameters::sphere(150, 200, 1.0f), 1.0f, sphere).ok());
    std::string bytes = test::savedBytes(sphere, "s.stl");
    ASSERT_GT(sphere.triangleCount(), 3 * (1 << 14));  // several pieces
    test::TempDir dir;
    const std::string path = dir.path("s.stl");
    test::writeFile(path, bytes);
    Solid fromFile, fromBytes;
    ASSERT_TRUE(readStl(path, fromFile, ReadOptions{true}).ok());
    ASSERT_TRUE(readStlBytes(bytes, path, fromBytes, ReadOptions{true}).ok());
    test::expectSameMesh(fromFile, fromBytes);
    EXPECT_EQ(test::cornerList(fromFile), test::cornerList(fromBytes));
    EXPECT_EQ(fromFile.vertexCount(), sphere.vertexCount());
    EXPECT_EQ(test::openEdgeCount(fromFile), 0);

    const size_t late = 2 * (1 << 14) + 123;  // in the third piece
    const float nan = NAN;
    std::memcpy(bytes.data() + 84 + 50 * late + 12 + 4 * 7, &nan, 4);
    test::writeFile(path, bytes);
    const Status s = readStl(path, fromFile, ReadOptions{true});
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("trokut " + std::to_string(late + 1) + ":"), std::string::npos)
        << s.message();
    test::expectSameMesh(fromFile, fromBytes);  // kept as it was
}

TEST(StlReader, AcceptsAnyCaseAndSpacingSeveralSolidsAndIgnoresNormals) {
    const std::string text =
        "\xEF\xBB\xBF  SOLID first part\r\n"
        "facet normal nan nan nan\r\n OUTER LOOP\r\n\tvertex 0 0 0\r\n vertex +1 0 0\r\n"
        "  Vertex 0 1e0 0\r\n endloop\r\nEndFacet\r\nendsolid first part\r\n\r\n"
        "solid\nfacet outer loop vertex 0 0 0 vertex 0 1 0 vertex 0 0 1 endloop endfacet\n"
        "facet normal 1 0 0 outer loop vertex 0 0 0\nvertex 0 0 1\nvertex 1 0 0\nendloop\n"
        "endfacet\nendsolid\n";
    Solid s;
    const Status status = readStlBytes(text, "parts.stl", s, test::keepCoordinates());
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_EQ(s.triangleCount(), 3);
    EXPECT_EQ(s.vertexCount(), 4);  // the origin and three unit points, welded
    EXPECT_EQ(s.vertices[2], Vector4(0, 1, 0));
}

std::string withCount(std::string bytes, uint32_t count) {
    std::memcpy(bytes.data() + 80, &count, 4);
    return bytes;
}

std::string withFloat(std::string bytes, size_t at, float value) {
    std::memcpy(bytes.data() + at, &value, 4);
    return bytes;
}

std::vector<test::Refusal> stlRefusals() {
    Solid cube;
    MakeCube(cube, 1.0f);
    const std::string good = test::savedBytes(cube, "m.stl");
    const std::string facet = "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n";
    return {
        {"TruncatedBinary", good.substr(0, good.size() - 10),
         "najavljuje 12 trokuta, a datoteka ih sadrzi 11 trokuta i jos 40 bajtova"},
        {"CountBeyondTheFile", withCount(good, 1000), "najavljuje 1000 trokuta"},
        {"CountOfOneTooMany", withCount(good, 13), "sadrzi 12 trokuta"},
        {"TruncatedBinaryWithASolidHeader", "solid x" + good.substr(7, good.size() - 57),
         "najavljuje 12 trokuta, a datoteka ih sadrzi 11"},
        {"BinaryInfinity", withFloat(good, 84 + 4 * 50 + 12 + 20, INFINITY), "trokut 5:"},
        {"BinaryNan", withFloat(good, 84 + 11 * 50 + 12, NAN), "trokut 12:"},
        {"BinaryWithoutTriangles", good.substr(0, 80) + std::string(4, '\0'),
         "ne sadrzi nijedan trokut"},
        {"AsciiWithoutTriangles", "solid empty\nendsolid empty\n", "ne sadrzi nijedan trokut"},
        {"AsciiFacetWithFourVertices",
         "solid s\n" + facet + "vertex 0 1 0\nvertex 1 1 0\nendloop\nendfacet\nendsolid s\n",
         "redak 2: broj vrhova plohe je 4"},
        {"AsciiFacetWithTwoVertices", "solid s\n\n" + facet + "endloop\nendfacet\nendsolid\n",
         "redak 3: broj vrhova plohe je 2"},
        {"AsciiOverflowingNumber",
         "solid s\n" + facet + "vertex 0 1e39 0\nendloop\nendfacet\nendsolid\n",
         "redak 6: koordinata vrha nije konacan broj"},
        {"AsciiNan", "solid s\n" + facet + "vertex 0 NaN 0\nendloop\nendfacet\nendsolid\n",
         "redak 6: koordinata vrha nije konacan broj"},
        {"AsciiDecimalComma", "solid s\n" + facet + "vertex 0 1,5 0\nendloop\nendfacet\nendsolid\n",
         "redak 6: koordinate vrha nisu ispravni brojevi"},
        {"AsciiMissingEndsolid", "solid s\n" + facet + "vertex 0 1 0\nendloop\nendfacet\n",
         "datoteka zavrsava prerano"},
        {"AsciiMisspeltKeyword", "solid s\n" + facet + "vertex 0 1 0\nendlop\nendfacet\nendsolid\n",
         "redak 7: ocekivano 'vertex' ili 'endloop', a procitano je 'endlop'"},
        {"AsciiGarbageAfterEndsolid",
         "solid s\n" + facet + "vertex 0 1 0\nendloop\nendfacet\nendsolid\nxyz\n", "redak 10"},
        {"Empty", "", "je prazna"},
        {"NulBytes", std::string(300, '\0'), "najavljuje 0 trokuta"},
        {"FewNulBytes", std::string(20, '\0'), "nije ni binarna ni tekstualna"},
        {"OtherText", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "nije ni binarna ni tekstualna"},
    };
}

class StlReaderRefuses : public testing::TestWithParam<test::Refusal> {};

TEST_P(StlReaderRefuses, TheWholeFileAndKeepsTheOldObject) {
    test::expectRefused(GetParam(), "m.stl");
}

INSTANTIATE_TEST_SUITE_P(Stl, StlReaderRefuses, testing::ValuesIn(stlRefusals()),
                         [](const auto& info) { return info.param.name; });

TEST(OffReader, AcceptsVariantsCommentsPolygonsAndExtraValues) {
    const std::string tail =
        "0 0 0 1 0 0 1\n1 0 0 0 1 0 1\n\n1 1 0 0 0 1 1 # a comment\n0 1 0 1 1 1 1\n"
        "4 0 1 2 3 255 0 0\n3 0 2 1\n";
    for (const std::string head :
         {"OFF\n4 2 0\n", "# made by hand\nCOFF 4 2 5\n", "NOFF\r\n\r\n4 2\r\n", "STOFF\n4 2 0\n",
          "4 2 0\n", "off\n# counts next\n   4\t2 0\n"}) {
        SCOPED_TRACE(head);
        Solid s;
        ASSERT_TRUE(readOffBytes(head + tail, "m.off", s, test::keepCoordinates()).ok());
        ASSERT_EQ(s.vertexCount(), 4);
        EXPECT_EQ(s.vertices[2], Vector4(1, 1, 0));
        EXPECT_EQ(test::weldedCorners(s), (std::vector<int32_t>{0, 1, 2, 0, 2, 3, 0, 2, 1}));
    }
}

std::vector<test::Refusal> offRefusals() {
    const std::string vertices = "0 0 0\n1 0 0\n0 1 0\n";
    return {
        {"FourDimensions", "4OFF\n3 1 0\n0 0 0 0\n", "redak 1: podrzan je samo trodimenzionalni"},
        {"AnyDimension", "\nnOFF\n4\n3 1 0\n", "redak 2: podrzan je samo trodimenzionalni"},
        {"Binary", "OFF BINARY\n", "redak 1: binarni OFF nije podrzan"},
        {"CountsMissing", "OFF\n3\n" + vertices, "redak 2: nedostaju brojevi vrhova i ploha"},
        {"NoCountsAtAll", "OFF\n", "nedostaju brojevi vrhova i ploha"},
        {"NegativeCount", "OFF\n3 -1 0\n" + vertices, "redak 2: broj vrhova ili ploha je neg"},
        {"NotOff", "PLY\n3 1 0\n", "redak 1: ocekivano zaglavlje 'OFF'"},
        {"MoreVerticesThanTheFile", "OFF\n4 1 0\n" + vertices,
         "redak 2: broj vrhova u zaglavlju je 4, a datoteka ih sadrzi samo 3"},
        {"MoreFacesThanTheFile", "OFF\n3 2 0\n" + vertices + "3 0 1 2\n",
         "redak 2: broj ploha u zaglavlju je 2, a datoteka ih sadrzi samo 1"},
        {"HugeCounts", "OFF\n2000000000 2000000000 0\n" + vertices,
         "redak 2: broj vrhova u zaglavlju je 2000000000, a datoteka ih sadrzi samo 3"},
        {"TrailingData", "OFF\n3 1 0\n" + vertices + "3 0 1 2\n3 2 1 0\n",
         "redak 7: nakon svih ploha"},
        {"UnreadableCoordinate", "OFF\n3 1 0\n0 0 0\n1 x 0\n0 1 0\n3 0 1 2\n",
         "redak 4: koordinate vrha nisu ispravni brojevi"},
        {"InfiniteCoordinate", "OFF\n3 1 0\n0 0 0\n1 inf 0\n0 1 0\n3 0 1 2\n",
         "redak 4: koordinata vrha nije konacan broj"},
        {"FaceOfTwo", "OFF\n3 1 0\n" + vertices + "2 0 1\n", "redak 6: ploha ima manje od 3"},
        {"FaceShorterThanItsCount", "OFF\n3 1 0\n" + vertices + "4 0 1 2\n", "redak 6: redak ima"},
        {"IndexOutOfRange", "OFF\n3 1 0\n" + vertices + "3 0 1 3\n",
         "redak 6: broj vrha 3 je izvan raspona 0..2"},
        {"NegativeIndex", "OFF\n3 1 0\n" + vertices + "3 0 -1 2\n", "redak 6: broj vrha -1"},
        {"NoFaces", "OFF\n3 0 0\n" + vertices, "ne sadrzi nijedan trokut"},
        {"Empty", "", "ne sadrzi nijedan trokut"},
        {"NulBytes", std::string("OFF\n3 1 0\n\0", 11), "nije tekstualna OFF datoteka"},
    };
}

class OffReaderRefuses : public testing::TestWithParam<test::Refusal> {};

TEST_P(OffReaderRefuses, TheWholeFileAndKeepsTheOldObject) {
    test::expectRefused(GetParam(), "m.off");
}

INSTANTIATE_TEST_SUITE_P(Off, OffReaderRefuses, testing::ValuesIn(offRefusals()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace korvan
