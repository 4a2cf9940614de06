#include "support/format_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "formats/mesh_file.h"
#include "support/mesh_checks.h"

namespace korvan::test {

Solid preloaded() {
    Solid s = makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    s.edgeLimit = 0.5f;
    return s;
}

void expectPreloadKept(const Solid& solid) {
    EXPECT_EQ(solid.loaded, 1);
    EXPECT_EQ(solid.triangleCount(), 1);
    ASSERT_EQ(solid.vertexCount(), 3);
    EXPECT_EQ(solid.vertices[1], Vector4(1, 0, 0));
    EXPECT_EQ(solid.edgeLimit, 0.5f);
}

void expectRefused(const Refusal& refusal, const std::string& fileName) {
    TempDir dir;
    const std::string path = dir.path(fileName);
    writeFile(path, refusal.bytes);
    Solid s = preloaded();
    const Status status = readMesh(path, s);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.message().find(refusal.mention), std::string::npos) << status.message();
    EXPECT_NE(status.message().find(path), std::string::npos) << status.message();
    expectPreloadKept(s);
}

std::string savedBytes(const Solid& solid, const std::string& fileName,
                       const WriteOptions& options) {
    TempDir dir;
    EXPECT_TRUE(writeMesh(solid, dir.path(fileName), options).ok()) << fileName;
    return readFile(dir.path(fileName));
}

std::vector<int32_t> cornerList(const Solid& solid) {
    std::vector<int32_t> corners;
    for (const Triangle& t : solid.triangles) {
        corners.insert(corners.end(), {t.i0, t.i1, t.i2});
    }
    return corners;
}

void expectSameMesh(const Solid& back, const Solid& mesh) {
    ASSERT_EQ(back.vertexCount(), mesh.vertexCount());
    for (size_t i = 0; i < mesh.vertices.size(); ++i) {
        ASSERT_EQ(std::memcmp(&back.vertices[i], &mesh.vertices[i], 3 * sizeof(float)), 0)
            << "vertex " << i;
    }
    EXPECT_EQ(cornerList(back), cornerList(mesh));
}

std::vector<std::string> dataMeshNames() {
    std::vector<std::string> names;
    for (const std::string folder : {"", "full-style/"}) {
        for (const auto& entry : std::filesystem::directory_iterator(dataFile(folder))) {
            if (entry.path().extension() == ".obj") {
                names.push_back(folder + entry.path().filename().string());
            }
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

ReadOptions keepCoordinates() {
    ReadOptions options;
    options.keepCoordinates = true;
    return options;
}

int64_t entryCount(const std::string& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

}  // namespace korvan::test
