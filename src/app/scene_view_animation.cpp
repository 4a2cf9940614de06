// The milling animation as the view runs it: frames drawn on screen and written, Escape to stop.
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QKeyEvent>

#include <string>

#include "app/animator_dialog.h"
#include "app/number_fields.h"
#include "app/prompts.h"
#include "app/scene_view.h"
#include "image/image.h"
#include "scene/animation.h"
#include "viewer/frame_writer.h"

namespace korvan::app {
namespace {

// Draws each frame in the view and writes it. The run goes on the operation's thread; each
// frame is drawn on the window's thread while the run waits, and written by the frame writer
// while the next one is cut. Escape and "Prekini" end the run, also inside a frame.
class ViewFrameSink final : public FrameSink {
public:
    ViewFrameSink(CSceneView& view, std::string folder, int32_t frameCount)
        : m_view(view), m_folder(std::move(folder)), m_frameCount(frameCount) {}

    bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& baseName,
                          const std::string& extension) override {
        std::string base = baseName;
        // A relative name lands in the folder of the last file dialog, as the screenshot does.
        if (!m_folder.empty() && (base.empty() || base.front() != '/')) {
            base = m_folder + "/" + base;
        }
        RgbImage picture;
        QMetaObject::invokeMethod(
            &m_view, [&] { picture = m_view.drawAnimationFrame(scene, number, m_frameCount); },
            Qt::BlockingQueuedConnection);
        m_writer.push(std::move(picture), number, base, extension);
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

    bool StopRequested() override { return m_view.StopFlag()->load(); }

private:
    CSceneView& m_view;
    std::string m_folder;
    int32_t m_frameCount;
    FrameWriter m_writer;
};

}  // namespace

void CSceneView::runAnimation(const AnimationSettings& settings) {
    AnimationResult result;
    endObject2Move(true);
    SceneSnapshot before = snapshot();
    {
        // Commands wait while the view is busy; the run goes on its own thread.
        BusyScope busy(*this);
        ViewFrameSink sink(*this, QFile::encodeName(m_currentFolder).toStdString(),
                           settings.frameCount);
        (void)runWork([&] {
            m_work.setRun(0, settings.frameCount);
            result = RunAnimation(m_scene, settings, sink);
            return Status();
        });
        if (settings.preview == 0 && result.framesDone > 0) {
            // The whole run is one step of "Ponisti".
            m_undo.push(std::move(before));
            m_fileName[0].clear();
            m_resultUnsaved = true;
        }
    }
    // "nakon" takes the genitive: nakon 1 slike, 2 slike, 5 slika.
    showStatus(result.stopped ? QStringLiteral("Animacija prekinuta nakon ") +
                                    countedNoun(result.framesDone, "slike", "slike", "slika")
                              : QStringLiteral("Animacija gotova: ") +
                                    countedNoun(result.framesDone, "slika", "slike", "slika"));
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
    dialog.setSweepAvailable(m_scene.m_closedResult);
    dialog.OnInitDialog();
    for (;;) {
        const int result = m_prompts->runDialog(dialog);
        if (result == QDialog::Accepted) {
            if (dialog.m_source == 1) {
                runGcode(dialog.gcodeJob());
            } else {
                runAnimation(dialog.settings(0));
            }
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
