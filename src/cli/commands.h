// The subcommands of korvan-cli and what they share. Each command registers itself on the
// application and stores its exit status (0 done, 1 input could not be used) in `exitCode`.
#pragma once

#include <string>
#include <vector>

#include "geometry/status.h"
#include "scene/progress.h"
#include "scene/scene.h"
#include "viewer/view_state.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace korvan::cli {

void registerInfoCommand(CLI::App& app, int& exitCode);
void registerConvertCommand(CLI::App& app, int& exitCode);
void registerDemoCommand(CLI::App& app, int& exitCode);
// union, intersection and difference.
void registerBooleanCommands(CLI::App& app, int& exitCode);
// render and mill: pictures of the scene without a display.
void registerRenderCommands(CLI::App& app, int& exitCode);
// cnc: a G-code program milled out of a stock, the part written.
void registerCncCommand(CLI::App& app, int& exitCode);
// The demo's milling run: a few frames in the current folder; skipped with a note on stderr
// where no GL context can be had.
int runDemoMilling();

// What mill and cnc share about frames: a failed run removes the frames it wrote (the names
// in `written`), tells the user and returns 1; the frames' folder must take new files before
// the first frame is computed.
int removeFramesOfFailedRun(const std::vector<std::string>& written);
Status checkFramesFolder(const std::string& baseName);

// Adds --sampling F (default 0.01), read as every number is, stored in `factor`.
void addSamplingOption(CLI::App& command, float& factor);
// Tells the user on stderr when `factor` switches edge sampling off: the operation will then
// cut no triangle.
void warnIfSamplingIsOff(float factor);
// Adds --threads N (at least 1; default, 0: every core), stored in `threads`.
void addThreadsOption(CLI::App& command, int& threads);
// Adds --closed: the closed-result engine ("Zatvoreni rezultat") instead of the octree engine.
void addClosedOption(CLI::App& command, bool& closed);
// Adds --keep-coordinates: files keep their own units and frame instead of being centred and
// scaled into the unit box; primitives are made at their size about the origin as ever.
void addKeepCoordinatesOption(CLI::App& command, bool& keep);
// Adds --ascii: an STL or PLY output is written as text instead of binary.
void addAsciiOption(CLI::App& command, bool& ascii);
// Adds --offset X,Y,Z, stored in `offset`; each coordinate finite and within +-1e6.
CLI::Option* addOffsetOption(CLI::App& command, Vector4& offset, const std::string& description);

// Prints a message for the user on stderr; a failure's detail (which file, the system's
// reason) follows on the next line.
void printError(const std::string& message);
void printError(const Status& status);

// Hands what is buffered for standard output to the system. False, with the reason on stderr,
// when it could not be written (a full disk, a closed pipe). Commands call it before they put
// an output file in place, so that a report that cannot be written leaves the files unwritten.
bool flushStandardOutput();

// The exit status of a command whose last step (an operation, a write) ended with `s`: 0 on
// success; 128 + the signal where a stop cut the step short ("Prekinuto"); otherwise 1, with
// the message.
int exitStatusOf(const Status& s);
// The same for the write that puts the command's last output in place; once it has succeeded,
// a signal stops nothing more.
int exitStatusOfLastWrite(const Status& s);

// The scene's phases on stderr as they happen, its messages (the time of an operation) on
// stdout; each kind can be silenced.
class LineReporter final : public ProgressReporter {
public:
    void ShowProgressPopup(const std::string& text) override { SetProgressText(text); }
    void SetProgressText(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    // Ctrl+C and SIGTERM stop an operation inside its phase.
    const std::atomic<bool>* StopFlag() const override;
    bool StopRequested() const override;
    bool quietPhases = false;
    bool quietMessages = false;
};

// Reads or generates the source (a mesh file's path or a primitive such as "sphere:M,N,R") into
// object 1 or 2 of the scene, as the open and generate commands do. For object 1 the camera of
// `view`, when given, is then placed as the desktop view places it.
Status loadSceneObject(Scene& scene, const std::string& source, int32_t objectNumber,
                       ViewState* view = nullptr);

// Object 1 from `source1` and, unless `source2` is empty, object 2; says why on stderr when
// one cannot be used (and nothing where a signal stopped the load).
bool loadOperands(Scene& scene, const std::string& source1, const std::string& source2,
                  ViewState* view = nullptr);
// The exit status of a command whose operands could not be loaded: 128 + the signal where one
// stopped the load ("Prekinuto"), else 1.
int loadFailure();

}  // namespace korvan::cli
