#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "formats/ply.h"
#include "formats/threemf.h"
#include "generator/generators.h"
#include "meshio/obj.h"
#include "support/format_checks.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

// Binary PLY bodies in either byte order.
struct Body {
    bool big = false;
    std::string bytes;
    template <class T>
    Body& put(T value) {
        char raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof raw);
        for (size_t k = 0; k < sizeof raw; ++k) {
            bytes += raw[big ? sizeof raw - 1 - k : k];
        }
        return *this;
    }
};

TEST(PlyWriter, WritesTheAgreedHeaderAndLittleEndianBody) {
    const Solid s = test::makeSolid({{1, -2, 0.5f}, {0, 0, 0}, {3, 1, 0}}, {0, 1, 2});
    const std::string header =
        "ply\nformat binary_little_endian 1.0\ncomment Korvan\nelement vertex 3\n"
        "property float x\nproperty float y\nproperty float z\nelement face 1\n"
        "property list uchar int vertex_indices\nend_header\n";
    Body body;
    body.put(1.0f).put(-2.0f).put(0.5f).put(0.0f).put(0.0f).put(0.0f).put(3.0f).put(1.0f);
    body.put(0.0f).put(uint8_t{3}).put(0).put(1).put(2);
    EXPECT_EQ(test::savedBytes(s, "b.ply"), header + body.bytes);
    std::string text = header;
    text.replace(text.find("binary_little_endian"), 20, "ascii");
    EXPECT_EQ(test::savedBytes(s, "a.ply", WriteOptions{true}),
              text +
                  "1.000000 -2.000000 0.500000\n0.000000 0.000000 0.000000\n"
                  "3.000000 1.000000 0.000000\n3 0 1 2\n");
}

// A quad and a triangle over five vertices, with everything a reader must step over: comments,
// obj_info, normals, colours, a list among the vertex properties, texture coordinates before
// the corners, a material element with lists, an element of no properties and countless items,
// CR LF header lines.
std::string richHeader(const std::string& format) {
    return "ply\r\nformat " + format +
           " 1.0\r\ncomment made by hand\r\nobj_info test\r\n"
           "element material 2\r\nproperty list uint8 float32 ambient\r\nproperty uchar red\r\n"
           "element nothing 18446744073709551615\r\nelement vertex 5\r\nproperty double "
           "x\r\nproperty float nx\r\nproperty int16 y\r\n"
           "property list ushort int weights\r\nproperty float32 z\r\nproperty uchar green\r\n"
           "element face 2\r\nproperty list uchar float texcoord\r\n"
           "property list int uint vertex_index\r\nproperty uchar flags\r\nend_header\r\n";
}

const std::vector<Vector4> kRichVertices = {
    {0.1f, 0, 0}, {1, -2, 0.25f}, {1, 1, -0.0f}, {0, 1, 3e-39f}, {-7, 300, 0}};

TEST(PlyReader, StepsOverEveryOtherElementAndPropertyInTextAndEitherByteOrder) {
    for (const std::string format : {"ascii", "binary_little_endian", "binary_big_endian"}) {
        SCOPED_TRACE(format);
        Body b{format == "binary_big_endian", {}};
        b.put(uint8_t{2}).put(0.5f).put(0.25f).put(uint8_t{255});
        b.put(uint8_t{0}).put(uint8_t{7});
        const int16_t ys[] = {0, -2, 1, 1, 300};
        for (size_t i = 0; i < 5; ++i) {
            const Vector4& v = kRichVertices[i];
            b.put(static_cast<double>(v.x)).put(1.0f).put(ys[i]).put(uint16_t(i % 2));
            if (i % 2) {
                b.put(int32_t{-5});
            }
            b.put(v.z).put(uint8_t{0});
        }
        b.put(uint8_t{0}).put(int32_t{4}).put(0u).put(1u).put(2u).put(3u).put(uint8_t{1});
        b.put(uint8_t{2}).put(0.5f).put(0.5f).put(int32_t{3}).put(4u).put(3u).put(2u);
        b.put(uint8_t{0});
        const std::string body = format != "ascii" ? b.bytes
                                                   : "3 0.5 0.5 0.5 255\n0 7\n"
                                                     "0.1 0 0 0 0 1\n+1 0 -2 2 5 6 0.25 0\n"
                                                     "1 0 1 0 -0 0\n0 0 1 1 9 3e-39 0\n"
                                                     "-7.0e0 1 300 0 0 9\r\n"
                                                     "0 4 0 1 2 3 1\n6 1 1 1 1 1 1 3 4 3 2 0\n";
        Solid s;
        ASSERT_TRUE(
            readPlyBytes(richHeader(format) + body, "rich.ply", s, test::keepCoordinates()).ok());
        test::expectSameMesh(s, test::makeSolid(kRichVertices, {0, 1, 2, 0, 2, 3, 4, 3, 2}));
    }
}

