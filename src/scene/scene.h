// The scene without a window: the two operands, the piece list and the engine's commands.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "boolean/boolean.h"
#include "boolean/operation.h"
#include "closed/closed_boolean.h"
#include "generator/generators.h"
#include "geometry/solid.h"
#include "geometry/status.h"
#include "geometry/stop_token.h"
#include "geometry/thread_arena.h"
#include "geometry/vector4.h"
#include "meshio/edge_sampling.h"
#include "octree/octree.h"
#include "scene/progress.h"

namespace korvan {

inline constexpr const char* kTimeMessageFormat = "Vrijeme obavljanja operacije: %6.3lf s";

// What the last Boolean operation did, for reports and benchmarks. Times are seconds.
struct OperationReport {
    int32_t object1Triangles = 0;  // operands as they entered
    int32_t object2Triangles = 0;
    int32_t pieces = 0;  // pieces made by the cuts
    int32_t piecesInResult = 0;
    double seconds = 0;       // the whole operation, as the time message shows it
    double buildSeconds = 0;  // object 2's tree
    double classifySeconds = 0;
    double insideOut2Seconds = 0;  // object 2's triangles against object 1
    double insideOut1Seconds = 0;  // object 1's triangles against object 2
    double assemblySeconds = 0;
    double rebuildSeconds = 0;  // triangle data and classified tree of the result
    bool treeUpdated = false;   // object 1's tree brought up to date instead of rebuilt
    bool closedResult = false;  // made by the closed-result engine
    int64_t slivers = 0;        // closed engine: flat triangles it could not split away
};

// Owns object 1 (with its classified tree), object 2 (with the tree of its last operation),
// where object 2 is shown, and the settings of the next operation; reports through the
// reporter given at construction (or nothing). Where the reporter can ask to stop, loading,
// generating and the Boolean operations stop within a fraction of a second of the request
// with kStoppedMessage, the scene as it was before; the phases that put a result in place
// (the octree engine's assembly and new tree) run to their end.
class Scene {
public:
    Solid m_object1;
    Solid m_object2;
    // 1: triangles crossing the other surface are cut; 0: only labelled.
    int32_t m_edgeSampling = 1;
    // true: operations use the closed-result engine (exact seams shared by both operands,
    // closed results; open or inside-out operands are refused) instead of the octree engine.
    bool m_closedResult = false;
    // Threads the engines may use; 0: every core. Results do not depend on it.
    int32_t m_threads = 0;
    // The number of threads m_threads stands for on this machine.
    int32_t threadsUsed() const;
    // true: files keep their own coordinates (units and frame) when read, instead of being
    // centred and scaled into the unit box.
    bool m_keepCoordinates = false;
    // true: object 1's classified tree is built only when an octree operation needs it, not
    // after every load, generation and closed operation (for callers that draw no cells).
    bool m_treeOnDemand = false;
    // Sampling factor of the next load or generation; sampling happens only when 0 < f < 1.
    float m_samplingFactor = kDefaultSamplingFactor;
    // Translation by which object 2 is currently shown; applied to its vertices and reset by
    // every Boolean operation.
    Vector4 m_object2Offset;
    // Rotation of object 2 in the view, in degrees; reset (not applied) by every operation.
    Vector4 m_object2Rotation;
    // True while the milling animation runs: no time message, and object 2's pieces pass the
    // box filter of the difference.
    bool m_animationRunning = false;
    // During a milling run, object 1's box when the run started: the box filter uses it
    // instead of object 1's current box, so tool material outside the stock is never kept,
    // however far earlier frames have spread (a stray piece would widen object 1's own box).
    std::optional<BoxFilter> m_stockBox;

    explicit Scene(ProgressReporter* reporter = nullptr);
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    ~Scene();

    // The open-object flow: reads the mesh file (OBJ, STL, PLY, OFF or 3MF, by its extension)
    // into object 1 or 2, normalises unless m_keepCoordinates, samples with
    // m_samplingFactor, computes triangle data, and for object 1 builds and classifies its
    // tree. On failure the object keeps its previous state.
    Status LoadObject(int32_t objectNumber, const std::string& path);
    // The generate command: the primitive into object 1 or 2 with the same preparation.
    Status GenerateObject(int32_t objectNumber, const PrimitiveParameters& parameters);
    // What an object is made from: a mesh file, or a primitive where one is given.
    struct ObjectSource {
        std::string path;
        std::optional<PrimitiveParameters> primitive;
    };
    // Objects 1 and 2 made at once from their sources, as LoadObject and GenerateObject make
    // them, under one progress popup. Each takes its new mesh only where its own making
    // succeeded (status[0] for object 1, status[1] for object 2); else it is as it was.
    void MakeObjects(const ObjectSource (&sources)[2], Status (&status)[2]);

    // Puts a mesh that is already prepared (sampled, triangle data computed) in place of
    // object 1 or 2, as a load would leave it; `plain`, where not empty, is that mesh before
    // sampling (see closedOperand).
    void ReplaceObject(int32_t objectNumber, Solid mesh, Solid plain = Solid());

    // The mesh the closed engine takes for object 1 or 2: the object as read or generated,
    // before sampling split its triangles, while the object is still that mesh (moved only);
    // else the object itself. The closed engine needs no sampling, and without it both its
    // work and its results are lighter. A milling run still cuts object 1 as sampled: there
    // small triangles keep each frame's work near the tool.
    const Solid& closedOperand(int32_t objectNumber) const;
    // Moves object 2, and what the scene keeps of it, by d for good.
    void moveObject2(const Vector4& d);

