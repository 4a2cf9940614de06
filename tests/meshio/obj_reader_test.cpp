#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <ostream>
#include <string>
#include <thread>

#include "formats/mesh_file.h"
#include "meshio/load.h"
#include "meshio/obj.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

class ObjReader : public testing::Test {
protected:
    Status read(const std::string& text) {
        const std::string path = dir.path("mesh.obj");
        test::writeFile(path, text);
        return readObj(path, solid);
    }
    // Triangle corners as a flat list.
    std::vector<int32_t> corners() const {
        std::vector<int32_t> c;
        for (const Triangle& t : solid.triangles) {
            c.insert(c.end(), {t.i0, t.i1, t.i2});
        }
        return c;
    }
    // A loaded object that must survive a refused file.
    void preload() {
        solid = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
        solid.edgeLimit = 0.5f;
    }
    void expectPreloadKept() const {
        EXPECT_EQ(solid.loaded, 1);
        EXPECT_EQ(solid.vertexCount(), 3);
        EXPECT_EQ(solid.triangleCount(), 1);
        EXPECT_EQ(solid.vertices[1], Vector4(1, 0, 0));
    }

    test::TempDir dir;
    Solid solid;
};

TEST_F(ObjReader, CentresAndScalesTheLargestHalfExtentToOne) {
    ASSERT_TRUE(read("v 0 0 0\nv 2 0 0\nv 0 4 0\nf 1 2 3\n").ok());
    EXPECT_EQ(solid.loaded, 1);
    ASSERT_EQ(solid.vertexCount(), 3);
    EXPECT_EQ(solid.vertices[0], Vector4(-0.5f, -1, 0));
    EXPECT_EQ(solid.vertices[1], Vector4(0.5f, -1, 0));
    EXPECT_EQ(solid.vertices[2], Vector4(-0.5f, 1, 0));
    EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(solid.minCorner, Vector4(-0.5f, -1, 0));
    EXPECT_EQ(solid.maxCorner, Vector4(0.5f, 1, 0));
    EXPECT_EQ(solid.centre, Vector4());
    EXPECT_EQ(solid.triangles[0].normal, Vector4());
}

TEST_F(ObjReader, AcceptsThePlainSubsetInAnyOrderAndCase) {
    ASSERT_TRUE(read("\n# comment\nf 1 2 3\ng group\no object\ns 1\nusemtl x\nmtllib y.mtl\n"
                     "\n\n   V 0 0 0\n\tv 1 0 0 extra\r\nv 0 1 0\nF 3 2 1\n")
                    .ok());
    EXPECT_EQ(solid.vertexCount(), 3);
    EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2, 2, 1, 0}));
}

TEST_F(ObjReader, ReadsRealWorldCornerForms) {
    ASSERT_TRUE(read("v 0 0 0\nvt 0 0\nvn 0 0 1\nvp 1\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                     "f 1/1/1 2/2/1 3/3/1\nf 1//1 3//1 4//1\nf 1/5 2/5 3/5\nf -4 -3 -2\n")
                    .ok());
    EXPECT_EQ(solid.vertexCount(), 4);  // vt, vn and vp take no vertex number
    EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2, 0, 2, 3, 0, 1, 2, 0, 1, 2}));
}

TEST_F(ObjReader, NegativeNumbersCountBackFromTheLastVertexSoFar) {
    ASSERT_TRUE(read("v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\nv 0 0 1\nf -4 -2 -1\n").ok());
    EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2, 0, 2, 3}));
}

TEST_F(ObjReader, SplitsPolygonsIntoAFan) {
    ASSERT_TRUE(read("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -1 1 0\nf 1 2 3 4 5\n").ok());
    EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2, 0, 2, 3, 0, 3, 4}));
}

TEST_F(ObjReader, ReadsLinesOfAnyLength) {
    std::string text = "v 0 0 0" + std::string(1000, ' ') + "\nv 1 0 0\nv 0 1 0\n";
    text += "# " + std::string(5000, 'x') + "\nf 1 2 3\n";
    ASSERT_TRUE(read(text).ok());
    EXPECT_EQ(solid.triangleCount(), 1);
}

TEST_F(ObjReader, IgnoresTheLocaleDecimalComma) {
    // Numbers always use a full stop, whatever locale the process runs in.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const Status s = read("v 0.5 0 0\nv 1.5 0 0\nv 0.5 2 0\nf 1 2 3\n");
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(solid.vertices[1], Vector4(0.5f, -1, 0));
}

