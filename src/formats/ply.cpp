#include "formats/ply.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace korvan {
namespace {

enum class Encoding { Ascii, BinaryLittle, BinaryBig };
enum class Scalar { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };

struct ScalarName {
    std::string_view name;
    Scalar type;
};
constexpr ScalarName kScalarNames[] = {
    {"char", Scalar::Int8},       {"uchar", Scalar::UInt8},    {"short", Scalar::Int16},
    {"ushort", Scalar::UInt16},   {"int", Scalar::Int32},      {"uint", Scalar::UInt32},
    {"float", Scalar::Float32},   {"double", Scalar::Float64}, {"int8", Scalar::Int8},
    {"uint8", Scalar::UInt8},     {"int16", Scalar::Int16},    {"uint16", Scalar::UInt16},
    {"int32", Scalar::Int32},     {"uint32", Scalar::UInt32},  {"float32", Scalar::Float32},
    {"float64", Scalar::Float64},
};

// Bytes of each Scalar, in the enum's order.
constexpr size_t kScalarSizes[] = {1, 1, 2, 2, 4, 4, 4, 8};

size_t sizeOf(Scalar t) {
    return kScalarSizes[static_cast<int>(t)];
}

bool isInteger(Scalar t) {
    return t != Scalar::Float32 && t != Scalar::Float64;
}

struct Property {
    std::string name;
    Scalar type = Scalar::Float32;  // of the items, for a list
    bool isList = false;
    Scalar countType = Scalar::UInt8;
};

struct Element {
    std::string name;
    uint64_t count = 0;
    std::vector<Property> properties;
    // Which properties the mesh takes: x, y, z of the vertices, the corner list of the faces.
    int xyz[3] = {-1, -1, -1};
    int corners = -1;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool isSpace(char c) {
    return isBlank(c) || c == '\n';
}

// A word of the file for a message: printable ASCII only, and not too long.
std::string quoted(std::string_view word) {
    std::string s = "'";
    for (char c : word.substr(0, 32)) {
        s += (c >= ' ' && c <= '~') ? c : '?';
    }
    return s + (word.size() > 32 ? "...'" : "'");
}

// Splits a header line into its words.
std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && isBlank(line[at])) {
            ++at;
        }
        size_t end = at;
        while (end < line.size() && !isBlank(line[end])) {
            ++end;
        }
        if (end > at) {
            out.push_back(line.substr(at, end - at));
        }
        at = end;
    }
    return out;
}

bool scalarOf(std::string_view name, Scalar& out) {
    for (const ScalarName& s : kScalarNames) {
        if (s.name == name) {
            out = s.type;
            return true;
        }
    }
    return false;
}

// Reads the number of type `t` at `p` as stored in the file's byte order.
template <class T>
T load(const char* p, bool swap) {
    using Bits = std::conditional_t<
        sizeof(T) == 1, uint8_t,
        std::conditional_t<sizeof(T) == 2, uint16_t,
                           std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
    Bits bits = 0;
    std::memcpy(&bits, p, sizeof bits);
    if (swap) {
        Bits swapped = 0;
        for (size_t k = 0; k < sizeof bits; ++k) {
            swapped = static_cast<Bits>((swapped << 8) | ((bits >> (8 * k)) & 0xff));
        }
        bits = swapped;
    }
    return std::bit_cast<T>(bits);
}

double loadNumber(const char* p, Scalar t, bool swap) {
    switch (t) {
        case Scalar::Int8:
            return load<int8_t>(p, swap);
        case Scalar::UInt8:
            return load<uint8_t>(p, swap);
        case Scalar::Int16:
            return load<int16_t>(p, swap);
        case Scalar::UInt16:
            return load<uint16_t>(p, swap);
        case Scalar::Int32:
            return load<int32_t>(p, swap);
        case Scalar::UInt32:
            return load<uint32_t>(p, swap);
        case Scalar::Float32:
            return load<float>(p, swap);
        case Scalar::Float64:
            return load<double>(p, swap);
    }
    return 0.0;
}

