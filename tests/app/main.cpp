// Starts the real program, then runs the test classes against it. With KORVAN_SCREENSHOT_DIR
// set, pictures of the main window and the dialogs are written there as well.
#include <QDir>
#include <QTest>

#include "app/main_app.h"
#include "app/main_frame.h"

int runAppTests(korvan::app::CMainFrame& frame, int argc, char** argv);
int runDialogsTests(int argc, char** argv);
int runAnimatorTests(korvan::app::CMainFrame& frame, int argc, char** argv);
int writeScreenshots(korvan::app::CMainFrame& frame, const QString& folder);

int main(int argc, char** argv) {
    korvan::app::CMainApp::setUpOpenGLFormat();
    korvan::app::CMainApp app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    if (!app.InitInstance()) {
        return 1;
    }
    korvan::app::CMainFrame& frame = *app.mainFrame();
    if (!QTest::qWaitForWindowExposed(&frame)) {
        return 1;
    }
    const QString shots = qEnvironmentVariable("KORVAN_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        return writeScreenshots(frame, shots);
    }
    int failures = runDialogsTests(argc, argv);
    failures += runAppTests(frame, argc, argv);
    failures += runAnimatorTests(frame, argc, argv);
    return failures == 0 ? 0 : 1;
}