struct Refusal {
    std::string name;
    std::string text;
    std::string lineMention;  // what the message must name
    friend void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }
};

class ObjReaderRefuses : public ObjReader, public testing::WithParamInterface<Refusal> {};

TEST_P(ObjReaderRefuses, TheWholeFileAndKeepsTheOldObject) {
    preload();
    const Status s = read(GetParam().text);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find(GetParam().lineMention), std::string::npos) << s.message();
    expectPreloadKept();
    EXPECT_EQ(solid.edgeLimit, 0.5f);
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, ObjReaderRefuses,
    testing::Values(
        Refusal{"UnreadableVertex", "v 0 0 0\nv 1 x 0\n", "redak 2"},
        Refusal{"ShortVertex", "v 0 0\n", "redak 1"},
        Refusal{"DecimalComma", "v 0,5 0 0\n", "redak 1"},
        Refusal{"NaN", "v 0 0 0\n\nv nan 0 0\n", "redak 3"},
        Refusal{"Infinity", "v inf 0 0\n", "redak 1"},
        Refusal{"FloatOverflow", "v 1e39 0 0\n", "redak 1"},
        Refusal{"TwoCorners", "v 0 0 0\nv 1 0 0\nf 1 2\n", "redak 3"},
        Refusal{"NoCorners", "v 0 0 0\nf\n", "redak 2"},
        Refusal{"IndexPastEnd", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2 4\n", "redak 5"},
        Refusal{"IndexZero", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n", "redak 4"},
        Refusal{"NegativeBeforeFirst", "v 0 0 0\nf -1 -2 -3\nv 1 0 0\nv 0 1 0\n", "redak 2"},
        Refusal{"HugeIndexAsWritten", "v 0 0 0\nf 1 2 99999999999999999999\n",
                "redak 2: broj vrha 99999999999999999999 je izvan"},
        Refusal{"HugeNegativeIndexAsWritten", "v 0 0 0\nf 1 -99999999999999999999 1\n",
                "redak 2: relativni broj vrha -99999999999999999999 seze"},
        // A number ends at a blank or the end of its line; whatever runs into it is an error.
        Refusal{"SecondPoint", "v 1.2.3 0 0\n", "redak 1, stupac 3: \"1.2.3\" nije ispravan"},
        Refusal{"SignInside", "v 0 0 0\nv 1-2 3\n", "redak 2, stupac 3: \"1-2\" nije"},
        Refusal{"HexNumber", "v 0 0x1 0\n", "redak 1, stupac 5: \"0x1\""},
        Refusal{"PointWithoutDigits", "v 1. 0 0\n", "redak 1, stupac 3"},
        Refusal{"ExponentWithoutDigits", "\t v 0 0 1e\n", "redak 1, stupac 9: \"1e\""},
        Refusal{"ThirdCoordinateRunsOn", "v 0 0 0#x\n", "redak 1, stupac 7: \"0#x\""},
        Refusal{"FractionalIndex", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1.5 2 3\n",
                "redak 4, stupac 3: \"1.5\" nije ispravan broj vrha"},
        Refusal{"TextInTextureIndex", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2/x 3\n",
                "redak 4, stupac 5: \"2/x\""},
        Refusal{"FourIndicesInACorner", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3/3/3/3\n",
                "redak 4, stupac 7"},
        Refusal{"UnprintableShownAsQuestionMarks", "v 0 0 1\x01\xC3\xA9\n", "stupac 7: \"1???\""},
        Refusal{"EmptyFile", "", "nijedan trokut"},
        Refusal{"OnlyVertices", "v 0 0 0\nv 1 0 0\nv 0 1 0\n", "nijedan trokut"},
        Refusal{"NulBytes", std::string(64, '\0'), "nije tekstualna"},
        Refusal{"Png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10", 20),
                "nije tekstualna"},
        Refusal{"BinaryStl",
                std::string(80, ' ') + std::string("\x01\0\0\0", 4) + std::string(50, '\0'),
                "nije tekstualna"},
        Refusal{"CentreOverflows", "v 3e38 0 0\nv 2e38 0 0\nv 3e38 1 0\nf 1 2 3\n", "prevelike"},
        Refusal{"TooSmallToScale", "v 1e-40 0 0\nv 5e-41 0 0\nv 1e-40 5e-41 0\nf 1 2 3\n",
                "premale"}),
    [](const auto& info) { return info.param.name; });

