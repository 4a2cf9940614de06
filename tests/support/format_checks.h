// Checks shared by the mesh format tests: files that must be refused whole, leaving the loaded
// object as it was, and meshes compared bit for bit.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "geometry/solid.h"
#include "meshio/mesh_data.h"
#include "meshio/mesh_output.h"

namespace korvan::test {

// A file a reader must refuse whole, and what its message must name.
struct Refusal {
    std::string name;
    std::string bytes;
    std::string mention;
    friend void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }
};

// A loaded object (one triangle, edge limit 0.5) that a refused file must leave alone.
Solid preloaded();
void expectPreloadKept(const Solid& solid);

// The refusal's bytes saved as `fileName` and read into a preloaded object, in the format the
// name's extension gives: the read fails, the message names the fault and the file, and the
// object keeps its mesh.
void expectRefused(const Refusal& refusal, const std::string& fileName);

// The bytes `solid` is saved as under `fileName`, whose extension chooses the format.
std::string savedBytes(const Solid& solid, const std::string& fileName,
                       const WriteOptions& options = {});

// The corners of every triangle, three each, in order.
std::vector<int32_t> cornerList(const Solid& solid);

// The same vertices to the bit (-0 is not 0) and the same triangles.
void expectSameMesh(const Solid& back, const Solid& mesh);

// The OBJ meshes of the shared data folder and its full-style folder, sorted, as names for
// dataFile().
std::vector<std::string> dataMeshNames();

// Options that keep the file's own coordinates.
ReadOptions keepCoordinates();

// Entries of a folder.
int64_t entryCount(const std::string& folder);

}  // namespace korvan::test
