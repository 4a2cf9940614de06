#include "formats/threemf.h"

#include <Common/NMR_ErrorConst.h>
#include <Model/COM/NMR_DLLInterfaces.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace korvan {
namespace {

// Every object lib3mf hands out is released exactly once.
// lib3mf's objects are opaque pointers of this type.
using Object = NMR::PLib3MFBase*;
struct Release {
    void operator()(Object handle) const { NMR::lib3mf_release(handle); }
};
using Handle = std::unique_ptr<NMR::PLib3MFBase, Release>;

// Calls a lib3mf function that hands out a new object through its last argument.
template <class F, class... Args>
LIB3MFRESULT acquire(Handle& out, F function, Args... args) {
    Object raw = nullptr;
    const LIB3MFRESULT result = function(args..., &raw);
    out.reset(raw);
    return result;
}

struct ErrorKind {
    uint32_t first;
    uint32_t last;
    const char* what;
};

// What lib3mf's error codes mean to a user, by range.
constexpr ErrorKind kErrorKinds[] = {
    {NMR_ERROR_INVALIDZIPENTRYKEY, NMR_ERROR_ZIPENTRYOVERFLOW, "ZIP arhiva nije ispravna"},
    {NMR_ERROR_INVALIDZIPENTRY, NMR_ERROR_INVALIDZIPENTRY, "ZIP arhiva nije ispravna"},
    {NMR_ERROR_COULDNOTREADZIPFILE, NMR_ERROR_COULDNOTOPENZIPENTRY, "ZIP arhiva nije ispravna"},
    {NMR_ERROR_ZIPENTRYNON64_TOOLARGE, NMR_ERROR_ZIPCONTAINSINCONSISTENCIES,
     "ZIP arhiva nije ispravna"},
    {NMR_ERROR_IMPORTSTREAMISEMPTY, NMR_ERROR_IMPORTSTREAMISEMPTY, "datoteka je prazna"},
    {NMR_ERROR_INVALIDXMLDEPTH, NMR_ERROR_XMLELEMENTNOTEMPTY, "XML modela nije ispravan"},
    {NMR_ERROR_INVALIDXMLENCODING, NMR_ERROR_FORBIDDENXMLATTRITIBUTE, "XML modela nije ispravan"},
    {NMR_ERROR_CREATEXMLREADERFAILED, NMR_ERROR_ALREADYPARSEDXMLNODE, "XML modela nije ispravan"},
    {NMR_ERROR_NORESOURCES, NMR_ERROR_NOMODELNODE, "XML modela nije ispravan"},
    {NMR_ERROR_OPCREADFAILED, NMR_ERROR_OPCCOULDNOTGETMODELSTREAM, "3MF paket nema ispravan model"},
    {NMR_ERROR_OPCPACKAGECREATEFAILED, NMR_ERROR_COULDNOTRETRIEVEOPCPARTNAME,
     "3MF paket nema ispravan model"},
    {NMR_ERROR_MODELCOORDINATEMISSING, NMR_ERROR_INVALIDMODELNODEINDEX,
     "mreza ima neispravne koordinate ili brojeve vrhova"},
    {NMR_ERROR_INVALIDMODELOBJECTID, NMR_ERROR_AMBIGUOUSOBJECTDEFINITON,
     "objekti modela nisu ispravno oznaceni"},
    {NMR_ERROR_MISSINGBUILDITEMOBJECTID, NMR_ERROR_DUPLICATECOMPONENTOBJECTID,
     "model se poziva na nepostojeci objekt"},
    {NMR_ERROR_REQUIREDEXTENSIONNOTSUPPORTED, NMR_ERROR_REQUIREDEXTENSIONNOTSUPPORTED,
     "model trazi nepodrzano prosirenje formata"},
};

std::string hex(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(code));
    return text;
}

