#include "formats/stl.h"
#include "formats/words.h"
#include "geometry/mesh_topology.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvan {
namespace {

using formats::Number;
using formats::parseFloat;
using formats::sameWord;
using formats::shown;

// Binary layout: an 80-byte header, the triangle count, then 50 bytes per triangle (normal,
// three corners, two attribute bytes), all little-endian.
constexpr size_t kHeaderBytes = 80;
constexpr size_t kPrefixBytes = kHeaderBytes + 4;
constexpr size_t kRecordBytes = 50;

// Corners are numbered as they are read, three per triangle, in 32 bits.
constexpr uint64_t kMostTriangles = static_cast<uint64_t>(INT32_MAX) / 3;

uint32_t loadU32(const char* p) {
    unsigned char b[4];
    std::memcpy(b, p, 4);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

char* storeU32(char* p, uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 24)};
    std::memcpy(p, b, 4);
    return p + 4;
}

char* storeFloat(char* p, float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    return storeU32(p, bits);
}

// "1 trokut", "2 trokuta", "21 trokut", "11 trokuta".
std::string trianglesText(uint64_t n) {
    const bool singular = n % 10 == 1 && n % 100 != 11;
    return std::to_string(n) + (singular ? " trokut" : " trokuta");
}

// ---- Binary --------------------------------------------------------------------------------

// Binary records into a mesh, some at a time, their corners welded as they are read: a record
// stores its three corners apart, so a closed surface repeats each position about six times,
// and a list of every corner would be six times the memory of the positions.
class BinaryParser {
public:
    BinaryParser(const std::string& path, size_t count, MeshData& mesh)
        : m_path(path), m_mesh(mesh), m_weld(count / 2 + 1) {
        // A closed surface has about half as many positions as triangles.
        mesh.vertices.reserve(count / 2 + 1);
        mesh.triangles.resize(count);
    }

    // The next `count` records, whole, from `records`.
    Status add(const char* records, size_t count) {
        const auto cornerOf = [&](size_t i, int k) {
            const char* at = records + i * kRecordBytes + 12 + 12 * k;
            return Vector4(std::bit_cast<float>(loadU32(at)), std::bit_cast<float>(loadU32(at + 4)),
                           std::bit_cast<float>(loadU32(at + 8)));
        };
        // The table is far larger than the caches: the slots of the corners some records ahead
        // are fetched early.
        constexpr size_t kAhead = 3;
        for (size_t i = 0; i < count; ++i, ++m_next) {
            const char* record = records + i * kRecordBytes;
            uint32_t nonFinite = 0;
            for (int k = 0; k < 9; ++k) {
                // All exponent bits set: inf or nan.
                nonFinite |= static_cast<uint32_t>((loadU32(record + 12 + 4 * k) & 0x7f800000u) ==
                                                   0x7f800000u);
            }
            if (nonFinite != 0) {
                return Status::failure(readError(m_path, "trokut " + std::to_string(m_next + 1),
                                                 "koordinata vrha nije konacan broj"));
            }
            if (i + kAhead < count) {
                for (int k = 0; k < 3; ++k) {
                    m_weld.prefetch(cornerOf(i + kAhead, k));
                }
            }
            int32_t id[3];
            for (int k = 0; k < 3; ++k) {
                const Vector4 corner = cornerOf(i, k);
                id[k] = m_weld.add(corner);
                if (id[k] == static_cast<int32_t>(m_mesh.vertices.size())) {
                    m_mesh.vertices.push_back(corner);
                }
            }
            m_mesh.triangles[m_next].setIndices(id[0], id[1], id[2]);
        }
        return {};
    }

private:
    const std::string& m_path;
    MeshData& m_mesh;
    PositionWeld m_weld;
    size_t m_next = 0;
};

// The binary file in `bytes`, whose length matches its count.
Status parseBinary(std::string_view bytes, const std::string& path, MeshData& mesh) {
    const uint64_t count = loadU32(bytes.data() + kHeaderBytes);
    if (count > kMostTriangles) {
        return Status::failure("Datoteka " + path + " ima previse vrhova ili trokuta");
    }
    BinaryParser parser(path, static_cast<size_t>(count), mesh);
    return parser.add(bytes.data() + kPrefixBytes, static_cast<size_t>(count));
}

