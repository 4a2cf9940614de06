#include "cli/mesh_source.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "meshio/edge_sampling.h"
#include "meshio/load.h"

namespace korvan::cli {
std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

bool parseVector(const std::string& text, Vector4& out) {
    const std::vector<std::string> parts = split(text, ',');
    float v[3];
    if (parts.size() != 3) {
        return false;
    }
    for (size_t i = 0; i < 3; ++i) {
        if (!parseFloat(parts[i], v[i])) {
            return false;
        }
    }
    out = Vector4(v[0], v[1], v[2]);
    return true;
}

bool parseFloat(const std::string& text, float& out) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    float value = 0.0f;
    auto [p, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || p != end || !std::isfinite(value)) {
        return false;
    }
    out = value;
    return true;
}

bool parseInt(const std::string& text, int& out) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    auto [p, ec] = std::from_chars(begin, end, out);
    return ec == std::errc() && p == end && begin != end;
}

std::optional<Status> parsePrimitive(const std::string& text, PrimitiveParameters& out) {
    struct Kind {
        const char* prefix;
        Shape shape;
        const char* layout;  // 'i' integer field m or n, 'f' float field a, b or c
    };
    static constexpr Kind kKinds[] = {{"sphere:", Shape::Sphere, "iif"},
                                      {"cube:", Shape::Cube, "f"},
                                      {"box:", Shape::Box, "fff"},
                                      {"cylinder:", Shape::Cylinder, "iff"},
                                      {"cone:", Shape::Cone, "iff"}};
    for (const Kind& kind : kKinds) {
        const std::string prefix = kind.prefix;
        if (text.rfind(prefix, 0) != 0) {
            continue;
        }
        const Status invalid = Status::failure(kInvalidParameterMessage);
        const std::vector<std::string> parts = split(text.substr(prefix.size()), ',');
        const std::string layout = kind.layout;
        if (parts.size() != layout.size()) {
            return invalid;
        }
        PrimitiveParameters p;
        p.shape = kind.shape;
        int32_t* ints[] = {&p.m, &p.n};
        float* floats[] = {&p.a, &p.b, &p.c};
        size_t nextInt = 0;
        size_t nextFloat = 0;
        for (size_t i = 0; i < parts.size(); ++i) {
            const bool ok = layout[i] == 'i' ? parseInt(parts[i], *ints[nextInt++])
                                             : parseFloat(parts[i], *floats[nextFloat++]);
            if (!ok) {
                return invalid;
            }
        }
        if (firstInvalidField(p)) {
            return invalid;
        }
        out = p;
        return Status();
    }
    return std::nullopt;
}

Status loadSource(const std::string& text, int objectNumber, Solid& target) {
    PrimitiveParameters params;
    if (const auto parsed = parsePrimitive(text, params)) {
        if (!*parsed) {
            return *parsed;
        }
        std::fprintf(stderr, "Generiranje novog trijela\n");
        return generateObject(params, g_samplingFactor, target);
    }
    std::fprintf(stderr, "Citanje objekta %d iz datoteke...\n", objectNumber);
    return loadObject(text, g_samplingFactor, target);
}

}  // namespace korvan::cli
