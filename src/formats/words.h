// Words of the text formats (ASCII STL, OFF): keywords in any case, numbers read as the OBJ
// reader reads them, and words as a message shows them.
#pragma once

#include <string>
#include <string_view>

namespace korvan::formats {

// Whether `word` is `keyword` (lower case) in any letter case.
bool sameWord(std::string_view word, std::string_view keyword);

// A word as a message may show it: quoted, short, and printable ASCII only.
std::string shown(std::string_view word);

enum class Number { Ok, Unreadable, NotFinite };

// A whole word as a float in the C locale's notation (a leading '+' allowed): values that
// overflow a float, nan and inf are refused; values too small become 0 or a subnormal.
Number parseFloat(std::string_view word, float& out);

}  // namespace korvan::formats
