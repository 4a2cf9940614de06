#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "meshio/mesh_data.h"
#include "meshio/obj.h"

namespace korvan {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool isSpace(char c) {
    return isBlank(c) || c == '\n';
}

// Upper bounds of the vertex and triangle counts, so that the arrays grow only once: lines
// starting with v or f (after any indentation); faces of more corners are rare.
void reserveFor(std::string_view text, std::vector<Vector4>& vertices,
                std::vector<Triangle>& triangles) {
    size_t v = 0;
    size_t f = 0;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isBlank(text[at])) {
            ++at;
        }
        if (at < text.size()) {
            const char c = text[at];
            v += (c == 'v' || c == 'V');
            f += (c == 'f' || c == 'F');
        }
        const size_t nl = text.find_first_of("\r\n", at);
        at = nl == std::string_view::npos ? text.size() : nl + 1;
    }
    vertices.reserve(v);
    triangles.reserve(f);
}

// Parses one line of the file; `p` starts after the line's first character.
class LineParser {
public:
    LineParser(const char* p, const char* end) : m_p(p), m_end(end) {}

    void skipBlanks() {
        while (m_p < m_end && isBlank(*m_p)) {
            ++m_p;
        }
    }
    bool atEnd() const { return m_p >= m_end; }
    char peek() const { return atEnd() ? '\0' : *m_p; }

    // A float in the C locale's notation. Values that overflow a float, and nan or inf, are
    // refused; values too small for a float become 0 or a subnormal.
    enum class Number { Ok, Unreadable, NotFinite };
    Number readFloat(float& out) {
        skipBlanks();
        skipPlus();
        float value = 0.0f;
        auto [next, ec] = std::from_chars(m_p, m_end, value);
        if (ec == std::errc::result_out_of_range) {
            double wide = 0.0;
            auto [wnext, wec] = std::from_chars(m_p, m_end, wide);
            if (wec == std::errc::result_out_of_range && underflows(m_p, wnext)) {
                // Too small even for a double (1e-400): zero, as smaller floats become.
                wide = *m_p == '-' ? -0.0 : 0.0;
            } else if (wec != std::errc() || std::fabs(wide) > std::numeric_limits<float>::max()) {
                return Number::NotFinite;
            }
            value = static_cast<float>(wide);
            next = wnext;
        } else if (ec != std::errc()) {
            return Number::Unreadable;
        }
        if (!std::isfinite(value)) {
            return Number::NotFinite;
        }
        m_p = next;
        out = value;
        return Number::Ok;
    }

    // A corner "a", "a/b", "a/b/c" or "a//c"; gives a. False when no integer starts here.
    bool readCorner(int64_t& out) {
        skipBlanks();
        skipPlus();
        auto [next, ec] = std::from_chars(m_p, m_end, out);
        if (ec == std::errc::result_out_of_range) {
            out = std::numeric_limits<int64_t>::max();
        } else if (ec != std::errc()) {
            return false;
        }
        m_p = next;
        while (m_p < m_end && !isBlank(*m_p)) {
            ++m_p;
        }
        return true;
    }

private:
    // Whether the number text [from, to) that did not fit has a negative exponent.
    static bool underflows(const char* from, const char* to) {
        for (const char* c = from; c + 1 < to; ++c) {
            if (*c == 'e' || *c == 'E') {
                return c[1] == '-';
            }
        }
        return false;
    }

    void skipPlus() {
        if (m_p + 1 < m_end && *m_p == '+' && *(m_p + 1) != '-') {
            ++m_p;
        }
    }

    const char* m_p;
    const char* m_end;
};

struct Parsed {
    std::vector<Vector4> vertices;
    std::vector<Triangle> triangles;
};

std::string lineError(const std::string& path, int64_t line, const std::string& what) {
    return "Greska u datoteci " + path + ", redak " + std::to_string(line) + ": " + what;
}

