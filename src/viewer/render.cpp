#include "viewer/render.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cassert>
#include <new>
#include <utility>

namespace korvan {

void setupFixedState() {
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    const GLfloat ambient[4] = {0.3f, 0.3f, 0.3f, 0.0f};
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    // Opaque white, so that pictures read back keep their background.
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
}

bool applyViewport(const ViewState& view) {
    // Drain older errors so that only the viewport's own is reported.
    while (glGetError() != GL_NO_ERROR) {
    }
    glViewport(0, 0, view.m_width, view.m_height);
    const bool ok = glGetError() == GL_NO_ERROR;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, view.m_aspect, view.m_near, view.m_far);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    return ok;
}

Status readPicture(int32_t width, int32_t height, RgbImage& out) {
    RgbImage picture;
    try {
        picture = RgbImage(width, height);
    } catch (const std::bad_alloc&) {
        return Status::failure(kOutOfMemoryMessage);
    }
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, picture.pixels.data());
    if (glGetError() != GL_NO_ERROR) {
        return Status::failure("glReadPixels failed.");
    }
    const size_t stride = static_cast<size_t>(width) * 3;
    for (int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        std::swap_ranges(picture.pixels.begin() + top * stride,
                         picture.pixels.begin() + (top + 1) * stride,
                         picture.pixels.begin() + bottom * stride);
    }
    out = std::move(picture);
    return {};
}

namespace {

void setCellColour(const OctreeNode& leaf) {
    switch (leaf.type) {
        case kCellInner:
            glColor3f(0.0f, 1.0f, 0.0f);
            break;
        case kCellOuter:
            glColor3f(0.0f, 0.0f, 1.0f);
            break;
        case kCellBoundary:
            glColor3f(0.0f, 0.0f, 0.0f);
            break;
        case kCellUnsorted:
            glColor3f(0.5f, 0.0f, 0.0f);
            break;
        default:
            glColor3f(0.3f, 0.0f, 0.0f);
            break;
    }
}

// The cell type each single-type mode shows; -1 for the modes that filter nothing.
int32_t typeOfMode(int32_t mode) {
    switch (mode) {
        case 1:
            return kCellInner;
        case 2:
            return kCellOuter;
        case 3:
            return kCellBoundary;
        case 4:
            return kCellUnsorted;
        default:
            return -1;
    }
}

void drawCellBox(const OctreeNode& leaf) {
    const float x = leaf.minCorner.x, y = leaf.minCorner.y, z = leaf.minCorner.z;
    const float X = leaf.maxCorner.x, Y = leaf.maxCorner.y, Z = leaf.maxCorner.z;
    // Four faces drawn as lines give all twelve edges.
    glBegin(GL_QUADS);
    glVertex3f(x, y, z);
    glVertex3f(x, Y, z);
    glVertex3f(X, Y, z);
    glVertex3f(X, y, z);

    glVertex3f(x, y, Z);
    glVertex3f(x, Y, Z);
    glVertex3f(X, Y, Z);
    glVertex3f(X, y, Z);

    glVertex3f(x, y, z);
    glVertex3f(x, Y, z);
    glVertex3f(x, Y, Z);
    glVertex3f(x, y, Z);

    glVertex3f(X, y, z);
    glVertex3f(X, Y, z);
    glVertex3f(X, Y, Z);
    glVertex3f(X, y, Z);
    glEnd();
}

}  // namespace

void drawOctreeCells(const OctreeNode& node, int32_t mode) {
    if (!node.isLeaf()) {
        for (const auto& child : node.children) {
            if (child) {
                drawOctreeCells(*child, mode);
            }
        }
        return;
    }
    if (mode <= 0 || mode > 5) {
        return;
    }
    if (mode == 5) {
        setCellColour(node);
    } else if (node.type != typeOfMode(mode)) {
        return;
    } else {
        setCellColour(node);
    }
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_LIGHTING);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    drawCellBox(node);
    if (node.type == kCellBoundary) {
        const Vector4 tip = node.centre + node.meanNormal * 0.1f;
        glBegin(GL_LINES);
        glColor3f(1.0f, 1.0f, 1.0f);
        glVertex3f(node.centre.x, node.centre.y, node.centre.z);
        glColor3f(1.0f, 0.0f, 0.0f);
        glVertex3f(tip.x, tip.y, tip.z);
        glEnd();
    }
    glPopAttrib();
}

