// Wavefront OBJ reading and writing (vertices and faces only).
#pragma once

#include <string>
#include <string_view>

#include "geometry/solid.h"
#include "geometry/status.h"
#include "geometry/stop_token.h"
#include "meshio/mesh_data.h"

namespace korvan {

// Reads vertex ("v"/"V") and face ("f"/"F") lines into `target`, then normalises it into the
// unit box [-1, 1]^3 (unless `options` keeps the file's coordinates). Everything else is ignored:
// comments, groups, materials, and the texture, normal and parameter lines vt, vn, vp (which take
// no vertex number). Faces may name vertices defined later; corners may be "a", "a/b", "a/b/c" or
// "a//c" (vertex a), and negative numbers count back from the last vertex read so far; a face of
// more than three corners becomes the fan (1,2,3), (1,3,4), ... Numbers use the C locale.
//
// Unreadable or non-finite coordinates, faces with fewer than three readable corners and
// vertex numbers outside the file refuse the whole file with a message naming the line; so
// does a file with no triangle, a binary file (NUL bytes) and coordinates too large or too
// small to normalise in float. Lines end at LF, CR LF or CR; a UTF-8 byte-order mark is
// skipped. `target` is replaced only on success. Centroids and normals are left zero.
// `stop` is polled every few thousand lines; a stop throws OperationStopped, `target` untouched.
Status readObj(const std::string& path, Solid& target, const ReadOptions& options = {},
               const StopToken& stop = {});
// The same for a file's content already in memory; `path` only names it in messages.
Status readObjText(std::string_view text, const std::string& path, Solid& target,
                   const ReadOptions& options = {}, const StopToken& stop = {});

// Writes "# 3d tijelo u .obj formatu", one "v x y z" line per vertex and one "f %d %d %d" line
// per triangle (1-based). Coordinates print as "%f" where that reads back as the same float, and
// as the shortest text that does otherwise, so a saved mesh reads back with the same vertices. The
// file is written beside the target under a temporary name and renamed over it only once complete,
// so a failure ("Greska kod spremanja!") leaves an existing file untouched.
Status writeObj(const Solid& solid, const std::string& path);

inline constexpr const char* kSaveErrorMessage = "Greska kod spremanja!";

}  // namespace korvan
