// The milling animation as the view runs it: frames drawn on screen and written, Escape to stop.
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QKeyEvent>

#include <string>

#include "app/animator_dialog.h"
#include "app/prompts.h"
#include "app/scene_view.h"
#include "image/image.h"
#include "scene/animation.h"
#include "viewer/frame_writer.h"

namespace korvan::app {
namespace {

// Draws each frame in the view and writes it; between frames lets the window repaint and
// watches for Escape. User input is swallowed meanwhile, so that nothing moves the scene or
// starts another command (the view refuses commands while busy; closing waits).
class ViewFrameSink final : public QObject, public FrameSink {
public:
    ViewFrameSink(CSceneView& view, std::string folder, int32_t frameCount)
        : m_view(view), m_folder(std::move(folder)), m_frameCount(frameCount) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~ViewFrameSink() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool DrawAndSaveFrame(Scene&, int32_t number, const std::string& baseName,
                          const std::string& extension) override {
        std::string base = baseName;
        // A relative name lands in the folder of the last file dialog, as the screenshot does.
        if (!m_folder.empty() && (base.empty() || base.front() != '/')) {
            base = m_folder + "/" + base;
        }
        // The user sees how far the run is and how to stop it.
        m_view.showStatus(QStringLiteral("Slika %1/%2 - tipka Esc prekida animaciju")
                              .arg(number + 1)
                              .arg(m_frameCount));
        // On screen at once, then read back as drawn; the file is written by the worker while
        // the next frame is cut.
        m_view.drawFrameNow();
        m_writer.push(m_view.readDrawnPicture(), number, base, extension);
        return true;
    }

    // Waits for the frames still being written; returns how many could not be.
    int32_t FinishFrames() override {
        int32_t failed = 0;
        for (const FrameOutcome& outcome : m_writer.finish()) {
            failed += outcome.status ? 0 : 1;
        }
        return failed;
    }

    bool StopRequested() override {
        QCoreApplication::processEvents();
        return m_stop;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
                    m_stop = true;
                }
                return true;
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
                return true;
            default:
                return QObject::eventFilter(watched, event);
        }
    }

private:
    CSceneView& m_view;
    std::string m_folder;
    int32_t m_frameCount;
    bool m_stop = false;
    FrameWriter m_writer;
};

}  // namespace

void CSceneView::runAnimation(const AnimationSettings& settings) {
    AnimationResult result;
    endObject2Move(true);
    SceneSnapshot before = snapshot();
    {
        // Nothing else draws and commands wait while the view is busy.
        BusyScope busy(*this);
        ViewFrameSink sink(*this, QFile::encodeName(m_currentFolder).toStdString(),
                           settings.frameCount);
        result = RunAnimation(m_scene, settings, sink);
        if (settings.preview == 0 && result.framesDone > 0) {
            // The whole run is one step of "Ponisti".
            m_undo.push(std::move(before));
            m_fileName[0].clear();
            m_resultUnsaved = true;
        }
    }
    showStatus(result.stopped
                   ? QStringLiteral("Animacija prekinuta nakon %1 slika").arg(result.framesDone)
                   : QStringLiteral("Animacija gotova: %1 slika").arg(result.framesDone));
    updateCaption();
    if (!result.status) {
        m_prompts->message(window(), QString::fromStdString(result.status.message()),
                           QStringLiteral("Greska"), Prompts::Icon::Error);
    }
    if (result.framesNotWritten > 0) {
        m_prompts->message(window(),
                           QStringLiteral("%1\nNije zapisano slika: %2 od %3")
                               .arg(QString::fromLatin1(kImageSaveErrorMessage))
                               .arg(result.framesNotWritten)
                               .arg(result.framesDone),
                           QStringLiteral("Greska"), Prompts::Icon::Error);
    }
}

void CSceneView::OnAnimation() {
    if (m_scene.m_object1.loaded == 0 || m_scene.m_object2.loaded == 0) {
        return;
    }
    // Qt owns the dialog as the view's child; it keeps its values for the next opening.
    if (m_animator.isNull()) {
        m_animator = new CAnimator(*m_prompts, this);
    }
    CAnimator& dialog = *m_animator;
    dialog.setPrompts(*m_prompts);
    dialog.OnInitDialog();
    for (;;) {
        const int result = m_prompts->runDialog(dialog);
        if (result == QDialog::Accepted) {
            runAnimation(dialog.settings(0));
            return;
        }
        if (result != CAnimator::kPreviewResult) {
            return;
        }
        // PREDPOGLED: the dialog comes back as it was after the run.
        runAnimation(dialog.settings(1));
    }
}

}  // namespace korvan::app
