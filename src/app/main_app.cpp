#include "app/main_app.h"

#include <clocale>

#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QSurfaceFormat>
#include <QTimer>
#include <QTranslator>

#include "app/about_box.h"
#include "app/commands.h"
#include "app/main_frame.h"

namespace korvan::app {

CMainApp::CMainApp(int& argc, char** argv) : QApplication(argc, argv) {
    // QApplication sets the C library's locale from the user's; files (lib3mf reads 3MF numbers
    // through the C library) must keep their full stop whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    setOrganizationName(QStringLiteral("Tarvel_diplomski"));
    setApplicationName(QStringLiteral("Korvan"));
    setApplicationDisplayName(QStringLiteral("Korvan"));
    // The program speaks Croatian whatever the user's locale: Qt's own dialogs and buttons too.
    // Numbers keep the locale the fields were written for, so only the texts change.
    auto* translator = new QTranslator(this);
    if (translator->load(QLocale(QLocale::Croatian, QLocale::Croatia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        installTranslator(translator);
    }
}

CMainApp::~CMainApp() = default;

void CMainApp::setUpOpenGLFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(24);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
}

bool CMainApp::InitInstance() {
    m_pMainWnd = std::make_unique<CMainFrame>();
    m_pMainWnd->show();
    g_startDir = QDir::currentPath().toStdString();
    return true;
}

void CMainApp::OpenStartupFiles(const QStringList& files) {
    if (files.isEmpty() || !m_pMainWnd) {
        return;
    }
    // Read once the window is up, as "Otvori objekt" reads a chosen file.
    QTimer::singleShot(0, m_pMainWnd.get(), [frame = m_pMainWnd.get(), files] {
        if (frame->view().OpenFile(1, files[0]) && files.size() > 1) {
            frame->view().OpenFile(2, files[1]);
        }
        frame->updateCommandStates();
    });
}

bool CMainApp::OnCommand(int32_t id) {
    switch (id) {
        case ID_APP_ABOUT: {
            if (!m_pMainWnd) {
                return true;
            }
            Prompts& prompts = m_pMainWnd->view().prompts();
            CAboutBox about(prompts, m_pMainWnd.get());
            prompts.runDialog(about);
            return true;
        }
        case ID_APP_EXIT:
            if (m_pMainWnd) {
                m_pMainWnd->close();
            }
            return true;
        default:
            return false;
    }
}

bool CMainApp::OnUpdateCommand(int32_t id, CommandState&) const {
    return id == ID_APP_ABOUT || id == ID_APP_EXIT;
}

}  // namespace korvan::app
