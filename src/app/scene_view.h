// The scene view: an OpenGL widget that owns the scene, the camera and the key table, adapts
// Qt's events to the view's input rules and runs the view's commands. Drawing is korvan_render's.
#pragma once

#include <QOpenGLWidget>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/commands.h"
#include "app/generator_dialog.h"
#include "app/placement_dialog.h"
#include "app/progress_popup.h"
#include "app/prompts.h"
#include "app/undo_history.h"
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
struct GcodeJob;

class CSceneView : public QOpenGLWidget, public ProgressReporter {
public:
    explicit CSceneView(QWidget* parent = nullptr);
    ~CSceneView() override;

    // Runs a command of the view's map; false when the view does not handle `id`.
    bool OnCommand(int32_t id);
    // Enable and check state of the view's commands; false when `id` is not the view's.
    bool OnUpdateCommand(int32_t id, CommandState& state) const;

    // Key actions of the presses not yet acted on, then a redraw request when the picture
    // changed. Key presses call it at once, so every press acts exactly once.
    void OnTimer();

    Scene& scene() { return m_scene; }
    const Scene& scene() const { return m_scene; }
    ViewState& viewState() { return m_viewState; }
    KeyTable& keyTable() { return m_keys; }
    // The picture changed: it is drawn once the event loop is free. Nothing is drawn otherwise.
    void requestRedraw();
    // Frames per second of the last drawing (0 before the first).
    double lastFrameRate() const { return m_lastFrameRate; }
    int64_t framesDrawn() const { return m_framesDrawn; }

    Prompts& prompts() { return *m_prompts; }
    void setPrompts(std::unique_ptr<Prompts> prompts) { m_prompts = std::move(prompts); }

    // Folder of the last file chosen in a file dialog; relative names of written files land here.
    const QString& currentFolder() const { return m_currentFolder; }
    void setCurrentFolder(const QString& folder) { m_currentFolder = folder; }

    // While a long operation runs: no other command, a wait cursor; drawing and the view's
    // turning only while the operation runs on its own thread (working()).
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

