// cnc: a G-code program run against a stock, the part written, the job reported, and frames of
// the run drawn as mill draws them.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/render_options.h"
#include "cli/view_options.h"
#include "formats/mesh_file.h"
#include "gcode/machining.h"
#include "gcode/program.h"
#include "gcode/tools.h"
#include "image/image.h"
#include "scene/scene.h"
#include "viewer/camera.h"
#include "viewer/headless_context.h"
#include "viewer/headless_frames.h"

namespace korvan::cli {
namespace {

struct CncArguments {
    std::string program;
    std::string stock;
    std::string tool;
    std::string shank;
    std::string toolTable;
    std::string output;
    double arcTolerance = 0.01;
    double rapidRate = 5000.0;
    bool json = false;
    bool ascii = false;
    bool exactPart = false;
    int threads = 0;
    // Frames: one every `framesEvery` moves, none when 0.
    int framesEvery = 0;
    std::string base;
    std::string format = "BMP";
    int width = 640;
    int height = 480;
    ViewOptions viewOptions;
};

// A stock file is read in its own coordinates: the program's units.
ReadOptions keepCoordinates() {
    ReadOptions options;
    options.keepCoordinates = true;
    return options;
}

// The program, the tools and the stock, or the reason on stderr.
bool prepareJob(const CncArguments& args, gcode::Program& program, gcode::ToolChoice& tools,
                Solid& stock) {
    Status s;
    if (!(args.arcTolerance > 0.0) || !(args.arcTolerance <= 1e6)) {
        s = Status::failure("Tolerancija luka mora biti pozitivan broj do 1e6");
    } else if (!(args.rapidRate > 0.0) || !(args.rapidRate <= 1e9)) {
        s = Status::failure("Brzina brzog hoda mora biti pozitivan broj do 1e9");
    }
    if (s && !args.tool.empty()) {
        gcode::ToolSpec spec;
        s = gcode::parseTool(args.tool, spec);
        tools.fixed = spec;
    }
    if (s && !args.shank.empty()) {
        gcode::ShankSpec shank;
        s = gcode::parseShank(args.shank, shank);
        tools.shank = shank;
    }
    if (s && !args.toolTable.empty()) {
        s = gcode::readToolTable(args.toolTable, tools.table);
    }
    if (s && args.tool.empty() && args.toolTable.empty()) {
        s = Status::failure("Alat nije zadan: --tool ili --tools");
    }
    if (s) {
        gcode::ReadGcodeOptions options;
        options.arcTolerance = args.arcTolerance;
        s = gcode::readGcode(args.program, program, options);
    }
    if (s) {
        s = args.stock.rfind("box:", 0) == 0
                ? gcode::parseBoxStock(std::string_view(args.stock).substr(4), stock)
                : readMesh(args.stock, stock, keepCoordinates());
    }
    if (!s) {
        printError(s);
    }
    return s.ok();
}

// The run's lines on stderr ("Redak 120/4300" a few times a second) and its frames.
class CncObserver final : public gcode::MachiningObserver {
public:
    CncObserver(int64_t lastLine, const CncArguments& args) : m_lastLine(lastLine), m_args(args) {}

    // The frames' scene, camera and context; false (with the reason on stderr) when there is
    // no context to draw in.
    bool startFrames(const Solid& stock, LineReporter& reporter) {
        m_scene = std::make_unique<Scene>(&reporter);
        m_scene->m_keepCoordinates = true;
        m_scene->m_object1.copyMeshFrom(stock);
        placeCameraForObject(m_view, m_scene->m_object1, kNearAfterReading, true);
        applyViewOptions(m_args.viewOptions, m_view, *m_scene);
        if (Status s = HeadlessContext::create(m_args.width, m_args.height, m_context); !s) {
            printError("Nije moguce crtati bez prozora: " + s.message());
            return false;
        }
        m_sink = std::make_unique<Sink>(*m_context, m_view, m_written);
        return true;
    }

    void moveDone(const gcode::MoveDone& done) override {
        const auto now = std::chrono::steady_clock::now();
        const bool last = done.index + 1 == done.count;
        if (last || now - m_told > std::chrono::milliseconds(250)) {
            std::fprintf(stderr, "Redak %lld/%lld\n", static_cast<long long>(done.move.line),
                         static_cast<long long>(m_lastLine));
            std::fflush(stderr);
            m_told = now;
        }
        if (m_sink && (done.index + 1) % static_cast<size_t>(m_args.framesEvery) == 0) {
            m_scene->m_object1.copyMeshFrom(done.workpiece);
            if (!m_sink->DrawAndSaveFrame(*m_scene, m_frames, m_args.base, m_args.format)) {
                ++m_notWritten;
            }
            ++m_frames;
        }
    }