TEST(PlyReader, TakesCoordinatesOfEveryNumberTypeAndNormalisesByDefault) {
    Body b;
    b.put(int8_t{-4}).put(uint16_t{0}).put(2u).put(uint8_t{4}).put(int16_t{0}).put(0u);
    b.put(int8_t{0}).put(uint16_t{4}).put(6u);
    b.put(uint8_t{3}).put(int8_t{0}).put(int8_t{1}).put(int8_t{2});
    const std::string header =
        "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty char x\n"
        "property ushort y\nproperty uint32 z\nelement face 1\n"
        "property list uint8 int8 vertex_indices\nend_header\n";
    Solid s;
    ASSERT_TRUE(readPlyBytes(header + b.bytes, "ints.ply", s).ok());
    EXPECT_EQ(s.vertices[0], Vector4(-1, -0.5f, -0.25f));
    EXPECT_EQ(s.vertices[1], Vector4(1, -0.5f, -0.75f));
    EXPECT_EQ(s.vertices[2], Vector4(0, 0.5f, 0.75f));
}

const std::string kHead =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
    "property float y\nproperty float z\nelement face 1\n"
    "property list uchar int vertex_indices\nend_header\n";
const std::string kBinaryHead =
    "ply\nformat binary_little_endian 1.0\nelement vertex 3\n"
    "property float x\nproperty float y\nproperty double z\n"
    "element face 1\nproperty list uchar int vertex_indices\n"
    "end_header\n";

std::string binaryVertices(double z) {
    Body b;
    for (int i = 0; i < 3; ++i) {
        b.put(float(i == 1)).put(float(i == 2)).put(i == 2 ? z : 0.0);
    }
    return b.bytes;
}

std::string binaryFace(uint8_t count, std::vector<int32_t> corners) {
    Body b;
    b.put(count);
    for (int32_t c : corners) {
        b.put(c);
    }
    return b.bytes;
}

class PlyReaderRefuses : public testing::TestWithParam<test::Refusal> {};

