// The 3MF writer: a ZIP archive of the three parts a 3MF package needs, written by hand rather
// than through lib3mf, whose writer rounds every coordinate to six decimals.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "formats/threemf.h"
#include "meshio/mesh_output.h"
#include "meshio/obj.h"

namespace korvan {
namespace {

// The parts are stored uncompressed: any ZIP reader takes that, and it costs nothing to write.

// lib3mf's reader refuses coordinates beyond a billion (millimetres) in either direction, so a
// file holding them could not be read back.
constexpr float kLargestCoordinate = 1e9f;

constexpr std::string_view kContentTypesName = "[Content_Types].xml";
constexpr std::string_view kContentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">\n"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>\n"
    "<Default Extension=\"model\" "
    "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>\n"
    "</Types>\n";
constexpr std::string_view kRelationshipsName = "_rels/.rels";
constexpr std::string_view kRelationships =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">\n"
    "<Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
    "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/>\n"
    "</Relationships>\n";
constexpr std::string_view kModelName = "3D/3dmodel.model";
constexpr std::string_view kModelStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<model unit=\"millimeter\" xml:lang=\"en-US\" "
    "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n"
    "<resources>\n<object id=\"1\" type=\"model\">\n<mesh>\n<vertices>\n";
constexpr std::string_view kModelMiddle = "</vertices>\n<triangles>\n";
constexpr std::string_view kModelEnd =
    "</triangles>\n</mesh>\n</object>\n</resources>\n<build>\n<item objectid=\"1\"/>\n"
    "</build>\n</model>\n";

// The ZIP checksum (CRC-32, reflected polynomial 0xEDB88320), eight bytes a step.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables makeCrcTables() {
    CrcTables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
        for (size_t s = 1; s < t.size(); ++s) {
            t[s][n] = (t[s - 1][n] >> 8) ^ t[0][t[s - 1][n] & 0xFFu];
        }
    }
    return t;
}

constexpr CrcTables kCrcTables = makeCrcTables();

// Continues `crc` (0 for none yet) over the bytes.
uint32_t crc32(uint32_t crc, std::string_view bytes) {
    const auto& t = kCrcTables;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t size = bytes.size();
    crc = ~crc;
    for (; size >= 8; size -= 8, p += 8) {
        const uint32_t a = crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                  uint32_t{p[3]} << 24);
        crc = t[7][a & 0xFFu] ^ t[6][(a >> 8) & 0xFFu] ^ t[5][(a >> 16) & 0xFFu] ^ t[4][a >> 24] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; size > 0; --size, ++p) {
        crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFFu];
    }
    return ~crc;
}

// Text gathered in chunks of a mebibyte, so that a model of gigabytes is never copied to grow;
// each chunk's checksum is taken as it fills, while it is still in the cache.
class ChunkedText {
public:
    // Room for at least `bytes` more; the caller writes there and calls commit() with the end.
    char* room(size_t bytes) {
        if (!m_open || m_used + bytes > m_chunks.back().capacity) {
            seal();
            const size_t capacity = std::max(kChunkBytes, bytes);
            m_chunks.push_back({std::make_unique_for_overwrite<char[]>(capacity), 0, capacity});
            m_open = true;
        }
        return m_chunks.back().data.get() + m_used;
    }
    void commit(char* end) { m_used = static_cast<size_t>(end - m_chunks.back().data.get()); }
    void append(std::string_view text) {
        char* p = room(text.size());
        std::memcpy(p, text.data(), text.size());
        commit(p + text.size());
    }
    // Ends the text: its checksum and chunks are complete from here on.
    void finish() { seal(); }

    uint64_t size() const { return m_sealed + m_used; }
    uint32_t crc() const { return m_crc; }
    template <class Visit>
    void forEachChunk(Visit&& visit) const {
        for (const Chunk& chunk : m_chunks) {
            visit(std::string_view(chunk.data.get(), chunk.size));
        }
    }

private:
    static constexpr size_t kChunkBytes = size_t{1} << 20;
    struct Chunk {
        std::unique_ptr<char[]> data;
        size_t size;
        size_t capacity;
    };

