// Frames drawn without a display by the view's drawing code and read back from the files.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "generator/generators.h"
#include "image/decode.h"
#include "scene/animation.h"
#include "support/mesh_checks.h"
#include "viewer/camera.h"
#include "viewer/headless_context.h"
#include "viewer/headless_frames.h"

namespace korvan {
namespace {

constexpr int32_t kWidth = 160;
constexpr int32_t kHeight = 120;

bool isWhite(const uint8_t* p) {
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}
bool isDarkRed(const uint8_t* p) {
    return p[0] > 40 && p[0] < 200 && p[1] < 20 && p[2] < 20;
}
bool isDarkBlue(const uint8_t* p) {
    return p[2] > 40 && p[2] < 200 && p[0] < 20 && p[1] < 20;
}

int64_t countPixels(const RgbImage& image, bool (*test)(const uint8_t*)) {
    int64_t n = 0;
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            n += test(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return n;
}

// Cube (edge 2) as object 1 with the camera placed for it, a small sphere as object 2.
class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Software rendering, so that pictures do not depend on the machine's GPU.
        ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
        const Status s = HeadlessContext::create(kWidth, kHeight, context);
        if (!s) {
            GTEST_SKIP() << "no headless OpenGL context: " << s.message();
        }
        scene.m_samplingFactor = 0.08f;
        ASSERT_TRUE(scene.GenerateObject(1, PrimitiveParameters::cube(2.0f)).ok());
        ASSERT_TRUE(scene.GenerateObject(2, PrimitiveParameters::sphere(8, 12, 0.3f)).ok());
        placeCameraForObject(view, scene.m_object1, kNearAfterGenerating);
        view.m_coloredMaterials = true;
        view.m_rotY = 30.0f;
        view.m_rotX = 20.0f;
    }

    std::unique_ptr<HeadlessContext> context;
    Scene scene;
    ViewState view;
    test::TempDir dir;
};

TEST_F(HeadlessTest, MillingFramesShowTheWorkpieceAloneAndPreviewFramesTheTool) {
    scene.m_object2Offset = Vector4(0.9f, 0.9f, 0.9f);
    AnimationSettings settings;
    settings.x.step = -0.4f;
    settings.frameCount = 3;
    settings.format = "bmp";
    HeadlessFrameSink sink(*context, view);
    for (int32_t preview : {1, 0}) {
        settings.preview = preview;
        settings.outputFile = dir.path(preview ? "pre" : "mill");
        const AnimationResult r = RunAnimation(scene, settings, sink);
        EXPECT_EQ(r.framesDone, 3);
        EXPECT_EQ(r.framesNotWritten, 0);
        for (int32_t i = 0; i < 3; ++i) {
            const std::string name = imageFileName(settings.outputFile, i, "bmp");
            testing::DecodedImage decoded;
            ASSERT_TRUE(decodeImageFile(name, decoded)) << name;
            EXPECT_TRUE(isWhite(decoded.image.pixel(0, 0)));
            EXPECT_GT(countPixels(decoded.image, isDarkRed), 100);
            const int64_t blue = countPixels(decoded.image, isDarkBlue);
            if (preview) {
                EXPECT_GT(blue, 0) << name;
            } else {
                EXPECT_EQ(blue, 0) << name;
            }
        }
        EXPECT_FALSE(std::filesystem::exists(imageFileName(settings.outputFile, 3, "bmp")));
    }
}

// The grey levels that cover at least 2% of the picture each, background left out.
std::vector<int> mainShades(const RgbImage& picture) {
    std::map<int, int64_t> counts;
    for (int32_t y = 0; y < picture.height; ++y) {
        for (int32_t x = 0; x < picture.width; ++x) {
            const uint8_t* p = picture.pixel(x, y);
            if (!isWhite(p)) {
                ++counts[p[0]];
            }
        }
    }
    std::vector<int> shades;
    for (const auto& [shade, count] : counts) {
        if (count >= int64_t{picture.width} * picture.height / 50) {
            shades.push_back(shade);
        }
    }
    return shades;
}

// The head-light must tell a box's visible faces apart in the standard views, or its edges
// vanish: three shades of a grey cube seen from the iso view, apart by a step the eye sees at
// once; from the front it meets one face square on, one shade.
TEST_F(HeadlessTest, IsoViewShowsThreeShadesOfACube) {
    Scene cube;
    ASSERT_TRUE(cube.GenerateObject(1, PrimitiveParameters::cube(1.0f)).ok());
    ViewState plain;
    HeadlessFrameSink sink(*context, plain);
    placeCameraForObject(plain, cube.m_object1, kNearAfterGenerating);
    std::vector<int> shades[2];
    for (const StandardView which : {StandardView::Iso, StandardView::Front}) {
        setStandardView(plain, which);
        fitSceneToView(plain, cube);
        applyViewport(plain);
        RgbImage picture;
        ASSERT_TRUE(sink.drawAndRead(cube, picture).ok());
        shades[which == StandardView::Front] = mainShades(picture);
    }
    ASSERT_EQ(shades[0].size(), 3u);
    EXPECT_GE(shades[0][1] - shades[0][0], 15);
    EXPECT_GE(shades[0][2] - shades[0][1], 15);
    EXPECT_EQ(shades[1].size(), 1u);
}

// Writes each frame before returning, as the loop did before frames were handed to a worker.
class PlainSink final : public HeadlessFrameSink {
public:
    using HeadlessFrameSink::HeadlessFrameSink;
    bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& baseName,
                          const std::string& extension) override {
        return saveFrame(scene, number, baseName, extension).ok();
    }
    // The plain loop too: each difference waits for the frame before.
    bool DrawsGivenSceneOnly() const override { return false; }
};

