// Fixed-function OpenGL drawing of a scene: both objects with their transforms, wireframe,
// coloured materials, display lists and the octree cells.
//
// Caller's part: an OpenGL context with the compatibility profile (1.1 functions and display
// lists) must be current on this thread, with a colour buffer and a depth buffer of at least
// 16 bits, sized width x height (a window, a pbuffer or a bound framebuffer object). Call
// setupFixedState once per context, then drawScene per frame; presenting the
// picture (swap, glReadPixels) is the caller's too. Before the context goes away, call
// SceneRenderer::releaseLists with it still current.
#pragma once

#include <cstdint>
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

// Draws the leaves of the tree of the kind `cellDisplayMode` selects (ViewState) as unlit
// wire boxes, with the mean normal of boundary cells as a short white-to-red segment.
void drawOctreeCells(const OctreeNode& node, int32_t cellDisplayMode);

// Keeps a display list for each solid it draws, together with the solid's revision; when the
// revision moves on, the list is deleted and compiled anew.
class SceneRenderer {
public:
    SceneRenderer() = default;
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    // One frame: clear, camera, scene rotation, object 1 in dark red, object 2 moved by the
    // scene's m_object2Offset and turned by m_object2Rotation in dark blue (colours show only
    // with the view's m_coloredMaterials), each followed by its cells.
    void drawScene(const Scene& scene, const ViewState& view);

    // Deletes every list compiled here.
    void releaseLists();

private:
    // Draws one solid through its display list, then the cells of `tree` if there is one.
    void drawSolid(const Solid& solid, const OctreeNode* tree, int32_t cellDisplayMode);

    struct CompiledList {
        const Solid* solid;
        uint64_t revision;
        uint32_t list;
    };
    std::vector<CompiledList> m_lists;
};

}  // namespace korvan
