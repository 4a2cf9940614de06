// Fixed-function OpenGL drawing of a scene: both objects with their transforms, wireframe,
// coloured materials, display lists and the octree cells.
//
// Caller's part: an OpenGL context with the compatibility profile (1.1 functions and display
// lists) must be current on this thread, with a colour buffer and a depth buffer of at least
// 16 bits, sized width x height (a window, a pbuffer or a bound framebuffer object). Call
// setupFixedState once per context, then drawScene (or drawFrame) per frame; presenting the
// picture (swap, glReadPixels) is the caller's too. Before the context goes away, call
// SceneRenderer::releaseLists with it still current.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "geometry/solid.h"
#include "octree/octree.h"
#include "scene/scene.h"
#include "viewer/camera.h"
#include "viewer/view_state.h"

namespace korvan {

// Lighting with light 0 (ambient 0.3), white background, depth test.
void setupFixedState();

// glViewport to the view's size, then the 45-degree perspective with the view's planes.
// Returns false when OpenGL reported an error for the viewport.
bool applyViewport(const ViewState& view);

// Draws the leaves of the tree selected by g_cellDisplayMode as unlit wire boxes, with the
// mean normal of boundary cells as a short white-to-red segment.
void drawOctreeCells(const OctreeNode& node);

// Keeps the display list of each solid it draws. The core resets Solid::displayList to -1
// whenever the geometry changes; the renderer then deletes the list it had compiled for that
// solid and compiles a new one.
class SceneRenderer {
public:
    SceneRenderer() = default;
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    // One frame: clear, camera, scene rotation, object 1 in dark red, object 2 moved by
    // g_object2Offset and turned by g_object2Rotation in dark blue (colours show only with
    // g_coloredMaterials), each followed by its cells.
    void drawScene(Scene& scene, const ViewState& view);

    // Draws one solid through its display list, then its cells.
    void drawSolid(Solid& solid);

    // Deletes every list compiled here and sets the solids' displayList back to -1. The
    // solids drawn must still exist.
    void releaseLists();

private:
    std::vector<std::pair<Solid*, uint32_t>> m_lists;
};

// Everything for one picture on a fresh context: fixed state, viewport, the scene, and the
// lists released again. For headless rendering and image export.
void drawFrame(Scene& scene, ViewState& view, int32_t width, int32_t height);

}  // namespace korvan
