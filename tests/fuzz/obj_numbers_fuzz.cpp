// libFuzzer target for the numbers of the OBJ reader: one fuzzed vertex or face line, read by
// the reader and by a reference written straight from the grammar (a number is
// [+-]?digits[.digits][(e|E)[+-]digits], a corner is number[/[number][/[number]]], and either
// must be followed by a blank or the end of the line). Both must accept the same lines, and an
// accepted line must give the same floats, bit for bit (the reference rounds with strtof), or
// the same corners.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/solid.h"
#include "meshio/obj.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::vector<std::string> tokens(std::string_view line) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < line.size()) {
        if (isBlank(line[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < line.size() && !isBlank(line[end])) {
            ++end;
        }
        out.emplace_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

// Digits from `at`, at least one; returns where they end, or npos.
size_t digits(const std::string& s, size_t at) {
    size_t end = at;
    while (end < s.size() && isDigit(s[end])) {
        ++end;
    }
    return end == at ? std::string::npos : end;
}

size_t integer(const std::string& s, size_t at) {
    return digits(s, at < s.size() && (s[at] == '+' || s[at] == '-') ? at + 1 : at);
}

bool isNumber(const std::string& s) {
    size_t at = integer(s, 0);
    if (at != std::string::npos && at < s.size() && s[at] == '.') {
        at = digits(s, at + 1);
    }
    if (at != std::string::npos && at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
        at = integer(s, at + 1);
    }
    return at == s.size();
}

// The vertex the reference reads from the text after "v", or nothing when it refuses.
std::optional<korvan::Vector4> referenceVertex(std::string_view line) {
    const std::vector<std::string> t = tokens(line);
    if (t.size() < 3) {
        return std::nullopt;
    }
    float xyz[3];
    for (int k = 0; k < 3; ++k) {
        if (!isNumber(t[k])) {
            return std::nullopt;
        }
        xyz[k] = std::strtof(t[k].c_str(), nullptr);
        if (!std::isfinite(xyz[k])) {
            return std::nullopt;
        }
    }
    return korvan::Vector4(xyz[0], xyz[1], xyz[2]);
}

// The 0-based corners the reference reads from the text after "f" over `vertices` vertices.
std::optional<std::vector<int32_t>> referenceCorners(std::string_view line, int64_t vertices) {
    std::vector<int32_t> corners;
    for (const std::string& t : tokens(line)) {
        const size_t end = integer(t, 0);
        if (end == std::string::npos) {
            break;  // the corners end at the first word that is no number
        }
        size_t at = end;
        for (int slash = 0; slash < 2 && at < t.size() && t[at] == '/'; ++slash) {
            const size_t next = integer(t, at + 1);
            at = next == std::string::npos ? at + 1 : next;
        }
        if (at != t.size()) {
            return std::nullopt;
        }
        errno = 0;
        const long long n = std::strtoll(t.substr(0, end).c_str(), nullptr, 10);
        if (errno == ERANGE || n == 0 || n > vertices || n < -vertices) {
            return std::nullopt;
        }
        corners.push_back(static_cast<int32_t>(n > 0 ? n - 1 : vertices + n));
    }
    if (corners.size() < 3) {
        return std::nullopt;
    }
    return corners;
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool face = (data[0] & 1) != 0;
    std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);
    line = line.substr(0, line.find_first_of(std::string_view("\n\r\0", 3)));

    korvan::Solid solid;
    const korvan::ReadOptions keep{.keepCoordinates = true};
    if (!face) {
        const std::string text = "v " + std::string(line) + "\nv 0 0 0\nv 0 0 1\nf 1 2 3\n";
        const bool read = korvan::readObjText(text, "fuzz.obj", solid, keep).ok();
        const std::optional<korvan::Vector4> expected = referenceVertex(line);
        if (read != expected.has_value()) {
            std::abort();
        }
        if (read && !(sameBits(solid.vertices[0].x, expected->x) &&
                      sameBits(solid.vertices[0].y, expected->y) &&
                      sameBits(solid.vertices[0].z, expected->z))) {
            std::abort();
        }
        return 0;
    }
    const std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf " + std::string(line) + "\n";
    const bool read = korvan::readObjText(text, "fuzz.obj", solid, keep).ok();
    const std::optional<std::vector<int32_t>> expected = referenceCorners(line, 4);
    if (read != expected.has_value()) {
        std::abort();
    }
    if (read) {
        const std::vector<int32_t>& c = *expected;
        if (solid.triangles.size() != c.size() - 2) {
            std::abort();
        }
        for (size_t k = 2; k < c.size(); ++k) {
            const korvan::Triangle& t = solid.triangles[k - 2];
            if (t.i0 != c[0] || t.i1 != c[k - 1] || t.i2 != c[k]) {
                std::abort();
            }
        }
    }
    return 0;
}