// The refusal for a failed lib3mf call on `instance`: a Croatian message with lib3mf's code,
// and lib3mf's own text as the detail.
Status lib3mfFailure(const std::string& path, Object instance) {
    DWORD code = 0;
    LPCSTR text = nullptr;
    if (instance == nullptr || NMR::lib3mf_getlasterror(instance, &code, &text) != LIB3MF_OK) {
        code = 0;
        text = nullptr;
    }
    std::string what = "lib3mf ne moze procitati model";
    for (const ErrorKind& kind : kErrorKinds) {
        if (code >= kind.first && code <= kind.last) {
            what = kind.what;
        }
    }
    return Status::failure(
        readError(path, "3MF paket", what + " (lib3mf greska " + hex(code) + ")"),
        text != nullptr ? path + ": lib3mf: " + text : std::string());
}

// An affine map in double: rows of a 3x3 matrix and a translation in the last column, the
// layout of lib3mf's MODELTRANSFORM.
struct Affine {
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    bool identity = true;

    static Affine of(const NMR::MODELTRANSFORM& t) {
        Affine a;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                a.m[r][c] = t.m_fFields[r][c];
                a.identity = a.identity && a.m[r][c] == (r == c ? 1.0 : 0.0);
            }
        }
        return a;
    }

    // This map after `inner`.
    Affine after(const Affine& inner) const {
        if (inner.identity) {
            return *this;
        }
        if (identity) {
            return inner;
        }
        Affine out;
        out.identity = false;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                double sum = c == 3 ? m[r][3] : 0.0;
                for (int k = 0; k < 3; ++k) {
                    sum += m[r][k] * inner.m[k][c];
                }
                out.m[r][c] = sum;
            }
        }
        return out;
    }

    // The image of p, in double, rounded to float once.
    Vector4 apply(const float p[3]) const {
        if (identity) {
            return {p[0], p[1], p[2]};
        }
        float out[3];
        for (int r = 0; r < 3; ++r) {
            out[r] = static_cast<float>(m[r][0] * p[0] + m[r][1] * p[1] + m[r][2] * p[2] + m[r][3]);
        }
        return {out[0], out[1], out[2]};
    }
};

// Components nest no deeper than this (lib3mf already refuses cycles).
constexpr int kMaxDepth = 32;

// Collects the meshes of a read model, placed, into one mesh.
class ModelCollector {
public:
    explicit ModelCollector(const std::string& path) : m_path(path) {}

    Status collect(Object model, MeshData& out) {
        std::vector<std::pair<Handle, Affine>> placed;
        if (Status s = placedObjects(model, placed); !s) {
            return s;
        }
        if (placed.empty()) {
            return Status::failure("Datoteka " + m_path + " ne sadrzi nijednu mrezu");
        }
        // The sizes first, so that components used many times cannot make the mesh explode.
        Size total;
        for (const auto& [object, transform] : placed) {
            Size size;
            if (Status s = sizeOf(object.get(), 0, size); !s) {
                return s;
            }
            total.add(size);
        }
        if (total.vertices > static_cast<uint64_t>(INT32_MAX) ||
            total.triangles > static_cast<uint64_t>(INT32_MAX)) {
            return Status::failure("Datoteka " + m_path + " ima previse vrhova ili trokuta");
        }
        out.vertices.reserve(static_cast<size_t>(total.vertices));
        out.triangles.reserve(static_cast<size_t>(total.triangles));
        for (const auto& [object, transform] : placed) {
            if (Status s = append(object.get(), transform, 0, out); !s) {
                return s;
            }
        }
        return {};
    }

private:
    struct Size {
        uint64_t vertices = 0;
        uint64_t triangles = 0;
        // Saturates far above any mesh that can be read (and far below overflow).
        void add(const Size& other) {
            constexpr uint64_t kCap = uint64_t{1} << 40;
            vertices = std::min(kCap, vertices + other.vertices);
            triangles = std::min(kCap, triangles + other.triangles);
        }
    };

    Status failed(Object instance) const { return lib3mfFailure(m_path, instance); }