TEST_P(PlyReaderRefuses, TheWholeFileAndKeepsTheOldObject) {
    test::expectRefused(GetParam(), "bad.ply");
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, PlyReaderRefuses,
    testing::Values(
        test::Refusal{"Empty", "", "nije PLY"},
        test::Refusal{"NotPly", "solid x\nfacet normal 0 0 1\n", "nije PLY"},
        test::Refusal{"UnknownFormat", "ply\nformat binary_middle_endian 1.0\nend_header\n",
                      "redak 2"},
        test::Refusal{"UnknownVersion", "ply\nformat ascii 2.0\nend_header\n", "redak 2"},
        test::Refusal{"UnknownType", "ply\nformat ascii 1.0\nelement vertex 1\nproperty flaot x\n",
                      "redak 4: nepoznat tip 'flaot'"},
        test::Refusal{"UnknownKeyword", "ply\nformat ascii 1.0\nelemnt vertex 1\nend_header\n",
                      "redak 3"},
        test::Refusal{"PropertyBeforeElement", "ply\nformat ascii 1.0\nproperty float x\n",
                      "redak 3"},
        test::Refusal{
            "FloatListCount",
            "ply\nformat ascii 1.0\nelement face 1\nproperty list float int vertex_indices\n",
            "redak 4"},
        test::Refusal{"NoEndHeader", "ply\nformat ascii 1.0\nelement vertex 0\n", "end_header"},
        test::Refusal{"NoFormat", "ply\nelement vertex 0\nend_header\n", "format"},
        test::Refusal{
            "MissingZ",
            "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
            "end_header\n0 0\n",
            "x, y i z"},
        test::Refusal{
            "MissingFaceList",
            "ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nproperty float y\n"
            "property float z\nelement face 0\nproperty list uchar int corners\nend_header\n",
            "vertex_indices"},
        test::Refusal{"FloatCorners",
                      "ply\nformat ascii 1.0\nelement face 0\n"
                      "property list uchar float vertex_indices\nend_header\n",
                      "cjelobrojna"},
        test::Refusal{"HugeVertexCount",
                      "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\n"
                      "property float x\nproperty float y\nproperty float z\nend_header\n" +
                          std::string(100, '\0'),
                      "element vertex"},
        test::Refusal{
            "HugeFaceCount",
            "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
            "property float z\nelement face 1500000000\n"
            "property list uchar int vertex_indices\nend_header\n0 0 0\n3 0 0 0\n",
            "element face"},
        test::Refusal{
            "NoTriangles",
            kHead.substr(0, kHead.find("element face")) + "end_header\n0 0 0\n1 0 0\n0 1 0\n",
            "nijedan trokut"},
        test::Refusal{"ShortText", kHead + "0 0 0\n1 0 0\n0 1 0\n3 0 1" + std::string(9, ' '),
                      "element face, stavka 1"},
        test::Refusal{"UnreadableNumber", kHead + "0 0 0\n1 x 0\n0 1 0\n3 0 1 2\n",
                      "element vertex, stavka 2 (redak 11)"},
        test::Refusal{"NaN", kHead + "0 0 0\n1 0 0\nnan 1 0\n3 0 1 2\n", "stavka 3"},
        test::Refusal{"FloatOverflow", kHead + "0 0 0\n1 0 1e39\n0 1 0\n3 0 1 2\n", "konacan"},
        test::Refusal{"TwoCorners", kHead + "0 0 0\n1 0 0\n0 1 0\n2 0 1\n", "manje od tri"},
        test::Refusal{"TextCornerNotInteger", kHead + "0 0 0\n1 0 0\n0 1 0\n3 0 1 2.0\n",
                      "cijeli broj"},
        test::Refusal{"IndexPastEnd", kHead + "0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n",
                      "izvan raspona 0..2"},
        test::Refusal{"NegativeIndex", kBinaryHead + binaryVertices(0) + binaryFace(3, {0, -1, 2}),
                      "element face, stavka 1 (bajt 218)"},
        test::Refusal{"DoubleBeyondFloat",
                      kBinaryHead + binaryVertices(1e300) + binaryFace(3, {0, 1, 2}),
                      "element vertex, stavka 3"},
        test::Refusal{"InfiniteDouble",
                      kBinaryHead + binaryVertices(std::numeric_limits<double>::infinity()) +
                          binaryFace(3, {0, 1, 2}),
                      "konacan"},
        test::Refusal{"TruncatedBinary", kBinaryHead + binaryVertices(0) + binaryFace(3, {0, 1}),
                      "element face, stavka 1"},
        test::Refusal{"NegativeListLength",
                      "ply\nformat binary_little_endian 1.0\nelement junk 1\n"
                      "property list int char data\nend_header\n" +
                          Body().put(int32_t{-1}).bytes + std::string(8, '\0'),
                      "negativan"}),
    [](const auto& info) { return info.param.name; });