// Records the outcomes the pipelined sink reports, in the order it reports them.
class RecordingSink final : public HeadlessFrameSink {
public:
    using HeadlessFrameSink::HeadlessFrameSink;
    std::vector<FrameOutcome> outcomes;

protected:
    void frameFinished(const FrameOutcome& outcome) override { outcomes.push_back(outcome); }
};

bool samePicture(const RgbImage& a, const RgbImage& b) {
    return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

// A machined workpiece (many small cut triangles) drawn from its list, then from vertex arrays
// after every change, then from a list again once it stays: the same pixels each time, in
// every drawing mode, with the cells drawn after it. The arrays leave out triangles that reach
// no pixel centre, so the views include one from afar (most triangles between centres) and one
// from inside the cube (corners behind the eye, triangles across the near plane and the edges).
TEST_F(HeadlessTest, ChangingSolidsAreDrawnFromArraysWithTheListsPicture) {
    scene.m_object2Offset = Vector4(0.9f, 0.9f, 0.9f);
    ASSERT_TRUE(scene.BooleanOperation(BooleanOp::Difference).ok());
    scene.m_object2Offset = Vector4(0.0f, 0.0f, 1.5f);
    const Vector4 eye = view.m_eye;
    struct Mode {
        bool colored;
        int32_t wireframe;
        int32_t cells;
        float eyeScale;
    };
    for (const Mode mode : {Mode{false, 0, 0, 1.0f}, Mode{true, 0, 5, 1.0f}, Mode{true, 1, 3, 1.0f},
                            Mode{true, 0, 0, 6.0f}, Mode{false, 0, 0, 0.25f}}) {
        SCOPED_TRACE(::testing::Message()
                     << mode.colored << mode.wireframe << mode.cells << " " << mode.eyeScale);
        view.m_coloredMaterials = mode.colored;
        view.m_cellDisplayMode = mode.cells;
        view.m_eye = eye * mode.eyeScale;
        scene.m_object1.wireframe = mode.wireframe;
        HeadlessFrameSink sink(*context, view);
        RgbImage fromList;
        ASSERT_TRUE(sink.drawAndRead(scene, fromList).ok());
        ASSERT_FALSE(sink.renderer().drawsFromArrays(scene.m_object1));

        for (int32_t frame = 0; frame < SceneRenderer::kSettleFrames + 2; ++frame) {
            const bool changed = frame < 2;
            if (changed) {
                scene.m_object1.touch();
                scene.m_object2.touch();
            }
            RgbImage picture;
            ASSERT_TRUE(sink.drawAndRead(scene, picture).ok());
            EXPECT_TRUE(samePicture(picture, fromList)) << "frame " << frame;
            const bool settled = frame >= 1 + SceneRenderer::kSettleFrames;
            EXPECT_EQ(sink.renderer().drawsFromArrays(scene.m_object1), !settled) << frame;
        }
    }
}

// A closed result seen from outside is drawn without the triangles that face away, from its
// list and from arrays; the picture is the one all its triangles give. Seen from inside (the
// eye in its box), everything is drawn, and so it is in wireframe.
TEST_F(HeadlessTest, SolidLooksTheSameWithoutWhatFacesAway) {
    scene.m_closedResult = true;
    scene.m_object2Offset = Vector4(0.9f, 0.9f, 0.9f);
    ASSERT_TRUE(scene.BooleanOperation(BooleanOp::Difference).ok());
    ASSERT_TRUE(scene.m_object1.boundsSolid());
    scene.m_object2Offset = Vector4(0.0f, 0.0f, 1.5f);
    Scene all;  // the same meshes, not known to bound solids
    all.m_object1.copyMeshFrom(scene.m_object1);
    all.m_object1.touch();
    all.m_object2.copyMeshFrom(scene.m_object2);
    all.m_object2Offset = scene.m_object2Offset;
    const Vector4 eye = view.m_eye;
    for (const float eyeScale : {1.0f, 6.0f, 0.25f}) {
        for (const int32_t wireframe : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << eyeScale << " " << wireframe);
            view.m_eye = eye * eyeScale;
            scene.m_object1.wireframe = all.m_object1.wireframe = wireframe;
            HeadlessFrameSink sink(*context, view), sinkAll(*context, view);
            for (int32_t frame = 0; frame < 2; ++frame) {
                RgbImage picture, expected;
                ASSERT_TRUE(sink.drawAndRead(scene, picture).ok());
                ASSERT_TRUE(sinkAll.drawAndRead(all, expected).ok());
                EXPECT_TRUE(samePicture(picture, expected)) << "frame " << frame;
                EXPECT_EQ(sink.renderer().drawsFromArrays(scene.m_object1), frame == 1);
                EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
                // Changed: drawn from arrays next, and still a solid.
                scene.m_object1.touch();
                scene.m_object1.markBoundsSolid();
                all.m_object1.touch();
            }
        }
    }
}

