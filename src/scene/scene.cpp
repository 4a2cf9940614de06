#include "scene/scene.h"

#include <tbb/blocked_range.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "closed/closed_boolean.h"
#include "formats/mesh_file.h"
#include "geometry/memory_budget.h"
#include "meshio/load.h"

namespace korvan {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point& lap) {
    const Clock::time_point now = Clock::now();
    const double s = std::chrono::duration<double>(now - lap).count();
    lap = now;
    return s;
}

// f(i) for every i below n, in pieces on the current arena's threads: at a million triangles
// even a store per triangle is worth the second core.
template <typename F>
void forEachIndex(size_t n, const F& f) {
    tbb::parallel_for(tbb::blocked_range<size_t>(0, n, size_t{1} << 15),
                      [&f](const tbb::blocked_range<size_t>& r) {
                          for (size_t i = r.begin(); i != r.end(); ++i) {
                              f(i);
                          }
                      });
}

void clearLabels(Solid& solid) {
    forEachIndex(solid.triangles.size(),
                 [&solid](size_t i) { solid.triangles[i].label = kLabelNone; });
}

// solid.translate(d) and clearLabels(solid) in one pass, on the arena's threads.
void moveClearingLabels(Solid& solid, const Vector4& d) {
    forEachIndex(solid.vertices.size(),
                 [&solid, &d](size_t i) { solid.vertices[i] = solid.vertices[i] + d; });
    forEachIndex(solid.triangles.size(), [&solid, &d](size_t i) {
        Triangle& t = solid.triangles[i];
        t.centroid = t.centroid + d;
        t.label = kLabelNone;
    });
    solid.maxCorner = solid.maxCorner + d;
    solid.minCorner = solid.minCorner + d;
    solid.centre = solid.centre + d;
    solid.touch();
}

// Each triangle's number in the result if the assembly keeps it (label `keep`), else -1;
// returns how many are kept.
int32_t numberKept(const Solid& solid, int32_t keep, std::vector<int32_t>& numbers) {
    numbers.resize(solid.triangles.size());
    int32_t next = 0;
    for (size_t i = 0; i < numbers.size(); ++i) {
        numbers[i] = solid.triangles[i].label == keep ? next++ : -1;
    }
    return next;
}

bool sameBits(const Vector4& a, const Vector4& b) {
    return std::memcmp(&a, &b, sizeof(Vector4)) == 0;
}

// A tree points at the solid it was built over; once that solid's arrays have moved into
// `solid`, it must point there.
void pointTreeAt(OctreeNode& node, Solid* solid) {
    node.solid = solid;
    for (const std::unique_ptr<OctreeNode>& child : node.children) {
        if (child) {
            pointTreeAt(*child, solid);
        }
    }
}

}  // namespace

Scene::Scene(ProgressReporter* reporter) : m_reporter(reporter) {}

int32_t Scene::threadsUsed() const {
    const int32_t cores = std::max(1, tbb::info::default_concurrency());
    return m_threads > 0 ? std::min(m_threads, cores) : cores;
}

Scene::~Scene() = default;

void Scene::prepare(int32_t objectNumber) {
    // Only object 1 keeps a tree between operations; object 2 gets a fresh one in each.
    if (objectNumber != 1) {
        m_tree2.reset();
        return;
    }
    m_tree1.reset();
    if (m_treeOnDemand) {
        return;
    }
    try {
        m_tree1 = prepareOctree(m_object1);
    } catch (const std::bad_alloc&) {
        // The mesh is in place; the next operation builds the tree it lacks.
    }
}

void Scene::phase(double share, double upTo, int64_t items) {
    if (stoppable() && reporter().StopRequested()) {
        throw OperationStopped{};
    }
    m_itemsDone.store(0);
    reporter().SetProgressShare(share);
    if (items > 0) {
        reporter().CountProgress(upTo, &m_itemsDone, items);
    }
}

