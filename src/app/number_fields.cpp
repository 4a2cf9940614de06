#include "app/number_fields.h"

#include <charconv>
#include <cmath>
#include <string>

namespace korvan::app {
namespace {

// The trimmed text without a leading '+', which from_chars does not take.
std::string plainText(const QString& text) {
    std::string s = text.trimmed().toStdString();
    if (s.size() > 1 && s[0] == '+' && s[1] != '-') {
        s.erase(0, 1);
    }
    return s;
}

}  // namespace

std::optional<int32_t> parseInteger(const QString& text) {
    const std::string s = plainText(text);
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> parseFloat(const QString& text) {
    const std::string s = plainText(text);
    float value = 0.0f;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

QString formatInteger(int32_t value) {
    return QString::number(value);
}

QString formatFloat(float value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? QString::fromLatin1(buffer, static_cast<int>(end - buffer))
                             : QStringLiteral("0");
}

}  // namespace korvan::app
