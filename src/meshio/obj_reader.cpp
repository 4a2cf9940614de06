#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
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
// starting with v or f (after any indentation) that are long enough to hold one ("v 0 0 0" and
// "f 1 2 3" take seven characters; faces of more corners are rare). Only a hint: where even that
// much memory cannot be had, the arrays grow as the lines are read, so that a file of short bad
// lines is refused for its first bad line rather than for the memory it seemed to need.
void reserveFor(std::string_view text, std::vector<Vector4>& vertices,
                std::vector<Triangle>& triangles) {
    constexpr size_t kShortestLine = 7;
    size_t v = 0;
    size_t f = 0;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isBlank(text[at])) {
            ++at;
        }
        const size_t nl = std::min(text.find_first_of("\r\n", at), text.size());
        if (nl - at >= kShortestLine) {
            const char c = text[at];
            v += (c == 'v' || c == 'V');
            f += (c == 'f' || c == 'F');
        }
        at = nl + 1;
    }
    try {
        vertices.reserve(v);
        triangles.reserve(f);
    } catch (const std::bad_alloc&) {
        vertices.shrink_to_fit();
        triangles.shrink_to_fit();
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

const char* skipDigits(const char* p, const char* end) {
    while (p < end && isDigit(*p)) {
        ++p;
    }
    return p;
}

// The end of the integer [+-]?digits at p, or p itself when none starts there.
const char* scanInteger(const char* p, const char* end) {
    const char* digits = p < end && (*p == '+' || *p == '-') ? p + 1 : p;
    const char* after = skipDigits(digits, end);
    return after == digits ? p : after;
}

// The end of the number [+-]?digits[.digits][(e|E)[+-]digits] at p, or p itself when none
// starts there. A point or an exponent mark without digits after it is no part of the number.
const char* scanDecimal(const char* p, const char* end) {
    const char* q = scanInteger(p, end);
    if (q == p) {
        return p;
    }
    if (q < end && *q == '.') {
        const char* fraction = skipDigits(q + 1, end);
        q = fraction == q + 1 ? q : fraction;
    }
    if (q < end && (*q == 'e' || *q == 'E')) {
        const char* exponent = scanInteger(q + 1, end);
        q = exponent == q + 1 ? q : exponent;
    }
    return q;
}

// A piece of the file for a message: printable ASCII as it is, anything else as '?', and long
// pieces cut short.
std::string quoted(const char* from, const char* to) {
    constexpr ptrdiff_t kLongest = 40;
    std::string text = "\"";
    for (const char* c = from; c < to && c - from < kLongest; ++c) {
        text += *c >= ' ' && *c <= '~' ? *c : '?';
    }
    return text + (to - from > kLongest ? "...\"" : "\"");
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
    // Where the last number read (or refused) starts, and the text up to the next blank.
    const char* tokenStart() const { return m_token; }
    const char* tokenEnd() const {
        const char* q = m_token;
        while (q < m_end && !isBlank(*q)) {
            ++q;
        }
        return q;
    }

    // A float in the C locale's notation. Values that overflow a float, and nan or inf, are
    // refused; values too small for a float become 0 or a subnormal. A number that something
    // other than a blank follows ("1.2.3", "1-2", "0x1") is Glued.
    enum class Number { Ok, Unreadable, NotFinite, Glued };
    Number readFloat(float& out) {
        skipBlanks();
        m_token = m_p;
        const char* const numberEnd = scanDecimal(m_p, m_end);
        if (numberEnd == m_p) {
            // Not a number; from_chars still knows nan and inf, refused for what they are.
            float value = 0.0f;
            const auto [next, ec] = std::from_chars(m_p, m_end, value);
            return ec == std::errc() && !std::isfinite(value) ? Number::NotFinite
                                                              : Number::Unreadable;
        }
        if (numberEnd < m_end && !isBlank(*numberEnd)) {
            return Number::Glued;
        }
        const char* const from = *m_p == '+' ? m_p + 1 : m_p;
        float value = 0.0f;
        auto [next, ec] = std::from_chars(from, numberEnd, value);
        if (ec == std::errc::result_out_of_range) {
            double wide = 0.0;
            auto [wnext, wec] = std::from_chars(from, numberEnd, wide);
            if (wec == std::errc::result_out_of_range && underflows(from, wnext)) {
                // Too small even for a double (1e-400): zero, as smaller floats become.
                wide = *from == '-' ? -0.0 : 0.0;
            } else if (wec != std::errc() || std::fabs(wide) > std::numeric_limits<float>::max()) {
                return Number::NotFinite;
            }
            value = static_cast<float>(wide);
        } else if (ec != std::errc()) {
            return Number::Unreadable;
        }
        if (!std::isfinite(value)) {
            return Number::NotFinite;
        }
        m_p = numberEnd;
        out = value;
        return Number::Ok;
    }

    // A corner "a", "a/b", "a/b/c", "a//c" or "a/": gives a, saturated to the int64 range, and
    // its text as written. Missing when no integer starts here; Glued when the corner holds
    // anything but integers where they belong ("1.5", "1/2x").
    enum class Corner { Ok, Missing, Glued };
    Corner readCorner(int64_t& out, std::string_view& text) {
        skipBlanks();
        m_token = m_p;
        const char* const numberEnd = scanInteger(m_p, m_end);
        if (numberEnd == m_p) {
            return Corner::Missing;
        }
        const char* q = numberEnd;
        for (int slash = 0; slash < 2 && q < m_end && *q == '/'; ++slash) {
            q = scanInteger(q + 1, m_end);
        }
        if (q < m_end && !isBlank(*q)) {
            return Corner::Glued;
        }
        const char* const from = *m_p == '+' ? m_p + 1 : m_p;
        if (std::from_chars(from, numberEnd, out).ec != std::errc()) {
            out = *from == '-' ? std::numeric_limits<int64_t>::min()
                               : std::numeric_limits<int64_t>::max();
        }
        text = std::string_view(m_p, static_cast<size_t>(numberEnd - m_p));
        m_p = q;
        return Corner::Ok;
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

    const char* m_p;
    const char* m_end;
    const char* m_token = nullptr;
};

struct Parsed {
    std::vector<Vector4> vertices;
    std::vector<Triangle> triangles;
};

std::string lineError(const std::string& path, int64_t line, const std::string& what) {
    return "Greska u datoteci " + path + ", redak " + std::to_string(line) + ": " + what;
}

// A number that runs into other text, named with its line and (1-based, in bytes) column.
std::string gluedError(const std::string& path, int64_t line, const char* lineStart,
                       const LineParser& lp, const char* what) {
    return readError(path,
                     "redak " + std::to_string(line) + ", stupac " +
                         std::to_string(lp.tokenStart() - lineStart + 1),
                     quoted(lp.tokenStart(), lp.tokenEnd()) + " " + what);
}

Status parse(const std::string& path, std::string_view text, Parsed& out, const StopToken& stop) {
    reserveFor(text, out.vertices, out.triangles);
    const char* p = text.data();
    const char* const end = p + text.size();
    int64_t line = 1;
    const char* lineStart = p;
    // The largest 1-based vertex number named by a face, as written, and where, so that numbers
    // past the end of the file's vertices can be told once all vertices are known.
    int64_t largestIndex = 0;
    std::string_view largestIndexText;
    int64_t largestIndexLine = 0;
    std::vector<int32_t> corners;

    while (p < end) {
        // Blank lines and leading white space are skipped; only line numbers are counted. A
        // line ends at LF, CR LF or a lone CR (old Mac files).
        if (isSpace(*p)) {
            if (*p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n'))) {
                ++line;
                lineStart = p + 1;
            }
            ++p;
            continue;
        }
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r') {
            ++lineEnd;
        }
        if ((line & 0xFFFF) == 0) {
            stop.check();  // a few milliseconds of parsing between polls
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
                    if (r == LineParser::Number::Glued) {
                        return Status::failure(
                            gluedError(path, line, lineStart, lp, "nije ispravan broj"));
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
            std::string_view written;
            for (;;) {
                const auto r = lp.readCorner(number, written);
                if (r == LineParser::Corner::Missing) {
                    break;
                }
                if (r == LineParser::Corner::Glued) {
                    return Status::failure(
                        gluedError(path, line, lineStart, lp, "nije ispravan broj vrha"));
                }
                int64_t index = 0;  // 0-based
                if (number < 0) {
                    index = number < -static_cast<int64_t>(out.vertices.size())
                                ? -1
                                : static_cast<int64_t>(out.vertices.size()) + number;
                    if (index < 0) {
                        return Status::failure(lineError(path, line,
                                                         "relativni broj vrha " +
                                                             std::string(written) +
                                                             " seze ispred prvog vrha"));
                    }
                } else if (number == 0) {
                    return Status::failure(
                        lineError(path, line, "broj vrha 0 nije dozvoljen (vrhovi se broje od 1)"));
                } else {
                    if (number > largestIndex) {
                        largestIndex = number;
                        largestIndexText = written;
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
                                         "broj vrha " + std::string(largestIndexText) +
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

Status readObj(const std::string& path, Solid& target, const ReadOptions& options,
               const StopToken& stop) {
    std::string bytes;
    if (Status s = readFileBytes(path, bytes); !s) {
        return s;
    }
    return readObjText(bytes, path, target, options, stop);
}

Status readObjText(std::string_view text, const std::string& path, Solid& target,
                   const ReadOptions& options, const StopToken& stop) {
    try {
        if (looksBinary(text)) {
            return Status::failure("Datoteka " + path + " nije tekstualna OBJ datoteka");
        }
        // A UTF-8 byte-order mark is no part of the first line.
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        }
        Parsed parsed;
        if (Status s = parse(path, text, parsed, stop); !s) {
            return s;
        }
        MeshData mesh{std::move(parsed.vertices), std::move(parsed.triangles)};
        return adoptMesh(mesh, path, options, target);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

}  // namespace korvan