// Every integer type of the format fits a double exactly.
int64_t loadInteger(const char* p, Scalar t, bool swap) {
    return static_cast<int64_t>(loadNumber(p, t, swap));
}

class PlyParser {
public:
    PlyParser(std::string_view bytes, const std::string& path) : m_bytes(bytes), m_path(path) {}

    Status parse(MeshData& out) {
        if (Status s = parseHeader(); !s) {
            return s;
        }
        if (Status s = checkCounts(); !s) {
            return s;
        }
        out.vertices.reserve(static_cast<size_t>(m_vertexCount));
        out.triangles.reserve(static_cast<size_t>(m_triangleRoom));
        m_at = m_bodyStart;
        for (const Element& e : m_elements) {
            if (e.properties.empty()) {
                continue;  // its items take no room, however many the header says
            }
            Status s = m_encoding == Encoding::Ascii ? readAscii(e, out) : readBinary(e, out);
            if (!s) {
                return s;
            }
        }
        return {};
    }

private:
    Status headerError(int64_t line, const std::string& what) const {
        return Status::failure(readError(m_path, "redak " + std::to_string(line), what));
    }

    Status parseHeader() {
        int64_t line = 0;
        size_t at = 0;
        bool formatSeen = false;
        while (true) {
            const size_t nl = m_bytes.find('\n', at);
            if (nl == std::string_view::npos) {
                if (line == 0) {
                    return notPly();
                }
                return headerError(line + 1, "zaglavlje ne zavrsava s end_header");
            }
            std::string_view text = m_bytes.substr(at, nl - at);
            if (!text.empty() && text.back() == '\r') {
                text.remove_suffix(1);
            }
            ++line;
            at = nl + 1;
            if (line == 1) {
                if (text != "ply") {
                    return notPly();
                }
                continue;
            }
            const std::vector<std::string_view> w = words(text);
            if (w.empty() || w[0] == "comment" || w[0] == "obj_info") {
                continue;
            }
            if (w[0] == "end_header") {
                break;
            }
            Status s;
            if (w[0] == "format") {
                s = parseFormat(w, line);
                formatSeen = true;
            } else if (w[0] == "element") {
                s = parseElement(w, line);
            } else if (w[0] == "property") {
                s = parseProperty(w, line);
            } else {
                s = headerError(line, "nepoznat redak zaglavlja " + quoted(w[0]));
            }
            if (!s) {
                return s;
            }
        }
        if (!formatSeen) {
            return headerError(line, "zaglavlje ne navodi format");
        }
        m_bodyStart = at;
        return findMeshProperties();
    }

    // A header whose lines are each fine but that does not describe a mesh.
    Status headerError(const std::string& what) const {
        return Status::failure(readError(m_path, "zaglavlje", what));
    }

    Status notPly() const { return Status::failure("Datoteka " + m_path + " nije PLY datoteka"); }

    Status parseFormat(const std::vector<std::string_view>& w, int64_t line) {
        if (w.size() != 3 || w[2] != "1.0") {
            return headerError(line, "nepoznat format");
        }
        if (w[1] == "ascii") {
            m_encoding = Encoding::Ascii;
        } else if (w[1] == "binary_little_endian") {
            m_encoding = Encoding::BinaryLittle;
        } else if (w[1] == "binary_big_endian") {
            m_encoding = Encoding::BinaryBig;
        } else {
            return headerError(line, "nepoznat format " + quoted(w[1]));
        }
        m_swap = (m_encoding == Encoding::BinaryBig) != (std::endian::native == std::endian::big);
        return {};
    }

    Status parseElement(const std::vector<std::string_view>& w, int64_t line) {
        Element e;
        if (w.size() != 3) {
            return headerError(line, "element treba ime i broj stavki");
        }
        const auto [end, ec] = std::from_chars(w[2].data(), w[2].data() + w[2].size(), e.count);
        if (ec != std::errc() || end != w[2].data() + w[2].size()) {
            return headerError(line, "neispravan broj stavki elementa");
        }
        e.name = std::string(w[1]);
        for (const Element& other : m_elements) {
            if ((e.name == "vertex" || e.name == "face") && other.name == e.name) {
                return headerError(line, "element " + e.name + " je naveden dvaput");
            }
        }
        m_elements.push_back(std::move(e));
        return {};
    }

