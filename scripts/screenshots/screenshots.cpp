// korvan-screenshots FOLDER: pictures of the program for a person to look at (the main window
// with both objects, the cell display, the progress popup, the menus, the dialogs, a panned
// view, a window that starts with the settings of the one before), written as
// PNG files into FOLDER. Run it under a display (scripts/screenshots/run.sh uses Xvfb).
// KORVAN_SCREENSHOT_SLOW makes the operation long enough to photograph its popup from outside.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <cstdio>

#include "app/about_box.h"
#include "app/animator_dialog.h"
#include "app/generator_dialog.h"
#include "app/info_display.h"
#include "app/main_app.h"
#include "app/main_frame.h"
#include "app/placement_dialog.h"
#include "app/prikazni.h"
#include "test_prompts.h"

using namespace korvan;
using namespace korvan::app;

namespace {

bool save(QWidget& widget, const QString& folder, const char* name) {
    QTest::qWait(200);
    return widget.grab().save(QDir(folder).filePath(name));
}

void generate(CMainFrame& frame, TestPrompts& prompts, int object, int shape, QStringList fields) {
    prompts.dialogHandler = [=](QDialog& d) {
        auto& g = dynamic_cast<CGenerator&>(d);
        g.shapeList()->setCurrentIndex(shape);
        object == 1 ? g.OnObject1() : g.OnObject2();
        int next = 0;
        for (int row = 1; row <= 6 && next < fields.size(); ++row) {
            if (!g.rowEdit(row)->isHidden()) {
                g.rowEdit(row)->setText(fields[next++]);
            }
        }
        g.OnMake();
        return g.result();
    };
    frame.OnCmdMsg(ID_GENERATOR);
}

}  // namespace

// A second window after the first has saved a result, read two files into object 2, set
// "Zatvoreni rezultat" and a smaller size, and closed: it starts with all of it.
static bool writeRestoredWindow(CMainFrame& frame, TestPrompts& prompts, const QString& folder) {
    QTemporaryDir files;
    bool ok = true;
    QStringList names;
    for (const char* name : {"tetraedar.obj", "drugi_tetraedar.obj"}) {
        QFile tetra(QDir(files.path()).filePath(QString::fromLatin1(name)));
        ok = tetra.open(QIODevice::WriteOnly) &&
             tetra.write(
                 "v 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 2\n"
                 "f 1 3 2\nf 1 2 4\nf 1 4 3\nf 2 3 4\n") > 0 &&
             ok;
        names << tetra.fileName();
    }
    prompts.fileNames = {QDir(files.path()).filePath(QStringLiteral("rezultat.obj")), names[0],
                         names[1]};
    frame.OnCmdMsg(ID_SAVE_OBJECT1);
    frame.OnCmdMsg(ID_OPEN_OBJECT2);
    frame.OnCmdMsg(ID_OPEN_OBJECT2);
    // Set by hand for the progress picture; the command is what the settings follow.
    frame.view().scene().m_closedResult = false;
    frame.OnCmdMsg(ID_CLOSED_RESULT);
    frame.resize(880, 640);
    frame.close();

    CMainFrame restored;
    restored.show();
    ok = QTest::qWaitForWindowExposed(&restored) && ok;
    ok = save(restored, folder, "settings_restored.png") && ok;
    // The file menu with the recent files of object 2 open, as the screen shows them.
    QMenu* fileMenu = restored.menuBar()->actions().front()->menu();
    fileMenu->popup(restored.mapToGlobal(QPoint(0, restored.menuBar()->height())));
    QTest::qWait(100);
    fileMenu->setActiveAction(restored.recentMenu(2)->menuAction());
    QTest::keyClick(fileMenu, Qt::Key_Right);
    QTest::qWait(300);
    const QRect area(restored.mapToGlobal(QPoint(0, 0)), QSize(restored.width(), 260));
    ok = restored.screen()
             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
             .save(QDir(folder).filePath(QStringLiteral("settings_recent_files.png"))) &&
         ok;
    restored.recentMenu(2)->hide();
    fileMenu->hide();
    QMenu* actions = restored.menuBar()->actions().at(2)->menu();
    restored.updateCommandStates();
    actions->popup(restored.mapToGlobal(QPoint(100, restored.menuBar()->height())));
    ok = save(*actions, folder, "settings_menu_actions.png") && ok;
    actions->hide();
    return ok;
}