// The ZIP checksum, a bit at a time.
uint32_t crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// A 3MF package written by hand: the given model XML, stored (not deflated) in a ZIP archive.
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string zip;
    std::string directory;
    for (const auto& [name, data] : files) {
        Body local;
        local.put(0x04034b50u).put(uint16_t{20}).put(uint16_t{0}).put(uint16_t{0});
        local.put(uint16_t{0}).put(uint16_t{0x21}).put(crc32(data));
        local.put(uint32_t(data.size())).put(uint32_t(data.size()));
        local.put(uint16_t(name.size())).put(uint16_t{0});
        Body central;
        central.put(0x02014b50u).put(uint16_t{20});
        central.bytes += local.bytes.substr(4, 26);
        central.put(uint16_t{0}).put(uint16_t{0}).put(uint16_t{0}).put(0u);
        central.put(uint32_t(zip.size()));
        directory += central.bytes + name;
        zip += local.bytes + name + data;
    }
    Body end;
    end.put(0x06054b50u).put(uint16_t{0}).put(uint16_t{0}).put(uint16_t(files.size()));
    end.put(uint16_t(files.size())).put(uint32_t(directory.size())).put(uint32_t(zip.size()));
    end.put(uint16_t{0});
    return zip + directory + end.bytes;
}

std::string package(const std::string& resources, const std::string& build) {
    return storedZip(
        {{"[Content_Types].xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Types xmlns=\"http://schemas."
          "openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
          "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default "
          "Extension=\"model\" ContentType=\"application/vnd.ms-package.3dmanufacturing-"
          "3dmodel+xml\"/></Types>"},
         {"_rels/.rels",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships xmlns=\"http://schemas."
          "openxmlformats.org/package/2006/relationships\"><Relationship Target=\"/3D/"
          "3dmodel.model\" Id=\"rel0\" Type=\"http://schemas.microsoft.com/3dmanufacturing/"
          "2013/01/3dmodel\"/></Relationships>"},
         {"3D/3dmodel.model",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model unit=\"millimeter\" "
          "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\"><resources>" +
              resources + "</resources><build>" + build + "</build></model>"}});
}

// A tetrahedron with corners (0,0,0), (1,0,0), (0,2,0), (0,0,3); `attributes` go on the vertex
// x = 1, `last` is the last triangle's last corner.
std::string tetrahedron(int id, const std::string& attributes = "x=\"1\"",
                        const std::string& last = "3") {
    return "<object id=\"" + std::to_string(id) +
           "\" type=\"model\"><mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/><vertex " +
           attributes +
           " y=\"0\" z=\"0\"/><vertex x=\"0\" y=\"2\" z=\"0\"/><vertex x=\"0\" y=\"0\" "
           "z=\"3\"/></vertices><triangles><triangle v1=\"0\" v2=\"2\" v3=\"1\"/><triangle "
           "v1=\"0\" v2=\"1\" v3=\"3\"/><triangle v1=\"0\" v2=\"3\" v3=\"2\"/><triangle v1=\"1\" "
           "v2=\"2\" v3=\"" +
           last + "\"/></triangles></mesh></object>";
}

// A little-endian field of a ZIP record.
uint32_t field(const std::string& zip, size_t at, size_t bytes) {
    uint32_t v = 0;
    for (size_t k = bytes; k-- > 0;) {
        v = v << 8 | static_cast<unsigned char>(zip.at(at + k));
    }
    return v;
}

