#include "viewer/camera.h"

#include <cmath>

#include "scene/scene.h"

namespace korvan {
namespace {

constexpr double kMinEyeDistance = 1e-3;
constexpr double kMaxEyeDistance = 1e6;

// x^n by repeated squaring, as the wheel has always computed its steps.
double power(double x, int32_t n) {
    double result = 1.0;
    while (n > 0) {
        if (n & 1) {
            result *= x;
        }
        x *= x;
        n >>= 1;
    }
    return result;
}

}  // namespace

void setViewportSize(ViewState& view, int32_t width, int32_t height) {
    view.m_width = width > 0 ? width : 0;
    view.m_height = height > 0 ? height : 0;
    if (view.m_height > 0 && view.m_width > 0) {
        view.m_aspect = static_cast<double>(view.m_width) / view.m_height;
    }
}

void placeCameraForObject(ViewState& view, const Solid& object1, double nearPlane) {
    double d = length(object1.maxCorner - object1.minCorner);
    if (!std::isfinite(d) || d < 1e-6) {
        d = 1.0;
    }
    view.m_eye = Vector4(0.0f, 0.0f, static_cast<float>(d));
    view.m_near = std::fmin(nearPlane, d / 10.0);
    view.m_far = 50.0 * d;
}

void scaleEyeDistance(ViewState& view, double factor) {
    const float scaled = static_cast<float>(view.m_eye.z * factor);
    double z = scaled;
    const double sign = std::signbit(view.m_eye.z) ? -1.0 : 1.0;
    if (!std::isfinite(z) || std::fabs(z) > kMaxEyeDistance) {
        z = sign * kMaxEyeDistance;
    } else if (std::fabs(z) < kMinEyeDistance) {
        z = sign * kMinEyeDistance;
    }
    view.m_eye.z = static_cast<float>(z);
}

void applyWheel(ViewState& view, int32_t zDelta) {
    if (zDelta > 0) {
        scaleEyeDistance(view, power(1.1, zDelta / 120));
    } else {
        scaleEyeDistance(view, power(0.9, -(zDelta / 120)));
    }
}

void KeyTable::press(int32_t code) {
    if (code >= 0 && code < static_cast<int32_t>(m_keyDown.size())) {
        m_keyDown[static_cast<size_t>(code)] = 1;
    }
}

void KeyTable::release(int32_t code) {
    if (code >= 0 && code < static_cast<int32_t>(m_keyDown.size())) {
        m_keyDown[static_cast<size_t>(code)] = 0;
    }
}

bool runKeyActions(KeyTable& keys, ViewState& view, Scene& scene) {
    bool redraw = false;
    auto take = [&](int32_t code) {
        int32_t& entry = keys.m_keyDown[static_cast<size_t>(code)];
        if (entry != 1) {
            return false;
        }
        entry = 0;
        redraw = true;
        return true;
    };
    if (take(kVkY)) {
        scene.m_object2Offset = Vector4();
    }
    if (take(kVk1)) {
        view.m_showObject1 = !view.m_showObject1;
    }
    if (take(kVk2)) {
        view.m_showObject2 = !view.m_showObject2;
    }
    if (take(kVkPageUp)) {
        scaleEyeDistance(view, 0.9f);
    }
    if (take(kVkPageDown)) {
        scaleEyeDistance(view, 1.1f);
    }
    if (take(kVkF)) {
        scene.m_object1.wireframe = scene.m_object1.wireframe == 0 ? 1 : 0;
        scene.m_object2.wireframe = scene.m_object1.wireframe;
    }
    return redraw;
}

void onLeftButtonDown(ViewState& view, int32_t x, int32_t y) {
    if (view.m_mouseMode != kMouseIdle) {
        return;
    }
    view.m_lastMouse = {x, y};
    view.m_mouseMode = kMouseRotateScene;
}

void onLeftButtonUp(ViewState& view) {
    view.m_mouseMode = kMouseIdle;
}

bool onMouseMove(ViewState& view, Scene& scene, int32_t x, int32_t y, bool shift) {
    const float dx = static_cast<float>(view.m_lastMouse.x - x);
    const float dy = static_cast<float>(view.m_lastMouse.y - y);
    view.m_lastMouse = {x, y};
    const float step = 0.01f;
    Vector4& offset = scene.m_object2Offset;
    Vector4& rotation = scene.m_object2Rotation;
    switch (view.m_mouseMode) {
        case kMouseRotateScene:
            view.m_rotY += dx;
            view.m_rotX += dy;
            return true;
        case kMouseMoveObject2:
            if (shift) {
                offset.z += dx * step;
            } else {
                offset.x -= dx * step;
            }
            offset.y += dy * step;
            return true;
        case kMouseRotateObject2:
            if (shift) {
                rotation.z += dx;
            } else {
                rotation.x -= dx;
            }
            rotation.y += dy;
            return true;
        default:
            return false;
    }
}

bool onRightButtonDown(ViewState& view, int32_t x, int32_t y) {
    if (view.m_mouseMode != kMouseIdle) {
        view.m_mouseMode = kMouseIdle;
        return false;
    }
    view.m_lastMouse = {x, y};
    return true;
}

void enterObject2Mode(ViewState& view, int32_t mode, int32_t x, int32_t y) {
    view.m_lastMouse = {x, y};
    view.m_mouseMode = mode;
}

std::optional<double> FrameRateCounter::frameDrawn(Clock::time_point now) {
    m_frameCount = (m_frameCount + 1) % 5;
    if (m_frameCount != 0) {
        return std::nullopt;
    }
    m_pendingFrames += 5;
    const double seconds = std::chrono::duration<double>(now - m_fpsStart).count();
    if (seconds <= 0.0) {
        return std::nullopt;
    }
    const double rate = m_pendingFrames / seconds;
    m_pendingFrames = 0;
    m_fpsStart = now;
    return rate;
}

}  // namespace korvan
