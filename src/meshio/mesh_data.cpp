#include "meshio/mesh_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "geometry/mesh_topology.h"

namespace korvan {

InputFile::~InputFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Status InputFile::open(const std::string& path) {
    // Non-blocking, so that opening a FIFO with no writer does not wait; the type is checked on
    // the open descriptor, so nothing can swap the file between the check and the read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return Status::failure("Datoteka " + path + " se ne moze procitati",
                               path + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::failure("Datoteka " + path + " nije obicna datoteka");
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
    m_size = static_cast<uint64_t>(st.st_size);
    m_path = path;
    return {};
}

Status InputFile::read(char* into, size_t n, size_t& got) {
    got = 0;
    while (got < n) {
        const ssize_t k = ::read(m_fd, into + got, n - got);
        if (k < 0 && errno == EINTR) {
            continue;
        }
        if (k < 0) {
            return Status::failure("Datoteka " + m_path + " se ne moze procitati",
                                   m_path + ": " + std::strerror(errno));
        }
        if (k == 0) {
            break;  // shrank while being read: what is there is all there is
        }
        got += static_cast<size_t>(k);
    }
    return {};
}

Status readFileBytes(const std::string& path, std::string& bytes) {
    InputFile file;
    if (Status s = file.open(path); !s) {
        return s;
    }
    try {
        bytes.clear();
        bytes.resize(static_cast<size_t>(file.size()));
        size_t got = 0;
        if (Status s = file.read(bytes.data(), bytes.size(), got); !s) {
            return s;
        }
        bytes.resize(got);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    return {};
}

std::string readError(const std::string& path, const std::string& place, const std::string& what) {
    return "Greska u datoteci " + path + ", " + place + ": " + what;
}

void weldEqualPositions(MeshData& mesh) {
    // A closed surface has about half as many vertices as triangles, and each triangle stores
    // its three corners: about one position in six is new. A table for one slot per corner
    // would be mostly empty, and all of it memory the process touches for the first time.
    const PositionWeld weld(mesh.vertices, mesh.vertices.size() / 6 + 1);
    for (Triangle& t : mesh.triangles) {
        t.setIndices(weld.ids[static_cast<size_t>(t.i0)], weld.ids[static_cast<size_t>(t.i1)],
                     weld.ids[static_cast<size_t>(t.i2)]);
    }
    std::vector<Vector4> kept;
    kept.reserve(weld.firstVertex.size());
    for (int32_t v : weld.firstVertex) {
        kept.push_back(mesh.vertices[static_cast<size_t>(v)]);
    }
    mesh.vertices = std::move(kept);
}

Status adoptMesh(MeshData& mesh, const std::string& path, const ReadOptions& options,
                 Solid& target) {
    try {
        if (mesh.triangles.empty()) {
            return Status::failure("Datoteka " + path + " ne sadrzi nijedan trokut");
        }
        const auto count = static_cast<int64_t>(mesh.vertices.size());
        if (count > INT32_MAX || mesh.triangles.size() > static_cast<size_t>(INT32_MAX)) {
            return Status::failure("Datoteka " + path + " ima previse vrhova ili trokuta");
        }
        for (size_t k = 0; k < mesh.triangles.size(); ++k) {
            const Triangle& t = mesh.triangles[k];
            for (int32_t i : {t.i0, t.i1, t.i2}) {
                if (i < 0 || i >= count) {
                    return Status::failure(readError(path, "trokut " + std::to_string(k + 1),
                                                     "broj vrha " + std::to_string(i) +
                                                         " je izvan raspona 0.." +
                                                         std::to_string(count - 1)));
                }
            }
        }
        Solid fresh;
        fresh.vertices = std::move(mesh.vertices);
        fresh.triangles = std::move(mesh.triangles);
        fresh.loaded = 1;
        fresh.computeBoundingBox();
        fresh.fileMinCorner = fresh.minCorner;
        fresh.fileMaxCorner = fresh.maxCorner;
        if (!options.keepCoordinates && !fresh.normalizeToUnitBox()) {
            mesh.vertices = std::move(fresh.vertices);
            mesh.triangles = std::move(fresh.triangles);
            return Status::failure("Koordinate u datoteci " + path +
                                   " su prevelike ili premale za obradu");
        }
        fresh.wireframe = target.wireframe;
        fresh.edgeLimit = target.edgeLimit;
        target.clear();
        target.swap(fresh);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    return {};
}

}  // namespace korvan