TEST(ThreeMfWriter, WritesAStoredZipWhoseLocalHeadersAgreeWithItsDirectory) {
    // Read as a ZIP reader does: the end record, the central directory, each local header
    // (which readers that stream the archive trust) and each part with its checksum.
    // Megabytes of model, so that its checksum runs over far more than any buffer.
    Solid sphere;
    MakeSphere(sphere, 160, 161, 1.3f);
    const std::string zip = test::savedBytes(sphere, "m.3mf");
    ASSERT_GT(zip.size(), size_t{3} << 20);
    ASSERT_GT(zip.size(), 22u);
    const size_t end = zip.size() - 22;
    ASSERT_EQ(field(zip, end, 4), 0x06054b50u);
    size_t central = field(zip, end + 16, 4);
    ASSERT_EQ(central + field(zip, end + 12, 4), end);
    std::vector<std::string> names;
    std::map<std::string, std::string> parts;
    for (uint32_t k = field(zip, end + 10, 2); k > 0; --k) {
        ASSERT_EQ(field(zip, central, 4), 0x02014b50u);
        const uint32_t nameLength = field(zip, central + 28, 2);
        const std::string name = zip.substr(central + 46, nameLength);
        const size_t local = field(zip, central + 42, 4);
        ASSERT_EQ(field(zip, local, 4), 0x04034b50u) << name;
        // From the version needed to the extra field's length, both headers say the same.
        EXPECT_EQ(zip.substr(local + 4, 26), zip.substr(central + 6, 26)) << name;
        EXPECT_EQ(zip.substr(local + 30, nameLength), name);
        EXPECT_EQ(field(zip, local + 6, 4), 0u) << name << ": flags or compression";
        const uint32_t size = field(zip, local + 22, 4);
        EXPECT_EQ(field(zip, local + 18, 4), size) << name;
        const std::string data =
            zip.substr(local + 30 + nameLength + field(zip, local + 28, 2), size);
        EXPECT_EQ(field(zip, local + 14, 4), crc32(data)) << name;
        names.push_back(name);
        parts[name] = data;
        central += 46 + nameLength + field(zip, central + 30, 2) + field(zip, central + 32, 2);
    }
    EXPECT_EQ(central, end);
    EXPECT_EQ(names,
              (std::vector<std::string>{"[Content_Types].xml", "_rels/.rels", "3D/3dmodel.model"}));
    EXPECT_NE(parts["[Content_Types].xml"].find(
                  "Extension=\"model\" "
                  "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\""),
              std::string::npos);
    EXPECT_NE(parts["_rels/.rels"].find("Target=\"/3D/3dmodel.model\""), std::string::npos);
    EXPECT_EQ(parts["3D/3dmodel.model"].find("<?xml"), 0u);
}

TEST(ThreeMfWriter, RefusesWhatItsReaderWouldRefuseAndKeepsTheOldFile) {
    test::TempDir dir;
    const std::vector<Vector4> near = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const std::vector<Vector4> far = {{0, 0, 0}, {0, 1, 0}, {0, 0, -1.0000001e9f}};
    struct Case {
        std::string name;
        const std::vector<Vector4>& vertices;
        std::vector<int32_t> corners;
        std::string mention;
    };
    for (const Case& c : {Case{"beyond a billion", far, {0, 1, 2}, "1000000000"},
                          Case{"repeated vertex", near, {0, 1, 2, 2, 1, 2}, "trokut 1"},
                          Case{"vertex out of range", near, {0, 1, 2, 0, 1, 3}, "trokut 1"}}) {
        SCOPED_TRACE(c.name);
        const Solid solid = test::makeSolid(c.vertices, c.corners);
        test::writeFile(dir.path("old.3mf"), "stari");
        const Status s = writeThreeMf(solid, dir.path("old.3mf"));
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.message(), kSaveErrorMessage);
        EXPECT_NE(s.detail().find(c.mention), std::string::npos) << s.detail();
        EXPECT_EQ(test::readFile(dir.path("old.3mf")), "stari");
    }
}

const std::vector<Vector4> kTetrahedron = {{0, 0, 0}, {1, 0, 0}, {0, 2, 0}, {0, 0, 3}};

Solid read3mf(const std::string& bytes) {
    Solid s;
    const Status status = readThreeMfBytes(bytes, "hand.3mf", s, test::keepCoordinates());
    EXPECT_TRUE(status.ok()) << status.message() << " / " << status.detail();
    return s;
}

