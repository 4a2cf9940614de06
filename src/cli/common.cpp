// What the commands share: options, reporting, loading the operands.
#include <tbb/parallel_invoke.h>
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/mesh_source.h"
#include "geometry/mesh_defects.h"
#include "geometry/mesh_topology.h"
#include "geometry/numbers.h"
#include "geometry/thread_arena.h"
#include "scene/animation.h"
#include "viewer/camera.h"

namespace korvan::cli {

void printError(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
}

void printError(const Status& status) {
    printError(status.message());
    if (!status.detail().empty()) {
        printError(status.detail());
    }
}

bool flushStandardOutput() {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
        return true;
    }
    std::fprintf(stderr, "Greska kod pisanja na standardni izlaz: %s\n", std::strerror(errno));
    return false;
}

int exitStatusOf(const Status& s) {
    if (s) {
        return 0;
    }
    if (stopIfInterrupted()) {
        return interruptExitCode();
    }
    printError(s);
    return 1;
}

int exitStatusOfLastWrite(const Status& s) {
    if (s) {
        outputsInPlace();
    }
    return exitStatusOf(s);
}

void addSamplingOption(CLI::App& command, float& factor) {
    command
        .add_option_function<std::string>(
            "--sampling",
            [&factor](const std::string& text) {
                const std::optional<float> value = parseFloat(text);
                if (!value) {
                    throw CLI::ValidationError("--sampling", "nije broj: " + text);
                }
                factor = *value;
            },
            "Faktor uzorkovanja rubova (0 < F < 1 ukljucuje uzorkovanje)")
        ->default_str("0.01");
}

void warnIfSamplingIsOff(float factor) {
    if (!(factor > 0.0f && factor < 1.0f)) {
        std::fprintf(stderr,
                     "Upozorenje: faktor uzorkovanja %g iskljucuje uzorkovanje rubova; operacija "
                     "nece rezati trokute\n",
                     static_cast<double>(factor));
    }
}

void addThreadsOption(CLI::App& command, int& threads) {
    command.add_option("--threads", threads, "Broj dretvi (rezultat ne ovisi o njemu)")
        ->check(CLI::Range(1, 4096))
        ->default_str("sve jezgre");
}

void addClosedOption(CLI::App& command, bool& closed) {
    command.add_flag("--closed", closed,
                     "Zatvoreni rezultat: tocni presjeci, zatvoreno tijelo (trazi zatvorena "
                     "tijela)");
}

void addKeepCoordinatesOption(CLI::App& command, bool& keep) {
    command.add_flag("--keep-coordinates", keep,
                     "Zadrzi koordinate datoteka: bez centriranja i skaliranja u jedinicnu kocku");
}

void addAsciiOption(CLI::App& command, bool& ascii) {
    command.add_flag("--ascii", ascii, "STL i PLY izlaz kao tekst umjesto binarnog zapisa");
}

CLI::Option* addOffsetOption(CLI::App& command, Vector4& offset, const std::string& description) {
    return command
        .add_option_function<std::string>(
            "--offset",
            [&offset](const std::string& text) {
                Vector4 v;
                if (!parseVector(text, v)) {
                    throw CLI::ValidationError("--offset", "ocekuje se X,Y,Z: " + text);
                }
                if (!withinMotionLimit(v.x) || !withinMotionLimit(v.y) || !withinMotionLimit(v.z)) {
                    throw CLI::ValidationError("--offset", "pomak je izvan +-1e6: " + text);
                }
                offset = v;
            },
            description)
        ->default_str("0,0,0");
}

void LineReporter::SetProgressText(const std::string& text) {
    if (!quietPhases) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
}

void LineReporter::ShowMessage(const std::string& text) {
    if (!quietMessages) {
        std::printf("%s\n", text.c_str());
    }
}

const std::atomic<bool>* LineReporter::StopFlag() const {
    return &stopFlag();
}

bool LineReporter::StopRequested() const {
    return interrupted();
}

namespace {

// The scene's source for `text`: a primitive where the text names one, else a mesh file; the
// refusal where it names a primitive wrongly.
Status sourceOf(const std::string& text, Scene::ObjectSource& source) {
    PrimitiveParameters params;
    const auto parsed = parsePrimitive(text, params);
    if (parsed && !*parsed) {
        return *parsed;
    }
    source.path = text;
    source.primitive.reset();
    if (parsed) {
        source.primitive = params;
    }
    return {};
}

// Object 1's camera, as the desktop view places it after a load or a generation.
void placeCamera(ViewState* view, const Scene& scene, const Scene::ObjectSource& source) {
    if (view != nullptr) {
        placeCameraForObject(*view, scene.m_object1,
                             source.primitive ? kNearAfterGenerating : kNearAfterReading,
                             scene.m_keepCoordinates);
    }
}

// What a user should know about a mesh that is not a clean solid, as told on stderr; empty for
// a clean one.
std::string defectsText(const Solid& solid, int32_t objectNumber) {
    const std::string defects = describeDefects(analyzeTopology(solid));
    return defects.empty() ? defects : "Objekt " + std::to_string(objectNumber) + ":\n" + defects;
}

}  // namespace

Status loadSceneObject(Scene& scene, const std::string& source, int32_t objectNumber,
                       ViewState* view) {
    Scene::ObjectSource from;
    if (Status s = sourceOf(source, from); !s) {
        return s;
    }
    Status s = from.primitive ? scene.GenerateObject(objectNumber, *from.primitive)
                              : scene.LoadObject(objectNumber, source);
    if (s && objectNumber == 1) {
        placeCamera(view, scene, from);
    }
    return s;
}

bool loadOperands(Scene& scene, const std::string& source1, const std::string& source2,
                  ViewState* view) {
    if (source2.empty()) {
        Status s = loadSceneObject(scene, source1, 1, view);
        if (s) {
            std::fputs(defectsText(scene.m_object1, 1).c_str(), stderr);
        } else if (!interrupted()) {
            printError(s);
        }
        return s.ok();
    }
    Scene::ObjectSource sources[2];
    for (int k = 0; k < 2; ++k) {
        if (Status s = sourceOf(k == 0 ? source1 : source2, sources[k]); !s) {
            printError(s);
            return false;
        }
    }
    Status status[2];
    scene.MakeObjects(sources, status);
    // Object 1's failure is told first, as if the two had been read in turn.
    const Status& s = !status[0] ? status[0] : status[1];
    if (!s) {
        if (!interrupted()) {
            printError(s);
        }
        return false;
    }
    placeCamera(view, scene, sources[0]);
    // Each operand's defects found at once, told in order.
    std::string defects[2];
    ThreadArena().run(scene.m_threads, [&] {
        tbb::parallel_invoke([&] { defects[0] = defectsText(scene.m_object1, 1); },
                             [&] { defects[1] = defectsText(scene.m_object2, 2); });
    });
    std::fputs((defects[0] + defects[1]).c_str(), stderr);
    return true;
}

int loadFailure() {
    return stopIfInterrupted() ? interruptExitCode() : 1;
}

}  // namespace korvan::cli