// The binary file open in `file`, its prefix read into `prefix` and its length matching its
// count, read and parsed a piece at a time. Nothing where the file shrank meanwhile, so that it
// is read again whole and judged as it then is.
std::optional<Status> streamBinary(InputFile& file, const char* prefix, const std::string& path,
                                   MeshData& mesh) {
    const uint64_t count = loadU32(prefix + kHeaderBytes);
    if (count > kMostTriangles) {
        return Status::failure("Datoteka " + path + " ima previse vrhova ili trokuta");
    }
    BinaryParser parser(path, static_cast<size_t>(count), mesh);
    constexpr size_t kPiece = 1 << 14;  // records: 800 kB
    std::vector<char> buffer(kPiece * kRecordBytes);
    for (uint64_t done = 0; done < count;) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(kPiece, count - done));
        size_t got = 0;
        if (Status s = file.read(buffer.data(), n * kRecordBytes, got); !s) {
            return s;
        }
        if (got != n * kRecordBytes) {
            return std::nullopt;
        }
        if (Status s = parser.add(buffer.data(), n); !s) {
            return s;
        }
        done += n;
    }
    return Status();
}

// Why a file that is not exactly as long as its header says is not a binary STL either.
Status sizeMismatch(std::string_view bytes, const std::string& path) {
    const uint64_t promised = loadU32(bytes.data() + kHeaderBytes);
    const uint64_t body = bytes.size() - kPrefixBytes;
    std::string held = trianglesText(body / kRecordBytes);
    if (body % kRecordBytes != 0) {
        held += " i jos " + std::to_string(body % kRecordBytes) + " bajtova";
    }
    return Status::failure(
        readError(path, "zaglavlje",
                  "najavljuje " + trianglesText(promised) + ", a datoteka ih sadrzi " + held));
}

// ---- ASCII ---------------------------------------------------------------------------------

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// White-space separated words, with the line each lies on. Lines end at LF, CR LF or CR.
class Words {
public:
    explicit Words(std::string_view text) : m_p(text.data()), m_end(text.data() + text.size()) {}

    // The next word; empty at the end of the text.
    std::string_view next() {
        while (m_p < m_end && isSpace(*m_p)) {
            m_line += *m_p == '\n' || (*m_p == '\r' && (m_p + 1 == m_end || m_p[1] != '\n'));
            ++m_p;
        }
        const char* start = m_p;
        while (m_p < m_end && !isSpace(*m_p)) {
            ++m_p;
        }
        return {start, static_cast<size_t>(m_p - start)};
    }

    // Passes over the rest of the current line (a solid's name).
    void skipLine() {
        while (m_p < m_end && *m_p != '\n' && *m_p != '\r') {
            ++m_p;
        }
    }

    int64_t line() const { return m_line; }

private:
    const char* m_p;
    const char* m_end;
    int64_t m_line = 1;
};

class AsciiParser {
public:
    AsciiParser(std::string_view text, const std::string& path) : m_words(text), m_path(path) {}

    // One or more "solid ... endsolid" blocks and nothing else but white space.
    Status parse(MeshData& mesh) {
        bool first = true;
        for (std::string_view word = m_words.next(); !word.empty(); word = m_words.next()) {
            if (!sameWord(word, "solid")) {
                return unexpected(word, first ? "'solid'" : "'solid' ili kraj datoteke");
            }
            m_words.skipLine();  // the name
            if (Status s = parseSolid(mesh); !s) {
                return s;
            }
            first = false;
        }
        return {};
    }

private:
    Status parseSolid(MeshData& mesh) {
        for (;;) {
            const std::string_view word = m_words.next();
            if (sameWord(word, "endsolid")) {
                m_words.skipLine();
                return {};
            }
            if (!sameWord(word, "facet")) {
                return unexpected(word, "'facet' ili 'endsolid'");
            }
            if (Status s = parseFacet(mesh); !s) {
                return s;
            }
        }
    }

