// A minimal JSON object writer for the command line's --json output.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "geometry/vector4.h"

namespace korvan::cli {

// Builds one flat JSON object; numbers are written in the C locale, shortest round-trip form.
class JsonObject {
public:
    JsonObject& add(const char* key, int64_t value) { return raw(key, std::to_string(value)); }
    JsonObject& add(const char* key, bool value) { return raw(key, value ? "true" : "false"); }
    JsonObject& add(const char* key, double value) { return raw(key, number(value)); }
    JsonObject& add(const char* key, float value) { return raw(key, number(value)); }
    JsonObject& add(const char* key, const std::string& value) { return raw(key, quote(value)); }
    JsonObject& add(const char* key, const char* value) { return raw(key, quote(value)); }
    JsonObject& add(const char* key, const Vector4& v) {
        return raw(key, "[" + number(v.x) + ", " + number(v.y) + ", " + number(v.z) + "]");
    }

    std::string str() const { return "{" + m_body + "}"; }

private:
    JsonObject& raw(const char* key, const std::string& value) {
        if (!m_body.empty()) {
            m_body += ", ";
        }
        m_body += quote(key) + ": " + value;
        return *this;
    }

    template <typename T>
    static std::string number(T value) {
        // JSON has no inf or nan; null keeps the output readable should one ever get here.
        if (!std::isfinite(value)) {
            return "null";
        }
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        return std::string(buffer, result.ptr);
    }

    static std::string quote(const std::string& s) {
        std::string out = "\"";
        for (const char c : s) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (static_cast<unsigned char>(c) < 0x20) {
                        char esc[8];
                        std::snprintf(esc, sizeof esc, "\\u%04x", c);
                        out += esc;
                    } else {
                        out += c;
                    }
            }
        }
        return out + "\"";
    }

    std::string m_body;
};

}  // namespace korvan::cli
