// The milling animation without a window: object 2, the tool, moves along a path and is
// subtracted from object 1 at every frame; a frame sink draws and writes each frame. The
// desktop dialog, the command line and the tests share this loop.
#pragma once

#include <cstdint>
#include <string>

#include "geometry/status.h"
#include "geometry/vector4.h"
#include "scene/scene.h"

namespace korvan {

// Degrees to radians as the animation has always converted them: 3.14159 / 180, not pi / 180.
inline constexpr double kAnimationDegreesToRadians = 0.01745327777777778;

// Offsets, steps, amplitudes and angles a path may use: beyond this the tool leaves any
// workpiece the program can hold, and float arithmetic on its position loses all precision.
inline constexpr double kMotionLimit = 1e6;
inline bool withinMotionLimit(double value) {
    return value >= -kMotionLimit && value <= kMotionLimit;
}

// Motion along one axis: linear (`step` per frame) or sinusoidal (`amplitude` times the sine of
// an angle that starts at `startAngle` and grows by `angleStep` degrees per frame).
struct AxisMotion {
    int32_t sinus = 0;
    float step = 0.0f;
    float amplitude = 0.0f;
    int32_t startAngle = 0;
    int32_t angleStep = 0;
};

struct AnimationSettings {
    int32_t preview = 0;  // 1: move and draw only, object 1 stays as it is
    AxisMotion x;
    AxisMotion y;
    AxisMotion z;
    std::string outputFile;  // base name of the frames, may hold a directory
    std::string format;      // file extension, "BMP", "GIF", "JPG" or "PNG"
    int32_t frameCount = 1;
    // Cutting along the path (closed engine only, a tool that fills its convex hull up to
    // rounding, gcode::fillsConvexHull): from the second frame on, a frame removes the convex
    // hull of the tool at the frame before and at its own, so that the straight line between
    // frame positions is cut, not the positions alone. A sinusoidal path is cut as the
    // polyline through its frame positions. Frames are then computed one after the other.
    bool sweep = false;
};

// Why a run cutting along the path did not start; nothing has changed.
inline constexpr const char* kSweepNeedsClosedMessage =
    "Rezanje duz putanje trazi zatvoreni rezultat";
inline constexpr const char* kToolNotConvexMessage =
    "Alat (objekt 2) nije konveksan: rezanje duz putanje nije moguce";

// The displacement of one axis at frame `frame` (counted from 0). The angle is kept in 64 bits
// and never reduced modulo 360: the constant is not exactly pi/180, so a reduction would move
// the tool.
float axisDisplacement(const AxisMotion& motion, int32_t frame);

// Object 2's offset at `frame` for a run that started at offset `start` (w unchanged).
Vector4 animationOffset(const Vector4& start, const AnimationSettings& settings, int32_t frame);

// Draws the scene as it stands and writes the frame named from `number`, the base name and
// the extension (SaveViewImage); implemented by the desktop view, the headless renderer and
// the tests.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // False when the frame could not be written; the run goes on.
    virtual bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& baseName,
                                  const std::string& extension) = 0;
    // Asked after every frame; true ends the run there (Escape, Ctrl+C).
    virtual bool StopRequested() { return false; }
    // Called once when the run ends, however it ends: a sink that writes frames behind the
    // run finishes them here and returns how many of those could not be written.
    virtual int32_t FinishFrames() { return 0; }
    // True when DrawAndSaveFrame reads nothing of the program but the scene it is given, so
    // that a run may hand it a copy of the scene and go on changing the scene meanwhile.
    virtual bool DrawsGivenSceneOnly() const { return false; }
};

struct AnimationResult {
    int32_t framesDone = 0;        // frames computed and drawn
    int32_t framesNotWritten = 0;  // of those, frames whose file could not be written (each once)
    bool stopped = false;          // ended early on request (after a frame or inside one)
    Status status;                 // a Boolean operation that ran out of memory
};

// Runs the animation over `scene`: frame by frame, object 2 is shown at its path offset, and
// unless previewing, subtracted from object 1 there and moved back, then the sink draws and
// saves the frame with object 2 out of sight. Does nothing unless both objects are loaded.
// The scene's m_animationRunning and m_stockBox (object 1's box at the start) are set during
// the run. Afterwards m_object2Offset is the
// offset before the run, object 2's vertices are where they were and its tree (built at the last
// position) is released; object 1 holds the result of the last finished frame. A run cutting
// along the path is refused (kSweepNeedsClosedMessage, kToolNotConvexMessage) before any frame.
AnimationResult RunAnimation(Scene& scene, const AnimationSettings& settings, FrameSink& sink);

}  // namespace korvan
