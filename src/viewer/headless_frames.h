// Drawing a scene headless and writing it as an image: SaveViewImage for the command line and
// the tests, on a HeadlessContext with the desktop view's drawing code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "scene/animation.h"
#include "scene/scene.h"
#include "viewer/frame_writer.h"
#include "viewer/headless_context.h"
#include "viewer/render.h"
#include "viewer/view_state.h"

namespace korvan {

// Draws frames of one scene into the context, keeping display lists between frames as the
// view does. The context must stay current and outlive this object.
//
// DrawAndSaveFrame draws and reads the frame at once but leaves encoding and writing to a
// worker thread (FrameWriter), so that the next frame is computed meanwhile. It returns false
// only for a frame that could not be drawn or read; a frame whose file then fails is counted by
// finishFrames, which the caller of RunAnimation calls afterwards and adds to
// framesNotWritten, so that every frame is counted once. Each frame's outcome reaches
// frameFinished on this thread, in frame order.
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

    // Waits until every frame handed over is written; returns how many of them could not be
    // (frames DrawAndSaveFrame already refused are not among them).
    int32_t finishFrames();

    const SceneRenderer& renderer() const { return m_renderer; }

protected:
    // One frame done with, written or not; `outcome.drawn` is false for one DrawAndSaveFrame
    // refused.
    virtual void frameFinished(const FrameOutcome& outcome) { (void)outcome; }

private:
    void report(const std::vector<FrameOutcome>& outcomes);

    HeadlessContext& m_context;
    ViewState& m_view;
    SceneRenderer m_renderer;
    std::unique_ptr<FrameWriter> m_writer;  // started with the first frame
    int32_t m_notWritten = 0;               // failed writes not yet returned by finishFrames
};

}  // namespace korvan
