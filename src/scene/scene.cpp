#include "scene/scene.h"

#include <chrono>
#include <cstdio>
#include <new>

#include "meshio/edge_sampling.h"
#include "meshio/load.h"
#include "octree/octree.h"

namespace korvan {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point& lap) {
    const Clock::time_point now = Clock::now();
    const double s = std::chrono::duration<double>(now - lap).count();
    lap = now;
    return s;
}

void clearLabels(Solid& solid) {
    for (Triangle& t : solid.triangles) {
        t.label = kLabelNone;
    }
}

}  // namespace

Scene::Scene(ProgressReporter* reporter) : m_reporter(reporter) {}

void Scene::prepare(int32_t objectNumber) {
    // Only object 1 keeps a tree between operations; object 2 gets a fresh one in each.
    if (objectNumber != 1) {
        return;
    }
    try {
        prepareOctree(m_object1);
    } catch (const std::bad_alloc&) {
        // The mesh is in place; the next operation builds the tree it lacks.
        m_object1.root.reset();
    }
}

Status Scene::LoadObject(int32_t objectNumber, const std::string& path) {
    reporter().ShowProgressPopup(objectNumber == 1 ? "Citanje objekta 1 iz datoteke..."
                                                   : "Citanje objekta 2 iz datoteke...");
    Status s = loadObject(path, g_samplingFactor, object(objectNumber));
    if (s) {
        prepare(objectNumber);
    }
    reporter().CloseProgressPopup();
    return s;
}

Status Scene::GenerateObject(int32_t objectNumber, const PrimitiveParameters& parameters) {
    reporter().ShowProgressPopup("Generiranje novog trijela");
    Status s = generateObject(parameters, g_samplingFactor, object(objectNumber));
    if (s) {
        prepare(objectNumber);
    }
    reporter().CloseProgressPopup();
    return s;
}

Status Scene::OnUnion() {
    return BooleanOperation(kLabelOutside, kLabelOutside);
}
Status Scene::OnIntersection() {
    return BooleanOperation(kLabelInside, kLabelInside);
}
Status Scene::OnDifference() {
    return BooleanOperation(kLabelOutside, kLabelInside);
}

Status Scene::BooleanOperation(int32_t keep1, int32_t keep2) {
    if (m_object1.loaded == 0 || m_object2.loaded == 0) {
        return {};
    }
    const Clock::time_point t0 = Clock::now();
    Clock::time_point lap = t0;
    OperationReport report;

    m_object2.translate(g_object2Offset);
    g_object2Offset = Vector4();
    g_object2Rotation = Vector4();
    // Labels of a previous operation would otherwise survive: a stale 1 keeps a triangle from
    // being cut again, and object 2 keeps its labels between operations.
    clearLabels(m_object1);
    clearLabels(m_object2);
    report.object1Triangles = m_object1.triangleCount();
    report.object2Triangles = m_object2.triangleCount();

    reporter().ShowProgressPopup("Gradnja oktalnog stabla");
    try {
        if (!hasOctree(m_object1)) {
            prepareOctree(m_object1);
        }
        buildOctree(m_object2);
        report.buildSeconds = secondsSince(lap);

        reporter().SetProgressText("Klasifikacija oktalnog stabla");
        classifyOctree(*m_object2.root);
        report.classifySeconds = secondsSince(lap);

        reporter().SetProgressText("Inside-out test");
        TriangleCutter cutter(m_object1, m_object2, m_edgeSampling, m_splitTriangles, keep1, keep2);
        insideOut(*m_object1.root, *m_object2.root, cutter);
        report.insideOut2Seconds = secondsSince(lap);
        insideOut(*m_object2.root, *m_object1.root, cutter);
        report.insideOut1Seconds = secondsSince(lap);
        report.pieces = static_cast<int32_t>(m_splitTriangles.size());

        reporter().SetProgressText("Kopiranje objekta");
        // The old tree describes the old mesh only; dropping it first lowers the peak memory.
        m_object1.root.reset();
        report.piecesInResult = assembleResult(m_object1, m_object2, m_splitTriangles, keep1, keep2,
                                               g_animationRunning != 0);
        m_splitTriangles = {};
        report.assemblySeconds = secondsSince(lap);

        reporter().SetProgressText("Izgradnja novog oktalnog stabla");
        m_object1.computeTriangleData();
        prepareOctree(m_object1);
        report.rebuildSeconds = secondsSince(lap);
    } catch (const std::bad_alloc&) {
        m_splitTriangles = {};
        m_object1.root.reset();
        reporter().CloseProgressPopup();
        return Status::failure(kOutOfMemoryMessage);
    }
    reporter().CloseProgressPopup();
    m_object1.displayList = -1;

    report.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    m_lastOperation = report;
    if (g_animationRunning == 0) {
        char text[128];
        std::snprintf(text, sizeof text, kTimeMessageFormat, report.seconds);
        reporter().ShowMessage(text);
    }
    return {};
}

}  // namespace korvan