    // Does nothing unless both objects are loaded. Object 1 becomes the triangles of object 1
    // and of object 2 that the operation keeps, and the matching pieces (object 2's turned
    // inside out for a difference). Object 2 stays moved by the former m_object2Offset, with
    // its new tree and labels. Fails only for lack of memory; object 1 then keeps its mesh.
    Status BooleanOperation(BooleanOp op);

    const OperationReport& lastOperation() const { return m_lastOperation; }

    // A closed-mode milling frame in two halves, so that a run can compute the next frame
    // while it draws this one. computeClosedFrame makes the difference of object 1 and object
    // 2 shown at `offset`, as BooleanOperation(Difference) would, into spare arrays of the
    // scene: it reads object 1 and object 2 and changes nothing else, so they may be drawn
    // meanwhile on another thread, but nothing may change the scene until finishClosedFrame,
    // which puts the result in place as BooleanOperation does and returns its status.
    struct ClosedFrame {
        Vector4 offset;
        // Subtracted (moved by `offset`) instead of object 2, which then stays where it is.
        const Solid* cut = nullptr;
        Status status;
        ClosedReport report;
        LeanCounts lean;  // the workpiece made lean again around the cut
        double seconds = 0;
    };
    void computeClosedFrame(ClosedFrame& frame);
    Status finishClosedFrame(const ClosedFrame& frame);

    // The classified tree of object 1, and object 2's tree of the last operation; null when
    // there is none.
    const OctreeNode* tree(int32_t objectNumber) const {
        return objectNumber == 1 ? m_tree1.get() : m_tree2.get();
    }
    // Drops object 2's tree, once object 2 has moved away from where it was built.
    void releaseTree2() { m_tree2.reset(); }
    // Builds object 1's classified tree where it has none (closed-mode milling frames leave
    // it to the end of the run) and lets go of the run's spare arrays.
    void prepareTree1();

private:
    Solid& object(int32_t objectNumber) { return objectNumber == 1 ? m_object1 : m_object2; }
    Status octreeOperation(BooleanOp op, OperationReport& report);
    Status octreeOperationPhases(BooleanOp op, OperationReport& report);
    Status closedOperation(BooleanOp op, OperationReport& report);
    void computeClosed(BooleanOp op, ClosedFrame& frame);
    void leanCutRegion(ClosedFrame& frame);
    Status finishClosed(const ClosedFrame& frame, OperationReport& report);
    // What every operation does once its result is in: revision, report, time message.
    void finishOperation(OperationReport& report, double seconds);
    // Whether both objects leave room for an operation's peak within the memory limit.
    bool fitsMemory() const;
    void prepare(int32_t objectNumber);
    // Makes a mesh; its second argument takes the mesh before sampling.
    using Maker = std::function<Status(Solid&, Solid&, const StopToken&)>;
    // A new object, made and prepared beside the one it replaces.
    struct MadeObject {
        Solid made;
        Solid plain;
        std::unique_ptr<OctreeNode> tree;
    };
    // Makes object `objectNumber` anew with `make` (under the progress popup `text` and the
    // thread cap), then prepares it; on failure the object is as it was.
    Status makeObject(int32_t objectNumber, const std::string& text, const Maker& make);
    // The making and preparing of makeObject into `out`, changing nothing of the scene; with
    // `reports`, it tells the reporter its phases.
    Status buildObject(int32_t objectNumber, const Maker& make, MadeObject& out, bool reports);
    // Puts what buildObject made in place of the object.
    void install(int32_t objectNumber, MadeObject& made);
    Maker makerOf(const ObjectSource& source);
    static std::string makingText(int32_t objectNumber, const ObjectSource& source);
    // A phase boundary of an operation: stops it here (OperationStopped) when asked, tells the
    // reporter the share done, and lets the share grow to `upTo` while the phase counts
    // `items` through stopToken().
    void phase(double share, double upTo = 0, int64_t items = 0);
    StopToken stopToken() { return StopToken(reporter().StopFlag(), &m_itemsDone); }
    bool stoppable() { return reporter().StopFlag() != nullptr; }
    ProgressReporter& reporter() { return m_reporter != nullptr ? *m_reporter : m_silent; }

    std::unique_ptr<OctreeNode> m_tree1;
    std::unique_ptr<OctreeNode> m_tree2;
    // The arena every operation runs in while m_threads caps the threads.
    ThreadArena m_arena;
    // Object 1's revision when the closed engine made it with nothing left to repair (0:
    // never): a difference on it may then compute the part near object 2 only.
    uint64_t m_closedRevision = 0;
    // Object 1's revision when the octree engine made it and its tree (0: never): the kept
    // triangles' centroids are then what the next assembly recomputes, so the next octree
    // operation may bring the tree up to date where it changed instead of building it anew.
    uint64_t m_treeRevision = 0;
    // Storage for the next closed result during a milling run.
    Solid m_spare;
    // Each object as read or generated where sampling split its triangles, and the object's
    // revision it stands for (0: none); see closedOperand.
    Solid m_plain[2];
    uint64_t m_plainRevision[2] = {0, 0};
    bool hasPlain(int32_t objectNumber) const;
    void dropPlain(int32_t objectNumber);
    // `plain` (if not empty) becomes what object `objectNumber`, as it is now, stands for.
    void adoptPlain(int32_t objectNumber, Solid& plain);
    // Object 2 has just moved by d: its plain mesh, if it had one, moves along.
    void followObject2(bool hadPlain, const Vector4& d);
    // The operands the closed engine takes for an operation or frame.
    const Solid& closedObject1() const;
    const Solid& closedObject2(const ClosedFrame& frame) const;
    ProgressReporter* m_reporter;
    ProgressReporter m_silent;
    // Items the current phase has done, counted by the engines' threads.
    std::atomic<int64_t> m_itemsDone{0};
    OperationReport m_lastOperation;
};

}  // namespace korvan
