#include "cli/mesh_source.h"

#include <vector>

#include "geometry/numbers.h"

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
    if (parts.size() != 3) {
        return false;
    }
    float v[3];
    for (size_t i = 0; i < 3; ++i) {
        const std::optional<float> value = parseFloat(parts[i]);
        if (!value) {
            return false;
        }
        v[i] = *value;
    }
    out = Vector4(v[0], v[1], v[2]);
    return true;
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
            if (layout[i] == 'i') {
                const std::optional<int32_t> value = parseInt(parts[i]);
                if (!value) {
                    return invalid;
                }
                *ints[nextInt++] = *value;
            } else {
                const std::optional<float> value = parseFloat(parts[i]);
                if (!value) {
                    return invalid;
                }
                *floats[nextFloat++] = *value;
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

}  // namespace korvan::cli