    void seal() {
        if (m_open) {
            Chunk& last = m_chunks.back();
            last.size = m_used;
            m_crc = crc32(m_crc, std::string_view(last.data.get(), last.size));
            m_sealed += m_used;
            m_used = 0;
            m_open = false;
        }
    }

    std::vector<Chunk> m_chunks;
    size_t m_used = 0;      // bytes in the open chunk
    uint64_t m_sealed = 0;  // bytes in the chunks before it
    uint32_t m_crc = 0;
    bool m_open = false;
};

template <size_t N>
char* put(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

char* putIndex(char* p, int32_t index) {
    return std::to_chars(p, p + 10, static_cast<uint32_t>(index)).ptr;
}

// Sizes and offsets beyond this need ZIP64 records, which this writer does not write.
constexpr uint64_t kLargestZipOffset = 0xFFFFFFFEu;

constexpr const char* kTooLarge =
    "mreza je prevelika za 3MF datoteku (vise od 4 GiB); spremite je kao STL ili PLY";

// Why lib3mf's reader would refuse the triangle, or null.
const char* triangleFault(const Triangle& t, size_t vertexCount) {
    const int32_t c[3] = {t.i0, t.i1, t.i2};
    for (const int32_t index : c) {
        if (index < 0 || static_cast<size_t>(index) >= vertexCount) {
            return "broj vrha je izvan raspona";
        }
    }
    return c[0] == c[1] || c[1] == c[2] || c[0] == c[2] ? "isti vrh je naveden dvaput" : nullptr;
}

// The model part of `solid`; on failure (a mesh no 3MF reader takes, or one too large for a
// plain ZIP archive) the reason, naming the triangle at fault.
std::string encodeModel(const Solid& solid, ChunkedText& text) {
    constexpr size_t kVertexChars = 3 * kCoordinateChars + 32;
    constexpr size_t kTriangleChars = 3 * 10 + 40;
    text.append(kModelStart);
    for (const Vector4& v : solid.vertices) {
        char* p = put(text.room(kVertexChars), "<vertex x=\"");
        p = put(putShortest(p, v.x), "\" y=\"");
        p = put(putShortest(p, v.y), "\" z=\"");
        text.commit(put(putShortest(p, v.z), "\"/>\n"));
        if (text.size() > kLargestZipOffset) {
            return kTooLarge;
        }
    }
    text.append(kModelMiddle);
    for (size_t k = 0; k < solid.triangles.size(); ++k) {
        const Triangle& t = solid.triangles[k];
        if (const char* fault = triangleFault(t, solid.vertices.size())) {
            return "trokut " + std::to_string(k) + ": " + fault + " (3MF to ne dopusta)";
        }
        char* p = put(text.room(kTriangleChars), "<triangle v1=\"");
        p = put(putIndex(p, t.i0), "\" v2=\"");
        p = put(putIndex(p, t.i1), "\" v3=\"");
        text.commit(put(putIndex(p, t.i2), "\"/>\n"));
        if (text.size() > kLargestZipOffset) {
            return kTooLarge;
        }
    }
    text.append(kModelEnd);
    text.finish();
    return {};
}

// Little-endian fields of the ZIP records.
struct Fields {
    std::string bytes;
    Fields& u16(uint32_t v) {
        bytes += static_cast<char>(v & 0xFFu);
        bytes += static_cast<char>((v >> 8) & 0xFFu);
        return *this;
    }
    Fields& u32(uint32_t v) { return u16(v & 0xFFFFu).u16(v >> 16); }
};

struct ZipEntry {
    std::string_view name;
    std::string_view data;  // the part itself, except for the model, which is in chunks
    uint32_t crc = 0;
    uint64_t size = 0;
    uint64_t offset = 0;  // of its local header
};

// Version 2.0 of the format (made on and needed by); 1980-01-01 00:00, the earliest time a ZIP
// archive can hold, so that the same mesh always gives the same bytes.
constexpr uint32_t kZipVersion = 20;
constexpr uint32_t kDosTime = 0;
constexpr uint32_t kDosDate = (1 << 5) | 1;

// The fields that the local and the central header share: version needed, flags, method
// (stored), time, date, checksum, both sizes and the name's length.
Fields sharedFields(Fields fields, const ZipEntry& e) {
    return fields.u16(kZipVersion)
        .u16(0)
        .u16(0)
        .u16(kDosTime)
        .u16(kDosDate)
        .u32(e.crc)
        .u32(static_cast<uint32_t>(e.size))
        .u32(static_cast<uint32_t>(e.size))
        .u16(static_cast<uint32_t>(e.name.size()));
}

std::string localHeader(const ZipEntry& e) {
    return sharedFields(Fields().u32(0x04034b50u), e).u16(0).bytes + std::string(e.name);
}

std::string centralHeader(const ZipEntry& e) {
    // No extra field or comment, disk 0, no attributes.
    return sharedFields(Fields().u32(0x02014b50u).u16(kZipVersion), e)
               .u16(0)
               .u16(0)
               .u16(0)
               .u16(0)
               .u32(0)
               .u32(static_cast<uint32_t>(e.offset))
               .bytes +
           std::string(e.name);
}

}  // namespace

