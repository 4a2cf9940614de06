// libFuzzer target for the G-code reader (and the tool table, on the same bytes): any bytes give
// moves or a refusal, never a crash; an accepted program has finite positions, times and feeds,
// its moves in the order of their lines, and no more moves than it may hold.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "gcode/program.h"
#include "gcode/tools.h"

namespace {

bool finite(const korvan::gcode::Position& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvan::gcode;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ReadGcodeOptions options;
    options.maxMoves = 100000;  // arcs of radius 1e9 would otherwise take seconds each
    Program program;
    if (readGcodeText(text, "fuzz.nc", program, options).ok()) {
        if (program.moves.size() > options.maxMoves) {
            std::abort();
        }
        int64_t line = 1;
        for (const Move& m : program.moves) {
            if (!finite(m.end) || !std::isfinite(m.feed) || m.feed < 0 ||
                !std::isfinite(m.seconds) || m.seconds < 0 || m.tool < 0 || m.line < line) {
                std::abort();
            }
            line = m.line;
        }
    }
    ToolTable table;
    if (readToolTableText(text, "fuzz.txt", table).ok()) {
        for (const ToolTableEntry& e : table) {
            if (!checkTool(e.tool).ok()) {
                std::abort();
            }
        }
    }
    return 0;
}
