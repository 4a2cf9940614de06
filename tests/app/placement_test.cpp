// Placing object 2 and looking around: the typed placement with its steps of "Ponisti", the
// mouse move along the screen in a turned view, the pan, and the settings a new window finds.
#include <QAction>
#include <QFile>
#include <QMenu>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include "app/app_settings.h"
#include "app/commands.h"
#include "app/main_frame.h"
#include "app/number_fields.h"
#include "app/placement_dialog.h"
#include "app/prikazni.h"
#include "test_prompts.h"

using namespace korvan;
using namespace korvan::app;

namespace {

// Where the drawn pixels lie: their count and their mean position (y down).
struct Drawn {
    int pixels = 0;
    QPointF centre;
};

Drawn drawnPixels(CSceneView& view) {
    const QImage picture = view.grabFramebuffer();
    const QColor background = picture.pixelColor(0, 0);
    Drawn d;
    double sx = 0, sy = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixelColor(x, y) != background) {
                ++d.pixels;
                sx += x;
                sy += y;
            }
        }
    }
    if (d.pixels > 0) {
        d.centre = QPointF(sx / d.pixels, sy / d.pixels);
    }
    return d;
}

void mouse(QWidget& w, QEvent::Type type, QPoint p, Qt::MouseButton button,
           Qt::KeyboardModifiers modifiers = {}) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent e(type, p, w.mapToGlobal(p), button, held, modifiers);
    QCoreApplication::sendEvent(&w, &e);
}

void drag(QWidget& w, QPoint from, QPoint to, Qt::MouseButton button,
          Qt::KeyboardModifiers modifiers = {}) {
    mouse(w, QEvent::MouseButtonPress, from, button, modifiers);
    mouse(w, QEvent::MouseMove, (from + to) / 2, button, modifiers);
    mouse(w, QEvent::MouseMove, to, button, modifiers);
    mouse(w, QEvent::MouseButtonRelease, to, button, modifiers);
}

}  // namespace

class PlacementTest : public QObject {
    Q_OBJECT

public:
    explicit PlacementTest(CMainFrame& frame) : m_frame(frame), m_view(frame.view()) {}

private slots:
    void init() {
        m_prompts = installPrompts(m_view);
        m_view.scene().m_object1.clear();
        m_view.scene().m_object2.clear();
        resetView(m_view.viewState());
        m_view.scene().m_samplingFactor = 0.25f;
        m_view.scene().m_object2Offset = Vector4();
        m_view.scene().m_object2Rotation = Vector4();
    }

    void theDialogPlacesObject2AndOneUndoTakesItBack() {
        generate(1, 1, {"1"});
        generate(2, 0, {"12", "12", "0.4"});
        const Vector4 made = m_view.scene().m_object2.centre;
        const size_t steps = m_view.undoHistory().undoCount();
        Vector4 shownWhileOpen;
        QString refusal;
        m_prompts->dialogHandler = [&](QDialog& d) {
            auto& dialog = dynamic_cast<CObject2Placement&>(d);
            dialog.field(0)->setText("0,5");  // decimal comma
            dialog.field(1)->setText("0.25");
            dialog.field(4)->setText("30");
            shownWhileOpen = m_view.scene().m_object2Offset;  // at once, before "U redu"
            dialog.field(3)->setText("400");
            dialog.accept();  // refused: the turn is out of range
            refusal = m_prompts->messages.empty() ? QString() : m_prompts->messages.back().text;
            dialog.field(3)->setText("0");
            dialog.accept();
            return dialog.result();
        };
        m_frame.OnCmdMsg(ID_OBJECT2_PLACEMENT);
        QCOMPARE(shownWhileOpen, Vector4(0.5f, 0.25f, 0));
        QVERIFY2(refusal.contains("Zakret oko x: broj od -360 do 360"), qPrintable(refusal));
        QCOMPARE(m_view.scene().m_object2Offset, Vector4(0.5f, 0.25f, 0));
        QCOMPARE(m_view.scene().m_object2Rotation, Vector4(0, 30, 0));
        QCOMPARE(m_view.undoHistory().undoCount(), steps + 1);
        m_frame.OnCmdMsg(ID_UNDO);
        QCOMPARE(m_view.scene().m_object2Offset, Vector4());
        QCOMPARE(m_view.scene().m_object2Rotation, Vector4());

        // "Odustani" takes back what was only shown; "Primijeni" before it stays, one step.
        m_prompts->dialogHandler = [&](QDialog& d) {
            auto& dialog = dynamic_cast<CObject2Placement&>(d);
            dialog.field(2)->setText("-0.3");
            dialog.OnApply();
            dialog.field(0)->setText("0.9");
            dialog.reject();
            return dialog.result();
        };
        m_frame.OnCmdMsg(ID_OBJECT2_PLACEMENT);
        QCOMPARE(m_view.scene().m_object2Offset, Vector4(0, 0, -0.3f));
        QCOMPARE(m_view.undoHistory().undoCount(), steps + 1);

        // "Ponisti polozaj" returns object 2 where it was made, even after an operation moved it
        // into its vertices (the dialog still shows the offset).
        m_view.scene().m_object2Offset = Vector4(0.5f, 0.1f, 0);
        m_view.scene().m_object2Rotation = Vector4(10, 0, 0);
        m_frame.OnCmdMsg(ID_UNION);
        QCOMPARE(m_view.scene().m_object2Offset, Vector4());
        Vector4 shown;
        m_prompts->dialogHandler = [&](QDialog& d) {
            auto& dialog = dynamic_cast<CObject2Placement&>(d);
            shown = Vector4(parseFloat(dialog.field(0)->text()).value_or(-1),
                            parseFloat(dialog.field(1)->text()).value_or(-1), 0);
            dialog.OnResetPlacement();
            return int(QDialog::Rejected);  // closed after it: the reset stays
        };
        const size_t before = m_view.undoHistory().undoCount();
        m_frame.OnCmdMsg(ID_OBJECT2_PLACEMENT);
        QCOMPARE(shown, Vector4(0.5f, 0.1f, 0));
        const Scene& scene = m_view.scene();
        QCOMPARE(scene.m_object2.centre + scene.m_object2Offset, made);
        QCOMPARE(scene.m_object2Rotation, Vector4());
        QCOMPARE(m_view.undoHistory().undoCount(), before + 1);
    }

