// Long operations off the window's thread: the window paints and turns while one runs, the
// popup's bar advances, "Prekini" stops it with the scene and the history as they were, and
// a finished one gives the bits a plain scene gives.
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>

#include "app/commands.h"
#include "app/main_frame.h"
#include "test_prompts.h"

using namespace korvan;
using namespace korvan::app;

namespace {

std::string meshBytes(const Solid& s) {
    std::string b(reinterpret_cast<const char*>(s.vertices.data()),
                  s.vertices.size() * sizeof(Vector4));
    for (const Triangle& t : s.triangles) {
        b.append(reinterpret_cast<const char*>(&t.i0), 3 * sizeof(int32_t));
        b.append(reinterpret_cast<const char*>(&t.normal), sizeof(Vector4));
    }
    return b;
}

}  // namespace

class WorkTest : public QObject {
    Q_OBJECT

public:
    explicit WorkTest(CMainFrame& frame) : m_frame(frame), m_view(frame.view()) {}

private slots:
    void init() {
        m_prompts = installPrompts(m_view);
        // The default view, whatever the tests before left.
        m_frame.OnCmdMsg(ID_CELLS_NONE);
        resetView(m_view.viewState());
        m_view.scene().m_object1.wireframe = 0;
        m_view.scene().m_object2.wireframe = 0;
    }

    // The case: a closed union of two spheres of about a million triangles each.
    void prekiniStopsALongOperationAndKeepsTheScene() {
        Scene& scene = m_view.scene();
        scene.m_closedResult = true;
        scene.m_samplingFactor = 1.0f;  // no sampling: the spheres' own triangles
        QVERIFY(scene.GenerateObject(1, PrimitiveParameters::sphere(700, 700, 1.0f)).ok());
        QVERIFY(scene.GenerateObject(2, PrimitiveParameters::sphere(700, 700, 1.0f)).ok());
        scene.m_object2Offset = Vector4(0.3f, 0.2f, 0.1f);
        m_prompts->messages.clear();
        const std::string object1 = meshBytes(scene.m_object1);
        const std::string object2 = meshBytes(scene.m_object2);
        const uint64_t revisions[2] = {scene.m_object1.revision, scene.m_object2.revision};
        const size_t undoSteps = m_view.undoHistory().undoCount();
        m_frame.updateCommandStates();

        int barFirst = -1, barLast = -1, ticks = 0;
        int64_t framesAtStart = -1, framesAtStop = -1;
        qint64 popupGone = -1;
        bool refused = true;
        QElapsedTimer sinceStop;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            CProgressPopup* popup = m_view.progressPopup();
            if (popup == nullptr || sinceStop.isValid()) {
                return;
            }
            if (framesAtStart < 0) {
                framesAtStart = m_view.framesDrawn();
                barFirst = popup->barValue();
            }
            barLast = popup->barValue();
            if (ticks >= 5 && barLast > barFirst) {
                framesAtStop = m_view.framesDrawn();
                // The popup goes once the operation has ended and its thread is joined.
                connect(popup, &QObject::destroyed, this, [&] { popupGone = sinceStop.elapsed(); });
                sinceStop.start();
                QTest::mouseClick(popup->stopButton(), Qt::LeftButton);
                return;
            }
            ++ticks;
            // The view zooms meanwhile, and nothing that changes the scene can start.
            QTest::keyClick(&m_view, ticks % 2 == 0 ? Qt::Key_PageUp : Qt::Key_PageDown);
            m_frame.updateCommandStates();
            refused = refused && !m_frame.menuAction(ID_UNION)->isEnabled() &&
                      !m_frame.menuAction(ID_OPEN_OBJECT1)->isEnabled();
            m_frame.OnCmdMsg(ID_GENERATOR);
        });
        tick.start(40);
        m_frame.menuAction(ID_UNION)->trigger();
        const qint64 reaction = sinceStop.isValid() ? sinceStop.elapsed() : -1;
        tick.stop();
        const double stopped = m_view.lastStopSeconds();
        qInfo(
            "Prekini: operation ended after %.0f ms, popup gone after %lld ms, window idle "
            "(scene redrawn) after %lld ms; %d ticks, bar %d -> %d, %lld frames drawn meanwhile",
            1e3 * stopped, static_cast<long long>(popupGone), static_cast<long long>(reaction),
            ticks, barFirst, barLast, static_cast<long long>(framesAtStop - framesAtStart));

        QVERIFY2(reaction >= 0, "the operation ended before it could be stopped");
        QVERIFY(framesAtStop - framesAtStart >= 3);  // repainted while it ran
        QVERIFY(barLast > barFirst);
        QVERIFY(refused);
        QCOMPARE(m_prompts->dialogsRun, 0);
        // Generous against a loaded machine; the figures above are the ones to read.
        QVERIFY(stopped >= 0 && stopped < 1.0);
        QVERIFY(popupGone >= 0);
        QVERIFY(m_view.progressPopup() == nullptr);
        QVERIFY(!m_view.busy());
        QVERIFY(meshBytes(scene.m_object1) == object1);
        QVERIFY(meshBytes(scene.m_object2) == object2);
        QCOMPARE(scene.m_object1.revision, revisions[0]);
        QCOMPARE(scene.m_object2.revision, revisions[1]);
        QCOMPARE(scene.m_object2Offset, Vector4(0.3f, 0.2f, 0.1f));
        QCOMPARE(m_view.undoHistory().undoCount(), undoSteps);
        QVERIFY(m_prompts->messages.empty());
        QCOMPARE(m_frame.statusBar()->currentMessage(), QStringLiteral("Prekinuto"));
    }

    // What the menu computes on its thread is what a plain scene computes, to the bit.
    void aFinishedOperationGivesTheSynchronousResult() {
        for (const bool closed : {false, true}) {
            Scene plain;
            for (Scene* s : {&plain, &m_view.scene()}) {
                s->m_closedResult = closed;
                s->m_samplingFactor = 0.05f;
                QVERIFY(s->GenerateObject(1, PrimitiveParameters::sphere(40, 40, 1.0f)).ok());
                QVERIFY(s->GenerateObject(2, PrimitiveParameters::cube(1.0f)).ok());
                s->m_object2Offset = Vector4(0.6f, 0.1f, -0.2f);
            }
            QVERIFY(plain.BooleanOperation(BooleanOp::Difference).ok());
            m_frame.updateCommandStates();
            m_frame.menuAction(ID_DIFFERENCE)->trigger();
            QVERIFY(meshBytes(m_view.scene().m_object1) == meshBytes(plain.m_object1));
            QVERIFY(meshBytes(m_view.scene().m_object2) == meshBytes(plain.m_object2));
            QVERIFY(m_view.scene().tree(1) != nullptr);
        }
    }

private:
    CMainFrame& m_frame;
    CSceneView& m_view;
    TestPrompts* m_prompts = nullptr;
};

int runWorkTests(CMainFrame& frame, int argc, char** argv) {
    WorkTest test(frame);
    return QTest::qExec(&test, argc, argv);
}

#include "work_test.moc"
