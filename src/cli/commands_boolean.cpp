// union, intersection and difference: two objects in, object 1 after the operation out.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "formats/mesh_file.h"
#include "geometry/mesh_topology.h"
#include "meshio/edge_sampling.h"
#include "scene/scene.h"

namespace korvan::cli {
namespace {

struct BooleanArguments {
    std::string source1;
    std::string source2;
    std::string output;
    Vector4 offset;
    float samplingFactor = kDefaultSamplingFactor;
    bool noEdgeSampling = false;
    bool closed = false;
    bool json = false;
    bool keepCoordinates = false;
    bool ascii = false;
    int threads = 0;
};

int runBoolean(BooleanOp op, const BooleanArguments& args) {
    LineReporter reporter;
    // JSON replaces the time message on stdout.
    reporter.quietMessages = args.json;
    Scene scene(&reporter);
    scene.m_samplingFactor = args.samplingFactor;
    scene.m_edgeSampling = args.noEdgeSampling ? 0 : 1;
    scene.m_closedResult = args.closed;
    scene.m_threads = args.threads;
    scene.m_keepCoordinates = args.keepCoordinates;
    // The octree operation builds object 1's tree itself; the closed one needs none.
    scene.m_treeOnDemand = true;
    warnIfSamplingIsOff(args.samplingFactor);
    if (!loadOperands(scene, args.source1, args.source2)) {
        return loadFailure();
    }
    if (stopIfInterrupted()) {
        return interruptExitCode();
    }
    scene.m_object2Offset = args.offset;
    Status s = scene.BooleanOperation(op);
    if (s && stopIfInterrupted()) {
        return interruptExitCode();
    }
    if (!s) {
        return exitStatusOf(s);
    }
    // The report goes out before the file is put in place: a report that cannot be written
    // leaves the output as it was.
    if (args.json) {
        const OperationReport& r = scene.lastOperation();
        const MeshTopology topology = analyzeTopology(scene.m_object1);
        JsonObject out;
        out.add("operation", std::string(operationName(op)))
            .add("triangles", int64_t{scene.m_object1.triangleCount()})
            .add("vertices", int64_t{scene.m_object1.vertexCount()})
            .add("object1_triangles", int64_t{r.object1Triangles})
            .add("object2_triangles", int64_t{r.object2Triangles})
            .add("pieces", int64_t{r.pieces})
            .add("pieces_in_result", int64_t{r.piecesInResult})
            .add("seconds", r.seconds)
            .add("closed", r.closedResult)
            .add("open_edges", topology.openEdges)
            .add("threads", int64_t{scene.threadsUsed()})
            .add("output", args.output);
        std::printf("%s\n", out.str().c_str());
    }
    if (!flushStandardOutput()) {
        return 1;
    }
    return exitStatusOfLastWrite(writeMesh(scene.m_object1, args.output, WriteOptions{args.ascii}));
}

void registerOperation(CLI::App& app, int& exitCode, BooleanOp op, const char* description) {
    auto* cmd = app.add_subcommand(std::string(operationName(op)), description);
    auto args = std::make_shared<BooleanArguments>();
    cmd->add_option("SRC1", args->source1,
                    "Objekt 1: datoteka mreze (OBJ, STL, PLY, OFF, 3MF) ili primitiv")
        ->required();
    cmd->add_option("SRC2", args->source2, "Objekt 2: datoteka mreze ili primitiv")->required();
    cmd->add_option("-o,--output", args->output,
                    "Izlazna datoteka (objekt 1 nakon operacije); format po nastavku imena")
        ->required();
    addOffsetOption(*cmd, args->offset, "Pomak objekta 2 prije operacije");
    addSamplingOption(*cmd, args->samplingFactor);
    cmd->add_flag("--no-edge-sampling", args->noEdgeSampling,
                  "Iskljucuje rezanje trokuta (Uzorkovanje rubova)");
    addClosedOption(*cmd, args->closed);
    addKeepCoordinatesOption(*cmd, args->keepCoordinates);
    addAsciiOption(*cmd, args->ascii);
    addThreadsOption(*cmd, args->threads);
    cmd->add_flag("--json", args->json, "Ispis kao jedan JSON objekt");
    cmd->callback([op, args, &exitCode] { exitCode = runBoolean(op, *args); });
}

}  // namespace

void registerBooleanCommands(CLI::App& app, int& exitCode) {
    registerOperation(app, exitCode, BooleanOp::Union, "Unija objekata 1 i 2");
    registerOperation(app, exitCode, BooleanOp::Intersection, "Presjek objekata 1 i 2");
    registerOperation(app, exitCode, BooleanOp::Difference, "Razlika: objekt 1 bez objekta 2");
}

}  // namespace korvan::cli