    // After "facet": the normal (ignored), the loop of three vertices, "endfacet".
    Status parseFacet(MeshData& mesh) {
        const int64_t facetLine = m_words.line();
        // "normal nx ny nz", which some writers fill with nan for degenerate facets.
        std::string_view word = m_words.next();
        for (int skipped = 0; skipped < 4 && !word.empty() && !sameWord(word, "outer"); ++skipped) {
            word = m_words.next();
        }
        if (!sameWord(word, "outer")) {
            return unexpected(word, "'outer'");
        }
        if (word = m_words.next(); !sameWord(word, "loop")) {
            return unexpected(word, "'loop'");
        }
        float xyz[9] = {};
        int64_t corners = 0;
        for (word = m_words.next(); !sameWord(word, "endloop"); word = m_words.next()) {
            if (!sameWord(word, "vertex")) {
                return unexpected(word, "'vertex' ili 'endloop'");
            }
            for (int k = 0; k < 3; ++k) {
                float value = 0.0f;
                const Number r = parseFloat(m_words.next(), value);
                if (r == Number::NotFinite) {
                    return failure(m_words.line(), "koordinata vrha nije konacan broj");
                }
                if (r != Number::Ok) {
                    return failure(m_words.line(), "koordinate vrha nisu ispravni brojevi");
                }
                if (corners < 3) {
                    xyz[3 * corners + k] = value;
                }
            }
            ++corners;
        }
        if (corners != 3) {
            return failure(facetLine,
                           "broj vrhova plohe je " + std::to_string(corners) + " umjesto 3");
        }
        if (word = m_words.next(); !sameWord(word, "endfacet")) {
            return unexpected(word, "'endfacet'");
        }
        if (mesh.triangles.size() >= kMostTriangles) {
            return failure(facetLine, "previse trokuta");
        }
        const auto first = static_cast<int32_t>(mesh.vertices.size());
        for (int k = 0; k < 3; ++k) {
            mesh.vertices.emplace_back(xyz[3 * k], xyz[3 * k + 1], xyz[3 * k + 2]);
        }
        mesh.triangles.emplace_back().setIndices(first, first + 1, first + 2);
        return {};
    }

    Status unexpected(std::string_view word, const std::string& expected) const {
        if (word.empty()) {
            return failure(m_words.line(),
                           "datoteka zavrsava prerano (ocekivano " + expected + ")");
        }
        return failure(m_words.line(), "ocekivano " + expected + ", a procitano je " + shown(word));
    }

    Status failure(int64_t line, const std::string& what) const {
        return Status::failure(readError(m_path, "redak " + std::to_string(line), what));
    }

    Words m_words;
    const std::string& m_path;
};

Status finish(MeshData& mesh, const std::string& path, const ReadOptions& options, Solid& target) {
    weldEqualPositions(mesh);
    return adoptMesh(mesh, path, options, target);
}

// ---- Writing -------------------------------------------------------------------------------

// The unit normal of a triangle's corners, computed in double so that large or tiny
// coordinates neither overflow nor vanish; zero for a degenerate triangle.
Vector4 unitNormal(const Vector4& a, const Vector4& b, const Vector4& c) {
    const double ux = static_cast<double>(b.x) - a.x;
    const double uy = static_cast<double>(b.y) - a.y;
    const double uz = static_cast<double>(b.z) - a.z;
    const double vx = static_cast<double>(c.x) - a.x;
    const double vy = static_cast<double>(c.y) - a.y;
    const double vz = static_cast<double>(c.z) - a.z;
    const double nx = uy * vz - uz * vy;
    const double ny = uz * vx - ux * vz;
    const double nz = ux * vy - uy * vx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0.0) || !std::isfinite(length)) {
        return {};
    }
    return {static_cast<float>(nx / length), static_cast<float>(ny / length),
            static_cast<float>(nz / length)};
}

bool writeBinary(const Solid& solid, FileSink& sink) {
    char header[kPrefixBytes] = "Korvan STL";
    storeU32(header + kHeaderBytes, static_cast<uint32_t>(solid.triangles.size()));
    sink.append(header, sizeof header);

    constexpr size_t kBatch = 4096;
    const Vector4* v = solid.vertices.data();
    const size_t total = solid.triangles.size();
    for (size_t from = 0; from < total; from += kBatch) {
        const size_t to = total - from < kBatch ? total : from + kBatch;
        char* p = sink.reserve((to - from) * kRecordBytes);
        for (size_t i = from; i < to; ++i) {
            const Triangle& t = solid.triangles[i];
            const Vector4& a = v[t.i0];
            const Vector4& b = v[t.i1];
            const Vector4& c = v[t.i2];
            const Vector4 n = unitNormal(a, b, c);
            for (const Vector4* q : {&n, &a, &b, &c}) {
                p = storeFloat(p, q->x);
                p = storeFloat(p, q->y);
                p = storeFloat(p, q->z);
            }
            *p++ = 0;
            *p++ = 0;
        }
        sink.commit(p);
    }
    return true;
}