Status writeThreeMf(const Solid& solid, const std::string& path, const WriteOptions&) {
    if (Status s = checkWritable(solid, path); !s) {
        return s;
    }
    for (const Vector4& v : solid.vertices) {
        if (std::fabs(v.x) > kLargestCoordinate || std::fabs(v.y) > kLargestCoordinate ||
            std::fabs(v.z) > kLargestCoordinate) {
            return Status::failure(kSaveErrorMessage,
                                   path + ": 3MF ne dopusta koordinate vece od 1000000000");
        }
    }
    ChunkedText model;
    try {
        if (const std::string fault = encodeModel(solid, model); !fault.empty()) {
            return Status::failure(kSaveErrorMessage, path + ": " + fault);
        }
    } catch (const std::bad_alloc&) {
        return Status::failure(kSaveErrorMessage, path + ": " + kOutOfMemoryMessage);
    }
    ZipEntry entries[] = {
        {kContentTypesName, kContentTypes, crc32(0, kContentTypes), kContentTypes.size()},
        {kRelationshipsName, kRelationships, crc32(0, kRelationships), kRelationships.size()},
        {kModelName, {}, model.crc(), model.size()}};
    uint64_t directoryOffset = 0;
    for (ZipEntry& e : entries) {
        e.offset = directoryOffset;
        directoryOffset += localHeader(e).size() + e.size;
    }
    if (directoryOffset > kLargestZipOffset) {
        return Status::failure(kSaveErrorMessage, path + ": " + kTooLarge);
    }
    return writeAtomically(path, [&](FileSink& sink) {
        std::string directory;
        for (const ZipEntry& e : entries) {
            const std::string header = localHeader(e);
            sink.append(header.data(), header.size());
            if (e.name == kModelName) {
                model.forEachChunk(
                    [&](std::string_view chunk) { sink.append(chunk.data(), chunk.size()); });
            } else {
                sink.append(e.data.data(), e.data.size());
            }
            directory += centralHeader(e);
        }
        // The end record: entries on this disk and in all, the directory's size and offset.
        const auto count = static_cast<uint32_t>(std::size(entries));
        const auto directorySize = static_cast<uint32_t>(directory.size());
        directory += Fields()
                         .u32(0x06054b50u)
                         .u16(0)
                         .u16(0)
                         .u16(count)
                         .u16(count)
                         .u32(directorySize)
                         .u32(static_cast<uint32_t>(directoryOffset))
                         .u16(0)
                         .bytes;
        sink.append(directory.data(), directory.size());
        return true;
    });
}

}  // namespace korvan
