// One line of G-code split into its words, checked for what may stand together on a line.
// Private to the G-code reader.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvan::gcode {

// A letter with its number, and the number's text as written, for messages.
struct Word {
    char letter = 0;  // upper case
    double value = 0.0;
    std::string_view number;

    // "X-2.5": the letter in upper case and the number as written.
    std::string text() const;
};

// The G and M codes the reader knows, by what a line may hold only one of.
enum class Group : uint8_t {
    Motion,       // G0 G1 G2 G3
    Dwell,        // G4
    Plane,        // G17 G18 G19
    Units,        // G20 G21
    Distance,     // G90 G91
    ArcDistance,  // G90.1 G91.1
    CutterComp,   // G40 (off: the state assumed)
    LengthComp,   // G49 (off)
    CycleCancel,  // G80 (no canned cycle: the state assumed; ends the motion mode)
    WorkOffset,   // G54 (no offset)
    FeedMode,     // G94 (units per minute: the state assumed)
    Stop,         // M0 M1 M2 M30
    Spindle,      // M3 M4 M5
    ToolChange,   // M6
    Coolant,      // M7 M8 M9 (any number of them)
    Count
};

// A G code as ten times its number (G90.1 is 901), an M code as its number.
struct Code {
    int32_t number = -1;  // -1: none of its group on the line
    Word word;
};

struct Block {
    std::array<Code, static_cast<size_t>(Group::Count)> codes;
    // F S T X Y Z I J K R P by letter; a letter of none has letter 0.
    std::array<Word, 26> values;

    void clear();
    const Code& code(Group g) const { return codes[static_cast<size_t>(g)]; }
    bool has(char letter) const { return values[static_cast<size_t>(letter - 'A')].letter != 0; }
    const Word& value(char letter) const { return values[static_cast<size_t>(letter - 'A')]; }
};

// Splits one line (without its end) into `block`. On a fault returns false with `what` saying
// it in the reader's words ("nepoznata naredba 'G43'"). Comments in parentheses and after ';',
// N and O words, and a line that starts with '%' leave nothing.
bool parseBlock(std::string_view line, Block& block, std::string& what);

// A number for a message: six significant digits, the C locale's notation.
std::string formatNumber(double value);

}  // namespace korvan::gcode
