// Drawing a scene headless and writing it as an image: SaveViewImage for the command line and
// the tests, on a HeadlessContext with the desktop view's drawing code.
#pragma once

#include <string>

#include "image/image.h"
#include "scene/animation.h"
#include "scene/scene.h"
#include "viewer/headless_context.h"
#include "viewer/render.h"
#include "viewer/view_state.h"

namespace korvan {

// Draws frames of one scene into the context, keeping display lists between frames as the
// view does. The context must stay current and outlive this object.
class HeadlessFrameSink : public FrameSink {
public:
    HeadlessFrameSink(HeadlessContext& context, ViewState& view);
    ~HeadlessFrameSink() override;
    HeadlessFrameSink(const HeadlessFrameSink&) = delete;
    HeadlessFrameSink& operator=(const HeadlessFrameSink&) = delete;

    // One complete frame of the scene as the view would show it at the context's size.
    Status drawAndRead(Scene& scene, RgbImage& picture);

    // Draws, reads back and writes imageFileName(baseName, number, extension).
    Status saveFrame(Scene& scene, int32_t number, const std::string& baseName,
                     const std::string& extension);

    bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& baseName,
                          const std::string& extension) override;

private:
    HeadlessContext& m_context;
    ViewState& m_view;
    SceneRenderer m_renderer;
};

}  // namespace korvan