    // ProgressReporter, called on the operation's thread: the popup's text and bar, and the
    // messages, which wait until the operation is over so that the result is drawn behind them.
    void ShowProgressPopup(const std::string& text) override;
    void SetProgressText(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    const std::atomic<bool>* StopFlag() const override { return &m_stopRequested; }
    void SetProgressShare(double share) override;
    void CountProgress(double upTo, const std::atomic<int64_t>* done, int64_t items) override;
    // The popup with its bar and "Prekini", there while an operation runs off this thread.
    CProgressPopup* progressPopup() const { return m_progress.get(); }
    // True while an operation runs on its own thread: the window draws the scene as it was
    // before and keeps turning; nothing else may change the scene.
    bool working() const { return m_working; }
    // "Prekini" and Escape: the operation stops and leaves the scene as it was.
    void requestStop();
    // Seconds from the last stop request to the end of the operation's thread (-1: none yet).
    double lastStopSeconds() const { return m_lastStopSeconds; }
    // A milling frame, on this thread while the run's thread waits: drawn from `scene`, read
    // back, and kept as the picture the window shows until the next one.
    RgbImage drawAnimationFrame(const Scene& scene, int32_t number, int32_t count);

    // Operations behind the commands.
    void LoadObject(int32_t objectNumber);
    // True once the object is written.
    bool SaveObject(int32_t objectNumber);
    void RunBoolean(int32_t commandId);
    void OnGenerator();
    void OnSamplingFactor();
    void OnObjectInfo();
    // "Polozaj objekta 2": the dialog, with object 2 shown as the fields change; each placement
    // it settles on is one step of "Ponisti", and "Odustani" goes back to the last of them.
    void OnObject2Placement();
    // Object 2's placement relative to where it was read or generated (an operation that
    // moved it into its vertices counts, so the numbers do not jump), and the way back there.
    Object2Placement object2Placement() const;
    void setObject2Placement(const Object2Placement& placement);
    void OnSaveViewImage();
    // Reads `path` into object 1 or 2 as "Otvori objekt" does once a file is chosen (asking
    // first when object 1 holds an unsaved result, unless the caller has asked already);
    // false when nothing was read.
    bool OpenFile(int32_t objectNumber, const QString& path, bool askFirst = true);
    // Ctrl+Z / Ctrl+Y: the state of both objects and object 2's placement before / after the
    // last change.
    void OnUndo();
    void OnRedo();
    const UndoHistory& undoHistory() const { return m_undo; }
    // Moves the eye so that the shown objects fill the view; the standard views.
    void OnFitToView();
    void OnStandardView(StandardView which);

    // The files the objects came from (empty when generated, a result, or none).
    const QString& fileName(int32_t objectNumber) const {
        return m_fileName[objectNumber == 1 ? 0 : 1];
    }
    // Object 1 is a result that was not saved since.
    bool resultUnsaved() const { return m_resultUnsaved; }
    // Before object 1 or the window goes: asks whether to save an unsaved result. False when
    // the user cancels (or the save did not happen).
    bool maySafelyDiscardResult();
    // Files read into or written from object 1 or 2 lately, newest first.
    const QStringList& recentFiles(int32_t objectNumber) const {
        return m_recentFiles[objectNumber == 1 ? 0 : 1];
    }
    void setRecentFiles(int32_t objectNumber, const QStringList& files);
    // The generator's fields at its next opening.
    const GeneratorValues& generatorValues() const { return m_generatorValues; }
    void setGeneratorValues(const GeneratorValues& values) { m_generatorValues = values; }
    // Told when the caption or the recent files change, and given status-bar texts.
    void setStatusHandler(std::function<void(const QString&)> handler) {
        m_onStatus = std::move(handler);
    }
    void setRecentFilesHandler(std::function<void()> handler) {
        m_onRecentFiles = std::move(handler);
    }
    void showStatus(const QString& text);
    // "&Animacija": the dialog (kept with its values for the next opening), then the run with
    // the dialog out of the way; after PREDPOGLED the dialog comes back.
    void OnAnimation();

    // Draws the scene now and returns the picture, rows from the top; also inside a
    // BusyScope, so that a long run (the milling animation) can record its frames.
    RgbImage grabPicture();
    // Draws the scene on screen at once, also inside a BusyScope.
    void drawFrameNow();
    // The picture drawFrameNow left, read back without drawing it again; rows from the top.
    RgbImage readDrawnPicture();

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
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct PendingMessage {
        QString text;
        QString caption;
        Prompts::Icon icon;
    };
    void queueMessage(const QString& text, const QString& caption, Prompts::Icon icon);
    void showPendingMessages();
    void rememberFolderOf(const QString& path);
    void rememberRecentFile(int32_t objectNumber, const QString& path);
    // Window caption: the files' names, a mark for an unsaved result, the frame rate.
    void updateCaption();
    // The state before a change, kept for "Ponisti" once the change is done.
    SceneSnapshot snapshot() {
        SceneSnapshot s = m_undo.capture(m_scene, m_fileName, m_resultUnsaved);
        s.object2Home = m_object2Home;
        return s;
    }
    void restore(SceneSnapshot state);
    // Object 2's placement when a mouse mode that moves it began.
    void beginObject2Move();
    // Keeps the move as one step once its mouse mode is over; with `evenInTheMode`, also while
    // it goes on (another change follows, which must come after it in the history).
    void endObject2Move(bool evenInTheMode = false);
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
    // A G-code program milled out of its stock ("G-kod" in the animation dialog), the line it
    // is at in the popup: object 1 becomes the part in one step of "Ponisti", or stays as it
    // was when the run is stopped or refused; a report of the job follows.
    void runGcode(const GcodeJob& job);
    // Runs `work` (which changes m_scene) on a thread of its own and waits for it in an event
    // loop, the progress popup shown; returns its status.
    Status runWork(const std::function<Status()>& work);
    // The scene the window draws and the view's keys and mouse read: a copy of the scene as
    // it was while an operation changes it on its thread.
    Scene& viewScene() { return m_working ? *m_shown : m_scene; }
    const Scene& viewScene() const { return m_working ? *m_shown : m_scene; }

    Scene m_scene;
    ViewState m_viewState;
    KeyTable m_keys;
    SceneRenderer m_renderer;
    int32_t m_redraw = 1;
    int32_t m_glReady = 0;
    int32_t m_busy = 0;
    bool m_drawWhileBusy = false;
    double m_lastFrameRate = 0.0;
    int64_t m_framesDrawn = 0;
    UndoHistory m_undo;
    std::optional<SceneSnapshot> m_moveStart;
    QString m_fileName[2];
    bool m_resultUnsaved = false;
    QStringList m_recentFiles[2];
    std::function<void(const QString&)> m_onStatus;
    std::function<void()> m_onRecentFiles;
    QMetaObject::Connection m_contextConnection;
    std::unique_ptr<Prompts> m_prompts;
    std::unique_ptr<CProgressPopup> m_progress;
    WorkProgress m_work;
    std::atomic<bool> m_stopRequested{false};
    bool m_working = false;
    std::chrono::steady_clock::time_point m_stopAsked;
    double m_lastStopSeconds = -1;
    std::unique_ptr<Scene> m_shown;
    const Scene* m_frameScene = nullptr;
    std::mutex m_messageMutex;
    std::unique_ptr<QMenu> m_popup;
    std::vector<PendingMessage> m_pendingMessages;
    QString m_currentFolder;
    std::function<void()> m_onIdle;
    QPointer<CAnimator> m_animator;
    // The button that pans the view while it is held (none: no pan), and where the pointer was.
    Qt::MouseButton m_panButton = Qt::NoButton;
    QPointF m_panLast;
    // The generator's last values, for its next opening.
    GeneratorValues m_generatorValues;
    // The middle of object 2's box where it was read or generated.
    Vector4 m_object2Home;
};

// Qt key to the Windows virtual-key code the key table is indexed by; -1 for keys the view
// does not track. Keypad digits are not the digit keys.
int32_t virtualKeyOf(int key, Qt::KeyboardModifiers modifiers);

}  // namespace korvan::app