// The frames of a milling run handed to the writer thread, each drawn from a copy while the
// next difference is computed, are the files the plain loop writes, byte for byte, and each
// frame is reported once, in order.
TEST_F(HeadlessTest, PipelinedMillingWritesTheFramesOfThePlainLoop) {
    AnimationSettings settings;
    settings.x.step = -0.3f;
    settings.z.sinus = 1;
    settings.z.amplitude = 0.2f;
    settings.z.angleStep = 40;
    settings.frameCount = 6;
    settings.format = "bmp";

    std::vector<std::string> names[2];
    std::vector<Vector4> workpieces[2];
    for (const bool pipelined : {false, true}) {
        // The same workpiece and tool again for the second run.
        ASSERT_TRUE(scene.GenerateObject(1, PrimitiveParameters::cube(2.0f)).ok());
        ASSERT_TRUE(scene.GenerateObject(2, PrimitiveParameters::sphere(8, 12, 0.3f)).ok());
        scene.m_object2Offset = Vector4(0.9f, 0.9f, 0.9f);
        settings.outputFile = dir.path(pipelined ? "pipelined" : "plain");
        AnimationResult r;
        if (pipelined) {
            RecordingSink sink(*context, view);
            r = RunAnimation(scene, settings, sink);
            ASSERT_EQ(sink.outcomes.size(), 6u);
            for (int32_t i = 0; i < 6; ++i) {
                EXPECT_EQ(sink.outcomes[i].number, i);
                EXPECT_TRUE(sink.outcomes[i].status.ok());
            }
        } else {
            PlainSink sink(*context, view);
            r = RunAnimation(scene, settings, sink);
        }
        EXPECT_EQ(r.framesDone, 6);
        EXPECT_EQ(r.framesNotWritten, 0);
        for (int32_t i = 0; i < 6; ++i) {
            names[pipelined].push_back(imageFileName(settings.outputFile, i, "bmp"));
        }
        workpieces[pipelined] = scene.m_object1.vertices;
    }
    EXPECT_EQ(workpieces[0], workpieces[1]);
    for (int32_t i = 0; i < 6; ++i) {
        const std::string plain = test::readFile(names[0][i]);
        ASSERT_FALSE(plain.empty()) << names[0][i];
        EXPECT_TRUE(plain == test::readFile(names[1][i])) << names[1][i];
    }
}

// A frame whose file cannot be written (a folder stands in its place) counts once, among
// frames that are written, and the run goes on.
TEST_F(HeadlessTest, PipelinedFrameThatCannotBeWrittenCountsOnce) {
    AnimationSettings settings;
    settings.preview = 1;
    settings.x.step = 0.1f;
    settings.frameCount = 4;
    settings.format = "bmp";
    settings.outputFile = dir.path("frame");
    std::filesystem::create_directory(imageFileName(settings.outputFile, 1, "bmp"));

    RecordingSink sink(*context, view);
    // The write fails after the frame was handed over; the run's end counts it.
    const AnimationResult r = RunAnimation(scene, settings, sink);
    EXPECT_EQ(r.framesNotWritten, 1);
    EXPECT_EQ(sink.FinishFrames(), 0);  // already counted
    ASSERT_EQ(sink.outcomes.size(), 4u);
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sink.outcomes[i].number, i);
        EXPECT_EQ(sink.outcomes[i].status.ok(), i != 1) << i;
        EXPECT_EQ(std::filesystem::is_regular_file(sink.outcomes[i].fileName), i != 1);
    }
}

}  // namespace
}  // namespace korvan
