#include "geometry/numbers.h"

#include <charconv>
#include <cmath>

namespace korvan {
namespace {

// The text between surrounding blanks, without the one '+' from_chars does not take.
std::string_view numberText(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

template <typename T>
std::optional<T> parseWhole(std::string_view text) {
    text = numberText(text);
    T value{};
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<float> parseFloat(std::string_view text) {
    const std::optional<float> value = parseWhole<float>(text);
    if (!value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int32_t> parseInt(std::string_view text) {
    return parseWhole<int32_t>(text);
}

}  // namespace korvan