Status parse(const std::string& path, std::string_view text, Parsed& out) {
    reserveFor(text, out.vertices, out.triangles);
    const char* p = text.data();
    const char* const end = p + text.size();
    int64_t line = 1;
    // The largest 1-based vertex number named by a face, and where, so that numbers past
    // the end of the file's vertices can be told once all vertices are known.
    int64_t largestIndex = 0;
    int64_t largestIndexLine = 0;
    std::vector<int32_t> corners;

    while (p < end) {
        // Blank lines and leading white space are skipped; only line numbers are counted. A
        // line ends at LF, CR LF or a lone CR (old Mac files).
        if (isSpace(*p)) {
            line += *p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n'));
            ++p;
            continue;
        }
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r') {
            ++lineEnd;
        }
        const char kind = *p;
        LineParser lp(p + 1, lineEnd);

        if (kind == 'v' || kind == 'V') {
            const char second = lp.peek();
            const bool attribute = second == 't' || second == 'n' || second == 'p' ||
                                   second == 'T' || second == 'N' || second == 'P';
            if (!attribute) {
                float xyz[3];
                for (float& c : xyz) {
                    const auto r = lp.readFloat(c);
                    if (r == LineParser::Number::NotFinite) {
                        return Status::failure(
                            lineError(path, line, "koordinata vrha nije konacan broj"));
                    }
                    if (r != LineParser::Number::Ok) {
                        return Status::failure(
                            lineError(path, line, "koordinate vrha nisu ispravni brojevi"));
                    }
                }
                if (out.vertices.size() >= static_cast<size_t>(INT32_MAX)) {
                    return Status::failure(lineError(path, line, "previse vrhova"));
                }
                out.vertices.emplace_back(xyz[0], xyz[1], xyz[2]);
            }
        } else if (kind == 'f' || kind == 'F') {
            corners.clear();
            int64_t number = 0;
            while (lp.readCorner(number)) {
                int64_t index = 0;  // 0-based
                if (number < 0) {
                    index = static_cast<int64_t>(out.vertices.size()) + number;
                    if (index < 0) {
                        return Status::failure(lineError(path, line,
                                                         "relativni broj vrha " +
                                                             std::to_string(number) +
                                                             " seze ispred prvog vrha"));
                    }
                } else if (number == 0) {
                    return Status::failure(
                        lineError(path, line, "broj vrha 0 nije dozvoljen (vrhovi se broje od 1)"));
                } else {
                    if (number > largestIndex) {
                        largestIndex = number;
                        largestIndexLine = line;
                    }
                    index = number > INT32_MAX ? INT32_MAX : number - 1;
                }
                corners.push_back(static_cast<int32_t>(index));
            }
            if (corners.size() < 3) {
                return Status::failure(
                    lineError(path, line, "ploha nema tri ispravna broja vrhova"));
            }
            if (out.triangles.size() + corners.size() - 2 > static_cast<size_t>(INT32_MAX)) {
                return Status::failure(lineError(path, line, "previse trokuta"));
            }
            for (size_t k = 2; k < corners.size(); ++k) {
                Triangle t;
                t.setIndices(corners[0], corners[k - 1], corners[k]);
                out.triangles.push_back(t);
            }
        }
        p = lineEnd;
    }

    if (largestIndex > static_cast<int64_t>(out.vertices.size())) {
        return Status::failure(lineError(path, largestIndexLine,
                                         "broj vrha " + std::to_string(largestIndex) +
                                             " je izvan raspona 1.." +
                                             std::to_string(out.vertices.size())));
    }
    if (out.triangles.empty()) {
        return Status::failure("Datoteka " + path + " ne sadrzi nijedan trokut");
    }
    return {};
}

// A text OBJ file holds no NUL byte; binary files (STL, images) almost always do.
bool looksBinary(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

}  // namespace

Status readObj(const std::string& path, Solid& target, const ReadOptions& options) {
    std::string bytes;
    if (Status s = readFileBytes(path, bytes); !s) {
        return s;
    }
    return readObjText(bytes, path, target, options);
}

Status readObjText(std::string_view text, const std::string& path, Solid& target,
                   const ReadOptions& options) {
    try {
        if (looksBinary(text)) {
            return Status::failure("Datoteka " + path + " nije tekstualna OBJ datoteka");
        }
        // A UTF-8 byte-order mark is no part of the first line.
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        }
        Parsed parsed;
        if (Status s = parse(path, text, parsed); !s) {
            return s;
        }
        MeshData mesh{std::move(parsed.vertices), std::move(parsed.triangles)};
        return adoptMesh(mesh, path, options, target);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

}  // namespace korvan