namespace {

// Today's list: one normal, then three vertices per triangle, in array order.
void sendImmediate(const Solid& solid) {
    const auto& v = solid.vertices;
    glBegin(GL_TRIANGLES);
    for (const Triangle& t : solid.triangles) {
        assert(t.i0 >= 0 && t.i1 >= 0 && t.i2 >= 0);
        assert(std::max({t.i0, t.i1, t.i2}) < solid.vertexCount());
        glNormal3f(t.normal.x, t.normal.y, t.normal.z);
        glVertex3f(v[t.i0].x, v[t.i0].y, v[t.i0].z);
        glVertex3f(v[t.i1].x, v[t.i1].y, v[t.i1].z);
        glVertex3f(v[t.i2].x, v[t.i2].y, v[t.i2].z);
    }
    glEnd();
}

// The same corners as sendImmediate sends, each with its triangle's normal, so that the
// lighting sees exactly the values the immediate calls would give it.
void fillCorners(const Solid& solid, std::vector<float>& corners) {
    corners.resize(solid.triangles.size() * 18);
    float* out = corners.data();
    for (const Triangle& t : solid.triangles) {
        out = putCorners(solid, t, out);
    }
}

void drawCorners(const std::vector<float>& corners) {
    if (corners.empty()) {
        return;
    }
    constexpr GLsizei kStride = 6 * sizeof(float);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glNormalPointer(GL_FLOAT, kStride, corners.data());
    glVertexPointer(3, GL_FLOAT, kStride, corners.data() + 3);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(corners.size() / 6));
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
}

}  // namespace

void SceneRenderer::drawSolid(const Solid& solid, const OctreeNode* tree, int32_t cellDisplayMode) {
    if (solid.vertexCount() < 1) {
        return;
    }
    glPolygonMode(GL_FRONT_AND_BACK, solid.wireframe == 1 ? GL_LINE : GL_FILL);

    auto entry = std::find_if(m_cache.begin(), m_cache.end(),
                              [&](const Cached& e) { return e.solid == &solid; });
    if (entry == m_cache.end()) {
        m_cache.push_back({});
        entry = m_cache.end() - 1;
        entry->solid = &solid;
        entry->revision = solid.revision;
        entry->unchanged = kSettleFrames;  // first sight: most likely a mesh that stays
        boxOfPoints(solid.vertices, entry->lo, entry->hi);
    } else if (entry->revision != solid.revision) {
        entry->revision = solid.revision;
        entry->unchanged = 0;
        boxOfPoints(solid.vertices, entry->lo, entry->hi);
    } else if (entry->unchanged < kSettleFrames) {
        ++entry->unchanged;
    }
    // A solid wholly out of view (a milling run parks its tool far off) would have all its
    // triangles sent, transformed and clipped away; its cells are drawn as ever.
    const WindowMapping mapping = currentWindowMapping();
    if (!boxOutOfView(mapping, entry->lo, entry->hi)) {
        // Seen from outside, a solid's triangles that face away lie behind those that face the
        // eye: OpenGL drops them before lighting and rasterising, and the arrays leave them out.
        // Wireframe shows the edges behind.
        const bool frontOnly = solid.boundsSolid() && solid.wireframe != 1 &&
                               boxBeyondNearPlane(mapping, entry->lo, entry->hi);
        if (frontOnly) {
            glEnable(GL_CULL_FACE);
        }
        drawMesh(solid, *entry, mapping, frontOnly);
        if (frontOnly) {
            glDisable(GL_CULL_FACE);
        }
    }
    if (tree != nullptr && cellDisplayMode != 0) {
        drawOctreeCells(*tree, cellDisplayMode);
    }
}