    // The objects the build places, with their transforms; every mesh object when the build is
    // empty.
    Status placedObjects(Object model, std::vector<std::pair<Handle, Affine>>& placed) {
        Handle items;
        if (acquire(items, NMR::lib3mf_model_getbuilditems, model) != LIB3MF_OK) {
            return failed(model);
        }
        BOOL more = false;
        while (NMR::lib3mf_builditemiterator_movenext(items.get(), &more) == LIB3MF_OK && more) {
            Handle item;
            Handle object;
            NMR::MODELTRANSFORM t{};
            if (acquire(item, NMR::lib3mf_builditemiterator_getcurrent, items.get()) != LIB3MF_OK) {
                return failed(items.get());
            }
            if (acquire(object, NMR::lib3mf_builditem_getobjectresource, item.get()) != LIB3MF_OK ||
                NMR::lib3mf_builditem_getobjecttransform(item.get(), &t) != LIB3MF_OK) {
                return failed(item.get());
            }
            placed.emplace_back(std::move(object), Affine::of(t));
        }
        if (!placed.empty()) {
            return {};
        }
        Handle meshes;
        if (acquire(meshes, NMR::lib3mf_model_getmeshobjects, model) != LIB3MF_OK) {
            return failed(model);
        }
        while (NMR::lib3mf_resourceiterator_movenext(meshes.get(), &more) == LIB3MF_OK && more) {
            Handle mesh;
            if (acquire(mesh, NMR::lib3mf_resourceiterator_getcurrent, meshes.get()) != LIB3MF_OK) {
                return failed(meshes.get());
            }
            placed.emplace_back(std::move(mesh), Affine());
        }
        return {};
    }

    // Calls `visit(component object, component transform)` for each component.
    template <class Visit>
    Status forEachComponent(Object object, Visit&& visit) {
        DWORD count = 0;
        if (NMR::lib3mf_componentsobject_getcomponentcount(object, &count) != LIB3MF_OK) {
            return failed(object);
        }
        for (DWORD k = 0; k < count; ++k) {
            Handle component;
            Handle child;
            NMR::MODELTRANSFORM t{};
            if (acquire(component, NMR::lib3mf_componentsobject_getcomponent, object, k) !=
                LIB3MF_OK) {
                return failed(object);
            }
            if (acquire(child, NMR::lib3mf_component_getobjectresource, component.get()) !=
                    LIB3MF_OK ||
                NMR::lib3mf_component_gettransform(component.get(), &t) != LIB3MF_OK) {
                return failed(component.get());
            }
            if (Status s = visit(child.get(), Affine::of(t)); !s) {
                return s;
            }
        }
        return {};
    }

    enum class Kind { Mesh, Components, Other };
    Status kindOf(Object object, int depth, Kind& kind) const {
        if (depth > kMaxDepth) {
            return Status::failure(
                readError(m_path, "3MF model", "komponente su ugnijezdene preduboko"));
        }
        BOOL mesh = false;
        BOOL components = false;
        if (NMR::lib3mf_object_ismeshobject(object, &mesh) != LIB3MF_OK ||
            NMR::lib3mf_object_iscomponentsobject(object, &components) != LIB3MF_OK) {
            return failed(object);
        }
        kind = mesh ? Kind::Mesh : components ? Kind::Components : Kind::Other;
        return {};
    }

    // Vertices and triangles an object brings, remembered per object so that shared
    // components are counted once.
    Status sizeOf(Object object, int depth, Size& size) {
        DWORD id = 0;
        Kind kind = Kind::Other;
        if (NMR::lib3mf_resource_getresourceid(object, &id) != LIB3MF_OK) {
            return failed(object);
        }
        if (const auto known = m_sizes.find(id); known != m_sizes.end()) {
            size = known->second;
            return {};
        }
        if (Status s = kindOf(object, depth, kind); !s) {
            return s;
        }
        size = Size();
        if (kind == Kind::Mesh) {
            DWORD vertices = 0;
            DWORD triangles = 0;
            if (NMR::lib3mf_meshobject_getvertexcount(object, &vertices) != LIB3MF_OK ||
                NMR::lib3mf_meshobject_gettrianglecount(object, &triangles) != LIB3MF_OK) {
                return failed(object);
            }
            size.vertices = vertices;
            size.triangles = triangles;
        } else if (kind == Kind::Components) {
            Status s = forEachComponent(object, [&](Object child, const Affine&) {
                Size part;
                Status inner = sizeOf(child, depth + 1, part);
                size.add(part);
                return inner;
            });
            if (!s) {
                return s;
            }
        }
        m_sizes[id] = size;
        return {};
    }