Status Scene::buildObject(int32_t objectNumber, const Maker& make, MadeObject& out, bool reports) {
    // Made and given its tree beside the object, so that a stop anywhere before the end leaves
    // the object as it was. Built beside the other object, it leaves the reporter alone.
    const StopToken stop = stopToken();
    const auto boundary = [&](double share) {
        if (reports) {
            phase(share);
        } else {
            stop.check();
        }
    };
    try {
        boundary(0.0);
        const Solid& target = object(objectNumber);
        out.made.wireframe = target.wireframe;
        out.made.edgeLimit = target.edgeLimit;
        if (Status status = make(out.made, out.plain, stop); !status) {
            return status;
        }
        // Reading and sampling cost about as much as object 1's tree.
        const bool withTree = objectNumber == 1 && !m_treeOnDemand;
        boundary(withTree ? 0.5 : 1.0);
        if (withTree) {
            try {
                out.tree = prepareOctree(out.made);
            } catch (const std::bad_alloc&) {
                // The mesh goes in; the next operation builds the tree it lacks.
            }
            boundary(1.0);
        }
    } catch (const OperationStopped&) {
        return Status::failure(kStoppedMessage);
    }
    return Status();
}

void Scene::install(int32_t objectNumber, MadeObject& made) {
    Solid& target = object(objectNumber);
    target.clear();
    target.swap(made.made);
    adoptPlain(objectNumber, made.plain);
    if (objectNumber == 1) {
        m_tree1 = std::move(made.tree);
        if (m_tree1) {
            pointTreeAt(*m_tree1, &m_object1);
        }
    } else {
        m_tree2.reset();
    }
}

Status Scene::makeObject(int32_t objectNumber, const std::string& text, const Maker& make) {
    reporter().ShowProgressPopup(text);
    // A cap beyond the cores is kept as asked: oneTBB then runs no more threads than there are
    // cores, but the phases split their work as for that many.
    Status s;
    m_arena.run(m_threads, [&] {
        MadeObject made;
        s = buildObject(objectNumber, make, made, true);
        if (s) {
            install(objectNumber, made);
        }
    });
    reporter().CloseProgressPopup();
    return s;
}

Scene::Maker Scene::makerOf(const ObjectSource& source) {
    if (source.primitive) {
        return
            [this, parameters = *source.primitive](Solid& target, Solid& plain, const StopToken&) {
                return generateObject(parameters, m_samplingFactor, target, &plain);
            };
    }
    return [this, path = source.path](Solid& target, Solid& plain, const StopToken& stop) {
        return loadObject(path, m_samplingFactor, target, ReadOptions{m_keepCoordinates}, stop,
                          &plain);
    };
}

std::string Scene::makingText(int32_t objectNumber, const ObjectSource& source) {
    if (source.primitive) {
        return "Generiranje novog trijela";
    }
    return objectNumber == 1 ? "Citanje objekta 1 iz datoteke..."
                             : "Citanje objekta 2 iz datoteke...";
}

void Scene::MakeObjects(const ObjectSource (&sources)[2], Status (&status)[2]) {
    reporter().ShowProgressPopup(makingText(1, sources[0]));
    reporter().SetProgressText(makingText(2, sources[1]));
    m_arena.run(m_threads, [&] {
        MadeObject made[2];
        m_itemsDone.store(0);
        reporter().SetProgressShare(0.0);
        // Reading is mostly one thread's work (a file's bytes, its weld, its checks) and the
        // two files share nothing: each is read while the other is.
        tbb::parallel_invoke(
            [&] { status[0] = buildObject(1, makerOf(sources[0]), made[0], false); },
            [&] { status[1] = buildObject(2, makerOf(sources[1]), made[1], false); });
        for (int k = 0; k < 2; ++k) {
            if (status[k]) {
                install(k + 1, made[k]);
            }
        }
        reporter().SetProgressShare(1.0);
    });
    reporter().CloseProgressPopup();
}

Status Scene::LoadObject(int32_t objectNumber, const std::string& path) {
    const ObjectSource source{path, std::nullopt};
    return makeObject(objectNumber, makingText(objectNumber, source), makerOf(source));
}

Status Scene::GenerateObject(int32_t objectNumber, const PrimitiveParameters& parameters) {
    const ObjectSource source{{}, parameters};
    return makeObject(objectNumber, makingText(objectNumber, source), makerOf(source));
}

bool Scene::hasPlain(int32_t objectNumber) const {
    const uint64_t revision = m_plainRevision[objectNumber - 1];
    return revision != 0 && revision == (objectNumber == 1 ? m_object1 : m_object2).revision;
}

