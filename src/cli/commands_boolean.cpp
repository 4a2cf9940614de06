// union, intersection and difference: two objects in, object 1 after the operation out.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/mesh_source.h"
#include "meshio/edge_sampling.h"
#include "meshio/obj.h"
#include "scene/scene.h"

namespace korvan::cli {
namespace {

// Phases on stderr as they happen; the time message on stdout unless JSON replaces it.
class CliReporter final : public ProgressReporter {
public:
    explicit CliReporter(bool quietMessages) : m_quietMessages(quietMessages) {}
    void ShowProgressPopup(const std::string& text) override { phase(text); }
    void SetProgressText(const std::string& text) override { phase(text); }
    void ShowMessage(const std::string& text) override {
        if (!m_quietMessages) {
            std::printf("%s\n", text.c_str());
        }
    }

private:
    static void phase(const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    bool m_quietMessages;
};

struct BooleanArguments {
    std::string source1;
    std::string source2;
    std::string output;
    Vector4 offset;
    bool noEdgeSampling = false;
    bool json = false;
};

Status loadInto(Scene& scene, const std::string& source, int32_t objectNumber) {
    PrimitiveParameters params;
    if (const auto parsed = parsePrimitive(source, params)) {
        if (!*parsed) {
            return *parsed;
        }
        return scene.GenerateObject(objectNumber, params);
    }
    return scene.LoadObject(objectNumber, source);
}

int runBoolean(const char* name, const BooleanArguments& args) {
    CliReporter reporter(args.json);
    Scene scene(&reporter);
    scene.m_edgeSampling = args.noEdgeSampling ? 0 : 1;
    if (Status s = loadInto(scene, args.source1, 1); !s) {
        printError(s.message());
        return 1;
    }
    if (Status s = loadInto(scene, args.source2, 2); !s) {
        printError(s.message());
        return 1;
    }
    g_object2Offset = args.offset;
    const std::string operation = name;
    Status s = operation == "union"          ? scene.OnUnion()
               : operation == "intersection" ? scene.OnIntersection()
                                             : scene.OnDifference();
    if (s) {
        s = writeObj(scene.m_object1, args.output);
    }
    if (!s) {
        printError(s.message());
        return 1;
    }
    if (args.json) {
        const OperationReport& r = scene.lastOperation();
        JsonObject out;
        out.add("operation", operation)
            .add("triangles", int64_t{scene.m_object1.triangleCount()})
            .add("vertices", int64_t{scene.m_object1.vertexCount()})
            .add("object1_triangles", int64_t{r.object1Triangles})
            .add("object2_triangles", int64_t{r.object2Triangles})
            .add("pieces", int64_t{r.pieces})
            .add("pieces_in_result", int64_t{r.piecesInResult})
            .add("seconds", r.seconds)
            .add("output", args.output);
        std::printf("%s\n", out.str().c_str());
    }
    return 0;
}

void registerOperation(CLI::App& app, int& exitCode, const char* name, const char* description) {
    auto* cmd = app.add_subcommand(name, description);
    auto args = std::make_shared<BooleanArguments>();
    cmd->add_option("SRC1", args->source1, "Objekt 1: OBJ datoteka ili primitiv")->required();
    cmd->add_option("SRC2", args->source2, "Objekt 2: OBJ datoteka ili primitiv")->required();
    cmd->add_option("-o,--output", args->output, "Izlazna OBJ datoteka (objekt 1 nakon operacije)")
        ->required();
    cmd->add_option_function<std::string>(
           "--offset",
           [args](const std::string& text) {
               if (!parseVector(text, args->offset)) {
                   throw CLI::ValidationError("--offset", "ocekuje se X,Y,Z: " + text);
               }
           },
           "Pomak objekta 2 prije operacije")
        ->default_str("0,0,0");
    addSamplingOption(*cmd);
    cmd->add_flag("--no-edge-sampling", args->noEdgeSampling,
                  "Iskljucuje rezanje trokuta (Uzorkovanje rubova)");
    cmd->add_flag("--json", args->json, "Ispis kao jedan JSON objekt");
    cmd->callback([name, args, &exitCode] { exitCode = runBoolean(name, *args); });
}

}  // namespace

void registerBooleanCommands(CLI::App& app, int& exitCode) {
    registerOperation(app, exitCode, "union", "Unija objekata 1 i 2");
    registerOperation(app, exitCode, "intersection", "Presjek objekata 1 i 2");
    registerOperation(app, exitCode, "difference", "Razlika: objekt 1 bez objekta 2");
}

}  // namespace korvan::cli
