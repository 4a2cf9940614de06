// The application object: creates and shows the main frame, handles the about box and exit.
#pragma once

#include <QApplication>

#include <cstdint>
#include <memory>
#include <string>

namespace korvan::app {

// The current folder at start-up; the about box reads myfile.rtf from here.
inline std::string g_startDir;

class CMainFrame;
struct CommandState;

class CMainApp : public QApplication {
public:
    CMainApp(int& argc, char** argv);
    ~CMainApp() override;

    // Creates and shows the main window; false when it cannot be created.
    bool InitInstance();
    // korvan [A.obj [B.obj]]: object 1 and object 2 from the command line.
    void OpenStartupFiles(const QStringList& files);

    // The application's commands: 57664 (about box) and 57665 (exit).
    bool OnCommand(int32_t id);
    bool OnUpdateCommand(int32_t id, CommandState& state) const;

    CMainFrame* mainFrame() const { return m_pMainWnd.get(); }

    // Sets the default OpenGL surface (compatibility profile, depth buffer); must run before
    // the application object is constructed.
    static void setUpOpenGLFormat();

private:
    std::unique_ptr<CMainFrame> m_pMainWnd;
};

}  // namespace korvan::app