    Status parseProperty(const std::vector<std::string_view>& w, int64_t line) {
        if (m_elements.empty()) {
            return headerError(line, "svojstvo prije prvog elementa");
        }
        Property p;
        const bool list = w.size() >= 2 && w[1] == "list";
        if (w.size() != (list ? 5u : 3u)) {
            return headerError(line, "neispravan redak svojstva");
        }
        const std::string_view typeName = list ? w[3] : w[1];
        if (list && !scalarOf(w[2], p.countType)) {
            return headerError(line, "nepoznat tip " + quoted(w[2]));
        }
        if (!scalarOf(typeName, p.type)) {
            return headerError(line, "nepoznat tip " + quoted(typeName));
        }
        if (list && !isInteger(p.countType)) {
            return headerError(line, "broj clanova liste mora biti cijeli broj");
        }
        p.isList = list;
        p.name = std::string(w.back());
        m_elements.back().properties.push_back(std::move(p));
        return {};
    }

    // Finds x, y, z of the vertices and the corner list of the faces.
    Status findMeshProperties() {
        bool vertices = false;
        for (Element& e : m_elements) {
            for (size_t k = 0; k < e.properties.size(); ++k) {
                const Property& p = e.properties[k];
                if (e.name == "vertex" && !p.isList) {
                    for (int axis = 0; axis < 3; ++axis) {
                        if (p.name.size() == 1 && p.name[0] == 'x' + axis && e.xyz[axis] < 0) {
                            e.xyz[axis] = static_cast<int>(k);
                        }
                    }
                } else if (e.name == "face" && p.isList && e.corners < 0 &&
                           (p.name == "vertex_indices" || p.name == "vertex_index")) {
                    if (!isInteger(p.type)) {
                        return headerError("lista vertex_indices mora biti cjelobrojna");
                    }
                    e.corners = static_cast<int>(k);
                }
            }
            if (e.name == "vertex") {
                if (e.xyz[0] < 0 || e.xyz[1] < 0 || e.xyz[2] < 0) {
                    return headerError("element vertex nema svojstva x, y i z");
                }
                vertices = true;
                m_vertexCount = e.count;
            } else if (e.name == "face") {
                if (e.corners < 0) {
                    return headerError("element face nema listu vertex_indices");
                }
                m_faceCount = e.count;
            }
        }
        if (!vertices && m_faceCount > 0) {
            return headerError("nema elementa vertex sa svojstvima x, y i z");
        }
        return {};
    }

    // The fewest bytes an item of `e` takes: its fixed-size numbers (binary) or one character
    // and a separator per number (text), with `corners` corners in the face list.
    uint64_t smallestItem(const Element& e, uint64_t corners) const {
        uint64_t bytes = 0;
        for (size_t k = 0; k < e.properties.size(); ++k) {
            const Property& p = e.properties[k];
            const uint64_t members = static_cast<int>(k) == e.corners ? corners : 0;
            if (m_encoding == Encoding::Ascii) {
                bytes += 2 * (1 + members);
            } else {
                bytes += p.isList ? sizeOf(p.countType) + members * sizeOf(p.type) : sizeOf(p.type);
            }
        }
        return bytes;
    }

    // Refuses counts that promise more than the file holds, before anything is reserved.
    Status checkCounts() {
        // Text needs no separator after its last number.
        const uint64_t available =
            m_bytes.size() - m_bodyStart + (m_encoding == Encoding::Ascii ? 1 : 0);
        uint64_t needed = 0;
        for (const Element& e : m_elements) {
            const uint64_t perItem = smallestItem(e, 0);
            if (perItem > 0 && e.count > (available - needed) / perItem) {
                return Status::failure(readError(m_path, "element " + e.name,
                                                 "zaglavlje najavljuje " + std::to_string(e.count) +
                                                     " stavki, a datoteka je prekratka za njih"));
            }
            needed += e.count * perItem;
            if (e.corners >= 0) {
                // Room for the faces that can hold three corners: no more can become triangles.
                m_triangleRoom = std::min(e.count, available / smallestItem(e, 3));
            }
        }
        if (m_vertexCount > static_cast<uint64_t>(INT32_MAX) ||
            m_faceCount > static_cast<uint64_t>(INT32_MAX)) {
            return Status::failure("Datoteka " + m_path + " ima previse vrhova ili trokuta");
        }
        return {};
    }

