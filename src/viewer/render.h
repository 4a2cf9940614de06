// Fixed-function OpenGL drawing of a scene: both objects with their transforms, wireframe,
// coloured materials, display lists and the octree cells.
//
// Caller's part: an OpenGL context with the compatibility profile (1.1 functions and display
// lists) must be current on this thread, with a colour buffer and a depth buffer of at least
// 16 bits, sized width x height (a window, a pbuffer or a bound framebuffer object). Call
// setupFixedState once per context, then drawScene per frame; presenting the
// picture (swap, glReadPixels) is the caller's too. Before the context goes away, call
// SceneRenderer::releaseLists with it still current. Client vertex arrays are left disabled.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/solid.h"
#include "geometry/status.h"
#include "image/image.h"
#include "octree/octree.h"
#include "scene/scene.h"
#include "viewer/camera.h"
#include "viewer/pixel_cull.h"
#include "viewer/view_state.h"

namespace korvan {

// Lighting with light 0 (ambient 0.3), white background, depth test.
void setupFixedState();

// glViewport to the view's size, then the 45-degree perspective with the view's planes.
// Returns false when OpenGL reported an error for the viewport.
bool applyViewport(const ViewState& view);

// The bound framebuffer's picture of width x height, rows from the top (glReadPixels counts
// from the bottom).
Status readPicture(int32_t width, int32_t height, RgbImage& out);

// Draws the leaves of the tree of the kind `cellDisplayMode` selects (ViewState) as unlit
// wire boxes, with the mean normal of boundary cells as a short white-to-red segment.
void drawOctreeCells(const OctreeNode& node, int32_t cellDisplayMode);

// Keeps what it sent to OpenGL for each solid it draws, together with the solid's revision.
// A solid seen for the first time, or one whose revision has stayed put for a few frames, is
// drawn from a display list compiled from immediate-mode calls. A solid whose revision moved
// since it was last drawn (a milling workpiece, a tool moved back every frame) is drawn from
// vertex arrays filled straight from its mesh instead: compiling a list costs more than it
// saves when the next frame throws it away. Filled solids drawn from arrays leave out the
// triangles that reach no pixel centre (pixel_cull.h); a large filled solid is always drawn
// that way, since most of its triangles then fall between pixel centres. A solid wholly out of
// view is not sent at all, and of a mesh that bounds a solid (Solid::boundsSolid) seen from
// outside, only the triangles facing the eye are drawn. Every path gives the same picture.
class SceneRenderer {
public:
    SceneRenderer() = default;
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    // Draws without a change of revision after which a changing solid gets a list again.
    static constexpr int32_t kSettleFrames = 2;
    // Filled solids with more triangles than this are drawn from arrays even when they stay.
    static constexpr size_t kArraysAbove = 250000;

    // One frame: clear, camera, scene rotation, object 1 in dark red, object 2 moved by the
    // scene's m_object2Offset and turned by m_object2Rotation in dark blue (colours show only
    // with the view's m_coloredMaterials), each followed by its cells.
    void drawScene(const Scene& scene, const ViewState& view);

    // Deletes every list compiled here and the arrays kept.
    void releaseLists();

    // True when `solid` was drawn last from vertex arrays, not from a list.
    bool drawsFromArrays(const Solid& solid) const;

private:
    struct Cached {
        const Solid* solid = nullptr;
        uint64_t revision = 0;
        uint32_t list = 0;           // 0 while the solid is drawn from `corners`
        int32_t unchanged = 0;       // draws since the revision last moved
        bool fromArrays = false;     // how it was drawn last
        std::vector<float> corners;  // normal then position of each corner drawn last
        Vector4 lo, hi;              // the box of the solid at `revision`
    };

    // Draws one solid, then the cells of `tree` if there is one.
    void drawSolid(const Solid& solid, const OctreeNode* tree, int32_t cellDisplayMode);
    // The solid's triangles, from its list or from arrays, as `entry` says; with `frontOnly`,
    // the arrays leave out what OpenGL culls as facing away.
    void drawMesh(const Solid& solid, Cached& entry, const WindowMapping& mapping, bool frontOnly);

    std::vector<Cached> m_cache;
    std::vector<WindowCorner> m_window;  // scratch of the pixel cull
};

}  // namespace korvan
