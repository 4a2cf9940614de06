#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cmath>
#include <ostream>
#include <string>
#include <thread>

#include "meshio/obj.h"
#include "support/format_checks.h"
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
    std::vector<int32_t> corners() const { return test::cornerList(solid); }

    test::TempDir dir;
    Solid solid;
};

TEST_F(ObjReader, CentresAndScalesTheLargestHalfExtentToOneWhateverTheLineEnds) {
    // Old Mac files end lines with CR alone; editors on Windows start files with a byte-order
    // mark.
    for (const std::string& text :
         {std::string("v 0 0 0\nv 2 0 0\nv 0 4 0\nf 1 2 3\n"),
          std::string("v 0 0 0\rv 2 0 0\rv 0 4 0\rf 1 2 3\r"),
          std::string("\xEF\xBB\xBFv 0 0 0\r\nv 2 0 0\nv 0 4 0\nf 1 2 3")}) {
        ASSERT_TRUE(read(text).ok());
        EXPECT_EQ(solid.loaded, 1);
        EXPECT_EQ(solid.vertices,
                  (std::vector<Vector4>{{-0.5f, -1, 0}, {0.5f, -1, 0}, {-0.5f, 1, 0}}));
        EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2}));
        EXPECT_EQ(solid.minCorner, Vector4(-0.5f, -1, 0));
        EXPECT_EQ(solid.maxCorner, Vector4(0.5f, 1, 0));
        EXPECT_EQ(solid.centre, Vector4());
    }
    const Status s = read("v 0 0 0\rv 1 x 0\r");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.message().find("redak 2"), std::string::npos) << s.message();
}

// The plain subset in any order and case, the corner forms of other programs (vt, vn and vp
// take no vertex number), negative numbers counting back from the last vertex so far,
// polygons split into a fan, lines of any length.
TEST_F(ObjReader, AcceptsTheFormsOtherProgramsWrite) {
    const std::string v3 = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    const std::pair<std::string, std::vector<int32_t>> cases[] = {
        {"\n# comment\nf 1 2 3\ng group\no object\ns 1\nusemtl x\nmtllib y.mtl\n"
         "\n\n   V 0 0 0\n\tv 1 0 0 extra\r\nv 0 1 0\nF 3 2 1\n",
         {0, 1, 2, 2, 1, 0}},
        {"v 0 0 0\nvt 0 0\nvn 0 0 1\nvp 1\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
         "f 1/1/1 2/2/1 3/3/1\nf 1//1 3//1 4//1\nf 1/5 2/5 3/5\nf -4 -3 -2\n",
         {0, 1, 2, 0, 2, 3, 0, 1, 2, 0, 1, 2}},
        {v3 + "f -3 -2 -1\nv 0 0 1\nf -4 -2 -1\n", {0, 1, 2, 0, 2, 3}},
        {v3 + "v 1 1 0\nv -1 1 0\nf 1 2 4 3 5\n", {0, 1, 3, 0, 3, 2, 0, 2, 4}},
        {"v 0 0 0" + std::string(1000, ' ') + "\nv 1 0 0\nv 0 1 0\n# " + std::string(5000, 'x') +
             "\nf 1 2 3\n",
         {0, 1, 2}},
    };
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(read(text).ok()) << text;
        EXPECT_EQ(corners(), expected) << text;
        EXPECT_EQ(solid.vertexCount(), *std::max_element(expected.begin(), expected.end()) + 1);
    }
}

class ObjReaderRefuses : public testing::TestWithParam<test::Refusal> {};