    Status itemError(const Element& e, uint64_t item, const std::string& what) const {
        std::string place = "element " + e.name + ", stavka " + std::to_string(item + 1);
        if (m_encoding == Encoding::Ascii) {
            int64_t line = 1;
            for (size_t k = 0; k < m_at && k < m_bytes.size(); ++k) {
                line += m_bytes[k] == '\n';
            }
            place += " (redak " + std::to_string(line) + ")";
        } else {
            place += " (bajt " + std::to_string(m_itemStart) + ")";
        }
        return Status::failure(readError(m_path, place, what));
    }

    Status shortFile(const Element& e, uint64_t item) const {
        return itemError(e, item, "datoteka zavrsava prije kraja podataka");
    }

    // Turns a coordinate into float: values beyond float's range, nan and inf are refused.
    static bool toCoordinate(double value, float& out) {
        if (!(std::fabs(value) <= static_cast<double>(std::numeric_limits<float>::max()))) {
            return false;
        }
        out = static_cast<float>(value);
        return true;
    }

    // The fan (c0, c1, c2), (c0, c2, c3), ... of a face, its corners checked.
    Status addFace(const Element& e, uint64_t item, const std::vector<int64_t>& corners,
                   MeshData& out) const {
        if (corners.size() < 3) {
            return itemError(e, item, "ploha ima manje od tri vrha");
        }
        for (int64_t c : corners) {
            if (c < 0 || static_cast<uint64_t>(c) >= m_vertexCount) {
                return itemError(e, item,
                                 "broj vrha " + std::to_string(c) + " je izvan raspona 0.." +
                                     std::to_string(static_cast<int64_t>(m_vertexCount) - 1));
            }
        }
        if (out.triangles.size() + corners.size() - 2 > static_cast<size_t>(INT32_MAX)) {
            return itemError(e, item, "previse trokuta");
        }
        for (size_t k = 2; k < corners.size(); ++k) {
            Triangle t;
            t.setIndices(static_cast<int32_t>(corners[0]), static_cast<int32_t>(corners[k - 1]),
                         static_cast<int32_t>(corners[k]));
            out.triangles.push_back(t);
        }
        return {};
    }

    Status readBinary(const Element& e, MeshData& out) {
        const bool isVertex = e.xyz[0] >= 0;
        std::vector<int64_t> corners;
        for (uint64_t item = 0; item < e.count; ++item) {
            float xyz[3] = {0, 0, 0};
            m_itemStart = m_at;
            for (size_t k = 0; k < e.properties.size(); ++k) {
                const Property& p = e.properties[k];
                const size_t size = sizeOf(p.isList ? p.countType : p.type);
                if (m_bytes.size() - m_at < size) {
                    return shortFile(e, item);
                }
                const char* at = m_bytes.data() + m_at;
                if (!p.isList) {
                    for (int axis = 0; axis < 3 && isVertex; ++axis) {
                        if (e.xyz[axis] == static_cast<int>(k) &&
                            !toCoordinate(loadNumber(at, p.type, m_swap), xyz[axis])) {
                            return itemError(e, item, "koordinata vrha nije konacan broj");
                        }
                    }
                    m_at += size;
                    continue;
                }
                const int64_t count = loadInteger(at, p.countType, m_swap);
                m_at += size;
                const size_t itemSize = sizeOf(p.type);
                if (count < 0) {
                    return itemError(e, item, "negativan broj clanova liste");
                }
                if (static_cast<uint64_t>(count) > (m_bytes.size() - m_at) / itemSize) {
                    return shortFile(e, item);
                }
                if (static_cast<int>(k) == e.corners) {
                    corners.clear();
                    for (int64_t c = 0; c < count; ++c) {
                        corners.push_back(loadInteger(m_bytes.data() + m_at, p.type, m_swap));
                        m_at += itemSize;
                    }
                    if (Status s = addFace(e, item, corners, out); !s) {
                        return s;
                    }
                } else {
                    m_at += static_cast<size_t>(count) * itemSize;
                }
            }
            if (isVertex) {
                out.vertices.emplace_back(xyz[0], xyz[1], xyz[2]);
            }
        }
        return {};
    }

