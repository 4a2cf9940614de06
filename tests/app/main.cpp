// Starts the real program, then runs one test class against it (or all of them):
// korvan_app_test [AppTest|DialogsTest|AnimatorTest|WorkTest|PlacementTest] [QTest options].
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include "app/main_app.h"
#include "app/main_frame.h"

int runAppTests(korvan::app::CMainFrame& frame, int argc, char** argv);
int runDialogsTests(int argc, char** argv);
int runAnimatorTests(korvan::app::CMainFrame& frame, int argc, char** argv);
int runWorkTests(korvan::app::CMainFrame& frame, int argc, char** argv);
int runPlacementTests(korvan::app::CMainFrame& frame, int argc, char** argv);

int main(int argc, char** argv) {
    // The user's own settings are neither read nor written: every run starts with none.
    QTemporaryDir settingsFolder;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settingsFolder.path());
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
    // The class to run comes first and is not QTest's; the rest is.
    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    if (only != nullptr) {
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    const auto wanted = [only](const char* name) {
        return only == nullptr || std::strcmp(only, name) == 0;
    };
    int failures = 0;
    failures += wanted("DialogsTest") ? runDialogsTests(argc, argv) : 0;
    failures += wanted("AppTest") ? runAppTests(frame, argc, argv) : 0;
    failures += wanted("AnimatorTest") ? runAnimatorTests(frame, argc, argv) : 0;
    failures += wanted("WorkTest") ? runWorkTests(frame, argc, argv) : 0;
    failures += wanted("PlacementTest") ? runPlacementTests(frame, argc, argv) : 0;
    return failures == 0 ? 0 : 1;
}
