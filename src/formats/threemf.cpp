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
// (LeakSanitizer sees only libzip's frames); every program that reads 3MF files would
// otherwise fail its leak check. Handles not released here would still be reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libzip.so\n";
}
#endif
