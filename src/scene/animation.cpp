#include "scene/animation.h"

#include <cmath>

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

AnimationResult runFrames(Scene& scene, const AnimationSettings& settings, FrameSink& sink) {
    AnimationResult result;
    if (scene.m_object1.loaded == 0 || scene.m_object2.loaded == 0) {
        return result;
    }
    const Vector4 start = scene.m_object2Offset;
    const RunGuard guard(scene);
    for (int32_t i = 0; i < settings.frameCount; ++i) {
        scene.m_object2Offset = animationOffset(start, settings, i);
        if (settings.preview == 0) {
            const Vector4 back = scene.m_object2Offset * -1.0f;
            result.status = scene.BooleanOperation(BooleanOp::Difference);
            // Out of sight, so that the frame shows the machined workpiece alone.
            scene.m_object2Offset = Vector4(1000.0f, 1000.0f, 1000.0f, 0.0f);
            scene.m_object2.translate(back);
            // The tree was built at the tool's position in this frame.
            scene.releaseTree2();
            if (!result.status) {
                break;
            }
        }
        if (!sink.DrawAndSaveFrame(scene, i, settings.outputFile, settings.format)) {
            ++result.framesNotWritten;
        }
        ++result.framesDone;
        if (i + 1 < settings.frameCount && sink.StopRequested()) {
            result.stopped = true;
            break;
        }
    }
    return result;
}

}  // namespace

AnimationResult RunAnimation(Scene& scene, const AnimationSettings& settings, FrameSink& sink) {
    AnimationResult result = runFrames(scene, settings, sink);
    scene.prepareTree1();
    result.framesNotWritten += sink.FinishFrames();
    return result;
}

}  // namespace korvan