    // The next word of the text body; empty at the end of the file.
    std::string_view nextWord() {
        while (m_at < m_bytes.size() && isSpace(m_bytes[m_at])) {
            ++m_at;
        }
        const size_t start = m_at;
        while (m_at < m_bytes.size() && !isSpace(m_bytes[m_at])) {
            ++m_at;
        }
        return m_bytes.substr(start, m_at - start);
    }

    // A coordinate read straight into float, as the OBJ reader reads it, so that text round
    // trips are exact. 0 = fine, 1 = unreadable, 2 = not finite.
    static int parseCoordinate(std::string_view word, float& out) {
        if (word.size() > 1 && word[0] == '+' && word[1] != '-') {
            word.remove_prefix(1);
        }
        const char* end = word.data() + word.size();
        float value = 0.0f;
        auto [next, ec] = std::from_chars(word.data(), end, value);
        if (ec == std::errc::result_out_of_range) {
            double wide = 0.0;
            const auto wideResult = std::from_chars(word.data(), end, wide);
            next = wideResult.ptr;
            ec = wideResult.ec;
            const size_t e = word.find_first_of("eE");
            if (ec == std::errc::result_out_of_range && e != std::string_view::npos &&
                e + 1 < word.size() && word[e + 1] == '-') {
                wide = word[0] == '-' ? -0.0 : 0.0;  // too small even for a double
            } else if (ec != std::errc() || !toCoordinate(wide, value)) {
                return 2;
            }
            value = static_cast<float>(wide);
        } else if (ec != std::errc()) {
            return 1;
        }
        if (next != end) {
            return 1;
        }
        if (!std::isfinite(value)) {
            return 2;
        }
        out = value;
        return 0;
    }

    static bool parseInteger(std::string_view word, int64_t& out) {
        if (word.size() > 1 && word[0] == '+' && word[1] != '-') {
            word.remove_prefix(1);
        }
        const auto [next, ec] = std::from_chars(word.data(), word.data() + word.size(), out);
        return ec == std::errc() && next == word.data() + word.size();
    }

    Status readAscii(const Element& e, MeshData& out) {
        const bool isVertex = e.xyz[0] >= 0;
        std::vector<int64_t> corners;
        for (uint64_t item = 0; item < e.count; ++item) {
            float xyz[3] = {0, 0, 0};
            for (size_t k = 0; k < e.properties.size(); ++k) {
                const Property& p = e.properties[k];
                const std::string_view word = nextWord();
                if (word.empty()) {
                    return shortFile(e, item);
                }
                if (!p.isList) {
                    for (int axis = 0; axis < 3 && isVertex; ++axis) {
                        if (e.xyz[axis] != static_cast<int>(k)) {
                            continue;
                        }
                        const int r = parseCoordinate(word, xyz[axis]);
                        if (r != 0) {
                            return itemError(e, item,
                                             r == 1 ? "koordinata vrha nije ispravan broj"
                                                    : "koordinata vrha nije konacan broj");
                        }
                    }
                    continue;
                }
                int64_t count = 0;
                if (!parseInteger(word, count) || count < 0) {
                    return itemError(e, item, "neispravan broj clanova liste");
                }
                const bool isCorners = static_cast<int>(k) == e.corners;
                corners.clear();
                for (int64_t c = 0; c < count; ++c) {
                    const std::string_view member = nextWord();
                    if (member.empty()) {
                        return shortFile(e, item);
                    }
                    int64_t index = 0;
                    if (isCorners && !parseInteger(member, index)) {
                        return itemError(e, item, "broj vrha nije ispravan cijeli broj");
                    }
                    if (isCorners) {
                        corners.push_back(index);
                    }
                }
                if (isCorners) {
                    if (Status s = addFace(e, item, corners, out); !s) {
                        return s;
                    }
                }
            }
            if (isVertex) {
                out.vertices.emplace_back(xyz[0], xyz[1], xyz[2]);
            }
        }
        return {};
    }