char* putWords(char* p, std::string_view words) {
    std::memcpy(p, words.data(), words.size());
    return p + words.size();
}

char* putTriple(char* p, const Vector4& v) {
    for (float c : {v.x, v.y, v.z}) {
        *p++ = ' ';
        p = putCoordinate(p, c);
    }
    *p++ = '\n';
    return p;
}

bool writeAscii(const Solid& solid, FileSink& sink) {
    sink.append("solid korvan\n", 13);
    // Four lines of three numbers and the fixed words around them.
    constexpr size_t kFacetChars = 4 * 3 * (kCoordinateChars + 1) + 128;
    const Vector4* v = solid.vertices.data();
    for (const Triangle& t : solid.triangles) {
        const Vector4& a = v[t.i0];
        const Vector4& b = v[t.i1];
        const Vector4& c = v[t.i2];
        char* p = sink.reserve(kFacetChars);
        p = putTriple(putWords(p, "  facet normal"), unitNormal(a, b, c));
        p = putWords(p, "    outer loop\n");
        for (const Vector4* corner : {&a, &b, &c}) {
            p = putTriple(putWords(p, "      vertex"), *corner);
        }
        p = putWords(p, "    endloop\n  endfacet\n");
        sink.commit(p);
    }
    sink.append("endsolid korvan\n", 16);
    return true;
}

}  // namespace

Status readStl(const std::string& path, Solid& target, const ReadOptions& options) {
    // A binary file is parsed as it is read: its bytes never lie in memory whole.
    InputFile file;
    if (Status s = file.open(path); !s) {
        return s;
    }
    char prefix[kPrefixBytes];
    size_t got = 0;
    if (Status s = file.read(prefix, sizeof prefix, got); !s) {
        return s;
    }
    if (got == kPrefixBytes &&
        file.size() - kPrefixBytes ==
            kRecordBytes * static_cast<uint64_t>(loadU32(prefix + kHeaderBytes))) {
        try {
            MeshData mesh;
            if (std::optional<Status> s = streamBinary(file, prefix, path, mesh)) {
                return *s ? adoptMesh(mesh, path, options, target) : *s;
            }
        } catch (const std::bad_alloc&) {
            return Status::failure(kOutOfMemoryMessage);
        }
    }
    std::string bytes;
    if (Status s = readFileBytes(path, bytes); !s) {
        return s;
    }
    return readStlBytes(bytes, path, target, options);
}

Status readStlBytes(std::string_view bytes, const std::string& path, Solid& target,
                    const ReadOptions& options) {
    try {
        // The length decides first: a binary file's header may well begin with "solid".
        if (bytes.size() >= kPrefixBytes &&
            bytes.size() - kPrefixBytes ==
                kRecordBytes * static_cast<uint64_t>(loadU32(bytes.data() + kHeaderBytes))) {
            MeshData mesh;
            if (Status s = parseBinary(bytes, path, mesh); !s) {
                return s;
            }
            return adoptMesh(mesh, path, options, target);
        }
        // Text holds no NUL byte; a binary file of the wrong length almost surely does.
        const bool binary = bytes.find('\0') != std::string_view::npos;
        // A UTF-8 byte-order mark is no part of the first line.
        const std::string_view text =
            bytes.substr(0, 3) == "\xEF\xBB\xBF" ? bytes.substr(3) : bytes;
        if (sameWord(Words(text).next(), "solid")) {
            MeshData mesh;
            Status s = AsciiParser(text, path).parse(mesh);
            if (s) {
                return finish(mesh, path, options, target);
            }
            if (!binary || bytes.size() < kPrefixBytes) {
                return s;
            }
        }
        if (bytes.empty()) {
            return Status::failure("Datoteka " + path + " je prazna");
        }
        if (binary && bytes.size() >= kPrefixBytes) {
            return sizeMismatch(bytes, path);
        }
        return Status::failure("Datoteka " + path + " nije ni binarna ni tekstualna STL datoteka");
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

Status writeStl(const Solid& solid, const std::string& path, const WriteOptions& options) {
    if (Status s = checkWritable(solid, path); !s) {
        return s;
    }
    return writeAtomically(path, [&](FileSink& sink) {
        return options.ascii ? writeAscii(solid, sink) : writeBinary(solid, sink);
    });
}

}  // namespace korvan
