#include "formats/off.h"
#include "formats/words.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace korvan {
namespace {

using formats::Number;
using formats::parseFloat;
using formats::sameWord;
using formats::shown;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The lines that hold something besides white space and "#" comments, with their numbers.
// Lines end at LF, CR LF or CR.
class Lines {
public:
    explicit Lines(std::string_view text) : m_p(text.data()), m_end(text.data() + text.size()) {}

    // The next such line without its comment; false at the end of the text.
    bool next(std::string_view& content) {
        while (m_p < m_end) {
            const char* start = m_p;
            while (m_p < m_end && *m_p != '\n' && *m_p != '\r') {
                ++m_p;
            }
            const char* stop = std::find(start, m_p, '#');
            m_line = m_nextLine;
            if (m_p < m_end) {
                m_p += *m_p == '\r' && m_p + 1 < m_end && m_p[1] == '\n' ? 2 : 1;
                ++m_nextLine;
            }
            if (std::any_of(start, stop, [](char c) { return !isBlank(c); })) {
                content = std::string_view(start, static_cast<size_t>(stop - start));
                return true;
            }
        }
        return false;
    }

    // The number of the line next() gave last.
    int64_t line() const { return m_line; }

private:
    const char* m_p;
    const char* m_end;
    int64_t m_line = 1;
    int64_t m_nextLine = 1;
};

// Blank-separated words of one line.
class Words {
public:
    explicit Words(std::string_view line) : m_rest(line) {}

    // The next word; empty at the end of the line.
    std::string_view next() {
        size_t at = 0;
        while (at < m_rest.size() && isBlank(m_rest[at])) {
            ++at;
        }
        size_t stop = at;
        while (stop < m_rest.size() && !isBlank(m_rest[stop])) {
            ++stop;
        }
        const std::string_view word = m_rest.substr(at, stop - at);
        m_rest.remove_prefix(stop);
        return word;
    }

private:
    std::string_view m_rest;
};

std::string_view withoutPlus(std::string_view word) {
    if (word.size() > 1 && word[0] == '+' && word[1] != '-') {
        word.remove_prefix(1);
    }
    return word;
}

// A whole word as a non-negative or negative integer; values beyond int64 saturate.
bool parseInteger(std::string_view word, int64_t& out) {
    word = withoutPlus(word);
    const char* end = word.data() + word.size();
    auto [next, ec] = std::from_chars(word.data(), end, out);
    if (ec == std::errc::result_out_of_range) {
        out = word[0] == '-' ? std::numeric_limits<int64_t>::min()
                             : std::numeric_limits<int64_t>::max();
    } else if (ec != std::errc()) {
        return false;
    }
    return next == end;
}

enum class Keyword { None, Supported, OtherDimension };

// "OFF" with the optional prefixes [ST][C][N][4][n]: texture coordinates, colours and normals
// only add values to each vertex line; 4 and n change the dimension.
Keyword offKeyword(std::string_view word) {
    if (word.size() < 3 || !sameWord(word.substr(word.size() - 3), "off")) {
        return Keyword::None;
    }
    std::string_view prefix = word.substr(0, word.size() - 3);
    const auto take = [&](std::string_view letters, bool anyCase) {
        const bool match = anyCase ? sameWord(prefix.substr(0, letters.size()), letters)
                                   : prefix.substr(0, letters.size()) == letters;
        if (match) {
            prefix.remove_prefix(letters.size());
        }
        return match;
    };
    take("st", true);
    take("c", true);
    take("N", false);  // normals; a small n is the dimension
    bool dimension = take("4", false);
    dimension = take("n", false) || dimension;
    if (!prefix.empty()) {
        return Keyword::None;
    }
    return dimension ? Keyword::OtherDimension : Keyword::Supported;
}

class Parser {
public:
    Parser(std::string_view text, const std::string& path) : m_lines(text), m_path(path) {}

