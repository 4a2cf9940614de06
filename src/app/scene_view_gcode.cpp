// A G-code program run from the animation dialog: read and milled on the operation's thread,
// the line it is at in the popup, Escape or "Prekini" to stop after the current move.
#include <QFile>

#include <atomic>
#include <string>
#include <utility>

#include "app/gcode_source.h"
#include "app/number_fields.h"
#include "app/prompts.h"
#include "app/scene_view.h"
#include "gcode/machining.h"
#include "gcode/program.h"

namespace korvan::app {
namespace {

// Tells the popup the line of each move done and the share of the moves; asks the view's stop.
class PopupObserver final : public gcode::MachiningObserver {
public:
    PopupObserver(WorkProgress& progress, const std::atomic<bool>& stop, int64_t lastLine)
        : m_progress(progress), m_stop(stop), m_lastLine(lastLine) {}

    void moveDone(const gcode::MoveDone& done) override {
        m_progress.setText(
            QStringLiteral("Redak %1/%2 - tipka Esc prekida").arg(done.move.line).arg(m_lastLine));
        m_progress.setShare(static_cast<double>(done.index + 1) / static_cast<double>(done.count));
    }
    bool stopRequested() override { return m_stop.load(); }

private:
    WorkProgress& m_progress;
    const std::atomic<bool>& m_stop;
    int64_t m_lastLine;
};

}  // namespace

void CSceneView::runGcode(const GcodeJob& job) {
    endObject2Move(true);
    SceneSnapshot before = snapshot();
    gcode::MachiningReport report;
    bool replaced = false;
    Status status;
    {
        BusyScope busy(*this);
        status = runWork([&] {
            m_work.setText(QStringLiteral("Citanje programa"));
            gcode::Program program;
            if (Status s = gcode::readGcode(job.programPath, program); !s) {
                return s;
            }
            Solid part;
            part.copyMeshFrom(job.object1Stock ? m_scene.m_object1 : job.stock);
            PopupObserver observer(m_work, m_stopRequested,
                                   program.moves.empty() ? 0 : program.moves.back().line);
            gcode::MachiningOptions options;
            options.threads = m_scene.m_threads;
            if (Status s =
                    gcode::machineProgram(program, job.tools, options, part, report, &observer);
                !s) {
                return s;
            }
            // A stop asked for after the last move still leaves the scene as it was.
            report.stopped = report.stopped || m_stopRequested.load();
            if (!report.stopped) {
                m_work.setText(QStringLiteral("Izgradnja novog oktalnog stabla"));
                m_scene.ReplaceObject(1, std::move(part));
                replaced = true;
            }
            return Status();
        });
        if (replaced) {
            // The whole run is one step of "Ponisti".
            m_undo.push(std::move(before));
            m_fileName[0].clear();
            m_resultUnsaved = true;
        }
    }
    updateCaption();
    if (!status) {
        m_prompts->message(window(), QString::fromStdString(status.message()),
                           QStringLiteral("Greska"), Prompts::Icon::Error);
        return;
    }
    if (!replaced) {
        showStatus(QStringLiteral("Obrada prekinuta nakon retka %1 - objekt 1 je nepromijenjen")
                       .arg(report.lastLine));
        return;
    }
    showStatus(QStringLiteral("Obrada gotova: ") +
               countedNoun(report.moves, "pomak", "pomaka", "pomaka"));
    // A box stock is a new object 1, in the program's units.
    if (!job.object1Stock) {
        OnFitToView();
    }
    m_prompts->message(window(), machiningReportText(report), QStringLiteral("Izvjestaj obrade"),
                       Prompts::Icon::Information);
}

}  // namespace korvan::app