void SceneRenderer::drawMesh(const Solid& solid, Cached& entry, const WindowMapping& mapping,
                             bool frontOnly) {
    const bool culls = solid.wireframe != 1 && cullsAtPixelCentres();
    const bool arrays =
        entry.unchanged < kSettleFrames || (culls && solid.triangles.size() > kArraysAbove);
    if (entry.list != 0 && arrays) {
        glDeleteLists(entry.list, 1);
        entry.list = 0;
    }
    entry.fromArrays = arrays;

    if (entry.list != 0) {
        glCallList(entry.list);
    } else if (arrays) {
        // Filled for every draw: which triangles reach a pixel centre depends on the view.
        if (culls) {
            fillCoveringCorners(solid, mapping, entry.corners, m_window, frontOnly);
        } else {
            fillCorners(solid, entry.corners);
        }
        drawCorners(entry.corners);
    } else {
        // The mesh stays: a list drawn from OpenGL's own memory beats sending the arrays anew.
        std::vector<float>().swap(entry.corners);
        entry.list = glGenLists(1);
        if (entry.list != 0) {
            glNewList(entry.list, GL_COMPILE_AND_EXECUTE);
        }
        sendImmediate(solid);
        if (entry.list != 0) {
            glEndList();
        } else {
            // No list to be had: draw immediately again and try again next frame.
            entry.unchanged = kSettleFrames;
        }
    }
}

bool SceneRenderer::drawsFromArrays(const Solid& solid) const {
    const auto entry = std::find_if(m_cache.begin(), m_cache.end(),
                                    [&](const Cached& e) { return e.solid == &solid; });
    return entry != m_cache.end() && entry->fromArrays;
}

void SceneRenderer::drawScene(const Scene& scene, const ViewState& view) {
    glMatrixMode(GL_MODELVIEW);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    // Colour material writes the current colour into the material and leaves it there; start
    // each frame from the default material so that the plain mode is grey again.
    const GLfloat ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    const GLfloat diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    gluLookAt(view.m_eye.x, view.m_eye.y, view.m_eye.z, view.m_target.x, view.m_target.y,
              view.m_target.z, 0.0, 1.0, 0.0);
    if (view.m_coloredMaterials) {
        glEnable(GL_COLOR_MATERIAL);
    }
    glColor3f(0.5f, 0.0f, 0.0f);
    glRotatef(view.m_rotY, 0.0f, 1.0f, 0.0f);
    glRotatef(view.m_rotX, 1.0f, 0.0f, 0.0f);
    glTranslatef(-view.m_pivot.x, -view.m_pivot.y, -view.m_pivot.z);
    if (scene.m_object1.loaded != 0 && view.m_showObject1) {
        drawSolid(scene.m_object1, scene.tree(1), view.m_cellDisplayMode);
    }
    glColor3f(0.0f, 0.0f, 0.5f);
    if (scene.m_object2.loaded != 0 && view.m_showObject2) {
        // No push or pop: object 2 follows the scene rotation.
        const Vector4& offset = scene.m_object2Offset;
        const Vector4& rotation = scene.m_object2Rotation;
        glTranslatef(offset.x, offset.y, offset.z);
        glRotatef(rotation.x, 1.0f, 0.0f, 0.0f);
        glRotatef(rotation.y, 0.0f, 1.0f, 0.0f);
        glRotatef(rotation.z, 0.0f, 0.0f, 1.0f);
        drawSolid(scene.m_object2, scene.tree(2), view.m_cellDisplayMode);
    }
    if (view.m_coloredMaterials) {
        glDisable(GL_COLOR_MATERIAL);
    }
}

void SceneRenderer::releaseLists() {
    for (const Cached& entry : m_cache) {
        if (entry.list != 0) {
            glDeleteLists(entry.list, 1);
        }
    }
    m_cache.clear();
    std::vector<WindowCorner>().swap(m_window);
}

}  // namespace korvan
