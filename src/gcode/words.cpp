#include "gcode/words.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>

namespace korvan::gcode {
namespace {

// Larger numbers are no coordinate, feed or time of a real machine, and keep every sum of
// coordinates far from overflow.
constexpr double kLargestNumber = 1e9;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isLetter(char c) {
    return upper(c) >= 'A' && upper(c) <= 'Z';
}

// Text of the file for a message: long pieces are cut short.
std::string shortened(std::string_view text) {
    constexpr size_t kLongest = 40;
    return text.size() > kLongest ? std::string(text.substr(0, kLongest)) + "..."
                                  : std::string(text);
}

struct Known {
    int32_t number;
    Group group;
};

constexpr Known kGCodes[] = {
    {0, Group::Motion},        {10, Group::Motion},       {20, Group::Motion},
    {30, Group::Motion},       {40, Group::Dwell},        {170, Group::Plane},
    {180, Group::Plane},       {190, Group::Plane},       {200, Group::Units},
    {210, Group::Units},       {400, Group::CutterComp},  {490, Group::LengthComp},
    {540, Group::WorkOffset},  {800, Group::CycleCancel}, {900, Group::Distance},
    {901, Group::ArcDistance}, {910, Group::Distance},    {911, Group::ArcDistance},
    {940, Group::FeedMode},
};

constexpr Known kMCodes[] = {
    {0, Group::Stop},    {1, Group::Stop},    {2, Group::Stop},       {3, Group::Spindle},
    {4, Group::Spindle}, {5, Group::Spindle}, {6, Group::ToolChange}, {7, Group::Coolant},
    {8, Group::Coolant}, {9, Group::Coolant}, {30, Group::Stop},
};

// The code a G or M word names, or nullopt for one the reader does not know. Read from the
// text, so that G90.1 is 901 whatever its double: G codes may have one decimal, M codes none,
// and zeros after the point do not count.
std::optional<Known> knownCode(const Word& w) {
    std::string_view text = w.number;
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
    }
    if (!text.empty() && text[0] == '-') {
        return std::nullopt;  // not even G-0
    }
    const size_t point = std::min(text.find('.'), text.size());
    std::string_view whole = text.substr(0, point);
    std::string_view fraction = text.substr(std::min(point + 1, text.size()));
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.remove_suffix(1);
    }
    int32_t n = 0;
    const auto [next, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), n);
    const size_t decimals = w.letter == 'G' ? 1 : 0;
    if (whole.empty() || ec != std::errc() || next != whole.data() + whole.size() ||
        fraction.size() > decimals || n < 0 || n > 10000) {
        return std::nullopt;
    }
    if (w.letter == 'G') {
        n = n * 10 + (fraction.empty() ? 0 : fraction[0] - '0');
    }
    const Known* first = w.letter == 'G' ? std::begin(kGCodes) : std::begin(kMCodes);
    const Known* last = w.letter == 'G' ? std::end(kGCodes) : std::end(kMCodes);
    for (const Known* k = first; k != last; ++k) {
        if (k->number == n) {
            return *k;
        }
    }
    return std::nullopt;
}

bool takesValue(char letter) {
    return std::string_view("FSTXYZIJKRP").find(letter) != std::string_view::npos;
}

// The number that starts at `p` (blanks after the letter skipped): [+-]? digits [. digits],
// or with the digits on either side of the point only. Sets `number` to its text; false when
// none starts there.
bool scanNumber(const char*& p, const char* end, std::string_view& number) {
    while (p < end && isBlank(*p)) {
        ++p;
    }
    const char* const start = p;
    if (p < end && (*p == '+' || *p == '-')) {
        ++p;
    }
    const char* const digits = p;
    while (p < end && isDigit(*p)) {
        ++p;
    }
    bool any = p > digits;
    if (p < end && *p == '.') {
        ++p;
        const char* const fraction = p;
        while (p < end && isDigit(*p)) {
            ++p;
        }
        any = any || p > fraction;
    }
    number = std::string_view(start, static_cast<size_t>(p - start));
    return any;
}

}  // namespace

std::string Word::text() const {
    std::string out(1, letter);
    out += shortened(number);
    return out;
}

void Block::clear() {
    codes.fill(Code{});
    values.fill(Word{});
}

std::string formatNumber(double value) {
    char buffer[32];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

bool parseBlock(std::string_view line, Block& block, std::string& what) {
    block.clear();
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end && isBlank(*p)) {
        ++p;
    }
    if (p < end && *p == '%') {
        return true;
    }
    while (p < end) {
        const char c = *p;
        if (isBlank(c)) {
            ++p;
            continue;
        }
        if (c == ';') {
            break;
        }
        if (c == '(') {
            const char* close = p + 1;
            while (close < end && *close != ')') {
                ++close;
            }
            if (close == end) {
                what = "komentar nije zatvoren";
                return false;
            }
            p = close + 1;
            continue;
        }
        if (!isLetter(c)) {
            if (c >= ' ' && c <= '~') {
                what = std::string("neocekivan znak '") + c + "'";
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(c));
                what = std::string("neocekivan bajt ") + hex;
            }
            return false;
        }
        Word w;
        w.letter = upper(c);
        ++p;
        if (!scanNumber(p, end, w.number)) {
            what = std::string("rijec '") + w.letter + "' nema broja";
            return false;
        }
        if (p < end && (isDigit(*p) || *p == '.' || *p == '+' || *p == '-')) {
            // "X1..2", "X1-2": a number runs into another.
            const char* q = p;
            while (q < end && !isBlank(*q) && !isLetter(*q) && *q != '(' && *q != ';') {
                ++q;
            }
            w.number = std::string_view(w.number.data(), static_cast<size_t>(q - w.number.data()));
            what = "neispravan broj u rijeci '" + w.text() + "'";
            return false;
        }
        const char* from = w.number.data();
        const char* const numberEnd = from + w.number.size();
        if (*from == '+') {
            ++from;
        }
        const auto [next, ec] = std::from_chars(from, numberEnd, w.value);
        if (ec == std::errc::result_out_of_range ||
            (ec == std::errc() && std::fabs(w.value) > kLargestNumber)) {
            what = "broj u rijeci '" + w.text() + "' je izvan raspona (najvise 1e9)";
            return false;
        }
        if (ec != std::errc() || next != numberEnd) {
            what = "neispravan broj u rijeci '" + w.text() + "'";
            return false;
        }

        if (w.letter == 'N' || w.letter == 'O') {
            continue;
        }
        if (w.letter == 'G' || w.letter == 'M') {
            const std::optional<Known> known = knownCode(w);
            if (!known) {
                what = "nepoznata naredba '" + w.text() + "'";
                return false;
            }
            Code& slot = block.codes[static_cast<size_t>(known->group)];
            if (slot.number >= 0 && known->group != Group::Coolant) {
                what = "naredbe '" + slot.word.text() + "' i '" + w.text() +
                       "' ne mogu biti u istom retku";
                return false;
            }
            slot.number = known->number;
            slot.word = w;
            continue;
        }
        if (!takesValue(w.letter)) {
            what = "nepoznata rijec '" + w.text() + "'";
            return false;
        }
        Word& slot = block.values[static_cast<size_t>(w.letter - 'A')];
        if (slot.letter != 0) {
            what = std::string("dvije rijeci ") + w.letter + " u istom retku ('" + slot.text() +
                   "' i '" + w.text() + "')";
            return false;
        }
        slot = w;
    }
    return true;
}

}  // namespace korvan::gcode
