// Camera maths of the view: viewport, projection planes, wheel and key steps, frame rate.
// Nothing here touches OpenGL.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "geometry/solid.h"
#include "scene/scene.h"
#include "viewer/view_state.h"

namespace korvan {

// Records the client size. A zero height keeps the previous aspect ratio instead of dividing
// by zero.
void setViewportSize(ViewState& view, int32_t width, int32_t height);

// Puts the eye on +z at the distance of the solid's box diagonal d, looking at the origin,
// and sets the planes to (min(nearPlane, d / 10), 50 d). A zero, tiny or non-finite diagonal
// counts as 1, so the planes stay ordered and finite.
// Where files keep their own coordinates (`fileCoordinates`), the view turns about the middle
// of the box and the near plane scales with it, so that parts of any size and place are shown
// whole and turn alike.
void placeCameraForObject(ViewState& view, const Solid& object1, double nearPlane,
                          bool fileCoordinates = false);

// Scales the eye's distance from the origin by `factor` (m_eye.z alone when the eye is on the
// z axis), keeping it finite and inside [1e-3, 1e6].
void scaleEyeDistance(ViewState& view, double factor);

// Scales the eye's distance by `factor` as scaleEyeDistance does, but a step closer stops
// where nearestEyeDistance says; an eye already nearer than that comes no closer.
void zoomEye(ViewState& view, const Scene& scene, double factor);

// The wheel: n = |zDelta| / 120 whole notches; away from the user (positive) multiplies the
// distance by 1.1^n, towards the user by 0.9^n (zoomEye: never into the scene).
void applyWheel(ViewState& view, const Scene& scene, int32_t zDelta);

// The wheel as a touchpad drives it: deltas are summed in view.m_wheelRemainder and every whole
// notch of 120 is applied as applyWheel does; turning back drops the remainder of the other way.
void applyWheelDelta(ViewState& view, const Scene& scene, int32_t zDelta);

// The smallest distance from the target at which the eye, on its present line, is outside the
// box of every shown object, with room for the near plane; 0 when that line meets none.
double nearestEyeDistance(const ViewState& view, const Scene& scene);

// Standard views. The eye keeps its distance from the target; front, top and side look along
// an axis (the scene turned by the view's angles), iso looks from (+x, +y, +z) with y up, from
// the isometric height but nearer the front than the side (1/sqrt 6, 1/sqrt 3, 1/sqrt 2), so
// that the head-light shades a box's three visible faces differently.
enum class StandardView { Front, Top, Side, Iso };
void setStandardView(ViewState& view, StandardView which);
// "front", "top", "side", "iso"; nothing for another name.
std::optional<StandardView> standardViewNamed(std::string_view name);

// Moves the eye along its direction so that the boxes of the shown objects (object 2 where it
// is drawn) fill the view, with `margin` (> 1 leaves a border); widens the clip planes to hold
// them. Returns false and leaves the view alone when no shown object is loaded.
bool fitSceneToView(ViewState& view, const Scene& scene, double margin = 1.05);
// "Cijela scena": the scene turns about the middle of the shown objects' boxes, that middle
// is shifted so that the picture's margins are even, then fitSceneToView with `margin`.
bool fitWholeSceneToView(ViewState& view, const Scene& scene, double margin = 1.1);
// The eye distance at which the shown objects just fit the view as it is turned now; nothing
// when no shown object is loaded.
std::optional<double> fittingEyeDistance(const ViewState& view, const Scene& scene);

// The screen's directions in scene coordinates (before the view's turn), as unit vectors:
// to the right, up, and from the target towards the eye. The front view gives x, y and z.
struct ScreenAxes {
    Vector4 right, up, back;
};
ScreenAxes screenAxes(const ViewState& view);

// Pans the view by a pointer movement of (dx, dy) pixels (x right, y down): the scene point
// shown at the target moves so that what lies at the target's depth follows the pointer. The
// eye, the target and the turn stay; the scene then turns about the new middle of the picture.
void panView(ViewState& view, double dx, double dy);

// Windows virtual-key codes of the keys the view acts on.
enum : int32_t {
    kVkPageUp = 33,
    kVkPageDown = 34,
    kVk1 = 49,
    kVk2 = 50,
    kVkF = 70,
    kVkY = 89,
};

// Keys pressed and not yet acted on, by virtual-key code.
struct KeyTable {
    std::array<int32_t, 300> m_keyDown{};
    void press(int32_t code);
    void release(int32_t code);
};

// Keys whose action flips something: an auto-repeat of them must not flip it again.
bool isToggleKey(int32_t code);

// Runs the actions of the latched keys in the order Y, 1, 2, Page Up, Page Down, F, clearing
// each entry it acts on. Returns true when the picture changed.
bool runKeyActions(KeyTable& keys, ViewState& view, Scene& scene);

// Mouse input. Moving turns the scene or moves or turns object 2, as the view's mouse mode
// says (object 2 moves along the screen's right and up, with `shift` along the view's depth
// instead of right); it returns true when the picture must be redrawn.
void onLeftButtonDown(ViewState& view, int32_t x, int32_t y);
void onLeftButtonUp(ViewState& view);
bool onMouseMove(ViewState& view, Scene& scene, int32_t x, int32_t y, bool shift);
// True when the popup menu is to open (the view was idle); otherwise the mode just ends.
bool onRightButtonDown(ViewState& view, int32_t x, int32_t y);
// Commands "move object 2" and "rotate object 2" from the cursor position (x, y).
void enterObject2Mode(ViewState& view, int32_t mode, int32_t x, int32_t y);

}  // namespace korvan
