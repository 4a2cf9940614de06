// The G-code reader: lines into words (words.cpp), words into moves here, arcs into chords
// (arcs.cpp).
#include <sys/stat.h>

#include <cmath>
#include <new>
#include <string>
#include <utility>

#include "gcode/arcs.h"
#include "gcode/program.h"
#include "gcode/words.h"
#include "meshio/mesh_data.h"

namespace korvan::gcode {
namespace {

// How far an arc's end may lie off the circle through its start (see ArcRequest): the last
// digits a post-processor prints, with room for the centre's and both ends' rounding.
constexpr double kArcSlackRelative = 1e-6;
constexpr double kArcSlackMillimetres = 0.005;
constexpr double kArcSlackInches = 0.0002;

constexpr int32_t kLargestTool = 999999;

// Runs the lines of one program into `out`, keeping the modal state between them.
class Reader {
public:
    Reader(const ReadGcodeOptions& options, Program& out) : m_options(options), m_out(out) {}

    // Runs one line; false with `what` set when it is refused.
    bool run(const Block& block, int64_t line, std::string& what);
    bool ended() const { return m_ended; }

private:
    bool push(MoveKind kind, const Position& end, double seconds, std::string& what);
    bool setUnits(const Code& code, std::string& what);
    bool dwell(const Block& block, std::string& what);
    bool motion(const Block& block, std::string& what);
    bool arc(const Block& block, const Position& end, std::string& what);

