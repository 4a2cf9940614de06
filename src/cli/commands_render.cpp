// render and mill: the scene drawn without a display, as a picture or as milling frames.
#include <CLI/CLI.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/render_options.h"
#include "cli/view_options.h"
#include "formats/mesh_file.h"
#include "image/image.h"
#include "meshio/obj.h"
#include "scene/animation.h"
#include "scene/scene.h"
#include "viewer/headless_context.h"
#include "viewer/headless_frames.h"
#include "viewer/view_state.h"

namespace korvan::cli {
namespace {

// What render and mill share: the operands, where object 2 starts and the picture's size.
struct SceneArguments {
    std::string source1;
    std::string source2;
    Vector4 offset;
    float samplingFactor = kDefaultSamplingFactor;
    int width = 640;
    int height = 480;
    int threads = 0;
    bool keepCoordinates = false;
    ViewOptions viewOptions;
};

struct RenderArguments : SceneArguments {
    std::string output;
    int cells = 0;
    bool wireframe = false;
    bool colored = false;
};

struct MillArguments : SceneArguments {
    std::string base;
    std::string format = "BMP";
    std::string finalObject;
    int frames = 0;
    bool preview = false;
    bool closed = false;
    bool sweep = false;
    bool ascii = false;
    AxisMotion x, y, z;
};

// Opens the context or says why there is none.
std::unique_ptr<HeadlessContext> openContext(int width, int height) {
    std::unique_ptr<HeadlessContext> context;
    if (Status s = HeadlessContext::create(width, height, context); !s) {
        printError("Nije moguce crtati bez prozora: " + s.message());
        return nullptr;
    }
    return context;
}

// The preamble of render and mill: both operands loaded, the camera placed, object 2 moved to
// its start and a context of the picture's size; null (with the reason on stderr) when any
// step fails.
std::unique_ptr<HeadlessContext> prepareScene(Scene& scene, ViewState& view,
                                              const SceneArguments& args) {
    scene.m_samplingFactor = args.samplingFactor;
    scene.m_threads = args.threads;
    scene.m_keepCoordinates = args.keepCoordinates;
    if (!loadOperands(scene, args.source1, args.source2, &view)) {
        return nullptr;
    }
    scene.m_object2Offset = args.offset;
    applyViewOptions(args.viewOptions, view, scene);
    return openContext(args.width, args.height);
}

int runRender(const RenderArguments& args) {
    LineReporter reporter;
    Scene scene(&reporter);
    ViewState view;
    const std::unique_ptr<HeadlessContext> context = prepareScene(scene, view, args);
    if (!context) {
        return loadFailure();
    }
    view.m_cellDisplayMode = args.cells;
    view.m_coloredMaterials = args.colored;
    scene.m_object1.wireframe = scene.m_object2.wireframe = args.wireframe ? 1 : 0;

    RgbImage picture;
    Status s;
    {
        HeadlessFrameSink sink(*context, view);
        s = sink.drawAndRead(scene, picture);
    }
    if (s && stopIfInterrupted()) {
        return interruptExitCode();
    }
    if (!s) {
        return exitStatusOf(s);
    }
    // The report first: one that cannot be written leaves the picture as it was.
    std::printf("Spremljeno u %s\n", args.output.c_str());
    if (!flushStandardOutput()) {
        return 1;
    }
    return exitStatusOfLastWrite(writeImage(picture, args.output));
}

// Prints one line per frame; Ctrl+C or SIGTERM ends the run after the current frame. The
// names of the files written go to `written`, when given.
class CliFrameSink final : public HeadlessFrameSink {
public:
    CliFrameSink(HeadlessContext& context, ViewState& view, int32_t frameCount,
                 std::vector<std::string>* written = nullptr)
        : HeadlessFrameSink(context, view), m_frameCount(frameCount), m_written(written) {}

    bool StopRequested() override { return interrupted(); }

protected:
    // One line per frame once its file is written (or not), in frame order.
    void frameFinished(const FrameOutcome& outcome) override {
        std::fprintf(stderr, "Slika %d/%d: %s%s\n", outcome.number + 1, m_frameCount,
                     outcome.fileName.c_str(), outcome.status ? "" : " - nije zapisana");
        std::fflush(stderr);
        if (outcome.status && m_written != nullptr) {
            m_written->push_back(outcome.fileName);
        }
    }

private:
    int32_t m_frameCount;
    std::vector<std::string>* m_written;
};

}  // namespace

// A failed run leaves nothing behind: the frames it wrote are removed again, and the user told.
int removeFramesOfFailedRun(const std::vector<std::string>& written) {
    int removed = 0;
    for (const std::string& name : written) {
        removed += ::unlink(name.c_str()) == 0 ? 1 : 0;
    }
    if (removed > 0) {
        std::fprintf(stderr, "Zapisane slike ove animacije su uklonjene (%d)\n", removed);
    }
    return 1;
}

// The folder the frames go to must take new files before the first frame is computed.
Status checkFramesFolder(const std::string& baseName) {
    const size_t slash = baseName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : baseName.substr(0, slash);
    struct stat st {};
    std::string reason;
    if (::stat(folder.c_str(), &st) != 0) {
        reason = std::strerror(errno);
    } else if (!S_ISDIR(st.st_mode)) {
        reason = "nije mapa";
    } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        reason = std::strerror(errno);
    }
    if (reason.empty()) {
        return {};
    }
    return Status::failure(kImageSaveErrorMessage, folder + ": " + reason);
}

