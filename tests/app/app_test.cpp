// The desktop program driven as a user would: commands by id, dialogs and message boxes
// answered through the prompts, keys and mouse through Qt events.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>

#include "app/commands.h"
#include "app/generator_dialog.h"
#include "app/info_display.h"
#include "app/main_app.h"
#include "app/main_frame.h"
#include "app/prikazni.h"
#include "app/undo_history.h"
#include "test_prompts.h"

using namespace korvan;
using namespace korvan::app;

class AppTest : public QObject {
    Q_OBJECT

public:
    explicit AppTest(CMainFrame& frame) : m_frame(frame), m_view(frame.view()) {}

private slots:
    void init() {
        m_prompts = installPrompts(m_view);
        m_view.scene().m_object1.clear();
        m_view.scene().m_object2.clear();
        m_view.viewState().m_eye = Vector4(0, 0, 15);
        m_view.keyTable() = KeyTable();
        resetView(m_view.viewState());
        m_view.scene().m_samplingFactor = 0.25f;
        m_view.scene().m_object2Offset = Vector4();
        m_view.scene().m_object2Rotation = Vector4();
        m_frame.updateCommandStates();
        // Shortcuts act in the active window only.
        m_frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_frame));
    }

    void enableRulesFollowTheLoadedObjects() {
        const int gated[] = {ID_SAVE_OBJECT1, ID_SAVE_OBJECT2, ID_UNION,
                             ID_INTERSECTION, ID_DIFFERENCE,   ID_ANIMATION};
        for (int id : gated) {
            QVERIFY(!m_frame.menuAction(id)->isEnabled());
        }
        QVERIFY(!m_frame.toolbarAction(ID_SAVE_OBJECT1)->isEnabled());
        QVERIFY(m_frame.menuAction(ID_OPEN_OBJECT1)->isEnabled());

        generate(1, 1, {"2"});
        m_frame.updateCommandStates();
        QVERIFY(m_frame.menuAction(ID_SAVE_OBJECT1)->isEnabled());
        QVERIFY(m_frame.toolbarAction(ID_SAVE_OBJECT1)->isEnabled());
        QVERIFY(!m_frame.menuAction(ID_SAVE_OBJECT2)->isEnabled());
        QVERIFY(!m_frame.toolbarAction(ID_UNION)->isEnabled());
        // The information on the one object there is (the text itself is the dialogs' test's
        // business).
        QString text;
        m_prompts->dialogHandler = [&](QDialog& d) {
            text = dynamic_cast<CinfoDisplay&>(d).shownText();
            return int(QDialog::Accepted);
        };
        m_frame.OnCmdMsg(ID_OBJECT_INFO);
        QVERIFY2(text.contains("Volumen: 8\n") && !text.contains("[Objekt 2]"), qPrintable(text));

        generate(2, 1, {"1"});
        m_frame.updateCommandStates();
        for (int id : gated) {
            QVERIFY(m_frame.menuAction(id)->isEnabled());
        }
    }

    void checkMarksAreWrittenByTheirCommands() {
        QAction* sampling = m_frame.menuAction(ID_EDGE_SAMPLING);
        QVERIFY(sampling->isChecked());
        QCOMPARE(m_view.scene().m_edgeSampling, 1);
        sampling->trigger();
        QVERIFY(!sampling->isChecked());
        QCOMPARE(m_view.scene().m_edgeSampling, 0);
        sampling->trigger();
        QVERIFY(sampling->isChecked());
        QCOMPARE(m_view.scene().m_edgeSampling, 1);

        // "Zatvoreni rezultat" follows "Uzorkovanje rubova" in Akcije, unchecked in a new window.
        QAction* closed = m_frame.menuAction(ID_CLOSED_RESULT);
        const QList<QAction*> actions = m_frame.menuBar()->actions().at(2)->menu()->actions();
        QCOMPARE(actions.indexOf(closed), actions.indexOf(sampling) + 1);
        QVERIFY(!closed->isChecked());
        QVERIFY(!m_view.scene().m_closedResult);
        closed->trigger();
        QVERIFY(closed->isChecked());
        QVERIFY(m_view.scene().m_closedResult);
        closed->trigger();
        QVERIFY(!m_view.scene().m_closedResult);

        const int cells[] = {ID_CELLS_INNER,    ID_CELLS_OUTER, ID_CELLS_BOUNDARY,
                             ID_CELLS_UNSORTED, ID_CELLS_ALL,   ID_CELLS_NONE};
        auto checkedCells = [&] {
            QList<int> ids;
            for (int id : cells) {
                if (m_frame.menuAction(id)->isChecked()) {
                    ids << id;
                }
            }
            return ids;
        };
        QCOMPARE(checkedCells(), QList<int>());
        m_frame.menuAction(ID_CELLS_ALL)->trigger();
        QCOMPARE(checkedCells(), QList<int>({ID_CELLS_ALL}));
        QCOMPARE(m_view.viewState().m_cellDisplayMode, 5);
        m_frame.menuAction(ID_CELLS_OUTER)->trigger();
        QCOMPARE(checkedCells(), QList<int>({ID_CELLS_OUTER}));
        QCOMPARE(m_view.viewState().m_cellDisplayMode, 2);
        m_frame.menuAction(ID_CELLS_NONE)->trigger();
        QCOMPARE(checkedCells(), QList<int>());
        QCOMPARE(m_view.viewState().m_cellDisplayMode, 0);
    }

    void everyKeyPressActsExactlyOnce() {
        generate(1, 1, {"1"});
        generate(2, 1, {"1"});
        m_view.viewState().m_eye = Vector4(0, 0, 15);
        // A tap shorter than any frame still acts.
        QTest::keyClick(&m_view, Qt::Key_PageUp);
        QCOMPARE(m_view.viewState().m_eye.z, 13.5f);
        QTest::keyClick(&m_view, Qt::Key_1);
        QTest::keyClick(&m_view, Qt::Key_2);
        QVERIFY(!m_view.viewState().m_showObject1);
        QVERIFY(!m_view.viewState().m_showObject2);
        QTest::keyClick(&m_view, Qt::Key_1, Qt::KeypadModifier);  // the keypad's 1 is not it
        QVERIFY(!m_view.viewState().m_showObject1);

        // Held past the repeat delay, a switch flips once; Page Up keeps stepping.
        auto repeat = [&](Qt::Key key) {
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(), true);
            QCoreApplication::sendEvent(&m_view, &release);
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
            QCoreApplication::sendEvent(&m_view, &press);
        };
        QTest::keyPress(&m_view, Qt::Key_F);
        repeat(Qt::Key_F);
        repeat(Qt::Key_F);
        QTest::keyRelease(&m_view, Qt::Key_F);
        QCOMPARE(m_view.scene().m_object1.wireframe, 1);
        QTest::keyPress(&m_view, Qt::Key_PageUp);
        repeat(Qt::Key_PageUp);
        QTest::keyRelease(&m_view, Qt::Key_PageUp);
        QCOMPARE(m_view.viewState().m_eye.z, 13.5f * 0.9f * 0.9f);
        // Ctrl+1 is a shortcut's business, not the view's.
        QTest::keyClick(&m_view, Qt::Key_2, Qt::ControlModifier);
        QVERIFY(!m_view.viewState().m_showObject2);
    }

    void anIdleViewDrawsNothing() {
        generate(1, 1, {"1"});
        QTest::qWait(100);  // the load's own drawing
        const int64_t drawn = m_view.framesDrawn();
        QTest::qWait(400);
        QCOMPARE(m_view.framesDrawn(), drawn);
        // A change draws once the event loop is free.
        QTest::keyClick(&m_view, Qt::Key_F);
        QTRY_VERIFY(m_view.framesDrawn() > drawn);
        QVERIFY(m_view.lastFrameRate() > 0.0);
    }

    void theCaptionNamesTheFilesAndTheProgramOnce() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kocka.obj");
        writeFile(path, kTetra);
        command(ID_OPEN_OBJECT1, {path});
        generate(2, 1, {"1"});
        QTRY_VERIFY(m_frame.windowHandle()->title().contains("objekt1: kocka.obj"));
        const QString shown = m_frame.windowHandle()->title();
        QVERIFY2(shown.contains("objekt2: generirano"), qPrintable(shown));
        // The window system adds " - Korvan" to a title that does not end with it.
        QVERIFY2(!shown.contains("Korvan"), qPrintable(shown));
    }

    void wheelStepsScaleTheEyeDistanceAndSmallStepsAddUp() {
        auto wheel = [&](int delta) {
            QWheelEvent e(QPointF(10, 10), m_view.mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(&m_view, &e);
            return m_view.viewState().m_eye.z;
        };
        QCOMPARE(wheel(240), static_cast<float>(15.0f * 1.1 * 1.1));
        m_view.viewState().m_eye.z = 15;
        QCOMPARE(wheel(-120), static_cast<float>(15.0f * 0.9));
        // A touchpad's quarter steps: the fourth makes one whole step.
        m_view.viewState().m_eye.z = 15;
        wheel(30);
        wheel(30);
        QCOMPARE(wheel(30), 15.0f);
        QCOMPARE(wheel(30), static_cast<float>(15.0f * 1.1));
    }

    void mouseModesTurnTheSceneAndMoveObject2() {
        QTest::mousePress(&m_view, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(m_view.viewState().m_mouseMode, int(kMouseRotateScene));
        QTest::mouseMove(&m_view, QPoint(90, 105));
        QCOMPARE(m_view.viewState().m_rotY, 10.0f);
        QCOMPARE(m_view.viewState().m_rotX, -5.0f);
        QTest::mouseRelease(&m_view, Qt::LeftButton, {}, QPoint(90, 105));
        QCOMPARE(m_view.viewState().m_mouseMode, int(kMouseIdle));

        QCursor::setPos(m_view.mapToGlobal(QPoint(50, 50)));
        QVERIFY(m_frame.OnCmdMsg(ID_MOVE_OBJECT2));
        QCOMPARE(m_view.viewState().m_mouseMode, int(kMouseMoveObject2));
        const MousePoint start = m_view.viewState().m_lastMouse;
        QTest::mouseMove(&m_view, QPoint(start.x + 10, start.y - 20));
        QVERIFY(m_view.scene().m_object2Offset != Vector4());
        // A left click in move mode starts no rotation; its release ends the mode.
        QTest::mousePress(&m_view, Qt::LeftButton, {}, QPoint(start.x + 10, start.y - 20));
        QCOMPARE(m_view.viewState().m_mouseMode, int(kMouseMoveObject2));
        QTest::mouseRelease(&m_view, Qt::LeftButton, {}, QPoint(start.x + 10, start.y - 20));
        QCOMPARE(m_view.viewState().m_mouseMode, int(kMouseIdle));

        m_view.OnCommand(ID_ROTATE_OBJECT2);
        QCOMPARE(m_view.viewState().m_mouseMode, int(kMouseRotateObject2));
        // A right click in a mode only ends it; no menu opens.
        QTest::mousePress(&m_view, Qt::RightButton, {}, QPoint(20, 20));
        QCOMPARE(m_view.viewState().m_mouseMode, int(kMouseIdle));

        // In the idle mode it opens the popup menu at the pointer.
        QPoint menuCorner;
        QStringList items;
        QTimer::singleShot(200, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                menuCorner = popup->geometry().topLeft();
                for (QAction* a : popup->actions()) {
                    items << a->text();
                }
                popup->close();
            }
        });
        QTest::mousePress(&m_view, Qt::RightButton, {}, QPoint(30, 40));
        QCOMPARE(menuCorner, m_view.mapToGlobal(QPoint(30, 40)));
        QCOMPARE(items.mid(0, 6), QStringList({"Pomicanje objekta 2", "Polozaj objekta 2", "",
                                               "Unija", "Razlika", "Presjek"}));
        QCOMPARE(items.mid(6), QStringList({"", "Cijela scena", "Pogled sprijeda", "Pogled odozgo",
                                            "Pogled sa strane", "Izometrijski pogled"}));
    }

    void nothingStartsWhileAnOperationRuns() {
        {
            CSceneView::BusyScope busy(m_view);
            m_frame.OnCmdMsg(ID_GENERATOR);
            QCOMPARE(m_prompts->dialogsRun, 0);
            m_frame.close();
            QVERIFY(m_frame.isVisible());  // closing waits for the operation
        }
        QTRY_VERIFY(!m_frame.isVisible());
        m_frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_frame));
    }

    void loadingAndSavingObjFiles() {
        QTemporaryDir dir;
        const QString good = dir.filePath("tetra.OBJ");
        writeFile(good, kTetra);
        command(ID_OPEN_OBJECT1, {good});
        const Solid& o1 = m_view.scene().m_object1;
        QCOMPARE(o1.loaded, 1);
        QVERIFY(m_view.scene().tree(1) != nullptr);
        const float d = static_cast<float>(length(o1.maxCorner - o1.minCorner));
        QCOMPARE(m_view.viewState().m_eye.z, d);
        QVERIFY(m_view.viewState().m_near <= d / 10.0);
        QVERIFY(m_view.viewState().m_far > d);
        QCOMPARE(m_prompts->messages.back().text,
                 QString::asprintf("Procitano i uzorkovano tijelo:\n%d tokuta,  %d vrhova",
                                   o1.triangleCount(), o1.vertexCount()));
        QCOMPARE(m_view.currentFolder(), QFileInfo(good).absolutePath());

        // A refused file keeps object 1, its tree and the camera.
        const QString bad = dir.filePath("bad.obj");
        writeFile(bad, "v 0 0 0\nv 1 0 0\nf 1 2 9\n");
        const int triangles = o1.triangleCount();
        const OctreeNode* tree = m_view.scene().tree(1);
        m_view.viewState().m_eye.z = 7;
        m_prompts->messages.clear();
        command(ID_OPEN_OBJECT1, {bad});
        QCOMPARE(o1.triangleCount(), triangles);
        QCOMPARE(m_view.scene().tree(1), tree);
        QCOMPARE(m_view.viewState().m_eye.z, 7.0f);
        QCOMPARE(m_prompts->messages.size(), size_t(1));
        QCOMPARE(m_prompts->messages[0].icon, Prompts::Icon::Error);

        // An open mesh is taken, and the report says so. So is a file with no triangle refused.
        const QString open = dir.filePath("open.obj");
        writeFile(open, "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 2\nf 1 3 2\nf 1 2 4\n");
        const QString empty = dir.filePath("empty.obj");
        writeFile(empty, "v 0 0 0\nv 2 0 0\n");
        m_prompts->messages.clear();
        command(ID_OPEN_OBJECT2, {open, empty});
        const int openTriangles = m_view.scene().m_object2.triangleCount();
        m_frame.OnCmdMsg(ID_OPEN_OBJECT2);
        QCOMPARE(m_prompts->messages.size(), size_t(2));
        QVERIFY2(m_prompts->messages[0].text.contains("nije zatvoreno"),
                 qPrintable(m_prompts->messages[0].text));
        QVERIFY(m_prompts->messages[1].text.contains("nijedan trokut"));
        QCOMPARE(m_view.scene().m_object2.triangleCount(), openTriangles);

        // Cancelled dialog: nothing happens.
        m_frame.OnCmdMsg(ID_OPEN_OBJECT2);
        QCOMPARE(m_view.scene().m_object2.triangleCount(), openTriangles);

        const QString saved = dir.filePath("out.obj");
        command(ID_SAVE_OBJECT1, {saved});
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine(), QByteArray("# 3d tijelo u .obj formatu\n"));

        m_prompts->messages.clear();
        command(ID_SAVE_OBJECT1, {dir.filePath("no/such/folder/x.obj")});
        QCOMPARE(m_prompts->messages.size(), size_t(1));
        QCOMPARE(m_prompts->messages[0].text, QString("Greska kod spremanja!"));
    }

    void partsKeepTheirCoordinatesWhenTheMarkIsSet() {
        // "Zadrzi koordinate datoteka" follows "Zatvoreni rezultat", unchecked in a new window.
        QAction* keep = m_frame.menuAction(ID_KEEP_COORDINATES);
        const QList<QAction*> actions = m_frame.menuBar()->actions().at(2)->menu()->actions();
        QCOMPARE(actions.indexOf(keep), actions.indexOf(m_frame.menuAction(ID_CLOSED_RESULT)) + 1);
        QVERIFY(!keep->isChecked());
        keep->trigger();
        QVERIFY(m_view.scene().m_keepCoordinates);

        // A part of 200 mm far from the origin is read as it is, and the view turns about it.
        QTemporaryDir dir;
        const QString part = dir.filePath("part.obj");
        writeFile(part,
                  "v 1000 0 0\nv 1200 0 0\nv 1000 200 0\nv 1000 0 200\n"
                  "f 1 3 2\nf 1 2 4\nf 1 4 3\nf 2 3 4\n");
        command(ID_OPEN_OBJECT1, {part});
        const Solid& o1 = m_view.scene().m_object1;
        QCOMPARE(o1.maxCorner, Vector4(1200, 200, 200));
        QCOMPARE(m_view.viewState().m_pivot, Vector4(1100, 100, 100));
        const float d = static_cast<float>(length(o1.maxCorner - o1.minCorner));
        QCOMPARE(m_view.viewState().m_eye.z, d);
        QVERIFY(m_view.viewState().m_near < d / 10.0 && m_view.viewState().m_far > d);

        // Saved as binary STL (the extension decides), then read back in the unit box.
        const QString stl = dir.filePath("part.stl");
        command(ID_SAVE_OBJECT1, {stl});
        QCOMPARE(QFileInfo(stl).size(), qint64(84 + 50 * o1.triangleCount()));
        keep->trigger();
        QVERIFY(!m_view.scene().m_keepCoordinates);
        command(ID_OPEN_OBJECT1, {stl});
        QCOMPARE(o1.maxCorner.x, 1.0f);
        QCOMPARE(o1.fileMaxCorner, Vector4(1200, 200, 200));
        QCOMPARE(m_view.viewState().m_pivot, Vector4());
    }

    void viewImagesTakeTheNextFreeNumberAndSayWhere() {
        QTemporaryDir dir;
        generate(1, 1, {"1"});
        m_view.setCurrentFolder(dir.path());
        m_frame.OnCmdMsg(ID_VIEW_IMAGE);
        m_frame.OnCmdMsg(ID_VIEW_IMAGE);
        for (const char* name : {"screen0000.bmp", "screen0001.bmp"}) {
            QFile image(dir.filePath(name));
            QVERIFY(image.open(QIODevice::ReadOnly));
            QCOMPARE(image.read(2), QByteArray("BM"));
        }
        QVERIFY2(m_frame.statusBar()->currentMessage().endsWith("screen0001.bmp"),
                 qPrintable(m_frame.statusBar()->currentMessage()));
        m_view.setCurrentFolder(dir.filePath("missing"));
        m_prompts->messages.clear();
        m_frame.OnCmdMsg(ID_VIEW_IMAGE);
        QCOMPARE(m_prompts->messages.size(), size_t(1));
    }

    void samplingFactorDialogSetsTheFactor() {
        QString title, shown;
        size_t messagesAfterNan = 0;
        m_prompts->dialogHandler = [&](QDialog& d) {
            auto& dialog = dynamic_cast<CPrikazni&>(d);
            title = dialog.windowTitle();
            shown = dialog.valueEdit()->text();
            dialog.valueEdit()->setText("nan");
            dialog.accept();  // refused: a prompt, and the dialog stays open
            messagesAfterNan = m_prompts->messages.size();
            dialog.valueEdit()->setText("0,05");  // the decimal comma
            dialog.accept();
            return dialog.result();
        };
        m_frame.OnCmdMsg(ID_SAMPLING_FACTOR);
        QCOMPARE(title, QString("Unesite faktor uzorkovanja"));
        QCOMPARE(shown, QString("0.25"));
        QCOMPARE(messagesAfterNan, size_t(1));
        QCOMPARE(m_view.scene().m_samplingFactor, 0.05f);
    }

    void colouredObject1IsDrawnDarkRed() {
        generate(1, 1, {"1"});
        QAction* coloured = m_frame.menuAction(ID_COLORED_MATERIALS);
        QVERIFY(!coloured->isChecked());
        coloured->trigger();
        QVERIFY(coloured->isChecked());
        m_view.update();
        QTest::qWait(50);
        const QImage picture = m_view.grabFramebuffer();
        const QColor centre = picture.pixelColor(picture.width() / 2, picture.height() / 2);
        QVERIFY2(centre.red() > 60 && centre.red() > 3 * centre.green() &&
                     centre.red() > 3 * centre.blue(),
                 qPrintable(centre.name()));
        {
            // A long run records its frames while busy: the picture must be drawn anew.
            CSceneView::BusyScope busy(m_view);
            m_view.viewState().m_showObject1 = false;
            const RgbImage hidden = m_view.grabPicture();
            QVERIFY(hidden.valid());
            const uint8_t* p = hidden.pixel(hidden.width / 2, hidden.height / 2);
            QCOMPARE(int(p[0]) + p[1] + p[2], 3 * 255);
            // The animation reads each frame back as drawn instead of drawing it again; turned,
            // so that the picture is not the same upside down.
            m_view.viewState().m_showObject1 = true;
            const float rotX = m_view.viewState().m_rotX;
            m_view.viewState().m_rotX = rotX + 25.0f;
            m_view.drawFrameNow();
            const RgbImage drawn = m_view.readDrawnPicture();
            QVERIFY(drawn.pixels == m_view.grabPicture().pixels);
            QVERIFY(drawn.pixels != hidden.pixels);
            m_view.viewState().m_rotX = rotX;
            m_view.viewState().m_showObject1 = true;
        }
        coloured->trigger();
        QVERIFY(!m_view.viewState().m_coloredMaterials);
        m_view.update();
        QTest::qWait(50);
        const QColor grey =
            m_view.grabFramebuffer().pixelColor(picture.width() / 2, picture.height() / 2);
        QVERIFY2(std::abs(grey.red() - grey.blue()) < 10, qPrintable(grey.name()));
    }

    void theProgressPopupIsGoneOnceTheOperationEnds() {
        m_frame.menuAction(ID_CELLS_ALL)->trigger();
        // It stayed behind on some loads only: several are looked at.
        QList<int> captionPixels;
        for (int load = 0; load < 4; ++load) {
            command(ID_OPEN_OBJECT1, {QStringLiteral(KORVAN_SHARED_DATA "/netgen-part1.obj")});
            QCOMPARE(m_view.scene().m_object1.loaded, 1);
            QVERIFY(m_view.progressPopup() == nullptr);
            QTest::qWait(100);
            // Where the popup stood, no pixel of its dark blue caption is left on the screen
            // (what the window system shows, not a fresh drawing of the widgets).
            const QImage window = m_frame.screen()->grabWindow(m_frame.winId()).toImage();
            QVERIFY(!window.isNull());
            const QPoint corner =
                m_view.mapTo(&m_frame, QPoint(m_view.width() / 2 - 150, m_view.height() / 2 - 15));
            int count = 0;
            for (int y = corner.y(); y < corner.y() + 30; ++y) {
                for (int x = corner.x(); x < corner.x() + 300; ++x) {
                    const QColor c = window.pixelColor(x, y);
                    count += std::abs(c.red() - 10) + std::abs(c.green() - 36) +
                                 std::abs(c.blue() - 106) <
                             40;
                }
            }
            captionPixels << count;
        }
        m_frame.menuAction(ID_CELLS_NONE)->trigger();
        QCOMPARE(captionPixels, QList<int>({0, 0, 0, 0}));
    }

    void differenceFromTheMenuIsUndoneAndRedone() {
        generate(1, 1, {"1.5"});
        generate(2, 0, {"12", "12", "0.6"});
        const int triangles = m_view.scene().m_object1.triangleCount();
        const Vector4 min2 = m_view.scene().m_object2.minCorner;
        m_view.scene().m_object2Offset = Vector4(0.5f, 0, 0);
        m_view.scene().m_object2Rotation = Vector4(0, 30, 0);
        m_prompts->messages.clear();
        m_frame.updateCommandStates();  // as the idle timer does
        m_frame.menuAction(ID_DIFFERENCE)->trigger();
        // Object 1 replaced, object 2 moved into its vertices, the time reported.
        QVERIFY(!m_view.busy());
        QVERIFY(m_view.progressPopup() == nullptr);
        const int result = m_view.scene().m_object1.triangleCount();
        QVERIFY(result != triangles);
        QCOMPARE(m_view.scene().m_object2.minCorner.x, min2.x + 0.5f);
        QCOMPARE(m_view.scene().m_object2Offset, Vector4());
        QCOMPARE(m_view.scene().m_object2Rotation, Vector4());
        QCOMPARE(m_prompts->messages.size(), size_t(1));
        QVERIFY(m_prompts->messages[0].text.startsWith("Vrijeme obavljanja operacije: "));
        QVERIFY(m_prompts->messages[0].text.endsWith(" s"));
        QTest::keyClick(&m_frame, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(m_view.scene().m_object1.triangleCount(), triangles);
        QCOMPARE(m_view.scene().m_object2Offset, Vector4(0.5f, 0, 0));
        QVERIFY(m_view.scene().tree(1) != nullptr);
        QTest::keyClick(&m_frame, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(m_view.scene().m_object1.triangleCount(), result);
        QCOMPARE(m_view.scene().m_object2Offset, Vector4());

        // Moving object 2 with the mouse is one step, ended by the right click.
        m_view.OnCommand(ID_MOVE_OBJECT2);
        const MousePoint p = m_view.viewState().m_lastMouse;
        QTest::mouseMove(&m_view, QPoint(p.x + 30, p.y));
        QTest::mouseMove(&m_view, QPoint(p.x + 60, p.y));
        QTest::mousePress(&m_view, Qt::RightButton, {}, QPoint(p.x + 60, p.y));
        QVERIFY(m_view.scene().m_object2Offset != Vector4());
        m_frame.menuAction(ID_UNDO)->trigger();
        QCOMPARE(m_view.scene().m_object2Offset, Vector4());
        QCOMPARE(m_view.scene().m_object1.triangleCount(), result);
    }

    void theHistoryKeepsAFewStatesWithinItsBudget() {
        Scene scene;
        scene.m_samplingFactor = 0.25f;
        const QString names[2];
        UndoHistory few(3);
        UndoHistory small(10, 1);
        for (int i = 0; i < 5; ++i) {
            QVERIFY(scene.GenerateObject(1, PrimitiveParameters::cube(1.0f + i)).ok());
            few.push(few.capture(scene, names, false));
            small.push(small.capture(scene, names, false));
        }
        QCOMPARE(few.undoCount(), size_t(3));
        QCOMPARE(small.undoCount(), size_t(1));  // the last step stays whatever it costs
        // The oldest went first: undoing all three ends at the third cube.
        std::optional<SceneSnapshot> state;
        for (int i = 0; i < 3; ++i) {
            state = few.undo(few.capture(scene, names, false));
        }
        QVERIFY(state && !few.canUndo());
        QCOMPARE(state->object1->maxCorner.x, 1.5f);
    }

    // The closed engine works on the objects before sampling; undone, an operation done again
    // must find them so and give the same result.
    void anUndoneClosedOperationDoneAgainGivesTheSameResult() {
        Scene scene;
        scene.m_samplingFactor = 0.05f;
        scene.m_closedResult = true;
        QVERIFY(scene.GenerateObject(1, PrimitiveParameters::cube(2.0f)).ok());
        QVERIFY(scene.GenerateObject(2, PrimitiveParameters::sphere(8, 12, 0.5f)).ok());
        scene.m_object2Offset = Vector4(0.9f, 0.0f, 0.0f);
        const QString names[2];
        UndoHistory history;
        const SceneSnapshot before = history.capture(scene, names, false);
        QVERIFY(scene.BooleanOperation(BooleanOp::Difference).ok());
        const std::vector<Vector4> first = scene.m_object1.vertices;
        history.push(before);
        const std::optional<SceneSnapshot> state =
            history.undo(history.capture(scene, names, true));
        QVERIFY(state.has_value());
        history.restore(scene, *state);
        QVERIFY(scene.BooleanOperation(BooleanOp::Difference).ok());
        QVERIFY(scene.m_object1.vertices == first);
    }

    void filesDroppedOnTheRightHalfBecomeObject2() {
        QTemporaryDir dir;
        const QString path = dir.filePath("desno.obj");
        writeFile(path, kTetra);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        const QPointF right(m_view.width() * 0.75, m_view.height() / 2.0);
        QDragEnterEvent enter(right.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&m_view, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(right, Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&m_view, &drop);
        QTRY_COMPARE(m_view.scene().m_object2.loaded, 1);
        QCOMPARE(m_view.scene().m_object1.loaded, 0);
        QCOMPARE(QFileInfo(m_view.fileName(2)).fileName(), QString("desno.obj"));

        // It is now a recent file of object 2, not of object 1; its menu reads it again.
        QMenu* recent = m_frame.recentMenu(2);
        QVERIFY(!recent->actions().isEmpty());
        QVERIFY(recent->actions().front()->text().endsWith("desno.obj"));
        for (QAction* a : m_frame.recentMenu(1)->actions()) {
            QVERIFY(!a->text().endsWith("desno.obj"));
        }
        m_view.scene().m_object2.clear();
        recent->actions().front()->trigger();
        QCOMPARE(m_view.scene().m_object2.loaded, 1);
    }

    void theCommandLineOpensBothObjects() {
        QTemporaryDir dir;
        writeFile(dir.filePath("a.obj"), kTetra);
        writeFile(dir.filePath("b.obj"), kTetra);
        auto* app = dynamic_cast<CMainApp*>(QCoreApplication::instance());
        QVERIFY(app != nullptr);
        app->OpenStartupFiles({dir.filePath("a.obj"), dir.filePath("b.obj")});
        QTRY_COMPARE(m_view.scene().m_object2.loaded, 1);
        QCOMPARE(QFileInfo(m_view.fileName(1)).fileName(), QString("a.obj"));
        QCOMPARE(QFileInfo(m_view.fileName(2)).fileName(), QString("b.obj"));
        // Two reports, each saying which object it is about.
        QCOMPARE(m_prompts->messages.size(), size_t(2));
        QCOMPARE(m_prompts->messages[0].caption, QString("Objekt 1 - a.obj"));
        QCOMPARE(m_prompts->messages[1].caption, QString("Objekt 2 - b.obj"));
        // Each load is a step of its own.
        m_frame.updateCommandStates();
        m_frame.menuAction(ID_UNDO)->trigger();
        QCOMPARE(m_view.scene().m_object2.loaded, 0);
        QCOMPARE(m_view.scene().m_object1.loaded, 1);
        // Ctrl+Shift+O opens object 2, Ctrl+O object 1.
        writeFile(dir.filePath("t.obj"), kTetra);
        m_prompts->fileNames = {dir.filePath("t.obj"), dir.filePath("t.obj")};
        QTest::keyClick(&m_frame, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QFileInfo(m_view.fileName(2)).fileName(), QString("t.obj"));
        QCOMPARE(QFileInfo(m_view.fileName(1)).fileName(), QString("a.obj"));
        QTest::keyClick(&m_frame, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(QFileInfo(m_view.fileName(1)).fileName(), QString("t.obj"));
    }

    void anUnsavedResultIsMarkedAndAskedForBeforeItGoes() {
        generate(1, 1, {"1"});
        generate(2, 1, {"0.5"});
        const auto unite = [&] {
            m_frame.menuAction(ID_UNION)->trigger();
            QVERIFY(m_view.resultUnsaved());
            m_prompts->questions.clear();
        };
        unite();
        QVERIFY(m_frame.windowTitle().contains("rezultat"));
        // What the window system shows: Qt's "[*]" turned into the mark.
        const QString shown = m_frame.windowHandle()->title();
        QVERIFY2(shown.startsWith("objekt1: rezultat*, objekt2: generirano "), qPrintable(shown));
        QCOMPARE(shown.count('*'), 1);
        const int result = m_view.scene().m_object1.triangleCount();
        m_prompts->answers = {Prompts::Answer::Cancel};
        generate(1, 0, {"12", "12", "1"});
        QCOMPARE(m_prompts->questions.size(), 1);
        QCOMPARE(m_view.scene().m_object1.triangleCount(), result);
        m_prompts->answers = {Prompts::Answer::Cancel};
        m_frame.close();
        QVERIFY(m_frame.isVisible());
        QCOMPARE(m_prompts->questions.size(), 2);
        // Saved, it is no longer marked.
        QTemporaryDir dir;
        command(ID_SAVE_OBJECT1, {dir.filePath("r.obj")});
        QVERIFY2(!m_frame.windowHandle()->title().contains('*'),
                 qPrintable(m_frame.windowHandle()->title()));
        // "Da" saves first; then nothing is asked any more.
        unite();
        m_prompts->answers = {Prompts::Answer::Yes};
        command(ID_OPEN_OBJECT1, {dir.filePath("rezultat.obj")});  // the open is cancelled
        QVERIFY(QFile::exists(dir.filePath("rezultat.obj")));
        QVERIFY(!m_view.resultUnsaved());
        QCOMPARE(m_prompts->questions.size(), 1);
        // Ctrl+O asks once; "Ne" drops the result unsaved.
        unite();
        writeFile(dir.filePath("t.obj"), kTetra);
        m_prompts->answers = {Prompts::Answer::No};
        m_prompts->fileNames = {dir.filePath("t.obj")};
        QTest::keyClick(&m_frame, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m_prompts->questions.size(), 1);
        QCOMPARE(QFileInfo(m_view.fileName(1)).fileName(), QString("t.obj"));
        QVERIFY(!m_view.resultUnsaved());
    }

    void barsAndMenusSpeakCroatian() {
        QCOMPARE(m_frame.toolBar()->windowTitle(), QString("Alatna traka"));
        std::unique_ptr<QMenu> popup(m_frame.createPopupMenu());
        QStringList items;
        for (const QAction* a : popup->actions()) {
            items << a->text();
        }
        QCOMPARE(items, QStringList({"&Alatna traka", "&Statusna traka"}));
        QVERIFY(popup->actions().at(1)->isChecked());
        popup->actions().at(1)->trigger();
        QVERIFY(!m_frame.statusBar()->isVisible());
        m_frame.menuAction(ID_VIEW_STATUS_BAR)->trigger();
        QVERIFY(m_frame.statusBar()->isVisible());
        // The open commands show their Ctrl keys, not the digits that hide the objects.
        QCOMPARE(m_frame.menuAction(ID_OPEN_OBJECT1)->text(), QString("Otvori objekt1"));
        QCOMPARE(m_frame.menuAction(ID_OPEN_OBJECT2)->text(), QString("Otvori objekt2"));
        QCOMPARE(m_frame.menuAction(ID_OPEN_OBJECT1)->shortcut(), QKeySequence("Ctrl+O"));
        // So do Qt's own buttons.
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes);
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QString("Odustani"));
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove('&'), QString("Da"));
    }

    // The generator opens with what it made last in the session; a value it refuses there, then
    // "ODUSTANI", leave the object as it was.
    void theGeneratorStartsWithTheLastValuesAndARefusalChangesNothing() {
        generate(1, 0, {"10", "14", "0,4"});  // decimal comma
        QCOMPARE(m_view.scene().m_object1.maxCorner.y, 0.4f);
        const int triangles = m_view.scene().m_object1.triangleCount();
        QStringList shown;
        QString shape;
        m_prompts->dialogHandler = [&](QDialog& d) {
            auto& g = dynamic_cast<CGenerator&>(d);
            shape = g.shapeList()->currentText();
            for (int row : {1, 2, 4}) {
                shown << g.rowEdit(row)->text();
            }
            g.shapeList()->setCurrentIndex(1);
            g.rowEdit(4)->setText("0");
            g.OnMake();  // refused
            g.reject();  // "ODUSTANI"
            return g.result();
        };
        m_frame.OnCmdMsg(ID_GENERATOR);
        QCOMPARE(shape, QString("Kugla"));
        QCOMPARE(shown, QStringList({"10", "14", "0.4"}));
        QCOMPARE(m_view.scene().m_object1.loaded, 1);
        QCOMPARE(m_view.scene().m_object1.triangleCount(), triangles);
        QVERIFY(m_view.scene().tree(1) != nullptr);
    }

    void aNewObject1IsPlacedInViewAndStandardViewsFitIt() {
        m_view.viewState().m_rotY = 45;
        m_view.viewState().m_rotX = 35;
        generate(1, 2, {"2", "0.5", "0.5"});  // a long box, corner-on
        QCOMPARE(m_view.viewState().m_showObject1, true);
        QVERIFY(backgroundAtTheEdges());
        m_view.OnCommand(ID_VIEW_TOP);
        QCOMPARE(m_view.viewState().m_rotX, 90.0f);
        QCOMPARE(m_view.viewState().m_rotY, 0.0f);
        QVERIFY(backgroundAtTheEdges());
        m_view.OnCommand(ID_VIEW_ISO);
        const Vector4 eye = m_view.viewState().m_eye;
        QVERIFY(eye.x > 0 && eye.x < eye.y && eye.y < eye.z);  // three faces, three shades
        QVERIFY(backgroundAtTheEdges());
        // Zoomed in too far, Home brings the whole scene back.
        for (int i = 0; i < 10; ++i) {
            QTest::keyClick(&m_view, Qt::Key_PageUp);
        }
        QVERIFY(!backgroundAtTheEdges());
        QTest::keyClick(&m_view, Qt::Key_Home);
        QVERIFY(backgroundAtTheEdges());
        // The keypad's 1 is the front view.
        QTest::keyClick(&m_view, Qt::Key_1, Qt::KeypadModifier);
        QCOMPARE(m_view.viewState().m_eye.x, 0.0f);
        QCOMPARE(m_view.viewState().m_rotX, 0.0f);
    }

private:
    // The picture's outermost rows and columns are all background: nothing is cut off.
    bool backgroundAtTheEdges() {
        const QImage picture = m_view.grabFramebuffer();
        const QColor background = picture.pixelColor(0, 0);
        for (int x = 0; x < picture.width(); ++x) {
            for (int y : {0, picture.height() - 1}) {
                if (picture.pixelColor(x, y) != background) {
                    return false;
                }
            }
        }
        for (int y = 0; y < picture.height(); ++y) {
            for (int x : {0, picture.width() - 1}) {
                if (picture.pixelColor(x, y) != background) {
                    return false;
                }
            }
        }
        return background.lightness() > 240;
    }

    // Runs a command whose file dialogs answer `files` in turn.
    void command(int id, const QStringList& files) {
        m_prompts->fileNames.assign(files.begin(), files.end());
        m_frame.OnCmdMsg(id);
    }

    void generate(int object, int shape, QStringList fields) {
        m_prompts->dialogHandler = generatorAnswer(object, shape, fields);
        m_frame.OnCmdMsg(ID_GENERATOR);
        m_prompts->dialogHandler = nullptr;
        m_frame.updateCommandStates();  // as the idle timer does
    }

    CMainFrame& m_frame;
    CSceneView& m_view;
    TestPrompts* m_prompts = nullptr;
};

int runAppTests(CMainFrame& frame, int argc, char** argv) {
    AppTest test(frame);
    return QTest::qExec(&test, argc, argv);
}

#include "app_test.moc"