    const ReadGcodeOptions& m_options;
    Program& m_out;
    int64_t m_line = 0;
    Position m_position;
    int32_t m_motion = -1;  // G code times ten; -1 before the first and after G80
    Plane m_plane = Plane::XY;
    bool m_incremental = false;
    bool m_arcCentreIncremental = true;
    double m_feed = 0.0;
    int32_t m_selectedTool = 0;
    int32_t m_tool = 0;
    bool m_ended = false;
};

bool Reader::push(MoveKind kind, const Position& end, double seconds, std::string& what) {
    if (m_out.moves.size() >= m_options.maxMoves) {
        what = "program ima previse pomaka (najvise " + std::to_string(m_options.maxMoves) + ")";
        return false;
    }
    m_out.moves.push_back(Move{m_line, kind, end, m_feed, seconds, m_tool});
    m_position = end;
    return true;
}

bool Reader::setUnits(const Code& code, std::string& what) {
    const Units units = code.number == 200 ? Units::Inch : Units::Millimetre;
    if (units != m_out.units && !m_out.moves.empty()) {
        what = "promjena jedinica ('" + code.word.text() + "') nakon prvog pomaka nije podrzana";
        return false;
    }
    m_out.units = units;
    return true;
}

bool Reader::run(const Block& block, int64_t line, std::string& what) {
    m_line = line;
    // In the order a controller executes a line's words, whatever order they were written in.
    if (block.has('F')) {
        if (block.value('F').value < 0.0) {
            what = "posmak ne moze biti negativan ('" + block.value('F').text() + "')";
            return false;
        }
        m_feed = block.value('F').value;
    }
    if (block.has('S') && block.value('S').value < 0.0) {
        what = "broj okretaja ne moze biti negativan ('" + block.value('S').text() + "')";
        return false;
    }
    if (block.has('T')) {
        const double t = block.value('T').value;
        if (t < 0.0 || t != std::floor(t) || t > kLargestTool) {
            what = "neispravan broj alata '" + block.value('T').text() + "'";
            return false;
        }
        m_selectedTool = static_cast<int32_t>(t);
    }
    if (block.code(Group::ToolChange).number >= 0) {
        m_tool = m_selectedTool;
    }
    if (const int32_t plane = block.code(Group::Plane).number; plane >= 0) {
        m_plane = plane == 170 ? Plane::XY : plane == 180 ? Plane::ZX : Plane::YZ;
    }
    if (block.code(Group::Units).number >= 0 && !setUnits(block.code(Group::Units), what)) {
        return false;
    }
    if (const int32_t distance = block.code(Group::Distance).number; distance >= 0) {
        m_incremental = distance == 910;
    }
    if (const int32_t arcDistance = block.code(Group::ArcDistance).number; arcDistance >= 0) {
        m_arcCentreIncremental = arcDistance == 911;
    }
    if (block.code(Group::CycleCancel).number >= 0) {
        m_motion = -1;  // G80 ends the motion mode; a motion code on its line starts another
    }
    if (block.code(Group::Dwell).number >= 0) {
        if (!dwell(block, what)) {
            return false;
        }
    } else {
        if (block.has('P')) {
            what = "rijec '" + block.value('P').text() + "' vrijedi samo uz G4";
            return false;
        }
        if (!motion(block, what)) {
            return false;
        }
    }
    const int32_t stop = block.code(Group::Stop).number;
    m_ended = stop == 2 || stop == 30;
    return true;
}

bool Reader::dwell(const Block& block, std::string& what) {
    if (block.code(Group::Motion).number >= 0) {
        what = "G4 ne moze biti u retku s naredbom kretanja '" +
               block.code(Group::Motion).word.text() + "'";
        return false;
    }
    for (const char letter : {'Y', 'Z', 'I', 'J', 'K', 'R'}) {
        if (block.has(letter)) {
            what = "G4 ne moze biti u retku s kretanjem ('" + block.value(letter).text() + "')";
            return false;
        }
    }
    if (block.has('P') && block.has('X')) {
        what = "G4 treba samo jedno vrijeme, P ili X";
        return false;
    }
    if (!block.has('P') && !block.has('X')) {
        what = "G4 bez vremena cekanja (P ili X)";
        return false;
    }
    const Word& time = block.has('P') ? block.value('P') : block.value('X');
    if (time.value < 0.0) {
        what = "vrijeme cekanja ne moze biti negativno ('" + time.text() + "')";
        return false;
    }
    return push(MoveKind::Dwell, m_position, time.value, what);
}

bool Reader::motion(const Block& block, std::string& what) {
    if (block.code(Group::Motion).number >= 0) {
        m_motion = block.code(Group::Motion).number;
    }
    const bool isArc = m_motion == 20 || m_motion == 30;
    const Word* first = nullptr;
    for (const char letter : {'X', 'Y', 'Z', 'I', 'J', 'K', 'R'}) {
        if (block.has(letter)) {
            const bool arcWord = letter != 'X' && letter != 'Y' && letter != 'Z';
            if (arcWord && !isArc) {
                what = "rijec '" + block.value(letter).text() + "' vrijedi samo uz luk (G2, G3)";
                return false;
            }
            first = first ? first : &block.value(letter);
        }
    }
    if (!first) {
        return true;  // modes, feed, tool: no move
    }
    if (m_motion < 0) {
        what = "rijec '" + first->text() + "' bez naredbe kretanja (G0, G1, G2 ili G3)";
        return false;
    }
    Position end = m_position;
    const auto axis = [&](char letter, double& coordinate) {
        if (block.has(letter)) {
            coordinate =
                m_incremental ? coordinate + block.value(letter).value : block.value(letter).value;
        }
    };
    axis('X', end.x);
    axis('Y', end.y);
    axis('Z', end.z);
    if (!isArc) {
        return push(m_motion == 0 ? MoveKind::Rapid : MoveKind::Feed, end, 0.0, what);
    }
    return arc(block, end, what);
}

bool Reader::arc(const Block& block, const Position& end, std::string& what) {
    const bool centre = block.has('I') || block.has('J') || block.has('K');
    if (centre && block.has('R')) {
        what = "luk ne moze imati i R i srediste (I, J, K)";
        return false;
    }
    if (!centre && !block.has('R')) {
        what = "luk bez sredista (I, J, K) ili polumjera (R)";
        return false;
    }
    // The plane's two axes and the words that give the centre along them.
    static constexpr char kPlaneWords[3][3] = {{'I', 'J', 'K'}, {'K', 'I', 'J'}, {'J', 'K', 'I'}};
    static constexpr const char* kPlaneNames[3] = {"G17", "G18", "G19"};
    const auto plane = static_cast<size_t>(m_plane);
    const char wordA = kPlaneWords[plane][0];
    const char wordB = kPlaneWords[plane][1];
    const char across = kPlaneWords[plane][2];
    if (block.has(across)) {
        what = "rijec '" + block.value(across).text() + "' ne vrijedi za luk u ravnini " +
               kPlaneNames[plane];
        return false;
    }

    ArcRequest request;
    request.start = m_position;
    request.end = end;
    request.plane = m_plane;
    request.clockwise = m_motion == 20;
    request.slackRelative = kArcSlackRelative;
    request.slackAbsolute = m_out.units == Units::Inch ? kArcSlackInches : kArcSlackMillimetres;
    if (block.has('R')) {
        request.byRadius = true;
        request.radius = block.value('R').value;
    } else {
        const auto along = [&](char letter) {
            const double start = letter == 'I'   ? m_position.x
                                 : letter == 'J' ? m_position.y
                                                 : m_position.z;
            const double value = block.has(letter) ? block.value(letter).value : 0.0;
            return m_arcCentreIncremental ? start + value : value;
        };
        request.centreA = along(wordA);
        request.centreB = along(wordB);
    }

    ArcPlan plan;
    switch (planArc(request, m_options.arcTolerance, plan)) {
        case ArcFault::None:
            break;
        case ArcFault::ZeroRadius:
            what = "luk polumjera 0";
            return false;
        case ArcFault::RadiusMismatch:
            what = "pocetak i kraj luka nisu jednako udaljeni od sredista (" +
                   formatNumber(plan.startRadius) + " i " + formatNumber(plan.endRadius) + ")";
            return false;
        case ArcFault::RadiusTooSmall:
            what = "polumjer '" + block.value('R').text() + "' je premalen za krajnje tocke luka";
            return false;
        case ArcFault::RadiusFullCircle:
            what = "luk zadan polumjerom ('" + block.value('R').text() +
                   "') ne moze biti puna kruznica";
            return false;
    }
    const double room = static_cast<double>(m_options.maxMoves - m_out.moves.size());
    if (!(plan.chords <= room)) {
        what = "luk bi trebao " + formatNumber(plan.chords) +
               " tetiva, previse za program (najvise " + std::to_string(m_options.maxMoves) +
               " pomaka); povecajte toleranciju luka";
        return false;
    }
    const auto chords = static_cast<int64_t>(plan.chords);
    for (int64_t k = 1; k <= chords; ++k) {
        if (!push(MoveKind::Feed, chordEnd(request, plan, k), 0.0, what)) {
            return false;
        }
    }
    return true;
}

Status parse(std::string_view text, const std::string& path, const ReadGcodeOptions& options,
             Program& out) {
    Reader reader(options, out);
    Block block;
    std::string what;
    const char* p = text.data();
    const char* const end = p + text.size();
    for (int64_t line = 1; p < end && !reader.ended(); ++line) {
        // A line ends at LF, CR LF or a lone CR.
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r') {
            ++lineEnd;
        }
        const std::string_view lineText(p, static_cast<size_t>(lineEnd - p));
        if (!parseBlock(lineText, block, what) || !reader.run(block, line, what)) {
            return Status::failure(readError(path, "redak " + std::to_string(line), what));
        }
        p = lineEnd;
        if (p < end && *p == '\r') {
            ++p;
            if (p < end && *p == '\n') {
                ++p;
            }
        } else if (p < end) {
            ++p;
        }
    }
    return {};
}

}  // namespace

Status readGcode(const std::string& path, Program& target, const ReadGcodeOptions& options) {
    // The size first, so that a file too large is refused before it is read.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) > options.maxBytes) {
        return Status::failure("Datoteka " + path + " je prevelika za G-kod (najvise " +
                               std::to_string(options.maxBytes) + " bajtova)");
    }
    std::string bytes;
    if (Status s = readFileBytes(path, bytes); !s) {
        return s;
    }
    return readGcodeText(bytes, path, target, options);
}

Status readGcodeText(std::string_view text, const std::string& path, Program& target,
                     const ReadGcodeOptions& options) {
    if (!(options.arcTolerance > 0.0) || !std::isfinite(options.arcTolerance)) {
        return Status::failure("Tolerancija luka mora biti pozitivan broj");
    }
    if (text.size() > options.maxBytes) {
        return Status::failure("Datoteka " + path + " je prevelika za G-kod (najvise " +
                               std::to_string(options.maxBytes) + " bajtova)");
    }
    try {
        // A UTF-8 byte-order mark is no part of the first line.
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        }
        Program program;
        if (Status s = parse(text, path, options, program); !s) {
            return s;
        }
        target = std::move(program);
        return {};
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
}

}  // namespace korvan::gcode
