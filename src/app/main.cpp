#include "app/main_app.h"
#include "heap/program_heap.h"

int main(int argc, char** argv) {
    korvan::setUpProgramHeap();
    korvan::app::CMainApp::setUpOpenGLFormat();
    korvan::app::CMainApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    app.OpenStartupFiles(app.arguments().mid(1));
    return app.exec();
}
