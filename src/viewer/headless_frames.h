// Drawing a scene headless and writing it as an image: SaveViewImage for the command line and
// the tests, on a HeadlessContext with the desktop view's drawing code.
#pragma once

#include <memory>
#include <optional>
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
// DrawAndSaveFrame only draws the frame and flushes it: the renderer's threads rasterise it
// while the caller computes the next frame, and it is read back at the next call (or by
// FinishFrames), then encoded and written on a worker thread (FrameWriter). So
// DrawAndSaveFrame always returns true; every frame that could not be read or written is
// counted by FinishFrames, which RunAnimation calls when the run ends (the context current,
// nothing drawn in between) and adds to framesNotWritten. Each frame's outcome
// reaches frameFinished on this thread, in frame order.
class HeadlessFrameSink : public FrameSink {
public:
    HeadlessFrameSink(HeadlessContext& context, ViewState& view);
    ~HeadlessFrameSink() override;
    HeadlessFrameSink(const HeadlessFrameSink&) = delete;
    HeadlessFrameSink& operator=(const HeadlessFrameSink&) = delete;

    // One complete frame of the scene as the view would show it at the context's size; a frame
    // DrawAndSaveFrame left in the context is handed to the writer first.
    Status drawAndRead(Scene& scene, RgbImage& picture);

    // Draws, reads back and writes imageFileName(baseName, number, extension).
    Status saveFrame(Scene& scene, int32_t number, const std::string& baseName,
                     const std::string& extension);

    bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& baseName,
                          const std::string& extension) override;

    // Reads the frame still in the context, waits until every frame is written and returns how
    // many could not be read or written since the last call.
    int32_t FinishFrames() override;

    // The octree cells are drawn from the scene's trees, which a copy does not carry.
    bool DrawsGivenSceneOnly() const override { return m_view.m_cellDisplayMode == 0; }

    const SceneRenderer& renderer() const { return m_renderer; }

protected:
    // One frame done with, written or not; `outcome.drawn` is false for one that could not be
    // read back.
    virtual void frameFinished(const FrameOutcome& outcome) { (void)outcome; }

private:
    void report(const std::vector<FrameOutcome>& outcomes);
    // Reads the frame DrawAndSaveFrame left in the context, if any, and queues its writing.
    void readPending();

    struct Pending {
        int32_t number = 0;
        std::string baseName;
        std::string extension;
    };

    HeadlessContext& m_context;
    ViewState& m_view;
    SceneRenderer m_renderer;
    std::unique_ptr<FrameWriter> m_writer;  // started with the first frame
    std::optional<Pending> m_pending;       // drawn, not read back yet
    int32_t m_notWritten = 0;               // failures not yet returned by FinishFrames
};

}  // namespace korvan
