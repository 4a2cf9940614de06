#include "app/number_fields.h"

#include <charconv>

#include "geometry/numbers.h"

namespace korvan::app {

std::optional<int32_t> parseInteger(const QString& text) {
    return korvan::parseInt(text.toStdString());
}

std::optional<float> parseFloat(const QString& text) {
    return korvan::parseFloat(text.toStdString());
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