    std::string_view m_bytes;
    const std::string& m_path;
    Encoding m_encoding = Encoding::Ascii;
    bool m_swap = false;
    std::vector<Element> m_elements;
    size_t m_bodyStart = 0;
    uint64_t m_vertexCount = 0;
    uint64_t m_faceCount = 0;
    uint64_t m_triangleRoom = 0;
    size_t m_at = 0;
    size_t m_itemStart = 0;  // where the item being read starts (binary)
};

// Binary numbers in little-endian order whatever the machine's.
template <class T>
char* store(char* p, T value) {
    auto bits = std::bit_cast<std::conditional_t<sizeof(T) == 4, uint32_t, uint8_t>>(value);
    for (size_t k = 0; k < sizeof bits; ++k) {
        *p++ = static_cast<char>((bits >> (8 * k)) & 0xff);
    }
    return p;
}

void writeHeader(const Solid& solid, bool ascii, FileSink& sink) {
    const std::string header =
        std::string("ply\nformat ") + (ascii ? "ascii" : "binary_little_endian") +
        " 1.0\ncomment Korvan\nelement vertex " + std::to_string(solid.vertices.size()) +
        "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
        std::to_string(solid.triangles.size()) +
        "\nproperty list uchar int vertex_indices\nend_header\n";
    sink.append(header.data(), header.size());
}

bool writeBody(const Solid& solid, bool ascii, FileSink& sink) {
    writeHeader(solid, ascii, sink);
    if (!ascii) {
        for (const Vector4& v : solid.vertices) {
            char* p = sink.reserve(12);
            p = store(store(store(p, v.x), v.y), v.z);
            sink.commit(p);
        }
        for (const Triangle& t : solid.triangles) {
            char* p = sink.reserve(13);
            p = store(p, uint8_t{3});
            p = store(store(store(p, t.i0), t.i1), t.i2);
            sink.commit(p);
        }
        return true;
    }
    constexpr size_t kVertexLine = 3 * (kCoordinateChars + 1);
    for (const Vector4& v : solid.vertices) {
        char* p = sink.reserve(kVertexLine);
        for (float c : {v.x, v.y, v.z}) {
            p = putCoordinate(p, c);
            *p++ = ' ';
        }
        p[-1] = '\n';
        sink.commit(p);
    }
    constexpr size_t kFaceLine = 2 + 3 * 12;
    for (const Triangle& t : solid.triangles) {
        char* p = sink.reserve(kFaceLine);
        char* const end = p + kFaceLine;
        *p++ = '3';
        for (int32_t i : {t.i0, t.i1, t.i2}) {
            *p++ = ' ';
            p = std::to_chars(p, end, i).ptr;
        }
        *p++ = '\n';
        sink.commit(p);
    }
    return true;
}

}  // namespace

Status readPly(const std::string& path, Solid& target, const ReadOptions& options) {
    std::string bytes;
    if (Status s = readFileBytes(path, bytes); !s) {
        return s;
    }
    return readPlyBytes(bytes, path, target, options);
}

Status readPlyBytes(std::string_view bytes, const std::string& path, Solid& target,
                    const ReadOptions& options) {
    try {
        MeshData mesh;
        if (Status s = PlyParser(bytes, path).parse(mesh); !s) {
            return s;
        }
        return adoptMesh(mesh, path, options, target);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

Status writePly(const Solid& solid, const std::string& path, const WriteOptions& options) {
    if (Status s = checkWritable(solid, path); !s) {
        return s;
    }
    return writeAtomically(path,
                           [&](FileSink& sink) { return writeBody(solid, options.ascii, sink); });
}

}  // namespace korvan