void Scene::dropPlain(int32_t objectNumber) {
    m_plain[objectNumber - 1].clear();
    m_plainRevision[objectNumber - 1] = 0;
}

void Scene::adoptPlain(int32_t objectNumber, Solid& plain) {
    dropPlain(objectNumber);
    if (!plain.triangles.empty()) {
        m_plain[objectNumber - 1].swap(plain);
        m_plainRevision[objectNumber - 1] = object(objectNumber).revision;
    }
}

void Scene::followObject2(bool hadPlain, const Vector4& d) {
    if (hadPlain) {
        m_plain[1].translate(d);
        m_plainRevision[1] = m_object2.revision;
    } else {
        dropPlain(2);
    }
}

const Solid& Scene::closedObject1() const {
    // A milling run starts from the sampled stock: cut frame after frame, large triangles
    // would become long slivers that every frame's neighbourhood takes in whole.
    return m_animationRunning ? m_object1 : closedOperand(1);
}

const Solid& Scene::closedObject2(const ClosedFrame& frame) const {
    return frame.cut != nullptr ? *frame.cut : closedOperand(2);
}

const Solid& Scene::closedOperand(int32_t objectNumber) const {
    if (hasPlain(objectNumber)) {
        return m_plain[objectNumber - 1];
    }
    return objectNumber == 1 ? m_object1 : m_object2;
}

void Scene::moveObject2(const Vector4& d) {
    const bool plain = hasPlain(2);
    m_object2.translate(d);
    followObject2(plain, d);
}

void Scene::ReplaceObject(int32_t objectNumber, Solid mesh, Solid plain) {
    mesh.wireframe = object(objectNumber).wireframe;
    object(objectNumber).swap(mesh);
    adoptPlain(objectNumber, plain);
    m_arena.run(m_threads, [&] { prepare(objectNumber); });
}

Status Scene::octreeOperation(BooleanOp op, OperationReport& report) {
    // Every parallel phase below runs on this arena's threads and no more.
    Status s;
    m_arena.run(m_threads, [&] { s = octreeOperationPhases(op, report); });
    return s;
}

namespace {

// What the phases of an octree operation before its assembly change, kept aside where the
// operation may be stopped there: a stop puts it back.
struct OctreeBefore {
    std::vector<Vector4> vertices2;
    std::vector<Vector4> centroids2;
    std::vector<int32_t> labels2;
    Vector4 min2, max2, centre2;
    uint64_t revision2 = 0;
    std::vector<int32_t> labels1;
    Vector4 offset, rotation;
    bool hadTree1 = false;
};

}  // namespace

