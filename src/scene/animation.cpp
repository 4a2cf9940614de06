#include "scene/animation.h"

#include <chrono>
#include <cmath>
#include <future>
#include <system_error>
#include <utility>

#include "gcode/sweep.h"

namespace korvan {

namespace {

double sineDisplacement(const AxisMotion& motion, int32_t frame) {
    const int64_t angle = int64_t{motion.startAngle} + int64_t{frame} * motion.angleStep;
    return std::sin(static_cast<double>(angle) * kAnimationDegreesToRadians) * motion.amplitude;
}

// The sine is added in double and rounded once, as the frame's offset is stored.
float offsetOnAxis(float start, const AxisMotion& motion, int32_t frame) {
    if (motion.sinus != 0) {
        return static_cast<float>(start + sineDisplacement(motion, frame));
    }
    return start + static_cast<float>(frame) * motion.step;
}

// Puts the scene's run state back however the run ends.
class RunGuard {
public:
    explicit RunGuard(Scene& scene) : m_scene(scene), m_start(scene.m_object2Offset) {
        m_scene.m_animationRunning = true;
        m_scene.m_stockBox = BoxFilter{scene.m_object1.minCorner, scene.m_object1.maxCorner};
    }
    ~RunGuard() {
        m_scene.m_animationRunning = false;
        m_scene.m_stockBox.reset();
        m_scene.m_object2Offset = m_start;
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    Scene& m_scene;
    Vector4 m_start;
};

}  // namespace

float axisDisplacement(const AxisMotion& motion, int32_t frame) {
    if (motion.sinus != 0) {
        return static_cast<float>(sineDisplacement(motion, frame));
    }
    return static_cast<float>(frame) * motion.step;
}

Vector4 animationOffset(const Vector4& start, const AnimationSettings& settings, int32_t frame) {
    return {offsetOnAxis(start.x, settings.x, frame), offsetOnAxis(start.y, settings.y, frame),
            offsetOnAxis(start.z, settings.z, frame), start.w};
}

namespace {

// Moves object 2 out of sight after frame `offset`'s difference, so that the frame shows the
// machined workpiece alone, and its vertices back where they were.
void parkTool(Scene& scene, const Vector4& offset) {
    scene.m_object2Offset = Vector4(1000.0f, 1000.0f, 1000.0f, 0.0f);
    scene.moveObject2(offset * -1.0f);
    // The tree was built at the tool's position in this frame.
    scene.releaseTree2();
}

// Counts a frame the sink has drawn; true when the run ends with it: its last frame, or a stop
// asked for after it (then `stopped` is set).
bool frameEndsRun(AnimationResult& result, bool saved, bool last, FrameSink& sink) {
    if (!saved) {
        ++result.framesNotWritten;
    }
    ++result.framesDone;
    if (last) {
        return true;
    }
    result.stopped = sink.StopRequested();
    return result.stopped;
}

// Closed-mode milling. Where drawing a frame takes a good part of a difference's time (a large
// workpiece drawn by a software renderer), frame i + 1's difference is computed on a thread of
// its own while frame i is drawn and saved; where it does not, the two would only compete for
// the cores, and run one after the other. Either way the differences and the frames are those
// of the plain loop below; only their order in time changes.
AnimationResult runClosedFrames(Scene& scene, const AnimationSettings& settings, FrameSink& sink) {
    AnimationResult result;
    const Vector4 start = scene.m_object2Offset;
    const RunGuard guard(scene);
    Scene::ClosedFrame next;
    next.offset = animationOffset(start, settings, 0);
    scene.computeClosedFrame(next);
    double drawSeconds = 0;  // of the frame before
    for (int32_t i = 0; i < settings.frameCount; ++i) {
        result.status = scene.finishClosedFrame(next);
        if (!result.status) {
            break;
        }
        parkTool(scene, next.offset);
        const bool last = i + 1 == settings.frameCount;
        Scene::ClosedFrame following;
        following.offset = animationOffset(start, settings, i + 1);
        std::future<void> ahead;
        if (!last && 2.0 * drawSeconds >= next.seconds) {
            try {
                ahead = std::async(std::launch::async,
                                   [&scene, &following] { scene.computeClosedFrame(following); });
            } catch (const std::system_error&) {
                // No thread to be had: after the drawing, as any other frame.
            }
        }
        const auto drawn = std::chrono::steady_clock::now();
        const bool saved = sink.DrawAndSaveFrame(scene, i, settings.outputFile, settings.format);
        drawSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - drawn).count();
        const bool computed = ahead.valid();
        if (computed) {
            ahead.get();  // what it threw, it throws here, as it would in turn
        }
        if (frameEndsRun(result, saved, last, sink)) {
            break;  // a difference computed ahead is dropped
        }
        if (!computed) {
            scene.computeClosedFrame(following);
        }
        next = std::move(following);
    }
    return result;
}

// One frame of a run cutting along the path: the tool at `from` and at `to` (the hull of both),
// or at `to` alone for the first frame. Object 2 is left unmoved and out of sight.
Status sweptFrame(Scene& scene, const Vector4* from, const Vector4& to) {
    Scene::ClosedFrame frame;
    const Solid& tool = scene.closedOperand(2);
    Solid swept;
    if (from == nullptr) {
        frame.offset = to;
        frame.cut = &tool;
    } else if (Status s = gcode::sweepSolidBetween(tool, *from, to, swept); !s) {
        return s;
    } else {
        frame.cut = &swept;
    }
    scene.computeClosedFrame(frame);
    if (Status s = scene.finishClosedFrame(frame); !s) {
        return s;
    }
    scene.m_object2Offset = Vector4(1000.0f, 1000.0f, 1000.0f, 0.0f);
    scene.releaseTree2();
    return {};
}

// A tool may leave this share of its hull unfilled (dents of rounding) and still be swept as
// its hull.
constexpr double kConvexShare = 1e-6;

// Closed-mode milling along the path, frame after frame. The tool's vertices are never moved:
// each frame cuts a mesh of its own, so object 2 ends the run exactly as it began.
AnimationResult runSweptFrames(Scene& scene, const AnimationSettings& settings, FrameSink& sink) {
    AnimationResult result;
    if (!scene.m_closedResult) {
        result.status = Status::failure(kSweepNeedsClosedMessage);
        return result;
    }
    if (!gcode::fillsConvexHull(scene.closedOperand(2), kConvexShare)) {
        result.status = Status::failure(kToolNotConvexMessage);
        return result;
    }
    const Vector4 start = scene.m_object2Offset;
    const RunGuard guard(scene);
    Vector4 before;
    for (int32_t i = 0; i < settings.frameCount; ++i) {
        const Vector4 at = animationOffset(start, settings, i);
        result.status = sweptFrame(scene, i == 0 ? nullptr : &before, at);
        if (!result.status) {
            break;
        }
        before = at;
        const bool saved = sink.DrawAndSaveFrame(scene, i, settings.outputFile, settings.format);
        if (frameEndsRun(result, saved, i + 1 == settings.frameCount, sink)) {
            break;
        }
    }
    return result;
}

// What the sink draws of a frame: object 1's result and object 2 where the run left it; and,
// into `plain2`, what the closed engine takes for object 2 (empty: object 2 itself), so that
// a stopped run can put object 2 back whole.
void copyShown(const Scene& scene, Scene& shown, Solid& plain2) {
    const Solid& tool = scene.closedOperand(2);
    plain2.clear();
    if (&tool != &scene.m_object2) {
        plain2.copyMeshFrom(tool);
    }
    for (int32_t n = 1; n <= 2; ++n) {
        const Solid& from = n == 1 ? scene.m_object1 : scene.m_object2;
        Solid& to = n == 1 ? shown.m_object1 : shown.m_object2;
        to.copyMeshFrom(from);
        to.wireframe = from.wireframe;  // drawn as the view would draw it
    }
    shown.m_object2Offset = scene.m_object2Offset;
    shown.m_object2Rotation = scene.m_object2Rotation;
}

// One octree-engine frame: the difference at frame i's offset, then the tool out of sight.
Status octreeFrame(Scene& scene, const Vector4& start, const AnimationSettings& settings,
                   int32_t i) {
    scene.m_object2Offset = animationOffset(start, settings, i);
    const Vector4 offset = scene.m_object2Offset;
    Status s = scene.BooleanOperation(BooleanOp::Difference);
    // A refused operation leaves object 2 unmoved, still shown at the offset; only one that
    // moved it has it shown where it stands.
    const Vector4& shown = scene.m_object2Offset;
    if (shown.x == 0.0f && shown.y == 0.0f && shown.z == 0.0f) {
        parkTool(scene, offset);
    }
    return s;
}

// Octree-engine milling for a sink that draws a copy: while frame i is drawn from a copy of
// the scene, frame i + 1's difference changes the scene itself on a thread of its own. The
// differences and the frames are those of the plain loop; a run stopped after frame i puts
// frame i's copy back, as if frame i + 1 had never been computed.
AnimationResult runOctreeFramesAhead(Scene& scene, const AnimationSettings& settings,
                                     FrameSink& sink) {
    AnimationResult result;
    const Vector4 start = scene.m_object2Offset;
    const RunGuard guard(scene);
    Scene shown;
    Solid shownPlain2;
    Status next = octreeFrame(scene, start, settings, 0);
    for (int32_t i = 0; i < settings.frameCount; ++i) {
        result.status = next;
        if (!result.status) {
            break;
        }
        copyShown(scene, shown, shownPlain2);
        const bool last = i + 1 == settings.frameCount;
        std::future<Status> ahead;
        if (!last) {
            try {
                ahead = std::async(std::launch::async, [&scene, &start, &settings, i] {
                    return octreeFrame(scene, start, settings, i + 1);
                });
            } catch (const std::system_error&) {
                // No thread to be had: after the drawing, as in the plain loop.
            }
        }
        const bool saved = sink.DrawAndSaveFrame(shown, i, settings.outputFile, settings.format);
        const bool computed = ahead.valid();
        if (computed) {
            next = ahead.get();  // what it threw, it throws here, as it would in turn
        }
        if (frameEndsRun(result, saved, last, sink)) {
            if (result.stopped && computed) {
                scene.ReplaceObject(1, std::move(shown.m_object1));
                scene.ReplaceObject(2, std::move(shown.m_object2), std::move(shownPlain2));
            }
            break;
        }
        if (!computed) {
            next = octreeFrame(scene, start, settings, i + 1);
        }
    }
    return result;
}

AnimationResult runFrames(Scene& scene, const AnimationSettings& settings, FrameSink& sink) {
    AnimationResult result;
    if (scene.m_object1.loaded == 0 || scene.m_object2.loaded == 0) {
        return result;
    }
    if (settings.sweep && settings.preview == 0) {
        return runSweptFrames(scene, settings, sink);
    }
    if (scene.m_closedResult && settings.preview == 0) {
        return runClosedFrames(scene, settings, sink);
    }
    if (settings.preview == 0 && sink.DrawsGivenSceneOnly()) {
        return runOctreeFramesAhead(scene, settings, sink);
    }
    const Vector4 start = scene.m_object2Offset;
    const RunGuard guard(scene);
    for (int32_t i = 0; i < settings.frameCount; ++i) {
        if (settings.preview == 0) {
            result.status = octreeFrame(scene, start, settings, i);
            if (!result.status) {
                break;
            }
        } else {
            scene.m_object2Offset = animationOffset(start, settings, i);
        }
        const bool saved = sink.DrawAndSaveFrame(scene, i, settings.outputFile, settings.format);
        if (frameEndsRun(result, saved, i + 1 == settings.frameCount, sink)) {
            break;
        }
    }
    return result;
}

}  // namespace

AnimationResult RunAnimation(Scene& scene, const AnimationSettings& settings, FrameSink& sink) {
    AnimationResult result = runFrames(scene, settings, sink);
    // A frame stopped inside its difference left the scene as the frame before left it.
    if (!result.status && result.status.message() == kStoppedMessage) {
        result.status = Status();
        result.stopped = true;
    }
    scene.prepareTree1();
    result.framesNotWritten += sink.FinishFrames();
    return result;
}

}  // namespace korvan