TEST_P(ObjReaderRefuses, TheWholeFileAndKeepsTheOldObject) {
    test::expectRefused(GetParam(), "mesh.obj");
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, ObjReaderRefuses,
    testing::Values(
        test::Refusal{"UnreadableVertex", "v 0 0 0\nv 1 x 0\n", "redak 2"},
        test::Refusal{"ShortVertex", "v 0 0\n", "redak 1"},
        test::Refusal{"DecimalComma", "v 0,5 0 0\n", "redak 1"},
        test::Refusal{"NaN", "v 0 0 0\n\nv nan 0 0\n", "redak 3"},
        test::Refusal{"Infinity", "v inf 0 0\n", "redak 1"},
        test::Refusal{"FloatOverflow", "v 1e39 0 0\n", "redak 1"},
        test::Refusal{"TwoCorners", "v 0 0 0\nv 1 0 0\nf 1 2\n", "redak 3"},
        test::Refusal{"NoCorners", "v 0 0 0\nf\n", "redak 2"},
        test::Refusal{"IndexPastEnd", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2 4\n", "redak 5"},
        test::Refusal{"IndexZero", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n", "redak 4"},
        test::Refusal{"NegativeBeforeFirst", "v 0 0 0\nf -1 -2 -3\nv 1 0 0\nv 0 1 0\n", "redak 2"},
        test::Refusal{"HugeIndexAsWritten", "v 0 0 0\nf 1 2 99999999999999999999\n",
                      "redak 2: broj vrha 99999999999999999999 je izvan"},
        test::Refusal{"HugeNegativeIndexAsWritten", "v 0 0 0\nf 1 -99999999999999999999 1\n",
                      "redak 2: relativni broj vrha -99999999999999999999 seze"},
        // A number ends at a blank or the end of its line; whatever runs into it is an error.
        test::Refusal{"SecondPoint", "v 1.2.3 0 0\n", "redak 1, stupac 3: \"1.2.3\" nije ispravan"},
        test::Refusal{"SignInside", "v 0 0 0\nv 1-2 3\n", "redak 2, stupac 3: \"1-2\" nije"},
        test::Refusal{"HexNumber", "v 0 0x1 0\n", "redak 1, stupac 5: \"0x1\""},
        test::Refusal{"PointWithoutDigits", "v 1. 0 0\n", "redak 1, stupac 3"},
        test::Refusal{"ExponentWithoutDigits", "\t v 0 0 1e\n", "redak 1, stupac 9: \"1e\""},
        test::Refusal{"ThirdCoordinateRunsOn", "v 0 0 0#x\n", "redak 1, stupac 7: \"0#x\""},
        test::Refusal{"FractionalIndex", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1.5 2 3\n",
                      "redak 4, stupac 3: \"1.5\" nije ispravan broj vrha"},
        test::Refusal{"TextInTextureIndex", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2/x 3\n",
                      "redak 4, stupac 5: \"2/x\""},
        test::Refusal{"FourIndicesInACorner", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3/3/3/3\n",
                      "redak 4, stupac 7"},
        test::Refusal{"UnprintableShownAsQuestionMarks", "v 0 0 1\x01\xC3\xA9\n",
                      "stupac 7: \"1???\""},
        test::Refusal{"EmptyFile", "", "nijedan trokut"},
        test::Refusal{"OnlyVertices", "v 0 0 0\nv 1 0 0\nv 0 1 0\n", "nijedan trokut"},
        test::Refusal{"NulBytes", std::string(64, '\0'), "nije tekstualna"},
        test::Refusal{"Png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10", 20),
                      "nije tekstualna"},
        test::Refusal{"BinaryStl",
                      std::string(80, ' ') + std::string("\x01\0\0\0", 4) + std::string(50, '\0'),
                      "nije tekstualna"},
        test::Refusal{"CentreOverflows", "v 3e38 0 0\nv 2e38 0 0\nv 3e38 1 0\nf 1 2 3\n",
                      "prevelike"},
        test::Refusal{"TooSmallToScale", "v 1e-40 0 0\nv 5e-41 0 0\nv 1e-40 5e-41 0\nf 1 2 3\n",
                      "premale"}),
    [](const auto& info) { return info.param.name; });

// Numbers always use a full stop, whatever locale the process runs in.
TEST_F(ObjReader, ReadsEveryFormOfNumberAsWrittenInAnyLocale) {
    const std::string path = dir.path("forms.obj");
    test::writeFile(path,
                    "v +1.5e+2 -0.25E-1 7\nv 0012.500 -0 1e-3\t\nv 3.4028234e38 1e-45 2 extra\n"
                    "f +1/1 2// -1/+1/-1 # end\n");
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const Status s = readObj(path, solid, test::keepCoordinates());
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(s.ok());
    ASSERT_EQ(solid.vertexCount(), 3);
    EXPECT_EQ(solid.vertices[0], Vector4(150.0f, -0.025f, 7.0f));
    EXPECT_EQ(solid.vertices[1], Vector4(12.5f, 0.0f, 0.001f));
    EXPECT_TRUE(std::signbit(solid.vertices[1].y));
    EXPECT_EQ(solid.vertices[2], Vector4(3.4028234e38f, 1e-45f, 2.0f));
    EXPECT_EQ(corners(), (std::vector<int32_t>{0, 1, 2}));
}

// A missing file; a FIFO without a writer, a device that never ends and a folder, refused
// before anything could block or fill memory.
TEST_F(ObjReader, RefusesMissingFilesAndFilesThatAreNotRegularAtOnce) {
    const std::string missing = dir.path("missing.obj");
    const std::string fifo = dir.path("fifo.obj");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {missing, fifo, std::string("/dev/zero"), dir.dir()}) {
        solid = test::preloaded();
        const Status s = readObj(path, solid);
        ASSERT_FALSE(s.ok()) << path;
        EXPECT_NE(s.message().find(path), std::string::npos) << s.message();
        if (path != missing) {
            EXPECT_EQ(s.message(), "Datoteka " + path + " nije obicna datoteka");
        }
        test::expectPreloadKept(solid);
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

}  // namespace
}  // namespace korvan
