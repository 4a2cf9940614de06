#include "formats/words.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace korvan::formats {

bool sameWord(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != keyword[i]) {
            return false;
        }
    }
    return true;
}

std::string shown(std::string_view word) {
    std::string s = "'";
    for (size_t i = 0; i < word.size() && i < 24; ++i) {
        const char c = word[i];
        s += c >= 0x20 && c < 0x7f ? c : '?';
    }
    return s + (word.size() > 24 ? "...'" : "'");
}

Number parseFloat(std::string_view word, float& out) {
    const char* p = word.data();
    const char* const end = p + word.size();
    if (end - p > 1 && *p == '+' && p[1] != '-') {
        ++p;
    }
    float value = 0.0f;
    auto [next, ec] = std::from_chars(p, end, value);
    if (ec == std::errc::result_out_of_range) {
        double wide = 0.0;
        const auto [wideNext, wideEc] = std::from_chars(p, end, wide);
        const std::string_view text(p, static_cast<size_t>(wideNext - p));
        const size_t e = text.find_first_of("eE");
        if (wideEc == std::errc::result_out_of_range && e != std::string_view::npos &&
            e + 1 < text.size() && text[e + 1] == '-') {
            wide = *p == '-' ? -0.0 : 0.0;  // below even a double's range
        } else if (wideEc != std::errc() || std::fabs(wide) > std::numeric_limits<float>::max()) {
            return Number::NotFinite;
        }
        value = static_cast<float>(wide);
        next = wideNext;
    } else if (ec != std::errc()) {
        return Number::Unreadable;
    }
    if (next != end) {
        return Number::Unreadable;
    }
    if (!std::isfinite(value)) {
        return Number::NotFinite;
    }
    out = value;
    return Number::Ok;
}

}  // namespace korvan::formats