    void aTurnedViewMovesObject2AlongTheScreen() {
        generate(2, 0, {"16", "16", "0.3"});
        ViewState& view = m_view.viewState();
        const QPoint start(300, 300);
        auto enterMoveMode = [&] {
            m_view.OnCommand(ID_MOVE_OBJECT2);
            view.m_lastMouse = {start.x(), start.y()};
        };
        // The front view moves exactly as it always has: x right, y up, 0.01 per pixel.
        enterMoveMode();
        mouse(m_view, QEvent::MouseMove, start + QPoint(10, -20), Qt::NoButton);
        QCOMPARE(m_view.scene().m_object2Offset, Vector4(10 * 0.01f, 20 * 0.01f, 0));
        view.m_mouseMode = kMouseIdle;
        m_view.scene().m_object2Offset = Vector4();

        view.m_rotY = 50;
        view.m_rotX = 30;
        view.m_eye = Vector4(0, 0, 6);  // near enough for a move to cover many pixels
        enterMoveMode();
        const Drawn before = drawnPixels(m_view);
        mouse(m_view, QEvent::MouseMove, start + QPoint(40, 0), Qt::NoButton);
        const Drawn right = drawnPixels(m_view);
        QVERIFY2(right.centre.x() - before.centre.x() > 20 &&
                     std::abs(right.centre.y() - before.centre.y()) < 3,
                 qPrintable(QString("%1 %2").arg(right.centre.x()).arg(right.centre.y())));
        mouse(m_view, QEvent::MouseMove, start + QPoint(40, -40), Qt::NoButton);
        const Drawn up = drawnPixels(m_view);
        QVERIFY(before.centre.y() - up.centre.y() > 20);
        QVERIFY(std::abs(up.centre.x() - right.centre.x()) < 3);
        // With Shift, a drag to the left brings it towards the eye: it grows where it is.
        mouse(m_view, QEvent::MouseMove, start + QPoint(-60, -40), Qt::NoButton, Qt::ShiftModifier);
        const Drawn nearer = drawnPixels(m_view);
        QVERIFY2(nearer.pixels > up.pixels * 1.2,
                 qPrintable(QString("%1 -> %2").arg(up.pixels).arg(nearer.pixels)));
        view.m_mouseMode = kMouseIdle;
    }

    void panningMovesThePictureNotTheScene() {
        generate(1, 1, {"1"});
        generate(2, 0, {"12", "12", "0.3"});
        ViewState& view = m_view.viewState();
        view.m_rotY = 30;
        view.m_eye = Vector4(0, 0, 8);  // far enough for the near faces to move nearly alike
        const uint64_t revisions[2] = {m_view.scene().m_object1.revision,
                                       m_view.scene().m_object2.revision};
        const Drawn before = drawnPixels(m_view);
        drag(m_view, QPoint(200, 200), QPoint(260, 230), Qt::MiddleButton);
        const Drawn panned = drawnPixels(m_view);
        QVERIFY2(std::abs(panned.centre.x() - before.centre.x() - 60) < 9 &&
                     std::abs(panned.centre.y() - before.centre.y() - 30) < 5,
                 qPrintable(QString("%1 %2")
                                .arg(panned.centre.x() - before.centre.x())
                                .arg(panned.centre.y() - before.centre.y())));
        QCOMPARE(view.m_rotY, 30.0f);
        QCOMPARE(view.m_rotX, 0.0f);
        // Shift with the left button pans too, where it would otherwise turn the scene.
        drag(m_view, QPoint(260, 230), QPoint(200, 200), Qt::LeftButton, Qt::ShiftModifier);
        const Drawn back = drawnPixels(m_view);
        QVERIFY(std::abs(back.centre.x() - before.centre.x()) < 1.5);
        QCOMPARE(view.m_rotY, 30.0f);
        QCOMPARE(view.m_mouseMode, int(kMouseIdle));
        QCOMPARE(m_view.scene().m_object1.revision, revisions[0]);
        QCOMPARE(m_view.scene().m_object2.revision, revisions[1]);
        QCOMPARE(m_view.scene().m_object2Offset, Vector4());
    }