    Status parse(MeshData& mesh, size_t textSize) {
        int64_t vertexCount = 0;
        int64_t faceCount = 0;
        if (Status s = parseHeader(vertexCount, faceCount); !s) {
            return s;
        }
        const int64_t countsLine = m_lines.line();
        // A vertex line takes at least 6 characters and a face line 8, so a count beyond the
        // file reserves no more than the file could hold.
        mesh.vertices.reserve(std::min(static_cast<size_t>(vertexCount), textSize / 6 + 1));
        mesh.triangles.reserve(std::min(static_cast<size_t>(faceCount), textSize / 8 + 1));

        std::string_view content;
        for (int64_t i = 0; i < vertexCount; ++i) {
            if (!m_lines.next(content)) {
                return failure(countsLine, "broj vrhova u zaglavlju je " +
                                               std::to_string(vertexCount) +
                                               ", a datoteka ih sadrzi samo " + std::to_string(i));
            }
            if (Status s = parseVertex(content, mesh); !s) {
                return s;
            }
        }
        std::vector<int32_t> corners;
        for (int64_t i = 0; i < faceCount; ++i) {
            if (!m_lines.next(content)) {
                return failure(countsLine, "broj ploha u zaglavlju je " +
                                               std::to_string(faceCount) +
                                               ", a datoteka ih sadrzi samo " + std::to_string(i));
            }
            if (Status s = parseFace(content, vertexCount, corners, mesh); !s) {
                return s;
            }
        }
        if (m_lines.next(content)) {
            return failure(m_lines.line(), "nakon svih ploha iz zaglavlja slijede jos podaci");
        }
        return {};
    }

private:
    // The optional keyword line and "nv nf [ne]", possibly on one line.
    Status parseHeader(int64_t& vertexCount, int64_t& faceCount) {
        std::string_view content;
        if (!m_lines.next(content)) {
            return Status::failure("Datoteka " + m_path + " ne sadrzi nijedan trokut");
        }
        Words words(content);
        std::string_view word = words.next();
        const Keyword keyword = offKeyword(word);
        if (keyword == Keyword::OtherDimension) {
            return failure(m_lines.line(),
                           "podrzan je samo trodimenzionalni OFF, a ne " + shown(word));
        }
        if (keyword == Keyword::Supported) {
            word = words.next();
            if (sameWord(word, "binary")) {
                return failure(m_lines.line(), "binarni OFF nije podrzan, samo tekstualni");
            }
            if (word.empty()) {
                if (!m_lines.next(content)) {
                    return failure(m_lines.line(), "nedostaju brojevi vrhova i ploha");
                }
                words = Words(content);
                word = words.next();
            }
        } else if (int64_t ignored = 0; !parseInteger(word, ignored)) {
            return failure(
                m_lines.line(),
                "ocekivano zaglavlje 'OFF' ili broj vrhova, a procitano je " + shown(word));
        }
        if (!parseInteger(word, vertexCount) || !parseInteger(words.next(), faceCount)) {
            return failure(m_lines.line(), "nedostaju brojevi vrhova i ploha");
        }
        if (vertexCount < 0 || faceCount < 0) {
            return failure(m_lines.line(), "broj vrhova ili ploha je negativan");
        }
        if (vertexCount > INT32_MAX || faceCount > INT32_MAX) {
            return failure(m_lines.line(), "previse vrhova ili ploha");
        }
        return {};
    }

    // "x y z" and whatever a variant adds (colour, normal, texture coordinates).
    Status parseVertex(std::string_view content, MeshData& mesh) {
        Words words(content);
        float xyz[3];
        for (float& c : xyz) {
            const Number r = parseFloat(words.next(), c);
            if (r == Number::NotFinite) {
                return failure(m_lines.line(), "koordinata vrha nije konacan broj");
            }
            if (r != Number::Ok) {
                return failure(m_lines.line(), "koordinate vrha nisu ispravni brojevi");
            }
        }
        mesh.vertices.emplace_back(xyz[0], xyz[1], xyz[2]);
        return {};
    }