    Status append(Object object, const Affine& transform, int depth, MeshData& out) {
        Kind kind = Kind::Other;
        if (Status s = kindOf(object, depth, kind); !s) {
            return s;
        }
        if (kind == Kind::Mesh) {
            return appendMesh(object, transform, out);
        }
        if (kind == Kind::Components) {
            return forEachComponent(object, [&](Object child, const Affine& placement) {
                return append(child, transform.after(placement), depth + 1, out);
            });
        }
        return {};
    }

    Status appendMesh(Object mesh, const Affine& transform, MeshData& out) {
        DWORD id = 0;
        DWORD vertexCount = 0;
        DWORD triangleCount = 0;
        if (NMR::lib3mf_resource_getresourceid(mesh, &id) != LIB3MF_OK ||
            NMR::lib3mf_meshobject_getvertexcount(mesh, &vertexCount) != LIB3MF_OK ||
            NMR::lib3mf_meshobject_gettrianglecount(mesh, &triangleCount) != LIB3MF_OK) {
            return failed(mesh);
        }
        std::vector<NMR::MODELMESHVERTEX> vertices(vertexCount);
        std::vector<NMR::MODELMESHTRIANGLE> triangles(triangleCount);
        DWORD got = 0;
        if ((vertexCount > 0 && NMR::lib3mf_meshobject_getvertices(
                                    mesh, vertices.data(), vertexCount, &got) != LIB3MF_OK) ||
            (triangleCount > 0 && NMR::lib3mf_meshobject_gettriangleindices(
                                      mesh, triangles.data(), triangleCount, &got) != LIB3MF_OK)) {
            return failed(mesh);
        }
        const std::string object = "objekt " + std::to_string(id);
        const auto offset = static_cast<int32_t>(out.vertices.size());
        for (size_t k = 0; k < vertices.size(); ++k) {
            const Vector4 v = transform.apply(vertices[k].m_fPosition);
            if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
                return Status::failure(readError(m_path, object + ", vrh " + std::to_string(k),
                                                 "koordinata vrha nije konacan broj"));
            }
            out.vertices.push_back(v);
        }
        for (size_t k = 0; k < triangles.size(); ++k) {
            const DWORD* c = triangles[k].m_nIndices;
            for (int j = 0; j < 3; ++j) {
                if (c[j] >= vertexCount) {
                    return Status::failure(
                        readError(m_path, object + ", trokut " + std::to_string(k),
                                  "broj vrha " + std::to_string(c[j]) + " je izvan raspona 0.." +
                                      std::to_string(static_cast<int64_t>(vertexCount) - 1)));
                }
            }
            Triangle t;
            t.setIndices(offset + static_cast<int32_t>(c[0]), offset + static_cast<int32_t>(c[1]),
                         offset + static_cast<int32_t>(c[2]));
            out.triangles.push_back(t);
        }
        return {};
    }

    const std::string& m_path;
    std::map<DWORD, Size> m_sizes;
};

// `data` is not changed; lib3mf's interface merely lacks the const.
Status readBuffer(BYTE* data, size_t size, const std::string& path, Solid& target,
                  const ReadOptions& options) {
    // Every 3MF file is a ZIP archive, which starts with a local file header.
    if (size < 4 || std::memcmp(data, "PK\x03\x04", 4) != 0) {
        return Status::failure("Datoteka " + path + " nije 3MF datoteka (ZIP arhiva)");
    }
    Handle model;
    Handle reader;
    if (acquire(model, NMR::lib3mf_createmodel) != LIB3MF_OK) {
        return lib3mfFailure(path, nullptr);
    }
    if (acquire(reader, NMR::lib3mf_model_queryreader, model.get(), "3mf") != LIB3MF_OK) {
        return lib3mfFailure(path, model.get());
    }
    if (NMR::lib3mf_reader_readfrombuffer(reader.get(), data, size) != LIB3MF_OK) {
        return lib3mfFailure(path, reader.get());
    }
    MeshData mesh;
    if (Status s = ModelCollector(path).collect(model.get(), mesh); !s) {
        return s;
    }
    return adoptMesh(mesh, path, options, target);
}

