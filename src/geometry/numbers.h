// Numbers a user types (dialog fields, command-line values), read one way everywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvan {

// The C locale's notation whatever the process locale (a full stop, never a comma), blanks
// around the number ignored, one optional leading '+'. The whole text must be the number;
// "nan", "inf", an overflow and a sign after '+' ("+-5") are refused.
std::optional<float> parseFloat(std::string_view text);
std::optional<int32_t> parseInt(std::string_view text);

}  // namespace korvan
