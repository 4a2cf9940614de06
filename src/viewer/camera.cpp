#include "viewer/camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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

void placeCameraForObject(ViewState& view, const Solid& object1, double nearPlane,
                          bool fileCoordinates) {
    double d = length(object1.maxCorner - object1.minCorner);
    if (!std::isfinite(d) || d < 1e-6) {
        d = 1.0;
    }
    view.m_pivot = Vector4();
    if (fileCoordinates) {
        // Any size anywhere: turn about the box's middle, and keep the near plane where it is
        // for the unit box's diagonal (2 sqrt 3), relative to this one.
        view.m_pivot = (object1.minCorner + object1.maxCorner) / 2.0f;
        if (!std::isfinite(view.m_pivot.x) || !std::isfinite(view.m_pivot.y) ||
            !std::isfinite(view.m_pivot.z)) {
            view.m_pivot = Vector4();
        }
        nearPlane *= d / (2.0 * std::numbers::sqrt3);
    }
    view.m_eye = Vector4(0.0f, 0.0f, static_cast<float>(d));
    view.m_near = std::fmin(nearPlane, d / 10.0);
    view.m_far = 50.0 * d;
}

void scaleEyeDistance(ViewState& view, double factor) {
    if (view.m_eye.x != 0.0f || view.m_eye.y != 0.0f) {
        // An eye off the z axis (the iso view) moves along its own direction.
        const double distance = length(view.m_eye);
        double scaled = distance * factor;
        if (!std::isfinite(scaled) || scaled > kMaxEyeDistance) {
            scaled = kMaxEyeDistance;
        } else if (scaled < kMinEyeDistance) {
            scaled = kMinEyeDistance;
        }
        const float k = static_cast<float>(scaled / distance);
        view.m_eye = Vector4(view.m_eye.x * k, view.m_eye.y * k, view.m_eye.z * k);
        return;
    }
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

void zoomEye(ViewState& view, const Scene& scene, double factor) {
    if (factor < 1.0) {
        // Closer, but never into the shown objects' boxes; an eye already nearer stays put.
        const double limit = nearestEyeDistance(view, scene);
        const double distance = length(view.m_eye - view.m_target);
        if (limit > 0.0 && distance * factor < limit) {
            if (!(distance > limit)) {
                return;
            }
            factor = limit / distance;
        }
    }
    scaleEyeDistance(view, factor);
}

void applyWheel(ViewState& view, const Scene& scene, int32_t zDelta) {
    if (zDelta > 0) {
        zoomEye(view, scene, power(1.1, zDelta / 120));
    } else {
        zoomEye(view, scene, power(0.9, -(zDelta / 120)));
    }
}

void applyWheelDelta(ViewState& view, const Scene& scene, int32_t zDelta) {
    if ((zDelta > 0 && view.m_wheelRemainder < 0) || (zDelta < 0 && view.m_wheelRemainder > 0)) {
        view.m_wheelRemainder = 0;
    }
    // Saturating: a flood of deltas cannot overflow the sum.
    const int64_t sum = int64_t{view.m_wheelRemainder} + zDelta;
    const int32_t total = static_cast<int32_t>(std::clamp<int64_t>(sum, -(1 << 24), 1 << 24));
    const int32_t whole = total / 120 * 120;
    view.m_wheelRemainder = total - whole;
    if (whole != 0) {
        applyWheel(view, scene, whole);
    }
}

void setStandardView(ViewState& view, StandardView which) {
    double distance = length(view.m_eye - view.m_target);
    if (!std::isfinite(distance) || distance < kMinEyeDistance) {
        distance = 15.0;
    }
    view.m_target = Vector4();
    view.m_eye = Vector4(0.0f, 0.0f, static_cast<float>(distance));
    view.m_rotX = 0.0f;
    view.m_rotY = 0.0f;
    switch (which) {
        case StandardView::Front:
            break;
        case StandardView::Top:
            view.m_rotX = 90.0f;  // +y turned towards the eye, the front edge at the bottom
            break;
        case StandardView::Side:
            view.m_rotY = -90.0f;  // +x towards the eye: seen from the right
            break;
        case StandardView::Iso: {
            // The isometric elevation (the eye 1/sqrt 3 up), but turned 30 degrees about y
            // instead of 45: the head-light then meets the three visible faces of a box at
            // different angles, so they get three shades and its edges show.
            view.m_eye = Vector4(static_cast<float>(distance / std::sqrt(6.0)),
                                 static_cast<float>(distance / std::numbers::sqrt3),
                                 static_cast<float>(distance / std::numbers::sqrt2));
            break;
        }
    }
}

std::optional<StandardView> standardViewNamed(std::string_view name) {
    if (name == "front") {
        return StandardView::Front;
    }
    if (name == "top") {
        return StandardView::Top;
    }
    if (name == "side") {
        return StandardView::Side;
    }
    if (name == "iso") {
        return StandardView::Iso;
    }
    return std::nullopt;
}

namespace {

struct Vec3 {
    double x, y, z;
};

double dot3(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The scene turn as the drawing applies it: about X first, then about Y (degrees).
Vec3 turned(const ViewState& view, Vec3 p) {
    const double ax = view.m_rotX * std::numbers::pi / 180.0;
    const double ay = view.m_rotY * std::numbers::pi / 180.0;
    const Vec3 q{p.x, p.y * std::cos(ax) - p.z * std::sin(ax),
                 p.y * std::sin(ax) + p.z * std::cos(ax)};
    return {q.x * std::cos(ay) + q.z * std::sin(ay), q.y, -q.x * std::sin(ay) + q.z * std::cos(ay)};
}

// The inverse of `turned`: back from the turned scene to scene coordinates.
Vec3 unturned(const ViewState& view, Vec3 p) {
    const double ax = view.m_rotX * std::numbers::pi / 180.0;
    const double ay = view.m_rotY * std::numbers::pi / 180.0;
    const Vec3 q{p.x * std::cos(ay) - p.z * std::sin(ay), p.y,
                 p.x * std::sin(ay) + p.z * std::cos(ay)};
    return {q.x, q.y * std::cos(ax) + q.z * std::sin(ax), -q.y * std::sin(ax) + q.z * std::cos(ax)};
}

struct Box {
    Vec3 lo, hi;
};

// The boxes of the shown objects in scene coordinates (before the view's turn), object 1's
// first; object 2's moved by its placement.
std::vector<Box> shownBoxes(const ViewState& view, const Scene& scene) {
    std::vector<Box> boxes;
    auto add = [&](Vector4 lo, Vector4 hi) {
        boxes.push_back({{lo.x, lo.y, lo.z}, {hi.x, hi.y, hi.z}});
    };
    if (scene.m_object1.loaded != 0 && view.m_showObject1) {
        add(scene.m_object1.minCorner, scene.m_object1.maxCorner);
    }
    if (scene.m_object2.loaded != 0 && view.m_showObject2) {
        Vector4 lo = scene.m_object2.minCorner + scene.m_object2Offset;
        Vector4 hi = scene.m_object2.maxCorner + scene.m_object2Offset;
        if (scene.m_object2Rotation != Vector4()) {
            // Turned about its placement: any turn stays inside the sphere around the origin.
            const float r = static_cast<float>(
                std::max(length(scene.m_object2.minCorner), length(scene.m_object2.maxCorner)));
            const Vector4 c = scene.m_object2Offset;
            lo = Vector4(c.x - r, c.y - r, c.z - r);
            hi = Vector4(c.x + r, c.y + r, c.z + r);
        }
        add(lo, hi);
    }
    return boxes;
}

bool isFinite(const Vec3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Corners of the shown objects' boxes in scene coordinates (before the view's turn).
std::vector<Vec3> shownCorners(const ViewState& view, const Scene& scene) {
    std::vector<Vec3> corners;
    for (const Box& b : shownBoxes(view, scene)) {
        for (int i = 0; i < 8; ++i) {
            corners.push_back(
                {(i & 1) ? b.hi.x : b.lo.x, (i & 2) ? b.hi.y : b.lo.y, (i & 4) ? b.hi.z : b.lo.z});
        }
    }
    corners.erase(
        std::remove_if(corners.begin(), corners.end(), [](const Vec3& p) { return !isFinite(p); }),
        corners.end());
    return corners;
}

// Unit vectors of the camera: from the target to the eye, to the right, and up.
struct EyeFrame {
    Vec3 back, right, up;
};

EyeFrame eyeFrame(const ViewState& view) {
    const Vector4 d = view.m_eye - view.m_target;
    const double len = length(d);
    if (!std::isfinite(len) || len < 1e-12) {
        return {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
    }
    const Vec3 back{d.x / len, d.y / len, d.z / len};
    // right = up(0, 1, 0) x back, as the look-at with +y up builds it.
    Vec3 right{back.z, 0.0, -back.x};
    const double rl = std::sqrt(dot3(right, right));
    if (rl < 1e-9) {
        right = {1, 0, 0};
    } else {
        right = {right.x / rl, right.y / rl, right.z / rl};
    }
    const Vec3 up{back.y * right.z - back.z * right.y, back.z * right.x - back.x * right.z,
                  back.x * right.y - back.y * right.x};
    return {back, right, up};
}

}  // namespace

ScreenAxes screenAxes(const ViewState& view) {
    const EyeFrame f = eyeFrame(view);
    auto toScene = [&view](const Vec3& v) {
        const Vec3 s = unturned(view, v);
        return Vector4(static_cast<float>(s.x), static_cast<float>(s.y), static_cast<float>(s.z));
    };
    return {toScene(f.right), toScene(f.up), toScene(f.back)};
}

void panView(ViewState& view, double dx, double dy) {
    const double distance = length(view.m_eye - view.m_target);
    if (!std::isfinite(distance) || view.m_height <= 0 || !std::isfinite(dx) ||
        !std::isfinite(dy)) {
        return;
    }
    // Scene units per pixel at the target's depth, so that what lies there follows the pointer.
    const double perPixel =
        2.0 * distance * std::tan(22.5 * std::numbers::pi / 180.0) / view.m_height;
    const EyeFrame f = eyeFrame(view);
    const double a = dx * perPixel;
    const double b = -dy * perPixel;
    // The scene point shown at the target moves the other way: the picture follows the pointer.
    const Vec3 shift = unturned(
        view, {f.right.x * a + f.up.x * b, f.right.y * a + f.up.y * b, f.right.z * a + f.up.z * b});
    const Vector4 pivot(static_cast<float>(view.m_pivot.x - shift.x),
                        static_cast<float>(view.m_pivot.y - shift.y),
                        static_cast<float>(view.m_pivot.z - shift.z));
    if (std::isfinite(pivot.x) && std::isfinite(pivot.y) && std::isfinite(pivot.z)) {
        view.m_pivot = pivot;
    }
}

std::optional<double> fittingEyeDistance(const ViewState& view, const Scene& scene) {
    const std::vector<Vec3> corners = shownCorners(view, scene);
    if (corners.empty()) {
        return std::nullopt;
    }
    const EyeFrame f = eyeFrame(view);
    const double tanV = std::tan(22.5 * std::numbers::pi / 180.0);  // half of the 45 degrees
    const double tanH = tanV * (view.m_aspect > 0.0 ? view.m_aspect : 1.0);
    const Vec3 target{view.m_target.x, view.m_target.y, view.m_target.z};
    double distance = 0.0;
    for (const Vec3& corner : corners) {
        const Vec3 t = turned(view, {corner.x - view.m_pivot.x, corner.y - view.m_pivot.y,
                                     corner.z - view.m_pivot.z});
        const Vec3 p{t.x - target.x, t.y - target.y, t.z - target.z};
        const double depth = dot3(p, f.back);
        distance = std::max({distance, depth + std::fabs(dot3(p, f.right)) / tanH,
                             depth + std::fabs(dot3(p, f.up)) / tanV});
    }
    return distance;
}

bool fitSceneToView(ViewState& view, const Scene& scene, double margin) {
    const std::optional<double> fit = fittingEyeDistance(view, scene);
    if (!fit || !std::isfinite(*fit) || *fit <= 0.0) {
        return false;
    }
    // Measured from the scene point shown at the target (the origin unless Home moved the
    // pivot), so that a scene far from the origin keeps a near plane of its own size.
    const Vec3 t = unturned(view, {view.m_target.x, view.m_target.y, view.m_target.z});
    const Vec3 centre{view.m_pivot.x + t.x, view.m_pivot.y + t.y, view.m_pivot.z + t.z};
    double radius = 0.0;
    for (const Vec3& corner : shownCorners(view, scene)) {
        const Vec3 r{corner.x - centre.x, corner.y - centre.y, corner.z - centre.z};
        radius = std::max(radius, std::sqrt(dot3(r, r)));
    }
    const double distance = std::clamp(*fit * margin, kMinEyeDistance, kMaxEyeDistance);
    const EyeFrame f = eyeFrame(view);
    view.m_eye = Vector4(static_cast<float>(view.m_target.x + f.back.x * distance),
                         static_cast<float>(view.m_target.y + f.back.y * distance),
                         static_cast<float>(view.m_target.z + f.back.z * distance));
    // Everything lies between distance - radius and distance + radius from the eye.
    const double nearest = distance - radius;
    if (nearest > 0.0 && view.m_near > nearest / 2.0) {
        view.m_near = nearest / 2.0;
    } else if (nearest <= 0.0) {
        view.m_near = std::max(distance / 1000.0, 1e-4);
    }
    view.m_far = std::max(view.m_far, 2.0 * (distance + radius));
    return true;
}

bool fitWholeSceneToView(ViewState& view, const Scene& scene, double margin) {
    const std::vector<Box> boxes = shownBoxes(view, scene);
    Box all{{HUGE_VAL, HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}};
    for (const Box& b : boxes) {
        all.lo = {std::min(all.lo.x, b.lo.x), std::min(all.lo.y, b.lo.y),
                  std::min(all.lo.z, b.lo.z)};
        all.hi = {std::max(all.hi.x, b.hi.x), std::max(all.hi.y, b.hi.y),
                  std::max(all.hi.z, b.hi.z)};
    }
    if (boxes.empty() || !isFinite(all.lo) || !isFinite(all.hi)) {
        return fitSceneToView(view, scene, margin);
    }
    // The scene turns about the middle of everything shown, which the target then shows.
    const Vec3 t = unturned(view, {view.m_target.x, view.m_target.y, view.m_target.z});
    const Vec3 middle{(all.lo.x + all.hi.x) / 2, (all.lo.y + all.hi.y) / 2,
                      (all.lo.z + all.hi.z) / 2};
    Vec3 pivot{middle.x - t.x, middle.y - t.y, middle.z - t.z};
    auto setPivot = [&view](const Vec3& p) {
        view.m_pivot =
            Vector4(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
    };
    setPivot(pivot);
    // Perspective draws the near side larger: shift sideways until the picture's margins are
    // even. Each pass nearly halves what is left; a few are plenty.
    const std::vector<Vec3> corners = shownCorners(view, scene);
    const EyeFrame f = eyeFrame(view);
    for (int pass = 0; pass < 4; ++pass) {
        const std::optional<double> fit = fittingEyeDistance(view, scene);
        if (!fit || !std::isfinite(*fit) || *fit <= 0.0) {
            break;
        }
        const double distance = *fit * margin;
        double left = HUGE_VAL, right = -HUGE_VAL, bottom = HUGE_VAL, top = -HUGE_VAL;
        for (const Vec3& corner : corners) {
            const Vec3 q = turned(view, {corner.x - view.m_pivot.x, corner.y - view.m_pivot.y,
                                         corner.z - view.m_pivot.z});
            const Vec3 p{q.x - view.m_target.x, q.y - view.m_target.y, q.z - view.m_target.z};
            const double ahead = distance - dot3(p, f.back);
            if (!(ahead > 0.0)) {
                continue;
            }
            const double x = dot3(p, f.right) / ahead;
            const double y = dot3(p, f.up) / ahead;
            left = std::min(left, x);
            right = std::max(right, x);
            bottom = std::min(bottom, y);
            top = std::max(top, y);
        }
        if (!(left <= right) || !(bottom <= top)) {
            break;
        }
        const double sx = (left + right) / 2 * distance;
        const double sy = (bottom + top) / 2 * distance;
        const Vec3 shift =
            unturned(view, {f.right.x * sx + f.up.x * sy, f.right.y * sx + f.up.y * sy,
                            f.right.z * sx + f.up.z * sy});
        pivot = {pivot.x + shift.x, pivot.y + shift.y, pivot.z + shift.z};
        setPivot(pivot);
    }
    return fitSceneToView(view, scene, margin);
}

double nearestEyeDistance(const ViewState& view, const Scene& scene) {
    // The eye's line through the target, in scene coordinates.
    const EyeFrame f = eyeFrame(view);
    const Vec3 t = unturned(view, {view.m_target.x, view.m_target.y, view.m_target.z});
    const Vec3 origin{view.m_pivot.x + t.x, view.m_pivot.y + t.y, view.m_pivot.z + t.z};
    const Vec3 direction = unturned(view, f.back);
    double exit = 0.0;
    for (const Box& b : shownBoxes(view, scene)) {
        double enter = -HUGE_VAL;
        double leave = HUGE_VAL;
        const double o[3] = {origin.x, origin.y, origin.z};
        const double d[3] = {direction.x, direction.y, direction.z};
        const double lo[3] = {b.lo.x, b.lo.y, b.lo.z};
        const double hi[3] = {b.hi.x, b.hi.y, b.hi.z};
        for (int axis = 0; axis < 3; ++axis) {
            if (std::fabs(d[axis]) < 1e-12) {
                if (o[axis] < lo[axis] || o[axis] > hi[axis]) {
                    leave = -HUGE_VAL;  // parallel to this slab and outside it
                }
                continue;
            }
            const double t1 = (lo[axis] - o[axis]) / d[axis];
            const double t2 = (hi[axis] - o[axis]) / d[axis];
            enter = std::max(enter, std::min(t1, t2));
            leave = std::min(leave, std::max(t1, t2));
        }
        if (enter <= leave && leave > 0.0 && std::isfinite(leave)) {
            exit = std::max(exit, leave);
        }
    }
    // The near plane stays outside too, so that the face ahead is not cut open.
    return exit > 0.0 ? exit + 1.25 * view.m_near : 0.0;
}

bool isToggleKey(int32_t code) {
    return code == kVkY || code == kVk1 || code == kVk2 || code == kVkF;
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
        zoomEye(view, scene, 0.9f);
    }
    if (take(kVkPageDown)) {
        zoomEye(view, scene, 1.1f);
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
        case kMouseMoveObject2: {
            // Along the screen as the view is turned now: right, up, and with Shift towards
            // the eye. In the front view these are the axes x, y and z, exactly as before.
            const ScreenAxes axes = screenAxes(view);
            const float across = shift ? 0.0f : -dx * step;
            const float depth = shift ? dx * step : 0.0f;
            const float up = dy * step;
            offset = offset + (axes.right * across + axes.up * up + axes.back * depth);
            return true;
        }
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

}  // namespace korvan