    void settingsLastIntoTheNextWindow() {
        QSettings().clear();
        {
            // Nothing stored, or nothing that makes sense: a new window as ever.
            QSettings bad;
            bad.setValue("Akcije/FaktorUzorkovanja", "abc");
            bad.setValue("Akcije/ZatvoreniRezultat", "mozda");
            bad.setValue("Generator/Kugla", "2 2 1 0 0");
            bad.setValue("Datoteke/Mapa", "/nema/te/mape");
            bad.sync();
            CMainFrame fresh;
            QVERIFY(!fresh.menuAction(ID_CLOSED_RESULT)->isChecked());
            QVERIFY(!fresh.view().scene().m_closedResult);
            QVERIFY(!fresh.view().scene().m_keepCoordinates);
            QCOMPARE(fresh.view().scene().m_samplingFactor, kDefaultSamplingFactor);
            QCOMPARE(fresh.view().generatorValues().perShape[0].m, 32);
            QCOMPARE(fresh.view().currentFolder(), QString());
            QVERIFY(fresh.view().recentFiles(1).isEmpty());
            QVERIFY(!fresh.recentMenu(2)->isEnabled());
            QCOMPARE(fresh.size(), QSize(1024, 768));
        }
        QSettings().clear();

        QTemporaryDir dir;
        const QString kept = dir.filePath("a.obj");
        const QString gone = dir.filePath("b.obj");
        QVERIFY(writeFile(kept, kTetra) && writeFile(gone, kTetra));
        m_prompts->fileNames = {gone, kept};
        m_frame.OnCmdMsg(ID_OPEN_OBJECT2);
        m_frame.OnCmdMsg(ID_OPEN_OBJECT2);
        QFile::remove(gone);
        m_frame.menuAction(ID_CLOSED_RESULT)->trigger();
        m_prompts->dialogHandler = [](QDialog& d) {
            auto& factor = dynamic_cast<CPrikazni&>(d);
            factor.valueEdit()->setText("0,02");
            factor.accept();
            return factor.result();
        };
        m_frame.OnCmdMsg(ID_SAMPLING_FACTOR);
        generate(1, 2, {"2", "0.5", "0.5"});
        m_frame.resize(900, 700);
        m_frame.close();  // the window's place is kept as it closes
        m_frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_frame));

        CMainFrame next;
        QVERIFY(next.menuAction(ID_CLOSED_RESULT)->isChecked());
        QVERIFY(next.view().scene().m_closedResult);
        QCOMPARE(next.view().recentFiles(2), QStringList({kept}));  // the gone one is dropped
        QVERIFY(next.view().recentFiles(1).isEmpty());
        QCOMPARE(next.recentMenu(2)->actions().size(), 1);
        QCOMPARE(next.view().currentFolder(), dir.path());
        QCOMPARE(next.view().scene().m_samplingFactor, 0.02f);
        const GeneratorValues& generator = next.view().generatorValues();
        QCOMPARE(generator.shape, Shape::Box);
        QCOMPARE(generator.perShape[2].b, 0.5f);
        QCOMPARE(generator.perShape[2].a, 2.0f);
        QCOMPARE(next.size(), QSize(900, 700));

        m_frame.menuAction(ID_CLOSED_RESULT)->trigger();
        m_frame.resize(1024, 768);
        QSettings().clear();
    }

private:
    void generate(int object, int shape, QStringList fields) {
        m_prompts->dialogHandler = generatorAnswer(object, shape, fields);
        m_frame.OnCmdMsg(ID_GENERATOR);
        m_prompts->dialogHandler = nullptr;
        m_frame.updateCommandStates();
    }

    CMainFrame& m_frame;
    CSceneView& m_view;
    TestPrompts* m_prompts = nullptr;
};

int runPlacementTests(CMainFrame& frame, int argc, char** argv) {
    PlacementTest test(frame);
    return QTest::qExec(&test, argc, argv);
}

#include "placement_test.moc"
