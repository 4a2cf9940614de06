#include "app/number_fields.h"

#include <charconv>

#include "geometry/numbers.h"

namespace korvan::app {

std::optional<int32_t> parseInteger(const QString& text) {
    return korvan::parseInt(text.toStdString());
}

std::optional<float> parseFloat(const QString& text) {
    std::string s = text.toStdString();
    if (s.find('.') == std::string::npos) {
        // Several commas become several full stops, which the reader refuses.
        for (char& c : s) {
            if (c == ',') {
                c = '.';
            }
        }
    }
    return korvan::parseFloat(s);
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

QString countedNoun(int64_t count, const char* one, const char* few, const char* many) {
    const int64_t n = count < 0 ? -count : count;
    const int64_t last = n % 10;
    const int64_t lastTwo = n % 100;
    const char* noun = many;
    if (last == 1 && lastTwo != 11) {
        noun = one;
    } else if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14)) {
        noun = few;
    }
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromLatin1(noun));
}

}  // namespace korvan::app
