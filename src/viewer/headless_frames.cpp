#include "viewer/headless_frames.h"

#include <utility>

#include "viewer/camera.h"

namespace korvan {

HeadlessFrameSink::HeadlessFrameSink(HeadlessContext& context, ViewState& view)
    : m_context(context), m_view(view) {
    setupFixedState();
    setViewportSize(m_view, context.width(), context.height());
    applyViewport(m_view);
}

HeadlessFrameSink::~HeadlessFrameSink() {
    // Queued frames are still written (by the writer's destructor) even without finishFrames.
    m_renderer.releaseLists();
}

Status HeadlessFrameSink::drawAndRead(Scene& scene, RgbImage& picture) {
    m_renderer.drawScene(scene, m_view);
    return m_context.readPixels(picture);
}

Status HeadlessFrameSink::saveFrame(Scene& scene, int32_t number, const std::string& baseName,
                                    const std::string& extension) {
    RgbImage picture;
    if (Status s = drawAndRead(scene, picture); !s) {
        return s;
    }
    return SaveViewImage(picture, number, baseName, extension);
}

bool HeadlessFrameSink::DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& baseName,
                                         const std::string& extension) {
    if (!m_writer) {
        m_writer = std::make_unique<FrameWriter>();
    }
    RgbImage picture;
    Status drawn = drawAndRead(scene, picture);
    if (drawn) {
        m_writer->push(std::move(picture), number, baseName, extension);
    } else {
        // Through the queue, so that the frame's report keeps its place after earlier ones.
        m_writer->pushFailed(number, baseName, extension, drawn);
    }
    report(m_writer->takeFinished());
    return drawn.ok();
}

int32_t HeadlessFrameSink::finishFrames() {
    if (m_writer) {
        report(m_writer->finish());
    }
    return std::exchange(m_notWritten, 0);
}

void HeadlessFrameSink::report(const std::vector<FrameOutcome>& outcomes) {
    for (const FrameOutcome& outcome : outcomes) {
        if (outcome.drawn && !outcome.status) {
            ++m_notWritten;
        }
        frameFinished(outcome);
    }
}

}  // namespace korvan
