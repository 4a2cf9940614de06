// info, convert and demo: one object in, its statistics or its prepared mesh out.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/mesh_source.h"
#include "formats/mesh_file.h"
#include "geometry/mesh_topology.h"
#include "geometry/statistics.h"
#include "meshio/edge_sampling.h"
#include "meshio/obj.h"
#include "scene/scene.h"

namespace korvan::cli {
namespace {

// One source prepared as object 1 of a scene, as the open and generate commands do it.
bool loadObject1(Scene& scene, const std::string& source, float samplingFactor, int threads,
                 bool keepCoordinates) {
    scene.m_samplingFactor = samplingFactor;
    scene.m_threads = threads;
    scene.m_keepCoordinates = keepCoordinates;
    scene.m_treeOnDemand = true;  // nothing here operates or draws cells
    return loadOperands(scene, source, {});
}

int runInfo(const std::string& source, float samplingFactor, bool json, int threads,
            bool keepCoordinates) {
    LineReporter reporter;
    Scene scene(&reporter);
    if (!loadObject1(scene, source, samplingFactor, threads, keepCoordinates)) {
        return loadFailure();
    }
    const Solid& object1 = scene.m_object1;
    if (json) {
        const MeshTopology topology = analyzeTopology(object1);
        JsonObject out;
        out.add("vertices", int64_t{object1.vertexCount()})
            .add("triangles", int64_t{object1.triangleCount()})
            .add("edge_limit", object1.edgeLimit)
            .add("sampling_factor", samplingFactor)
            .add("min_corner", object1.minCorner)
            .add("max_corner", object1.maxCorner)
            .add("file_min_corner", object1.fileMinCorner)
            .add("file_max_corner", object1.fileMaxCorner)
            .add("open_edges", topology.openEdges)
            .add("nonmanifold_edges", topology.nonManifoldEdges)
            .add("volume", topology.signedVolume)
            .add("threads", int64_t{scene.threadsUsed()});
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

int runConvert(const std::string& source, const std::string& output, float samplingFactor,
               int threads, bool keepCoordinates, bool ascii) {
    LineReporter reporter;
    Scene scene(&reporter);
    if (!loadObject1(scene, source, samplingFactor, threads, keepCoordinates)) {
        return loadFailure();
    }
    if (stopIfInterrupted()) {
        return interruptExitCode();
    }
    // The report first: one that cannot be written leaves the output as it was.
    PrimitiveParameters unused;
    printReport(parsePrimitive(source, unused).has_value(), scene.m_object1);
    if (!flushStandardOutput()) {
        return 1;
    }
    return exitStatusOfLastWrite(writeMesh(scene.m_object1, output, WriteOptions{ascii}));
}

// A sphere written as it is generated, then a cube minus a sphere moved onto one of its
// corners, as a user would do it in the view.
int runDemo(float samplingFactor, int threads) {
    const char* kSphereOutput = "demo-kugla.obj";
    const char* kDifferenceOutput = "demo-razlika.obj";
    LineReporter reporter;
    Scene scene(&reporter);
    scene.m_samplingFactor = samplingFactor;
    scene.m_threads = threads;
    Status s = scene.GenerateObject(1, PrimitiveParameters::sphere(24, 32, 1.0f));
    if (!s) {
        return exitStatusOf(s);
    }
    // Each report goes out before its file is written.
    printReport(true, scene.m_object1);
    std::printf("Spremljeno u %s\n", kSphereOutput);
    if (!flushStandardOutput()) {
        return 1;
    }
    if (const int status = exitStatusOf(writeObj(scene.m_object1, kSphereOutput)); status != 0) {
        return status;
    }

    s = scene.GenerateObject(1, PrimitiveParameters::cube(1.5f));
    if (s) {
        s = scene.GenerateObject(2, PrimitiveParameters::sphere(24, 32, 0.7f));
    }
    if (s) {
        scene.m_object2Offset = Vector4(0.5f, 0.4f, 0.3f);
        s = scene.BooleanOperation(BooleanOp::Difference);
    }
    if (!s) {
        return exitStatusOf(s);
    }
    std::printf("Razlika kocke i kugle: %d tokuta,  %d vrhova\nSpremljeno u %s\n",
                scene.m_object1.triangleCount(), scene.m_object1.vertexCount(), kDifferenceOutput);
    if (!flushStandardOutput()) {
        return 1;
    }
    if (const int status = exitStatusOf(writeObj(scene.m_object1, kDifferenceOutput));
        status != 0) {
        return status;
    }
    return runDemoMilling();
}

}  // namespace

void registerInfoCommand(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("info", "Statistika objekta 1 nakon pripreme");
    auto source = std::make_shared<std::string>();
    auto factor = std::make_shared<float>(kDefaultSamplingFactor);
    auto json = std::make_shared<bool>(false);
    auto threads = std::make_shared<int>(0);
    auto keep = std::make_shared<bool>(false);
    cmd->add_option("SRC", *source,
                    "Datoteka mreze (OBJ, STL, PLY, OFF, 3MF) ili primitiv (npr. sphere:20,20,1)")
        ->required();
    addSamplingOption(*cmd, *factor);
    addThreadsOption(*cmd, *threads);
    addKeepCoordinatesOption(*cmd, *keep);
    cmd->add_flag("--json", *json, "Ispis kao jedan JSON objekt");
    cmd->callback([source, factor, json, threads, keep, &exitCode] {
        exitCode = runInfo(*source, *factor, *json, *threads, *keep);
    });
}

void registerConvertCommand(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand(
        "convert", "Priprema objekt i sprema ga (OBJ, STL, PLY, OFF ili 3MF, po nastavku imena)");
    auto source = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    auto factor = std::make_shared<float>(kDefaultSamplingFactor);
    auto threads = std::make_shared<int>(0);
    auto keep = std::make_shared<bool>(false);
    auto ascii = std::make_shared<bool>(false);
    cmd->add_option("SRC", *source, "Datoteka mreze (OBJ, STL, PLY, OFF, 3MF) ili primitiv")
        ->required();
    cmd->add_option("-o,--output", *output, "Izlazna datoteka; format po nastavku imena")
        ->required();
    addSamplingOption(*cmd, *factor);
    addThreadsOption(*cmd, *threads);
    addKeepCoordinatesOption(*cmd, *keep);
    addAsciiOption(*cmd, *ascii);
    cmd->callback([source, output, factor, threads, keep, ascii, &exitCode] {
        exitCode = runConvert(*source, *output, *factor, *threads, *keep, *ascii);
    });
}

void registerDemoCommand(CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("demo", "Ugradeni primjer; datoteke pise u trenutnu mapu");
    auto factor = std::make_shared<float>(kDefaultSamplingFactor);
    auto threads = std::make_shared<int>(0);
    addSamplingOption(*cmd, *factor);
    addThreadsOption(*cmd, *threads);
    cmd->callback([factor, threads, &exitCode] { exitCode = runDemo(*factor, *threads); });
}

}  // namespace korvan::cli