    // "k i1 ... ik" (0-based) and an optional colour; polygons become the fan from i1.
    Status parseFace(std::string_view content, int64_t vertexCount, std::vector<int32_t>& corners,
                     MeshData& mesh) {
        Words words(content);
        int64_t k = 0;
        if (!parseInteger(words.next(), k)) {
            return failure(m_lines.line(), "broj vrhova plohe nije ispravan cijeli broj");
        }
        if (k < 3) {
            return failure(m_lines.line(), "ploha ima manje od 3 vrha");
        }
        corners.clear();
        for (int64_t j = 0; j < k; ++j) {
            int64_t index = 0;
            if (!parseInteger(words.next(), index)) {
                return failure(m_lines.line(),
                               "redak ima manje ispravnih brojeva vrhova nego sto ploha "
                               "najavljuje (" +
                                   std::to_string(k) + ")");
            }
            if (index < 0 || index >= vertexCount) {
                const std::string range =
                    vertexCount == 0 ? "datoteka nema vrhova"
                                     : "izvan raspona 0.." + std::to_string(vertexCount - 1);
                return failure(m_lines.line(),
                               "broj vrha " + std::to_string(index) + " je " + range);
            }
            corners.push_back(static_cast<int32_t>(index));
        }
        if (mesh.triangles.size() + corners.size() - 2 > static_cast<size_t>(INT32_MAX)) {
            return failure(m_lines.line(), "previse trokuta");
        }
        for (size_t j = 2; j < corners.size(); ++j) {
            mesh.triangles.emplace_back().setIndices(corners[0], corners[j - 1], corners[j]);
        }
        return {};
    }

    Status failure(int64_t line, const std::string& what) const {
        return Status::failure(readError(m_path, "redak " + std::to_string(line), what));
    }

    Lines m_lines;
    const std::string& m_path;
};

bool writeBody(const Solid& solid, FileSink& sink) {
    constexpr size_t kCountLine = 2 * 12 + 8;
    char* p = sink.reserve(kCountLine);
    char* end = p + kCountLine;
    p = std::to_chars(p, end, solid.vertices.size()).ptr;
    *p++ = ' ';
    p = std::to_chars(p, end, solid.triangles.size()).ptr;
    *p++ = ' ';
    *p++ = '0';
    *p++ = '\n';
    sink.commit(p);

    constexpr size_t kVertexLine = 3 * (kCoordinateChars + 1) + 1;
    for (const Vector4& v : solid.vertices) {
        p = sink.reserve(kVertexLine);
        p = putCoordinate(p, v.x);
        for (float c : {v.y, v.z}) {
            *p++ = ' ';
            p = putCoordinate(p, c);
        }
        *p++ = '\n';
        sink.commit(p);
    }
    constexpr size_t kFaceLine = 3 * 12 + 4;
    for (const Triangle& t : solid.triangles) {
        p = sink.reserve(kFaceLine);
        end = p + kFaceLine;
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

Status readOff(const std::string& path, Solid& target, const ReadOptions& options) {
    std::string bytes;
    if (Status s = readFileBytes(path, bytes); !s) {
        return s;
    }
    return readOffBytes(bytes, path, target, options);
}

Status readOffBytes(std::string_view bytes, const std::string& path, Solid& target,
                    const ReadOptions& options) {
    try {
        if (bytes.find('\0') != std::string_view::npos) {
            return Status::failure("Datoteka " + path + " nije tekstualna OFF datoteka");
        }
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            bytes.remove_prefix(3);
        }
        MeshData mesh;
        if (Status s = Parser(bytes, path).parse(mesh, bytes.size()); !s) {
            return s;
        }
        return adoptMesh(mesh, path, options, target);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

Status writeOff(const Solid& solid, const std::string& path, const WriteOptions&) {
    if (Status s = checkWritable(solid, path); !s) {
        return s;
    }
    return writeAtomically(path, [&](FileSink& sink) {
        sink.append("OFF\n", 4);
        return writeBody(solid, sink);
    });
}

}  // namespace korvan