static int writeScreenshots(CMainFrame& frame, const QString& folder) {
    Scene& scene = frame.view().scene();
    ViewState& viewState = frame.view().viewState();
    QDir().mkpath(folder);
    CSceneView& view = frame.view();
    auto owned = std::make_unique<TestPrompts>();
    TestPrompts& prompts = *owned;
    view.setPrompts(std::move(owned));
    bool ok = save(frame, folder, "empty.png");

    // A finer mesh makes the operation long enough to photograph its progress popup from outside.
    const bool slow = qEnvironmentVariableIsSet("KORVAN_SCREENSHOT_SLOW");
    scene.m_samplingFactor = slow ? 0.012f : 0.05f;
    generate(frame, prompts, 1, 1, {"1.2"});
    generate(frame, prompts, 2, 0, {"24", "24", "0.45"});
    scene.m_object2Offset = Vector4(0.45f, 0.35f, 0.4f);
    viewState.m_rotY = 30;
    viewState.m_rotX = 20;
    view.viewState().m_eye.z = 3.2f;
    frame.OnCmdMsg(ID_COLORED_MATERIALS);
    ok = save(frame, folder, "main_coloured.png") && ok;

    frame.OnCmdMsg(ID_DIFFERENCE);
    viewState.m_showObject2 = false;
    ok = save(frame, folder, "difference.png") && ok;
    viewState.m_showObject2 = true;

    frame.OnCmdMsg(ID_CELLS_ALL);
    ok = save(frame, folder, "cells_all.png") && ok;
    frame.OnCmdMsg(ID_CELLS_NONE);
    frame.OnCmdMsg(ID_COLORED_MATERIALS);
    ok = save(frame, folder, "grey.png") && ok;

    QMenu* fileMenu = frame.menuBar()->actions().front()->menu();
    fileMenu->popup(frame.mapToGlobal(QPoint(0, frame.menuBar()->height())));
    ok = save(*fileMenu, folder, "menu_file.png") && ok;
    fileMenu->hide();
    QMenu* editMenu = frame.menuBar()->actions().at(1)->menu();
    frame.updateCommandStates();
    editMenu->popup(frame.mapToGlobal(QPoint(60, frame.menuBar()->height())));
    ok = save(*editMenu, folder, "menu_edit.png") && ok;
    editMenu->hide();
    QMenu* actionsMenu = frame.menuBar()->actions().at(2)->menu();
    actionsMenu->popup(frame.mapToGlobal(QPoint(100, frame.menuBar()->height())));
    ok = save(*actionsMenu, folder, "menu_actions.png") && ok;
    actionsMenu->hide();
    QMenu* viewMenu = frame.menuBar()->actions().at(3)->menu();
    viewMenu->popup(frame.mapToGlobal(QPoint(150, frame.menuBar()->height())));
    ok = save(*viewMenu, folder, "menu_view.png") && ok;
    viewMenu->hide();
    QMenu* octreeMenu = frame.menuBar()->actions().at(4)->menu();
    octreeMenu->popup(frame.mapToGlobal(QPoint(200, frame.menuBar()->height())));
    ok = save(*octreeMenu, folder, "menu_octree.png") && ok;
    octreeMenu->hide();

    // The standard views, each fitted; "Slika prikaza" names its file in the status bar.
    frame.OnCmdMsg(ID_COLORED_MATERIALS);
    frame.OnCmdMsg(ID_VIEW_ISO);
    view.setCurrentFolder(folder);
    frame.OnCmdMsg(ID_VIEW_IMAGE);
    ok = save(frame, folder, "view_iso.png") && ok;
    frame.OnCmdMsg(ID_VIEW_TOP);
    ok = save(frame, folder, "view_top.png") && ok;
    frame.OnCmdMsg(ID_COLORED_MATERIALS);
    QFile::remove(QDir(folder).filePath("screen0000.bmp"));

    QMessageBox question(QMessageBox::Question, QStringLiteral("Korvan"),
                         QStringLiteral("Rezultat u objektu 1 nije spremljen.\n"
                                        "Spremiti ga prije nastavka?"),
                         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, &frame);
    question.show();
    ok = save(question, folder, "question.png") && ok;
    question.hide();

    QFileDialog open(&frame, QString(), folder, meshFileFilter());
    open.setOption(QFileDialog::DontUseNativeDialog);
    open.setAcceptMode(QFileDialog::AcceptSave);
    open.show();
    ok = save(open, folder, "file_save.png") && ok;
    open.hide();

    CAnimator animator(prompts, &frame);
    animator.OnInitDialog();
    animator.OnSinus(1);
    animator.show();
    ok = save(animator, folder, "animator.png") && ok;
    animator.hide();

    CGenerator generator(prompts, &frame);
    generator.show();
    ok = save(generator, folder, "generator_sphere.png") && ok;
    for (int shape = 1; shape < 5; ++shape) {
        generator.shapeList()->setCurrentIndex(shape);
        const QByteArray name = "generator_" + QByteArray::number(shape) + ".png";
        ok = save(generator, folder, name.constData()) && ok;
    }
    generator.hide();

    CAboutBox about(prompts, &frame);
    about.show();
    ok = save(about, folder, "about.png") && ok;
    about.textArea()->verticalScrollBar()->setValue(
        about.textArea()->verticalScrollBar()->maximum());
    ok = save(about, folder, "about_end.png") && ok;
    about.hide();

    CinfoDisplay info(&frame);
    info.m_text = objectInfoText(view.scene().m_object1, view.scene().m_object2);
    info.exchangeToControls();
    info.show();
    ok = save(info, folder, "info.png") && ok;
    info.hide();

    CPrikazni factor(prompts, QStringLiteral("Unesite faktor uzorkovanja"), &frame,
                     QString::fromLatin1(kSamplingFactorLabel));
    factor.m_value = scene.m_samplingFactor;
    factor.exchangeToControls();
    factor.show();
    ok = save(factor, folder, "factor.png") && ok;
    factor.hide();

    // "Cijela scena" with a sphere beside a cube, then a cube alone in the iso view, grey.
    generate(frame, prompts, 1, 1, {"1"});
    generate(frame, prompts, 2, 0, {"24", "24", "0.3"});
    scene.m_object2Offset = Vector4(1.5f, 0.0f, 0.0f);
    frame.OnCmdMsg(ID_VIEW_FRONT);
    frame.OnCmdMsg(ID_FIT_VIEW);
    ok = save(frame, folder, "home_two_objects.png") && ok;
    viewState.m_showObject2 = false;
    frame.OnCmdMsg(ID_VIEW_ISO);
    ok = save(frame, folder, "view_iso_cube.png") && ok;
    viewState.m_showObject2 = true;

    // "Polozaj objekta 2" with typed numbers: object 2 moves as they are typed, before "U redu".
    frame.OnCmdMsg(ID_VIEW_FRONT);
    prompts.dialogHandler = [&](QDialog& d) {
        auto& dialog = dynamic_cast<CObject2Placement&>(d);
        dialog.field(0)->setText(QStringLiteral("0,8"));
        dialog.field(1)->setText(QStringLiteral("0.4"));
        dialog.field(3)->setText(QStringLiteral("45"));
        dialog.show();
        ok = save(dialog, folder, "placement_dialog.png") && ok;
        ok = save(frame, folder, "placement_live.png") && ok;
        dialog.accept();
        return dialog.result();
    };
    frame.OnCmdMsg(ID_OBJECT2_PLACEMENT);
    prompts.dialogHandler = nullptr;

    // The view panned with the middle button: the scene keeps its place, the picture follows.
    const QPoint middle(view.width() / 2, view.height() / 2);
    QTest::mousePress(&view, Qt::MiddleButton, {}, middle);
    QTest::mouseMove(&view, middle + QPoint(90, 40));
    QTest::mouseMove(&view, middle + QPoint(180, 80));
    QTest::mouseRelease(&view, Qt::MiddleButton, {}, middle + QPoint(180, 80));
    ok = save(frame, folder, "panned.png") && ok;
    frame.OnCmdMsg(ID_FIT_VIEW);

    // The bars' context menu.
    std::unique_ptr<QMenu> bars(frame.createPopupMenu());
    bars->popup(frame.mapToGlobal(QPoint(300, frame.menuBar()->height() + 10)));
    ok = save(*bars, folder, "menu_bars.png") && ok;
    bars->hide();

    // A closed union of two spheres of half a million triangles each, photographed while it
    // runs off the window's thread with its bar and "Prekini", then stopped with it.
    scene.m_samplingFactor = 1.0f;
    scene.m_closedResult = true;
    ok = scene.GenerateObject(1, PrimitiveParameters::sphere(500, 500, 1.0f)).ok() && ok;
    ok = scene.GenerateObject(2, PrimitiveParameters::sphere(500, 500, 0.8f)).ok() && ok;
    scene.m_object2Offset = Vector4(0.5f, 0.3f, 0.2f);
    frame.OnCmdMsg(ID_VIEW_ISO);
    bool photographed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        CProgressPopup* popup = view.progressPopup();
        if (photographed || popup == nullptr || popup->barValue() == 0) {
            return;
        }
        photographed = true;
        ok = save(frame, folder, "progress.png") && ok;
        QTest::mouseClick(popup->stopButton(), Qt::LeftButton);
    });
    watch.start(20);
    frame.updateCommandStates();
    frame.OnCmdMsg(ID_UNION);
    ok = photographed && ok;
    watch.stop();
    return writeRestoredWindow(frame, prompts, folder) && ok ? 0 : 1;
}

int main(int argc, char** argv) {
    // Pictures of a new installation: the user's own settings are neither read nor written.
    QTemporaryDir settingsFolder;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settingsFolder.path());
    CMainApp::setUpOpenGLFormat();
    CMainApp app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "korvan-screenshots FOLDER\n");
        return 2;
    }
    if (!app.InitInstance()) {
        return 1;
    }
    CMainFrame& frame = *app.mainFrame();
    if (!QTest::qWaitForWindowExposed(&frame)) {
        return 1;
    }
    return writeScreenshots(frame, QString::fromLocal8Bit(argv[1]));
}