// Build items with their transforms, components inside them, every mesh where there is no build.
TEST(ThreeMfReader, PlacesEveryBuildItemAndComponentWithItsTransformAndMergesThem) {
    // A quarter turn about z and a shift; the same object placed twice; object 2 not built.
    Solid s = read3mf(package(
        tetrahedron(1) + tetrahedron(2),
        "<item objectid=\"1\" transform=\"0 1 0 -1 0 0 0 0 1 10 20 30\"/><item objectid=\"1\"/>"));
    ASSERT_EQ(s.vertexCount(), 8);
    ASSERT_EQ(s.triangleCount(), 8);
    for (size_t i = 0; i < 4; ++i) {
        const Vector4& p = kTetrahedron[i];
        EXPECT_EQ(s.vertices[i], Vector4(10 - p.y, 20 + p.x, 30 + p.z)) << i;
        EXPECT_EQ(s.vertices[i + 4], p) << i;
    }
    EXPECT_EQ(std::tie(s.triangles[4].i0, s.triangles[4].i1, s.triangles[4].i2),
              std::make_tuple(4, 6, 5));
    EXPECT_EQ(test::openEdgeCount(s), 0);

    s = read3mf(package(
        tetrahedron(1) +
            "<object id=\"2\" type=\"model\"><components><component objectid=\"1\" "
            "transform=\"1 0 0 0 1 0 0 0 1 5 0 0\"/><component objectid=\"1\"/></components>"
            "</object>",
        "<item objectid=\"2\" transform=\"2 0 0 0 2 0 0 0 2 0 0 1\"/>"));
    ASSERT_EQ(s.vertexCount(), 8);
    for (size_t i = 0; i < 4; ++i) {
        const Vector4& p = kTetrahedron[i];
        EXPECT_EQ(s.vertices[i], Vector4(2 * (p.x + 5), 2 * p.y, 2 * p.z + 1)) << i;
        EXPECT_EQ(s.vertices[i + 4], Vector4(2 * p.x, 2 * p.y, 2 * p.z + 1)) << i;
    }

    // Colours are ignored.
    s = read3mf(package(
        "<basematerials id=\"9\"><base name=\"red\" displaycolor=\"#FF0000\"/></basematerials>" +
            tetrahedron(1, "x=\"1\"") + tetrahedron(2),
        ""));
    EXPECT_EQ(s.vertexCount(), 8);
    EXPECT_EQ(s.triangleCount(), 8);
}

class ThreeMfReaderRefuses : public testing::TestWithParam<test::Refusal> {};

TEST_P(ThreeMfReaderRefuses, TheWholeFileAndKeepsTheOldObject) {
    test::expectRefused(GetParam(), "bad.3mf");
}

const std::string kGood = package(tetrahedron(1), "<item objectid=\"1\"/>");

INSTANTIATE_TEST_SUITE_P(
    BadFiles, ThreeMfReaderRefuses,
    testing::Values(
        test::Refusal{"Empty", "", "nije 3MF"}, test::Refusal{"Text", "solid x\n", "nije 3MF"},
        test::Refusal{"TruncatedZip", kGood.substr(0, kGood.size() / 2),
                      "ZIP arhiva nije ispravna"},
        test::Refusal{"NoModelPart", storedZip({{"a.txt", "hello"}}), "lib3mf greska"},
        test::Refusal{"BrokenXml",
                      storedZip({{"[Content_Types].xml", "<Types"}, {"_rels/.rels", "<<>"}}),
                      "lib3mf greska"},
        test::Refusal{"IndexOutOfRange",
                      package(tetrahedron(1, "x=\"1\"", "7"), "<item objectid=\"1\"/>"),
                      "brojeve vrhova"},
        test::Refusal{"NaN", package(tetrahedron(1, "x=\"nan\""), "<item objectid=\"1\"/>"),
                      "koordinate"},
        test::Refusal{"InfiniteAfterTransform",
                      package(tetrahedron(1, "x=\"1e9\""),
                              "<item objectid=\"1\" transform=\"1e30 0 0 0 1 0 0 0 1 0 0 0\"/>"),
                      "objekt 1, vrh 1"},
        test::Refusal{"MissingObject", package(tetrahedron(1), "<item objectid=\"4\"/>"),
                      "nepostojeci objekt"},
        test::Refusal{"NoMesh", package("", ""), "nijednu mrezu"},
        test::Refusal{"NoTriangle",
                      package("<object id=\"1\" type=\"model\"><mesh><vertices/><triangles/></mesh>"
                              "</object>",
                              "<item objectid=\"1\"/>"),
                      "nijedan trokut"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace korvan