TEST_F(ObjReader, ReadsEveryFormOfNumberAsWritten) {
    const std::string path = dir.path("forms.obj");
    test::writeFile(path,
                    "v +1.5e+2 -0.25E-1 7\nv 0012.500 -0 1e-3\t\nv 3.4028234e38 1e-45 2 extra\n"
                    "f +1/1 2// -1/+1/-1 # end\n");
    ASSERT_TRUE(readObj(path, solid, ReadOptions{.keepCoordinates = true}).ok());
    ASSERT_EQ(solid.vertexCount(), 3);
    EXPECT_EQ(solid.vertices[0], Vector4(150.0f, -0.025f, 7.0f));
    EXPECT_EQ(solid.vertices[1], Vector4(12.5f, 0.0f, 0.001f));
    EXPECT_TRUE(std::signbit(solid.vertices[1].y));
    EXPECT_EQ(solid.vertices[2], Vector4(3.4028234e38f, 1e-45f, 2.0f));
    EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2}));
}

TEST_F(ObjReader, RefusesAMissingFile) {
    preload();
    const Status s = readObj(dir.path("missing.obj"), solid);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("missing.obj"), std::string::npos);
    expectPreloadKept();
}

// A FIFO without a writer, a device that never ends and a folder: refused before anything
// could block or fill memory.
TEST_F(ObjReader, RefusesFilesThatAreNotRegularAtOnce) {
    const std::string fifo = dir.path("fifo.obj");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.dir()}) {
        preload();
        const Status s = readObj(path, solid);
        ASSERT_FALSE(s.ok()) << path;
        EXPECT_EQ(s.message(), "Datoteka " + path + " nije obicna datoteka");
        expectPreloadKept();
    }
}

// Another process truncating the file while it is read: the read ends early (a refusal or a
// shorter mesh), never with a signal.
TEST_F(ObjReader, SurvivesAFileThatShrinksWhileItIsRead) {
    const std::string path = dir.path("shrinking.obj");
    std::string text;
    for (int k = 0; k < 100000; ++k) {
        text += "v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\n";
    }
    test::writeFile(path, text);
    std::atomic<bool> done{false};
    std::thread shrinker([&] {
        while (!done) {
            (void)::truncate(path.c_str(), 0);
            (void)::truncate(path.c_str(), static_cast<off_t>(text.size()));
        }
    });
    for (int k = 0; k < 50; ++k) {
        const Status s = readObj(path, solid);
        EXPECT_TRUE(s.ok() || !s.message().empty());
    }
    done = true;
    shrinker.join();
}

TEST_F(ObjReader, TinyNumbersBecomeZeroNotErrors) {
    ASSERT_TRUE(read("v 1e-50 0 0\nv 1 0 0\nv 0 1 0\nv -1e-400 0 0\nf 4 2 3\n").ok());
    EXPECT_EQ(solid.vertexCount(), 4);
    EXPECT_EQ(solid.vertices[0], solid.vertices[3]);
}

// Old Mac files end lines with CR alone; editors on Windows start files with a byte-order mark.
TEST_F(ObjReader, ReadsCrLineEndsAndSkipsAByteOrderMark) {
    for (const std::string& text :
         {std::string("v 0 0 0\rv 2 0 0\rv 0 4 0\rf 1 2 3\r"),
          std::string("\xEF\xBB\xBFv 0 0 0\r\nv 2 0 0\nv 0 4 0\nf 1 2 3\n")}) {
        ASSERT_TRUE(read(text).ok());
        ASSERT_EQ(solid.vertexCount(), 3);
        EXPECT_EQ(solid.vertices[2], Vector4(-0.5f, 1, 0));
        EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2}));
    }
    const Status s = read("v 0 0 0\rv 1 x 0\r");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("redak 2"), std::string::npos) << s.message();
}

TEST_F(ObjReader, LoadObjectSamplesAndCompletesTheMesh) {
    const std::string path = dir.path("tri.obj");
    test::writeFile(path, "v 0 0 0\nv 2 0 0\nv 0 2 0\nf 1 2 3\n");
    preload();
    ASSERT_TRUE(loadObject(path, 0.1f, solid).ok());
    EXPECT_GT(solid.triangleCount(), 1);
    EXPECT_LE(test::longestEdge(solid), solid.edgeLimit);
    EXPECT_EQ(solid.triangles[0].normal, Vector4(0, 0, 1));
}

}  // namespace
}  // namespace korvan
