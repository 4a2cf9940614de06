// An OpenGL context without a window: EGL on Mesa (surfaceless platform when available),
// desktop OpenGL with the compatibility profile, drawing into a framebuffer object of a chosen
// size that reads back as an RGB picture. The command line and the tests draw the scene with
// the same code as the desktop view on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "geometry/status.h"
#include "image/image.h"

namespace korvan {

class HeadlessContext {
public:
    // Creates the context and a width x height framebuffer object (colour and depth), current
    // and bound on the calling thread, which must have no other context current (a window's
    // GLX context included). Fails with an English message naming the step when no
    // display, context or framebuffer can be had (no GL driver, a size beyond its limits).
    static Status create(int32_t width, int32_t height, std::unique_ptr<HeadlessContext>& out);

    ~HeadlessContext();
    HeadlessContext(const HeadlessContext&) = delete;
    HeadlessContext& operator=(const HeadlessContext&) = delete;

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    // GL_RENDERER of the context, for messages and benchmarks.
    const std::string& renderer() const { return m_renderer; }

    // The picture drawn so far, rows from the top (glReadPixels counts from the bottom).
    Status readPixels(RgbImage& out) const;

    struct Egl;

private:
    HeadlessContext() = default;

    std::unique_ptr<Egl> m_egl;
    int32_t m_width = 0;
    int32_t m_height = 0;
    std::string m_renderer;
};

}  // namespace korvan