Status Scene::octreeOperationPhases(BooleanOp op, OperationReport& report) {
    const auto [keep1, keep2] = keepLabels(op);
    Clock::time_point lap = Clock::now();
    std::optional<OctreeBefore> before;
    std::unique_ptr<OctreeNode> oldTree2;
    if (stoppable()) {
        try {
            before.emplace();
            before->vertices2 = m_object2.vertices;
            before->centroids2.resize(m_object2.triangles.size());
            before->labels2.resize(m_object2.triangles.size());
            forEachIndex(m_object2.triangles.size(), [this, &before](size_t i) {
                before->centroids2[i] = m_object2.triangles[i].centroid;
                before->labels2[i] = m_object2.triangles[i].label;
            });
            before->min2 = m_object2.minCorner;
            before->max2 = m_object2.maxCorner;
            before->centre2 = m_object2.centre;
            before->revision2 = m_object2.revision;
            before->labels1.resize(m_object1.triangles.size());
            forEachIndex(m_object1.triangles.size(), [this, &before](size_t i) {
                before->labels1[i] = m_object1.triangles[i].label;
            });
            before->offset = m_object2Offset;
            before->rotation = m_object2Rotation;
            before->hadTree1 = m_tree1 != nullptr;
        } catch (const std::bad_alloc&) {
            return Status::failure(kOutOfMemoryMessage);
        }
    }

    // Labels of a previous operation would otherwise survive: a stale 1 keeps a triangle from
    // being cut again, and object 2 keeps its labels between operations.
    const bool plain2 = hasPlain(2);
    const Vector4 moved = m_object2Offset;
    moveClearingLabels(m_object2, m_object2Offset);
    m_object2Offset = Vector4();
    m_object2Rotation = Vector4();
    clearLabels(m_object1);
    report.object1Triangles = m_object1.triangleCount();
    report.object2Triangles = m_object2.triangleCount();

    reporter().ShowProgressPopup("Gradnja oktalnog stabla");
    try {
        // Shares of the whole the phases took with a million triangles per operand.
        phase(0.0);
        if (!m_tree1) {
            m_tree1 = prepareOctree(m_object1);
        }
        oldTree2 = std::move(m_tree2);
        if (!before) {
            oldTree2.reset();  // the lower peak
        }
        m_tree2 = buildOctree(m_object2);
        report.buildSeconds = secondsSince(lap);

        phase(0.20);
        reporter().SetProgressText("Klasifikacija oktalnog stabla");
        classifyOctree(*m_tree2);
        report.classifySeconds = secondsSince(lap);

        reporter().SetProgressText("Inside-out test");
        SplitList pieces;
        TriangleCutter cutter(m_object1, m_object2, m_edgeSampling, pieces, keep1, keep2);
        phase(0.22, 0.38, m_object2.triangleCount());
        cutter.insideOutParallel(*m_tree1, *m_tree2, stopToken());
        report.insideOut2Seconds = secondsSince(lap);
        phase(0.38, 0.59, m_object1.triangleCount());
        cutter.insideOutParallel(*m_tree2, *m_tree1, stopToken());
        report.insideOut1Seconds = secondsSince(lap);
        report.pieces = static_cast<int32_t>(pieces.size());

        // The last place to stop: from here on object 1 is rebuilt in place.
        phase(0.59);
        before.reset();
        oldTree2.reset();
        reporter().SetProgressText("Kopiranje objekta");
        // A tree the last octree operation made is kept to be brought up to date; any other
        // describes the old mesh only, and dropping it first lowers the peak memory.
        std::vector<int32_t> newIndex;
        int32_t kept = 0;
        if (m_treeRevision != 0 && m_treeRevision == m_object1.revision) {
            kept = numberKept(m_object1, keep1, newIndex);
        } else {
            m_tree1.reset();
        }
        const Vector4 oldMin = m_object1.minCorner;
        const Vector4 oldMax = m_object1.maxCorner;
        const auto oldTriangles = static_cast<int32_t>(m_object1.triangles.size());
        BoxFilter filter = m_stockBox.value_or(BoxFilter{m_object1.minCorner, m_object1.maxCorner});
        filter.pieces = m_animationRunning;
        report.piecesInResult = assembleResult(m_object1, m_object2, pieces, keep1, keep2, filter);
        report.assemblySeconds = secondsSince(lap);

        reporter().SetProgressShare(0.83);
        reporter().SetProgressText("Izgradnja novog oktalnog stabla");
        // The cells lie where they lay while the box stays. A milling frame replaces about a
        // quarter of the triangles (the tool's whole sampled surface is cut in); past half,
        // the parallel build is the quicker.
        const auto total = static_cast<int32_t>(m_object1.triangles.size());
        const int64_t changes = int64_t{oldTriangles} - kept + (total - kept);
        if (m_tree1 && sameBits(oldMin, m_object1.minCorner) &&
            sameBits(oldMax, m_object1.maxCorner) && 2 * changes <= total) {
            updateOctree(*m_tree1, newIndex, kept);
            report.treeUpdated = true;
        } else {
            m_tree1.reset();
            m_tree1 = prepareOctree(m_object1);
        }
        report.rebuildSeconds = secondsSince(lap);
        dropPlain(1);
        followObject2(plain2, moved);
    } catch (const std::bad_alloc&) {
        m_tree1.reset();
        reporter().CloseProgressPopup();
        return Status::failure(kOutOfMemoryMessage);
    } catch (const OperationStopped&) {
        // Only the phases before the assembly stop, and `before` holds what they changed.
        m_object2.vertices = std::move(before->vertices2);
        forEachIndex(m_object2.triangles.size(), [this, &before](size_t i) {
            m_object2.triangles[i].centroid = before->centroids2[i];
            m_object2.triangles[i].label = before->labels2[i];
        });
        m_object2.minCorner = before->min2;
        m_object2.maxCorner = before->max2;
        m_object2.centre = before->centre2;
        m_object2.revision = before->revision2;
        forEachIndex(m_object1.triangles.size(), [this, &before](size_t i) {
            m_object1.triangles[i].label = before->labels1[i];
        });
        m_object2Offset = before->offset;
        m_object2Rotation = before->rotation;
        m_tree2 = std::move(oldTree2);
        if (!before->hadTree1) {
            m_tree1.reset();
        }
        reporter().CloseProgressPopup();
        return Status::failure(kStoppedMessage);
    }
    reporter().CloseProgressPopup();
    return {};
}

