#include "viewer/headless_frames.h"

#include <GL/gl.h>

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
    // A frame left in the context is still written, by the writer's destructor.
    readPending();
    m_renderer.releaseLists();
}

Status HeadlessFrameSink::drawAndRead(Scene& scene, RgbImage& picture) {
    readPending();
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
    readPending();
    m_renderer.drawScene(scene, m_view);
    // Starts the rasterising; glReadPixels waits for it at the next call.
    glFlush();
    m_pending = Pending{number, baseName, extension};
    report(m_writer->takeFinished());
    return true;
}

void HeadlessFrameSink::readPending() {
    if (!m_pending) {
        return;
    }
    const Pending frame = std::move(*m_pending);
    m_pending.reset();
    RgbImage picture;
    if (Status read = m_context.readPixels(picture); read) {
        m_writer->push(std::move(picture), frame.number, frame.baseName, frame.extension);
    } else {
        // Through the queue, so that the frame's report keeps its place after earlier ones.
        m_writer->pushFailed(frame.number, frame.baseName, frame.extension, read);
    }
}

int32_t HeadlessFrameSink::FinishFrames() {
    if (m_writer) {
        readPending();
        report(m_writer->finish());
    }
    return std::exchange(m_notWritten, 0);
}

void HeadlessFrameSink::report(const std::vector<FrameOutcome>& outcomes) {
    for (const FrameOutcome& outcome : outcomes) {
        if (!outcome.status) {
            ++m_notWritten;
        }
        frameFinished(outcome);
    }
}

}  // namespace korvan