// ---- Writing ------------------------------------------------------------------------------
// Written by hand rather than through lib3mf, whose writer rounds every coordinate to six
// decimals. The package is a ZIP archive of three parts, stored uncompressed: any ZIP reader
// takes that, and it costs nothing to write.

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

// The model part of `solid`; false as soon as it outgrows a plain ZIP archive.
bool encodeModel(const Solid& solid, ChunkedText& text) {
    constexpr size_t kVertexChars = 3 * kCoordinateChars + 32;
    constexpr size_t kTriangleChars = 3 * 10 + 40;
    text.append(kModelStart);
    for (const Vector4& v : solid.vertices) {
        char* p = put(text.room(kVertexChars), "<vertex x=\"");
        p = put(putCoordinate(p, v.x), "\" y=\"");
        p = put(putCoordinate(p, v.y), "\" z=\"");
        text.commit(put(putCoordinate(p, v.z), "\"/>\n"));
        if (text.size() > kLargestZipOffset) {
            return false;
        }
    }
    text.append(kModelMiddle);
    for (const Triangle& t : solid.triangles) {
        char* p = put(text.room(kTriangleChars), "<triangle v1=\"");
        p = put(putIndex(p, t.i0), "\" v2=\"");
        p = put(putIndex(p, t.i1), "\" v3=\"");
        text.commit(put(putIndex(p, t.i2), "\"/>\n"));
        if (text.size() > kLargestZipOffset) {
            return false;
        }
    }
    text.append(kModelEnd);
    text.finish();
    return true;
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

Status readThreeMf(const std::string& path, Solid& target, const ReadOptions& options) {
    std::string bytes;
    if (Status s = readFileBytes(path, bytes); !s) {
        return s;
    }
    try {
        return readBuffer(reinterpret_cast<BYTE*>(bytes.data()), bytes.size(), path, target,
                          options);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

Status readThreeMfBytes(std::string_view bytes, const std::string& path, Solid& target,
                        const ReadOptions& options) {
    try {
        std::vector<BYTE> copy(bytes.begin(), bytes.end());
        return readBuffer(copy.data(), copy.size(), path, target, options);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

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
    bool fits = false;
    try {
        fits = encodeModel(solid, model);
    } catch (const std::bad_alloc&) {
        return Status::failure(kSaveErrorMessage, path + ": " + kOutOfMemoryMessage);
    }
    ZipEntry entries[] = {{kContentTypesName, crc32(0, kContentTypes), kContentTypes.size()},
                          {kRelationshipsName, crc32(0, kRelationships), kRelationships.size()},
                          {kModelName, model.crc(), model.size()}};
    uint64_t directoryOffset = 0;
    for (ZipEntry& e : entries) {
        e.offset = directoryOffset;
        directoryOffset += localHeader(e).size() + e.size;
    }
    if (!fits || directoryOffset > kLargestZipOffset) {
        return Status::failure(kSaveErrorMessage,
                               path +
                                   ": mreza je prevelika za 3MF datoteku (vise od 4 GiB); "
                                   "spremite je kao STL ili PLY");
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
                const std::string_view data =
                    e.name == kContentTypesName ? kContentTypes : kRelationships;
                sink.append(data.data(), data.size());
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

#if defined(__SANITIZE_ADDRESS__)
#define KORVAN_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVAN_LEAK_CHECKED 1
#endif
#endif
#ifdef KORVAN_LEAK_CHECKED
// lib3mf 1.8 leaves a few hundred bytes of libzip's state behind on every archive it opens
// (LeakSanitizer sees only libzip's frames); every program that reads or writes 3MF files would
// otherwise fail its leak check. Handles not released here would still be reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libzip.so\n";
}
#endif
