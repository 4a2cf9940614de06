// What every mesh reader shares: reading a file's bytes, welding, and handing a parsed mesh to
// a solid in the file's coordinates or in the unit box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "geometry/solid.h"
#include "geometry/status.h"

namespace korvan {

struct ReadOptions {
    // Keep the file's own coordinates (units and frame) instead of centring and scaling the
    // mesh into [-1, 1]^3.
    bool keepCoordinates = false;
};

// A parsed mesh before it becomes a solid: positions and corner indices (triangles only).
struct MeshData {
    std::vector<Vector4> vertices;
    std::vector<Triangle> triangles;
};

// A regular file open for reading, read in pieces: a reader that parses as it reads keeps only a
// piece of the file in memory at once. Opened as readFileBytes opens files.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();
    Status open(const std::string& path);
    // The file's size when it was opened.
    uint64_t size() const { return m_size; }
    // Up to `n` bytes into `into`; `got` says how many, fewer only at the file's end.
    Status read(char* into, size_t n, size_t& got);

private:
    int m_fd = -1;
    uint64_t m_size = 0;
    std::string m_path;
};

// Reads the whole of a regular file into `bytes`. A file that cannot be opened, or that is not
// a regular file (a folder, a FIFO, a device: those could block forever or never end), is
// refused at once with a message naming it. Plain buffered reads, so a file that shrinks while
// it is read gives a short read, never a signal.
Status readFileBytes(const std::string& path, std::string& bytes);

// "Greska u datoteci PATH, PLACE: WHAT" — the form of every reader's refusal; PLACE says where
// (a line, a byte offset, a triangle number).
std::string readError(const std::string& path, const std::string& place, const std::string& what);

// Merges vertices whose positions are exactly equal (+0 and -0 count as equal) into the first of
// them, keeping the order of first occurrence, and renumbers the corners. Formats that store every
// triangle's corners separately (STL) need it to give a closed mesh its shared edges back.
void weldEqualPositions(MeshData& mesh);

// Replaces `target` by `mesh`: refuses a mesh without triangles and corners outside the vertex
// array, sets the box, and centres and scales into the unit box unless `options` keeps the
// file's coordinates. Every coordinate must be finite (the readers check it where they can name
// the place). `target` keeps its `wireframe` and `edgeLimit`, and is changed only on success.
Status adoptMesh(MeshData& mesh, const std::string& path, const ReadOptions& options,
                 Solid& target);

}  // namespace korvan
