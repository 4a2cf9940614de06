// Tools as the command line and a tool table write them.
#include <charconv>
#include <cmath>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gcode/tools.h"
#include "meshio/mesh_data.h"

namespace korvan::gcode {
namespace {

constexpr int32_t kLargestToolNumber = 999999;

const char* const kForms = "flat:D,L, ball:D,L, bull:D,R,L ili drill:D,KUT,L";

struct Shape {
    const char* name;
    ToolShape shape;
    size_t numbers;
    const char* meaning;
};

constexpr Shape kShapes[] = {
    {"flat", ToolShape::Flat, 2, "promjer, duljina rezanja"},
    {"ball", ToolShape::Ball, 2, "promjer, duljina rezanja"},
    {"bull", ToolShape::BullNose, 3, "promjer, polumjer zaobljenja, duljina rezanja"},
    {"drill", ToolShape::Drill, 3, "promjer, kut vrha, duljina rezanja"},
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

// "'text'" for a message (built by appending: GCC 12 misreads "'" + std::string(...) as an
// overlapping copy).
std::string quote(std::string_view text) {
    std::string out = "'";
    out += text;
    out += "'";
    return out;
}

// A message of checkTool inside a longer one.
std::string lowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') {
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
}

// A whole text as a finite number in the C locale's notation, one leading '+' allowed.
std::optional<double> parseNumber(std::string_view text) {
    text = trimmed(text);
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    double value = 0.0;
    const char* const end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

const Shape* shapeNamed(std::string_view name) {
    const std::string key = lowered(trimmed(name));
    for (const Shape& s : kShapes) {
        if (key == s.name) {
            return &s;
        }
    }
    return nullptr;
}

// The tool of a shape and its numbers as written; false with `what` saying what is wrong.
bool toolOf(const Shape& shape, const std::vector<std::string_view>& numbers, ToolSpec& out,
            std::string& what) {
    if (numbers.size() != shape.numbers) {
        what = std::string("oblik '") + shape.name + "' treba " + std::to_string(shape.numbers) +
               " broja (" + shape.meaning + "), a ima " + std::to_string(numbers.size());
        return false;
    }
    std::vector<double> values;
    for (const std::string_view n : numbers) {
        const std::optional<double> v = parseNumber(n);
        if (!v) {
            what = "neispravan broj '" + std::string(trimmed(n)) + "'";
            return false;
        }
        values.push_back(*v);
    }
    ToolSpec tool;
    tool.shape = shape.shape;
    tool.diameter = values[0];
    tool.fluteLength = values.back();
    if (shape.shape == ToolShape::BullNose) {
        tool.cornerRadius = values[1];
    } else if (shape.shape == ToolShape::Drill) {
        tool.tipAngle = values[1];
    }
    if (Status s = checkTool(tool); !s) {
        what = lowerFirst(s.message());
        return false;
    }
    out = tool;
    return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isBlank(text[at])) {
            ++at;
        }
        const size_t from = at;
        while (at < text.size() && !isBlank(text[at])) {
            ++at;
        }
        if (at > from) {
            out.push_back(text.substr(from, at - from));
        }
    }
    return out;
}

// "T12": the number, or nullopt.
std::optional<int32_t> toolNumber(std::string_view word) {
    if (word.size() < 2 || (word[0] != 'T' && word[0] != 't')) {
        return std::nullopt;
    }
    int32_t n = 0;
    const char* const end = word.data() + word.size();
    const auto [p, ec] = std::from_chars(word.data() + 1, end, n);
    if (ec != std::errc() || p != end || n < 0 || n > kLargestToolNumber) {
        return std::nullopt;
    }
    return n;
}

}  // namespace

Status parseTool(std::string_view text, ToolSpec& out) {
    const std::string quoted = quote(text);
    const size_t colon = text.find(':');
    const Shape* shape =
        colon == std::string_view::npos ? nullptr : shapeNamed(text.substr(0, colon));
    if (!shape) {
        return Status::failure("Neispravan alat " + quoted + ": ocekuje se " + kForms);
    }
    std::string what;
    if (!toolOf(*shape, split(text.substr(colon + 1), ','), out, what)) {
        return Status::failure("Neispravan alat " + quoted + ": " + what);
    }
    return {};
}

Status parseShank(std::string_view text, ShankSpec& out) {
    const std::vector<std::string_view> parts = split(text, ',');
    const std::string quoted = quote(text);
    if (parts.size() != 2) {
        return Status::failure("Neispravna drska " + quoted + ": ocekuje se promjer,duljina");
    }
    const std::optional<double> diameter = parseNumber(parts[0]);
    const std::optional<double> length = parseNumber(parts[1]);
    if (!diameter || !length) {
        return Status::failure("Neispravna drska " + quoted + ": ocekuju se dva broja");
    }
    const ShankSpec shank{*diameter, *length};
    if (Status s = checkShank(shank); !s) {
        return Status::failure("Neispravna drska " + quoted + ": " + lowerFirst(s.message()));
    }
    out = shank;
    return {};
}

Status readToolTable(const std::string& path, ToolTable& target) {
    std::string bytes;
    if (Status s = readFileBytes(path, bytes); !s) {
        return s;
    }
    return readToolTableText(bytes, path, target);
}

Status readToolTableText(std::string_view text, const std::string& path, ToolTable& target) {
    try {
        ToolTable table;
        std::map<int32_t, int64_t> lines;  // tool number: the line that gave it
        int64_t line = 0;
        for (std::string_view rest = text; !rest.empty() || line == 0;) {
            ++line;
            const size_t nl = rest.find_first_of("\r\n");
            std::string_view lineText = rest.substr(0, nl);
            if (nl == std::string_view::npos) {
                rest = {};
            } else {
                rest.remove_prefix(
                    nl +
                    (rest[nl] == '\r' && nl + 1 < rest.size() && rest[nl + 1] == '\n' ? 2 : 1));
            }
            lineText = lineText.substr(0, lineText.find('#'));
            const std::vector<std::string_view> w = words(lineText);
            if (w.empty()) {
                continue;
            }
            const std::string place = "redak " + std::to_string(line);
            const std::optional<int32_t> number = toolNumber(w[0]);
            if (!number) {
                return Status::failure(
                    readError(path, place,
                              "ocekuje se broj alata kao 'T1', a ne '" + std::string(w[0]) + "'"));
            }
            if (w.size() < 2 || !shapeNamed(w[1])) {
                return Status::failure(readError(path, place,
                                                 "nepoznat oblik alata '" +
                                                     std::string(w.size() < 2 ? "" : w[1]) +
                                                     "' (flat, ball, bull ili drill)"));
            }
            if (const auto earlier = lines.find(*number); earlier != lines.end()) {
                return Status::failure(readError(path, place,
                                                 "alat T" + std::to_string(*number) +
                                                     " je vec zadan u retku " +
                                                     std::to_string(earlier->second)));
            }
            ToolTableEntry entry;
            entry.number = *number;
            std::string what;
            if (!toolOf(*shapeNamed(w[1]), {w.begin() + 2, w.end()}, entry.tool, what)) {
                return Status::failure(readError(path, place, what));
            }
            table.push_back(entry);
            lines.emplace(*number, line);
        }
        if (table.empty()) {
            return Status::failure("Datoteka " + path + " ne sadrzi nijedan alat");
        }
        target = std::move(table);
        return {};
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

const ToolSpec* findTool(const ToolTable& table, int32_t number) {
    for (const ToolTableEntry& e : table) {
        if (e.number == number) {
            return &e.tool;
        }
    }
    return nullptr;
}

}  // namespace korvan::gcode
