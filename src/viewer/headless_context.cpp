#include "viewer/headless_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "viewer/render.h"

namespace korvan {

// EGL handles and the framebuffer object's names, with the GL 3.0 entry points for it (a
// 1.1 header does not declare them).
struct HeadlessContext::Egl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
    GLuint framebuffer = 0;
    GLuint colour = 0;
    GLuint depth = 0;

    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;

    ~Egl();
};

namespace {

bool hasExtension(const char* list, const char* name) {
    if (list == nullptr) {
        return false;
    }
    const size_t n = std::strlen(name);
    for (const char* p = std::strstr(list, name); p != nullptr; p = std::strstr(p + n, name)) {
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) {
            return true;
        }
    }
    return false;
}

template <typename F>
bool load(F& target, const char* name) {
    target = reinterpret_cast<F>(eglGetProcAddress(name));
    return target != nullptr;
}

// Mesa's surfaceless platform needs neither X nor a GPU; otherwise the default display.
EGLDisplay openDisplay() {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay = nullptr;
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless") &&
        load(getPlatformDisplay, "eglGetPlatformDisplayEXT")) {
        EGLDisplay display =
            getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr) == EGL_TRUE) {
            return display;
        }
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr) == EGL_TRUE) {
        return display;
    }
    return EGL_NO_DISPLAY;
}

EGLConfig chooseConfig(EGLDisplay display, bool pbuffer) {
    const EGLint attributes[] = {EGL_SURFACE_TYPE,
                                 pbuffer ? EGL_PBUFFER_BIT : 0,
                                 EGL_RENDERABLE_TYPE,
                                 EGL_OPENGL_BIT,
                                 EGL_RED_SIZE,
                                 8,
                                 EGL_GREEN_SIZE,
                                 8,
                                 EGL_BLUE_SIZE,
                                 8,
                                 EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (eglChooseConfig(display, attributes, &config, 1, &count) != EGL_TRUE || count < 1) {
        return nullptr;
    }
    return config;
}

Status failed(const char* step) {
    return Status::failure(std::string(step) + " failed.");
}

}  // namespace

HeadlessContext::Egl::~Egl() {
    if (display == EGL_NO_DISPLAY) {
        return;
    }
    if (context != EGL_NO_CONTEXT &&
        eglMakeCurrent(display, surface, surface, context) == EGL_TRUE) {
        if (framebuffer != 0) {
            deleteFramebuffers(1, &framebuffer);
        }
        if (colour != 0) {
            deleteRenderbuffers(1, &colour);
        }
        if (depth != 0) {
            deleteRenderbuffers(1, &depth);
        }
    }
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != EGL_NO_CONTEXT) {
        eglDestroyContext(display, context);
    }
    if (surface != EGL_NO_SURFACE) {
        eglDestroySurface(display, surface);
    }
    // The display stays initialised: EGL hands every caller the same one, and terminating
    // it would pull it from under another context of this process.
    eglReleaseThread();
}

HeadlessContext::~HeadlessContext() = default;

Status HeadlessContext::create(int32_t width, int32_t height,
                               std::unique_ptr<HeadlessContext>& out) {
    if (width <= 0 || height <= 0) {
        return Status::failure("Invalid framebuffer size.");
    }
    std::unique_ptr<HeadlessContext> self(new (std::nothrow) HeadlessContext());
    std::unique_ptr<Egl> egl(new (std::nothrow) Egl());
    if (!self || !egl) {
        return Status::failure(kOutOfMemoryMessage);
    }
    egl->display = openDisplay();
    if (egl->display == EGL_NO_DISPLAY) {
        return failed("eglInitialize");
    }
    if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) {
        return failed("eglBindAPI(EGL_OPENGL_API)");
    }
    const bool surfaceless =
        hasExtension(eglQueryString(egl->display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
    EGLConfig config = chooseConfig(egl->display, !surfaceless);
    if (config == nullptr) {
        return failed("eglChooseConfig");
    }
    // Fixed-function drawing and display lists need the compatibility profile.
    const EGLint compatibility[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                    EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    egl->context = eglCreateContext(egl->display, config, EGL_NO_CONTEXT, compatibility);
    if (egl->context == EGL_NO_CONTEXT) {
        egl->context = eglCreateContext(egl->display, config, EGL_NO_CONTEXT, nullptr);
    }
    if (egl->context == EGL_NO_CONTEXT) {
        return failed("eglCreateContext");
    }
    if (!surfaceless) {
        // The picture goes to the framebuffer object; the surface only makes the context
        // current.
        const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        egl->surface = eglCreatePbufferSurface(egl->display, config, size);
        if (egl->surface == EGL_NO_SURFACE) {
            return failed("eglCreatePbufferSurface");
        }
    }
    if (eglMakeCurrent(egl->display, egl->surface, egl->surface, egl->context) != EGL_TRUE) {
        return failed("eglMakeCurrent");
    }

    const bool loaded = load(egl->genFramebuffers, "glGenFramebuffers") &&
                        load(egl->deleteFramebuffers, "glDeleteFramebuffers") &&
                        load(egl->bindFramebuffer, "glBindFramebuffer") &&
                        load(egl->genRenderbuffers, "glGenRenderbuffers") &&
                        load(egl->deleteRenderbuffers, "glDeleteRenderbuffers") &&
                        load(egl->bindRenderbuffer, "glBindRenderbuffer") &&
                        load(egl->renderbufferStorage, "glRenderbufferStorage") &&
                        load(egl->framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
                        load(egl->checkFramebufferStatus, "glCheckFramebufferStatus");
    if (!loaded) {
        return Status::failure("Framebuffer objects are not supported.");
    }
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
    if (width > maxSize || height > maxSize) {
        return Status::failure("Framebuffer size exceeds GL_MAX_RENDERBUFFER_SIZE (" +
                               std::to_string(maxSize) + ").");
    }
    egl->genFramebuffers(1, &egl->framebuffer);
    egl->bindFramebuffer(GL_FRAMEBUFFER, egl->framebuffer);
    egl->genRenderbuffers(1, &egl->colour);
    egl->bindRenderbuffer(GL_RENDERBUFFER, egl->colour);
    egl->renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    egl->framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                 egl->colour);
    egl->genRenderbuffers(1, &egl->depth);
    egl->bindRenderbuffer(GL_RENDERBUFFER, egl->depth);
    egl->renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    egl->framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, egl->depth);
    if (egl->checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        return failed("glCheckFramebufferStatus");
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, width, height);

    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    self->m_renderer = renderer != nullptr ? renderer : "";
    self->m_width = width;
    self->m_height = height;
    self->m_egl = std::move(egl);
    out = std::move(self);
    return {};
}

Status HeadlessContext::readPixels(RgbImage& out) const {
    return readPicture(m_width, m_height, out);
}

}  // namespace korvan
