// What every mesh writer shares: a buffered sink over an AtomicFile and numbers printed so that
// they read back as the same float.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "geometry/solid.h"
#include "geometry/status.h"
#include "meshio/atomic_file.h"

namespace korvan {

struct WriteOptions {
    // Text instead of binary, for the formats that have both (STL, PLY).
    bool ascii = false;
};

// Collects output and hands it to the file in large chunks.
class FileSink {
public:
    explicit FileSink(AtomicFile& file);

    // Room for at least `bytes` more; the caller writes there and then calls commit() with the
    // end of what it wrote.
    char* reserve(size_t bytes);
    void commit(char* end) { m_buffer.resize(static_cast<size_t>(end - m_buffer.data())); }
    // Appends raw bytes.
    void append(const void* data, size_t size);

    // Writes what is buffered; false when the file refused it.
    bool flush();

private:
    AtomicFile& m_file;
    std::vector<char> m_buffer;
};

// The most characters putCoordinate writes.
inline constexpr size_t kCoordinateChars = 48;

// Writes a coordinate that reads back as exactly the same float: "%f" (six decimals of the value
// widened to double) where that text reads back as the same float, so simple values keep their
// familiar form, and the shortest text that round-trips otherwise. -0 prints as "-0.000000".
char* putCoordinate(char* p, float value);

// The shortest text that reads back as the same float (no "%f" form first): for formats that
// have no files of our own to stay alike with, and faster.
char* putShortest(char* p, float value);

// Refuses a mesh with inf or nan coordinates before anything is written (a corrupt mesh would
// hand its damage on), with the save message and `path`.
Status checkWritable(const Solid& solid, const std::string& path);

// Opens `path` atomically, lets `body` fill the sink, and commits; any failure (including lack
// of memory) leaves an existing file untouched and reports "Greska kod spremanja!".
template <class Body>
Status writeAtomically(const std::string& path, Body&& body);

}  // namespace korvan

#include "meshio/mesh_output_impl.h"
