// info, convert and demo: one object in, its statistics or its prepared mesh out.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/mesh_source.h"
#include "generator/generators.h"
#include "geometry/statistics.h"
#include "meshio/edge_sampling.h"
#include "meshio/load.h"
#include "meshio/obj.h"
#include "scene/scene.h"

namespace korvan::cli {
namespace {

// Phases and messages of the scene as lines: phases on stderr, messages on stdout.
class StderrReporter final : public ProgressReporter {
public:
    void ShowProgressPopup(const std::string& text) override { SetProgressText(text); }
    void SetProgressText(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void ShowMessage(const std::string& text) override { std::printf("%s\n", text.c_str()); }
};

int runInfo(const std::string& source, bool json) {
    Solid object1;
    if (Status s = loadSource(source, 1, object1); !s) {
        printError(s.message());
        return 1;
    }
    if (json) {
        JsonObject out;
        out.add("vertices", int64_t{object1.vertexCount()})
            .add("triangles", int64_t{object1.triangleCount()})
            .add("edge_limit", object1.edgeLimit)
            .add("sampling_factor", g_samplingFactor)
            .add("min_corner", object1.minCorner)
            .add("max_corner", object1.maxCorner);
        std::printf("%s\n", out.str().c_str());
    } else {
        std::printf("%s", objectStatistics(object1, Solid(), "\n").c_str());
    }
    return 0;
}

// The report of the open and generate commands.
void printReport(bool generated, const Solid& solid) {
    std::printf("%s:\n%d tokuta,  %d vrhova\n",
                generated ? "Generirano tijelo" : "Procitano i uzorkovano tijelo",
                solid.triangleCount(), solid.vertexCount());
}

int runConvert(const std::string& source, const std::string& output) {
    Solid object1;
    if (Status s = loadSource(source, 1, object1); !s) {
        printError(s.message());
        return 1;
    }
    if (Status s = writeObj(object1, output); !s) {
        printError(s.message());
        return 1;
    }
    PrimitiveParameters unused;
    printReport(parsePrimitive(source, unused).has_value(), object1);
    return 0;
}

// A cube minus a sphere moved onto one of its corners, as a user would do it in the view.
int runDemoDifference() {
    const char* kOutput = "demo-razlika.obj";
    PrimitiveParameters cube;
    cube.shape = Shape::Cube;
    cube.a = 1.5f;
    PrimitiveParameters sphere;
    sphere.shape = Shape::Sphere;
    sphere.m = 24;
    sphere.n = 32;
    sphere.a = 0.7f;
    StderrReporter reporter;
    Scene scene(&reporter);
    if (Status s = scene.GenerateObject(1, cube); !s) {
        printError(s.message());
        return 1;
    }
    if (Status s = scene.GenerateObject(2, sphere); !s) {
        printError(s.message());
        return 1;
    }
    g_object2Offset = Vector4(0.5f, 0.4f, 0.3f);
    Status s = scene.OnDifference();
    if (s) {
        s = writeObj(scene.m_object1, kOutput);
    }
    if (!s) {
        printError(s.message());
        return 1;
    }
    std::printf("Razlika kocke i kugle: %d tokuta,  %d vrhova\nSpremljeno u %s\n",
                scene.m_object1.triangleCount(), scene.m_object1.vertexCount(), kOutput);
    return 0;
}

int runDemo() {
    const char* kOutput = "demo-kugla.obj";
    PrimitiveParameters sphere;
    sphere.shape = Shape::Sphere;
    sphere.m = 24;
    sphere.n = 32;
    sphere.a = 1.0f;
    std::fprintf(stderr, "Generiranje novog trijela\n");
    Solid object1;
    if (Status s = generateObject(sphere, g_samplingFactor, object1); !s) {
        printError(s.message());
        return 1;
    }
    if (Status s = writeObj(object1, kOutput); !s) {
        printError(s.message());
        return 1;
    }
    printReport(true, object1);
    std::printf("Spremljeno u %s\n", kOutput);
    const int status = runDemoDifference();
    return status != 0 ? status : runDemoMilling();
}

}  // namespace

void printError(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
}

void addSamplingOption(CLI::App& command) {
    command
        .add_option_function<std::string>(
            "--sampling",
            [](const std::string& text) {
                float factor = 0.0f;
                if (!parseFloat(text, factor)) {
                    throw CLI::ValidationError("--sampling", "nije broj: " + text);
                }
                g_samplingFactor = factor;
            },
            "Faktor uzorkovanja rubova (0 < F < 1 ukljucuje uzorkovanje)")
        ->default_str("0.01");
}

void registerInfoCommand(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("info", "Statistika objekta 1 nakon pripreme");
    auto source = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    cmd->add_option("SRC", *source, "OBJ datoteka ili primitiv (npr. sphere:20,20,1)")->required();
    addSamplingOption(*cmd);
    cmd->add_flag("--json", *json, "Ispis kao jedan JSON objekt");
    cmd->callback([source, json, &exitCode] { exitCode = runInfo(*source, *json); });
}

void registerConvertCommand(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("convert", "Priprema objekt i sprema ga kao OBJ");
    auto source = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    cmd->add_option("SRC", *source, "OBJ datoteka ili primitiv")->required();
    cmd->add_option("-o,--output", *output, "Izlazna OBJ datoteka")->required();
    addSamplingOption(*cmd);
    cmd->callback([source, output, &exitCode] { exitCode = runConvert(*source, *output); });
}

void registerDemoCommand(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("demo", "Ugradeni primjer; datoteke pise u trenutnu mapu");
    addSamplingOption(*cmd);
    cmd->callback([&exitCode] { exitCode = runDemo(); });
}

}  // namespace korvan::cli