bool Scene::fitsMemory() const {
    // An operation needs about twice its operands at its peak; refuse before the system
    // kills the program for it (under a cgroup limit there is no failed allocation first).
    const auto bytes = [](const Solid& s) {
        return static_cast<double>(s.vertices.size() * sizeof(Vector4) +
                                   s.triangles.size() * sizeof(Triangle));
    };
    return 2.0 * (bytes(m_object1) + bytes(m_object2)) <= memoryLimitBytes();
}

void Scene::computeClosed(BooleanOp op, ClosedFrame& frame) {
    const Clock::time_point t0 = Clock::now();
    // During a milling run the previous workpiece's arrays are the next result's storage.
    const bool own = m_closedRevision != 0 && m_closedRevision == m_object1.revision;
    const bool ownResult = op == BooleanOp::Difference && own;
    try {
        // Object 1 made by this engine is not checked for crossing itself again.
        const StopToken stop = stopToken();
        const Solid& object1 = closedObject1();
        const Solid& object2 = closedObject2(frame);
        // In the scene's arena, which the engine is then not asked to make.
        m_arena.run(m_threads, [&] {
            frame.status = ownResult
                               ? closedDifferenceOfResult(object1, object2, m_spare, &frame.report,
                                                          0, frame.offset, stop)
                           : own ? closedBooleanOfResult(object1, object2, op, m_spare,
                                                         &frame.report, 0, frame.offset, stop)
                                 : closedBoolean(object1, object2, op, m_spare, &frame.report, 0,
                                                 frame.offset, stop);
        });
    } catch (const std::bad_alloc&) {
        // On the run's own thread nothing else would catch it.
        frame.status = Status::failure(kOutOfMemoryMessage);
    } catch (const OperationStopped&) {
        frame.status = Status::failure(kStoppedMessage);
    }
    frame.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
}

Status Scene::finishClosed(const ClosedFrame& frame, OperationReport& report) {
    Clock::time_point lap = Clock::now();
    report.closedResult = true;
    report.object1Triangles = closedObject1().triangleCount();
    report.object2Triangles = closedObject2(frame).triangleCount();
    // The engine checks both operands; object 2 is moved for good only once the result is in,
    // so a refusal leaves everything as it was, object 2 still shown where it is.
    if (!frame.status) {
        return frame.status;
    }
    // The result's tree is built before anything changes, so that a stop meanwhile leaves the
    // scene as it was. A milling run builds it once, at its end.
    std::unique_ptr<OctreeNode> tree;
    if (!m_animationRunning && !m_treeOnDemand) {
        try {
            phase(0.85);
            reporter().SetProgressText("Izgradnja novog oktalnog stabla");
            tree = prepareOctree(m_spare);
            phase(1.0);
        } catch (const std::bad_alloc&) {
            // The result goes in; the next octree operation builds the tree it lacks.
        } catch (const OperationStopped&) {
            return Status::failure(kStoppedMessage);
        }
    }
    if (frame.cut == nullptr) {
        moveObject2(frame.offset);
    }
    m_object2Offset = Vector4();
    m_object2Rotation = Vector4();
    // Object 2's tree, if any, was built where it stood before.
    m_tree2.reset();
    report.pieces = static_cast<int32_t>(frame.report.pieces);
    report.piecesInResult = static_cast<int32_t>(frame.report.resultTriangles);
    report.slivers = frame.report.slivers;
    report.assemblySeconds = frame.seconds + secondsSince(lap);

    m_spare.wireframe = m_object1.wireframe;
    dropPlain(1);
    m_object1.swap(m_spare);
    m_tree1 = std::move(tree);
    if (m_tree1) {
        pointTreeAt(*m_tree1, &m_object1);
    }
    if (!m_animationRunning) {
        m_spare.clear();
    }
    report.rebuildSeconds = secondsSince(lap);
    return {};
}

