#include "viewer/headless_frames.h"

#include "viewer/camera.h"

namespace korvan {

HeadlessFrameSink::HeadlessFrameSink(HeadlessContext& context, ViewState& view)
    : m_context(context), m_view(view) {
    setupFixedState();
    setViewportSize(m_view, context.width(), context.height());
    applyViewport(m_view);
}

HeadlessFrameSink::~HeadlessFrameSink() {
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
    return saveFrame(scene, number, baseName, extension).ok();
}

}  // namespace korvan