    bool stopRequested() override { return interrupted(); }

    // Waits for the frames being written; how many could not be.
    int32_t finishFrames() {
        if (!m_sink) {
            return 0;
        }
        m_notWritten += m_sink->FinishFrames();
        m_sink.reset();
        return m_notWritten;
    }

    const std::vector<std::string>& written() const { return m_written; }
    int32_t frames() const { return m_frames; }

private:
    // One line per frame once its file is written (or not), in frame order.
    class Sink final : public HeadlessFrameSink {
    public:
        Sink(HeadlessContext& context, ViewState& view, std::vector<std::string>& written)
            : HeadlessFrameSink(context, view), m_written(written) {}

    protected:
        void frameFinished(const FrameOutcome& outcome) override {
            std::fprintf(stderr, "Slika %d: %s%s\n", outcome.number + 1, outcome.fileName.c_str(),
                         outcome.status ? "" : " - nije zapisana");
            std::fflush(stderr);
            if (outcome.status) {
                m_written.push_back(outcome.fileName);
            }
        }

    private:
        std::vector<std::string>& m_written;
    };

    int64_t m_lastLine;
    const CncArguments& m_args;
    std::chrono::steady_clock::time_point m_told{};
    std::unique_ptr<Scene> m_scene;
    ViewState m_view;
    std::unique_ptr<HeadlessContext> m_context;
    std::unique_ptr<Sink> m_sink;
    std::vector<std::string> m_written;
    int32_t m_frames = 0;
    int32_t m_notWritten = 0;
};

const char* kindName(gcode::CollisionKind kind) {
    return kind == gcode::CollisionKind::Rapid ? "rapid" : "shank";
}

void printJson(const gcode::MachiningReport& r, const Solid& part, double seconds,
               const std::string& output) {
    JsonObject out;
    out.add("moves", r.moves)
        .add("feed_moves", r.feedMoves)
        .add("rapid_moves", r.rapidMoves)
        .add("cuts", r.cuts)
        .add("shifted_moves", r.shiftedMoves)
        .add("touching_moves", r.touchingMoves)
        .add("merged_faces", r.mergedFaces)
        .add("dropped_corners", r.droppedCorners)
        .add("removed_volume", r.removedVolume)
        .add("volume", r.volume)
        .add("stock_volume", r.stockVolume)
        .add("machining_seconds", r.machiningSeconds)
        .add("triangles", int64_t{part.triangleCount()})
        .add("vertices", int64_t{part.vertexCount()})
        .add("seconds", seconds)
        .add("output", output);
    // The object writer is flat: the list of collisions goes in before its closing brace.
    std::string collisions;
    for (const gcode::Collision& c : r.collisions) {
        JsonObject one;
        one.add("line", c.line).add("kind", kindName(c.kind)).add("volume", c.volume);
        collisions += (collisions.empty() ? "" : ", ") + one.str();
    }
    std::string text = out.str();
    text.insert(text.size() - 1, ", \"collisions\": [" + collisions + "]");
    std::printf("%s\n", text.c_str());
}

void printSummary(const gcode::MachiningReport& r, double seconds) {
    std::printf("Pomaka: %lld (posmak %lld, brzi hod %lld), rezova: %lld\n",
                static_cast<long long>(r.moves), static_cast<long long>(r.feedMoves),
                static_cast<long long>(r.rapidMoves), static_cast<long long>(r.cuts));
    for (const gcode::Collision& c : r.collisions) {
        std::printf("Kolizija u retku %lld: %s, volumen %.6g\n", static_cast<long long>(c.line),
                    c.kind == gcode::CollisionKind::Rapid ? "brzi hod kroz materijal"
                                                          : "drska dotice materijal",
                    c.volume);
    }
    std::printf("Kolizija: %zu\n", r.collisions.size());
    std::printf("Uklonjeni volumen: %.6f\n", r.removedVolume);
    std::printf("Preostali volumen: %.6f\n", r.volume);
    std::printf("Vrijeme obrade: %.1f s\n", r.machiningSeconds);
    std::printf("Vrijeme obavljanja operacije: %6.3lf s\n", seconds);
}

// Frames written by a run that failed are removed again, as mill removes its own.
int failRun(CncObserver& observer) {
    observer.finishFrames();
    return removeFramesOfFailedRun(observer.written());
}

int runCnc(const CncArguments& args) {
    if (args.framesEvery > 0) {
        if (Status s = checkFramesFolder(args.base); !s) {
            printError(s);
            return 1;
        }
    }
    gcode::Program program;
    gcode::ToolChoice tools;
    Solid part;
    std::fprintf(stderr, "Citanje programa %s\n", args.program.c_str());
    if (!prepareJob(args, program, tools, part)) {
        return 1;
    }
    if (stopIfInterrupted()) {
        return interruptExitCode();
    }
    LineReporter reporter;
    reporter.quietPhases = reporter.quietMessages = true;
    CncObserver observer(program.moves.empty() ? 0 : program.moves.back().line, args);
    if (args.framesEvery > 0 && !observer.startFrames(part, reporter)) {
        return 1;
    }
    gcode::MachiningOptions options;
    options.tolerance = args.arcTolerance;
    options.rapidRate = args.rapidRate;
    options.threads = args.threads;
    options.exactPart = args.exactPart;
    gcode::MachiningReport report;
    const auto t0 = std::chrono::steady_clock::now();
    const Status s = gcode::machineProgram(program, tools, options, part, report, &observer);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const int32_t notWritten = observer.finishFrames();
    if (!s) {
        printError(s);
        return failRun(observer);
    }
    if (notWritten > 0 && !(report.stopped || interrupted())) {
        std::fprintf(stderr, "Nije zapisano slika: %d od %d\n", notWritten, observer.frames());
        return failRun(observer);
    }
    // A stopped run keeps the frames it finished; the part is not written.
    if (report.stopped || stopIfInterrupted()) {
        stopIfInterrupted();
        std::fprintf(stderr, "Obrada prekinuta nakon retka %lld\n",
                     static_cast<long long>(report.lastLine));
        return interruptExitCode();
    }
    // The report first: one that cannot be written fails the run before the part is written.
    if (args.json) {
        printJson(report, part, seconds, args.output);
    } else {
        printSummary(report, seconds);
        if (!args.output.empty()) {
            std::printf("Spremljeno u %s\n", args.output.c_str());
        }
    }
    if (!flushStandardOutput()) {
        return failRun(observer);
    }
    if (args.output.empty()) {
        return 0;
    }
    const int status =
        exitStatusOfLastWrite(writeMesh(part, args.output, WriteOptions{args.ascii}));
    return status == 1 ? removeFramesOfFailedRun(observer.written()) : status;
}

}  // namespace

void registerCncCommand(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("cnc", "Simulacija glodanja po G-kodu: obradak iz sirovca");
    auto args = std::make_shared<CncArguments>();
    cmd->add_option("PROGRAM", args->program, "Program u G-kodu")->required();
    cmd->add_option("--stock", args->stock,
                    "Sirovac: box:X0,Y0,Z0,X1,Y1,Z1 ili datoteka mreze u svojim koordinatama")
        ->required();
    cmd->add_option("--tool", args->tool, "Alat: flat:D,L | ball:D,L | bull:D,R,L | drill:D,KUT,L");
    cmd->add_option("--shank", args->shank, "Drska iznad rezne duljine (ne reze)")
        ->type_name("D,L");
    cmd->add_option("--tools", args->toolTable, "Tablica alata za T i M6 (\"T1 flat 6 20\")")
        ->type_name("DATOTEKA");
    cmd->add_option("--arc-tolerance", args->arcTolerance,
                    "Najveca udaljenost tetiva od luka, tolerancija alata i najkraci pomak")
        ->default_str("0.01");
    cmd->add_option("--rapid-rate", args->rapidRate, "Brzina brzog hoda (G0), jedinica/min")
        ->default_str("5000");
    cmd->add_option("-o,--output", args->output, "Obradak; format po nastavku imena");
    addAsciiOption(*cmd, args->ascii);
    cmd->add_flag("--json", args->json, "Ispis kao jedan JSON objekt");
    cmd->add_flag("--exact-part", args->exactPart,
                  "Zadrzi svaki kut koji rezovi ostave (sporije; inace se kutovi koje okrece samo "
                  "zaokruzivanje uklanjaju)");
    addThreadsOption(*cmd, args->threads);
    auto* every = cmd->add_option("--frames-every", args->framesEvery,
                                  "Slika nakon svakih N pomaka (1 do 1000000)")
                      ->check(CLI::Range(1, 1000000));
    auto* base = cmd->add_option("--out", args->base, "Osnova imena slika");
    every->needs(base);
    base->needs(every);
    cmd->add_option("--format", args->format, "Format slika")
        ->check(
            CLI::IsMember(std::vector<std::string>{"BMP", "GIF", "JPG", "PNG"}, CLI::ignore_case))
        ->default_str("BMP");
    cmd->add_option_function<std::string>(
           "--size",
           [args](const std::string& text) {
               if (!parseSize(text, args->width, args->height)) {
                   throw CLI::ValidationError("--size", "ocekuje se SxV, npr. 640x480: " + text);
               }
           },
           "Velicina slika")
        ->default_str("640x480");
    addViewOptions(*cmd, args->viewOptions);
    cmd->callback([args, &exitCode] { exitCode = runCnc(*args); });
}

}  // namespace korvan::cli
