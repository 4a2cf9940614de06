// The scene view: an OpenGL widget that owns the scene, the camera and the key table, adapts
// Qt's events to the view's input rules and runs the view's commands. Drawing is korvan_render's.
#pragma once

#include <QOpenGLWidget>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/commands.h"
#include "app/prompts.h"
#include "image/image.h"
#include "scene/animation.h"
#include "scene/progress.h"
#include "scene/scene.h"
#include "viewer/camera.h"
#include "viewer/render.h"
#include "viewer/view_state.h"

class QMenu;

namespace korvan::app {

class CAnimator;
class CInfoView;

class CSceneView : public QOpenGLWidget, public ProgressReporter {
public:
    explicit CSceneView(QWidget* parent = nullptr);
    ~CSceneView() override;

    // Runs a command of the view's map; false when the view does not handle `id`.
    bool OnCommand(int32_t id);
    // Enable and check state of the view's commands; false when `id` is not the view's.
    bool OnUpdateCommand(int32_t id, CommandState& state) const;

    // The timer tick: key actions, then a redraw request when the picture changed.
    void OnTimer();

    Scene& scene() { return m_scene; }
    const Scene& scene() const { return m_scene; }
    ViewState& viewState() { return m_viewState; }
    KeyTable& keyTable() { return m_keys; }
    // The picture changed: the next timer tick draws it.
    void requestRedraw() { m_redraw = 1; }

    Prompts& prompts() { return *m_prompts; }
    void setPrompts(std::unique_ptr<Prompts> prompts) { m_prompts = std::move(prompts); }

    // Folder of the last file chosen in a file dialog; relative names of written files land here.
    const QString& currentFolder() const { return m_currentFolder; }
    void setCurrentFolder(const QString& folder) { m_currentFolder = folder; }

    // While a long operation runs: no drawing from the timer, no other command, a wait cursor.
    class BusyScope {
    public:
        explicit BusyScope(CSceneView& view);
        ~BusyScope();
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        CSceneView& m_view;
    };
    bool busy() const { return m_busy > 0; }
    // Called once when the last BusyScope ends (the frame closes itself if asked to meanwhile).
    void setIdleHandler(std::function<void()> handler) { m_onIdle = std::move(handler); }

    // ProgressReporter: the popup and the messages of the scene's operations. Messages wait
    // until the operation is over, so that the result is drawn behind them.
    void ShowProgressPopup(const std::string& text) override;
    void SetProgressText(const std::string& text) override;
    void CloseProgressPopup() override;
    void ShowMessage(const std::string& text) override;
    const CInfoView* progressPopup() const { return m_progress.get(); }

    // Operations behind the commands.
    void LoadObject(int32_t objectNumber);
    void SaveObject(int32_t objectNumber);
    void RunBoolean(int32_t commandId);
    void OnGenerator();
    void OnSamplingFactor();
    void OnObjectInfo();
    void OnSaveViewImage();
    // "&Animacija": the dialog (kept with its values for the next opening), then the run with
    // the dialog out of the way; after PREDPOGLED the dialog comes back.
    void OnAnimation();

    // Draws the scene now and returns the picture, rows from the top; also inside a
    // BusyScope, so that a long run (the milling animation) can record its frames.
    RgbImage grabPicture();
    // Draws the scene on screen at once, also inside a BusyScope.
    void drawFrameNow();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    struct PendingMessage {
        QString text;
        QString caption;
        Prompts::Icon icon;
    };
    void queueMessage(const QString& text, const QString& caption, Prompts::Icon icon);
    void showPendingMessages();
    void rememberFolderOf(const QString& path);
    // After a load or a generation: shows why it was refused, or places the camera for a new
    // object 1 and reports the counts with `report`.
    void finishNewObject(int32_t objectNumber, const Status& status, double nearPlane,
                         const char* report);
    void openPopupMenu(const QPoint& globalPos);
    void releaseGL();
    // The run over the scene: frames drawn by the view and written beside the folder of the
    // last file dialog when the name is relative. Escape ends it after the current frame;
    // frames that could not be written are reported once at the end.
    void runAnimation(const AnimationSettings& settings);

    Scene m_scene;
    ViewState m_viewState;
    KeyTable m_keys;
    SceneRenderer m_renderer;
    FrameRateCounter m_frameRate;
    int32_t m_redraw = 1;
    int32_t m_glReady = 0;
    int32_t m_busy = 0;
    bool m_drawWhileBusy = false;
    QTimer m_timer;
    QMetaObject::Connection m_contextConnection;
    std::unique_ptr<Prompts> m_prompts;
    std::unique_ptr<CInfoView> m_progress;
    std::unique_ptr<QMenu> m_popup;
    std::vector<PendingMessage> m_pendingMessages;
    QString m_currentFolder;
    std::function<void()> m_onIdle;
    QPointer<CAnimator> m_animator;
};

// Qt key to the Windows virtual-key code the key table is indexed by; -1 for keys the view
// does not track. Keypad digits are not the digit keys.
int32_t virtualKeyOf(int key, Qt::KeyboardModifiers modifiers);

}  // namespace korvan::app