Status Scene::closedOperation(BooleanOp op, OperationReport& report) {
    reporter().ShowProgressPopup("Zatvoreni rezultat: presjeci trokuta");
    ClosedFrame frame;
    frame.offset = m_object2Offset;
    try {
        // The engine counts its six phases' triangles; the result's tree takes the rest.
        phase(0.0, 0.85,
              6 * (int64_t{m_object1.triangleCount()} + int64_t{m_object2.triangleCount()}));
        computeClosed(op, frame);
    } catch (const OperationStopped&) {
        frame.status = Status::failure(kStoppedMessage);
    }
    const Status s = finishClosed(frame, report);
    reporter().CloseProgressPopup();
    return s;
}

void Scene::computeClosedFrame(ClosedFrame& frame) {
    // BooleanOperation's own check, for the frames that do not pass through it.
    if (!fitsMemory()) {
        frame.status = Status::failure(kOutOfMemoryMessage);
        return;
    }
    computeClosed(BooleanOp::Difference, frame);
    if (frame.status && frame.report.slivers == 0) {
        leanCutRegion(frame);
    }
}

// A run's small steps pass each spot again and again; around each cut the workpiece is made
// lean again, or slivers multiply from frame to frame (a sphere leaving a cube in 0.0022 steps
// tripled the workpiece in 40 frames).
void Scene::leanCutRegion(ClosedFrame& frame) {
    const Clock::time_point t0 = Clock::now();
    try {
        m_arena.run(m_threads, [&] {
            frame.lean =
                leanAroundCut(m_spare, closedObject1(), closedObject2(frame), frame.offset);
        });
    } catch (const std::bad_alloc&) {
        // Filled in place, the workpiece may be half done: the frame is not taken.
        frame.status = Status::failure(kOutOfMemoryMessage);
    }
    frame.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
}

Status Scene::finishClosedFrame(const ClosedFrame& frame) {
    const Clock::time_point t0 = Clock::now();
    OperationReport report;
    if (Status s = finishClosed(frame, report); !s) {
        return s;
    }
    finishOperation(report,
                    frame.seconds + std::chrono::duration<double>(Clock::now() - t0).count());
    return {};
}

void Scene::prepareTree1() {
    m_spare.clear();
    if (m_tree1 || m_object1.loaded == 0) {
        return;
    }
    try {
        m_tree1 = prepareOctree(m_object1);
    } catch (const std::bad_alloc&) {
        // The result is in place; the next octree operation builds the tree it lacks.
    }
}

Status Scene::BooleanOperation(BooleanOp op) {
    if (m_object1.loaded == 0 || m_object2.loaded == 0) {
        return {};
    }
    if (!fitsMemory()) {
        return Status::failure(kOutOfMemoryMessage);
    }
    const Clock::time_point t0 = Clock::now();
    OperationReport report;
    if (Status s = m_closedResult ? closedOperation(op, report) : octreeOperation(op, report); !s) {
        return s;
    }
    finishOperation(report, std::chrono::duration<double>(Clock::now() - t0).count());
    return {};
}

void Scene::finishOperation(OperationReport& report, double seconds) {
    m_object1.touch();
    m_closedRevision = report.closedResult && report.slivers == 0 ? m_object1.revision : 0;
    if (m_closedRevision != 0) {
        m_object1.markBoundsSolid();  // the viewer may then leave out what faces away
    }
    m_treeRevision = !report.closedResult && m_tree1 ? m_object1.revision : 0;
    report.seconds = seconds;
    m_lastOperation = report;
    if (!m_animationRunning) {
        char text[128];
        std::snprintf(text, sizeof text, kTimeMessageFormat, report.seconds);
        reporter().ShowMessage(text);
    }
}

}  // namespace korvan