namespace {

int runMill(const MillArguments& args) {
    if (Status s = checkFramesFolder(args.base); !s) {
        printError(s);
        return 1;
    }
    warnIfSamplingIsOff(args.samplingFactor);
    LineReporter reporter;
    Scene scene(&reporter);
    ViewState view;
    const std::unique_ptr<HeadlessContext> context = prepareScene(scene, view, args);
    if (!context) {
        return loadFailure();
    }
    if (stopIfInterrupted()) {
        return interruptExitCode();
    }
    scene.m_closedResult = args.closed;
    AnimationSettings settings;
    settings.preview = args.preview ? 1 : 0;
    settings.x = args.x;
    settings.y = args.y;
    settings.z = args.z;
    settings.outputFile = args.base;
    settings.format = args.format;
    settings.frameCount = args.frames;
    settings.sweep = args.sweep;

    // One line per frame instead of the phases and times of every operation.
    reporter.quietPhases = reporter.quietMessages = true;
    const auto t0 = std::chrono::steady_clock::now();
    AnimationResult result;
    std::vector<std::string> written;
    {
        CliFrameSink sink(*context, view, settings.frameCount, &written);
        result = RunAnimation(scene, settings, sink);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    reporter.quietPhases = reporter.quietMessages = false;

    // Ctrl+C during the last frame stops nothing, but it is still the user's stop.
    const bool stopped = result.stopped || interrupted();
    // A failed run changes nothing more: object 1 is not written. A frame whose file the
    // interrupt cut short is part of the stop, not a failure.
    bool failed = false;
    if (!result.status) {
        printError(result.status);
        failed = true;
    }
    if (result.framesNotWritten > 0) {
        std::fprintf(stderr, "Nije zapisano slika: %d od %d\n", result.framesNotWritten,
                     result.framesDone);
        failed = failed || !stopped;
    }
    if (stopped) {
        std::fprintf(stderr, "Animacija prekinuta nakon %d slika\n", result.framesDone);
    }
    std::printf("Animacija: %d slika, %.3f s (%.2f slika/s)\n", result.framesDone, seconds,
                seconds > 0 ? result.framesDone / seconds : 0.0);
    if (failed) {
        return removeFramesOfFailedRun(written);
    }
    // A stopped run keeps the frames it finished, and object 1 is not written.
    if (stopped) {
        return interruptExitCode();
    }
    // The report first: one that cannot be written fails the run before object 1 is written.
    if (!args.finalObject.empty()) {
        std::printf("Spremljeno u %s\n", args.finalObject.c_str());
    }
    if (!flushStandardOutput()) {
        return removeFramesOfFailedRun(written);
    }
    if (args.finalObject.empty()) {
        return 0;
    }
    const int status = exitStatusOfLastWrite(
        writeMesh(scene.m_object1, args.finalObject, WriteOptions{args.ascii}));
    return status == 1 ? removeFramesOfFailedRun(written) : status;
}

// Adds an option whose text is parsed by `parse`; a refused value is a usage error.
template <typename T, typename Parse>
CLI::Option* addParsed(CLI::App& cmd, const std::string& name, T& target, Parse parse,
                       const std::string& expected, const std::string& description) {
    return cmd.add_option_function<std::string>(
        name,
        [&target, parse, name, expected](const std::string& text) {
            if (!parse(text, target)) {
                throw CLI::ValidationError(name, "ocekuje se " + expected + ": " + text);
            }
        },
        description);
}

bool parseSceneSize(const std::string& text, SceneArguments& args) {
    return parseSize(text, args.width, args.height);
}

}  // namespace

int runDemoMilling() {
    LineReporter reporter;
    Scene scene(&reporter);
    ViewState view;
    if (!loadOperands(scene, "cube:1.5", "sphere:16,24,0.3", &view)) {
        return loadFailure();
    }
    std::unique_ptr<HeadlessContext> context;
    if (Status s = HeadlessContext::create(320, 240, context); !s) {
        std::fprintf(stderr, "Animacija preskocena (nema OpenGL konteksta): %s\n",
                     s.message().c_str());
        return 0;
    }
    // A groove along the cube's upper front edge, seen from the front in colour.
    AnimationSettings settings;
    settings.x.step = -0.3f;
    settings.outputFile = "demo-glodanje";
    settings.format = "BMP";
    settings.frameCount = 4;
    scene.m_object2Offset = Vector4(0.6f, 0.75f, 0.75f);
    view.m_coloredMaterials = true;
    reporter.quietPhases = reporter.quietMessages = true;
    AnimationResult result;
    {
        CliFrameSink sink(*context, view, settings.frameCount);
        result = RunAnimation(scene, settings, sink);
    }
    if (!result.status || result.framesNotWritten > 0) {
        printError(result.status ? kImageSaveErrorMessage : result.status.message());
        return 1;
    }
    std::printf("Glodanje: %d slika demo-glodanje0000.BMP ... demo-glodanje%04d.BMP\n",
                result.framesDone, result.framesDone - 1);
    return 0;
}

void registerRenderCommands(CLI::App& app, int& exitCode) {
    {
        auto* cmd = app.add_subcommand("render", "Crta scenu bez prozora i sprema sliku");
        auto args = std::make_shared<RenderArguments>();
        cmd->add_option("SRC1", args->source1,
                        "Objekt 1: datoteka mreze (OBJ, STL, PLY, OFF, 3MF) ili primitiv")
            ->required();
        cmd->add_option("SRC2", args->source2, "Objekt 2: datoteka mreze ili primitiv");
        cmd->add_option("-o,--output", args->output, "Slika: .bmp, .gif, .jpg ili .png")
            ->required()
            ->check(CLI::Validator(
                [](std::string& name) {
                    return findImageEncoder(name) != nullptr
                               ? std::string()
                               : "nepoznat format slike (bmp, gif, jpg, png): " + name;
                },
                "IMAGE"));
        addParsed(*cmd, "--size", static_cast<SceneArguments&>(*args), parseSceneSize,
                  "SxV, npr. 640x480", "Velicina slike")
            ->default_str("640x480");
        addOffsetOption(*cmd, args->offset, "Pomak objekta 2");
        addViewOptions(*cmd, args->viewOptions);
        const std::map<std::string, int> cellModes{{"none", 0},     {"inner", 1},    {"outer", 2},
                                                   {"boundary", 3}, {"unsorted", 4}, {"all", 5}};
        cmd->add_option("--cells", args->cells, "Prikaz celija oktalnog stabla")
            ->transform(CLI::CheckedTransformer(cellModes))
            ->default_str("none");
        cmd->add_flag("--wireframe", args->wireframe, "Zicani prikaz");
        cmd->add_flag("--colored", args->colored, "Obojani materijali");
        addSamplingOption(*cmd, args->samplingFactor);
        addKeepCoordinatesOption(*cmd, args->keepCoordinates);
        addThreadsOption(*cmd, args->threads);
        cmd->callback([args, &exitCode] { exitCode = runRender(*args); });
    }
    {
        auto* cmd = app.add_subcommand("mill", "Animacija - simulacija glodanja");
        auto args = std::make_shared<MillArguments>();
        cmd->add_option("SRC1", args->source1, "Obradak (objekt 1)")->required();
        cmd->add_option("SRC2", args->source2, "Alat (objekt 2)")->required();
        cmd->add_option("--frames", args->frames, "Broj slika (1 do 1000)")
            ->required()
            ->check(CLI::Range(1, 1000));
        cmd->add_option("--out", args->base, "Izlazna datoteka (osnova imena slika)")->required();
        cmd->add_option("--format", args->format, "Format zapisa")
            ->check(CLI::IsMember(std::vector<std::string>{"BMP", "GIF", "JPG", "PNG"},
                                  CLI::ignore_case))
            ->default_str("BMP");
        cmd->add_flag("--preview", args->preview, "PREDPOGLED: objekt 1 ostaje nepromijenjen");
        for (auto [name, motion] :
             {std::pair{"--x", &args->x}, std::pair{"--y", &args->y}, std::pair{"--z", &args->z}}) {
            addParsed(*cmd, name, *motion, parseMotion, "lin:KORAK ili sin:AMPLITUDA,KUT,INKREMENT",
                      "Pomak po osi: linearno ili sinusno");
        }
        addOffsetOption(*cmd, args->offset, "Pocetni polozaj objekta 2");
        addViewOptions(*cmd, args->viewOptions);
        addParsed(*cmd, "--size", static_cast<SceneArguments&>(*args), parseSceneSize,
                  "SxV, npr. 640x480", "Velicina slika")
            ->default_str("640x480");
        cmd->add_option("-o,--output", args->finalObject,
                        "Objekt 1 nakon animacije; format po nastavku imena");
        addAsciiOption(*cmd, args->ascii);
        addSamplingOption(*cmd, args->samplingFactor);
        addKeepCoordinatesOption(*cmd, args->keepCoordinates);
        addThreadsOption(*cmd, args->threads);
        addClosedOption(*cmd, args->closed);
        cmd->add_flag("--sweep", args->sweep,
                      "Rezanje duz putanje: alat (konveksan) reze ravno od slike do slike "
                      "(trazi --closed)");
        cmd->callback([args, &exitCode] { exitCode = runMill(*args); });
    }
}

}  // namespace korvan::cli
