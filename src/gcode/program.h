// A 3-axis milling program read from G-code: the moves it makes, in the program's own units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/status.h"

namespace korvan::gcode {

// A point in program units. Double, so that positions keep the digits the program wrote;
// meshes convert to float only where they are built.
struct Position {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    friend bool operator==(const Position&, const Position&) = default;
};

enum class MoveKind : uint8_t {
    Rapid,  // G0
    Feed,   // G1, and each chord of a G2/G3 arc
    Dwell,  // G4: the tool stays where it is for `seconds`
};

enum class Units : uint8_t { Millimetre, Inch };

struct Move {
    int64_t line = 0;  // 1-based line of the file that made the move
    MoveKind kind = MoveKind::Feed;
    Position end;          // where the tool is after the move (absolute, program units)
    double feed = 0.0;     // F in effect (units per minute); 0 where none was given yet
    double seconds = 0.0;  // dwell time; 0 for motion
    int32_t tool = 0;      // tool in the spindle (T with M6); 0 before the first change
};

struct Program {
    Units units = Units::Millimetre;  // G20/G21; millimetres where the program does not say
    Position start;                   // where the tool is before the first move: the origin
    std::vector<Move> moves;
};

struct ReadGcodeOptions {
    // The largest distance between an arc (or helix) and the chords that stand in for it, in
    // program units.
    double arcTolerance = 0.01;
    // Limits against hostile input: more moves (chords included) or a longer file is refused
    // with a message instead of taking the memory. A move takes 64 bytes.
    size_t maxMoves = 10'000'000;
    size_t maxBytes = size_t{1} << 30;
};

// Reads a G-code program (the subset CAM post-processors emit for 3-axis milling) into moves.
// Arcs become chords within options.arcTolerance whose last end is the programmed end point
// exactly. Anything outside the subset, and any malformed word, is refused with a message
// naming the file, the line and the word ("Greska u datoteci P, redak N: ..."); `target` is
// replaced only on success. The program ends at M2 or M30; what follows is not read.
Status readGcode(const std::string& path, Program& target, const ReadGcodeOptions& options = {});

// readGcode on text already in memory; `path` only names it in messages.
Status readGcodeText(std::string_view text, const std::string& path, Program& target,
                     const ReadGcodeOptions& options = {});

}  // namespace korvan::gcode
