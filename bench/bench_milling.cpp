// Milling as the user runs it: a cube (edge 2) machined by a sphere (r 0.3) along a 100-frame
// linear path at 640x480, frames per second with the frames pipelined, written in the loop,
// and not drawn at all; drawing a kept and a changing mesh; the encoders alone on one frame.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "generator/generators.h"
#include "image/image.h"
#include "meshio/edge_sampling.h"
#include "scene/animation.h"
#include "scene/scene.h"
#include "viewer/camera.h"
#include "viewer/headless_context.h"
#include "viewer/headless_frames.h"

namespace korvan {
namespace {

using Clock = std::chrono::steady_clock;

PrimitiveParameters cube() {
    return PrimitiveParameters::cube(2.0f);
}

PrimitiveParameters tool() {
    return PrimitiveParameters::sphere(16, 24, 0.3f);
}

// How the frames of a run are drawn and written. Drawn, each frame is drawn from a copy of
// the scene while the run computes the next difference.
enum class FrameMode {
    Pipelined,  // the sink's own: read back at the next frame, written on the worker thread
    Plain,      // drawn, read back and written within the sink's call
    None,       // not drawn at all: the run is the Boolean operations alone
};

// Times what the sink does on the loop's thread; everything else is the Boolean operation
// (less what of it overlapped the sink, and, pipelined, with the rasterising and writing that
// overlap it).
class TimedSink final : public HeadlessFrameSink {
public:
    TimedSink(HeadlessContext& context, ViewState& view, FrameMode mode)
        : HeadlessFrameSink(context, view), m_mode(mode) {}
    bool DrawAndSaveFrame(Scene& scene, int32_t number, const std::string& baseName,
                          const std::string& extension) override {
        const Clock::time_point t0 = Clock::now();
        calls.push_back(t0);
        booleanSeconds.push_back(scene.lastOperation().seconds);
        bool ok = true;
        if (m_mode == FrameMode::Pipelined) {
            ok = HeadlessFrameSink::DrawAndSaveFrame(scene, number, baseName, extension);
        } else if (m_mode == FrameMode::Plain) {
            ok = saveFrame(scene, number, baseName, extension).ok();
        }
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
        return ok;
    }
    // Not drawn, the run is the plain loop of differences.
    bool DrawsGivenSceneOnly() const override {
        return m_mode != FrameMode::None && HeadlessFrameSink::DrawsGivenSceneOnly();
    }
    // The last frames are still being written when the loop ends.
    int32_t FinishFrames() override {
        const Clock::time_point t0 = Clock::now();
        const int32_t notWritten = HeadlessFrameSink::FinishFrames();
        seconds += std::chrono::duration<double>(Clock::now() - t0).count();
        return notWritten;
    }
    double seconds = 0;
    std::vector<Clock::time_point> calls;  // when each frame reached the sink
    std::vector<double> booleanSeconds;    // each frame's Boolean operation

private:
    FrameMode m_mode;
};

// Mesa's software renderer at 640x480, or null with the benchmark marked skipped.
std::unique_ptr<HeadlessContext> softwareContext(benchmark::State& state) {
    ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    std::unique_ptr<HeadlessContext> context;
    if (Status s = HeadlessContext::create(640, 480, context); !s) {
        state.SkipWithError(("no headless OpenGL context: " + s.message()).c_str());
        return nullptr;
    }
    return context;
}

std::string scratchBase() {
    return "/tmp/korvan-bench-" + std::to_string(::getpid()) + "-frame";
}

void BM_Milling100Frames(benchmark::State& state, const char* format, FrameMode mode,
                         bool closed = false) {
    const std::unique_ptr<HeadlessContext> context = softwareContext(state);
    if (!context) {
        return;
    }
    AnimationSettings settings;
    settings.x.step = 0.024f;  // across the whole cube in 100 frames
    settings.frameCount = 100;
    settings.outputFile = scratchBase();
    settings.format = format;
    double boolean = 0;
    double frames = 0;
    int32_t triangles = 0;
    int32_t workpiece = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Scene scene;
        scene.m_closedResult = closed;
        (void)scene.GenerateObject(1, cube());
        (void)scene.GenerateObject(2, tool());
        workpiece = scene.m_object1.triangleCount();
        ViewState view;
        placeCameraForObject(view, scene.m_object1, kNearAfterGenerating);
        scene.m_object2Offset = Vector4(-1.2f, 0.9f, 0.9f);  // a groove along the upper front edge
        TimedSink sink(*context, view, mode);
        state.ResumeTiming();

        const Clock::time_point t0 = Clock::now();
        // RunAnimation waits for the last frames' files before it returns.
        const AnimationResult r = RunAnimation(scene, settings, sink);
        const double total = std::chrono::duration<double>(Clock::now() - t0).count();
        if (r.framesNotWritten != 0 || !r.status) {
            state.SkipWithError("frames were not written");
        }
        boolean += total - sink.seconds;
        frames += sink.seconds;
        triangles = scene.m_object1.triangleCount();
    }
    for (int32_t i = 0; i < settings.frameCount; ++i) {
        std::remove(imageFileName(settings.outputFile, i, format).c_str());
    }
    const double n = static_cast<double>(state.iterations()) * settings.frameCount;
    state.counters["fps"] = n / (boolean + frames);
    state.counters["ms_per_frame"] = 1000.0 * (boolean + frames) / n;
    state.counters["outside_sink_ms_per_frame"] = 1000.0 * boolean / n;
    state.counters["sink_ms_per_frame"] = 1000.0 * frames / n;
    state.counters["workpiece_triangles"] = workpiece;
    state.counters["result_triangles"] = triangles;
}
// Drawing and writing cost per frame: ms_per_frame of bmp or bmp_plain less that of
// boolean_only.
BENCHMARK_CAPTURE(BM_Milling100Frames, bmp, "BMP", FrameMode::Pipelined)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Milling100Frames, bmp_plain, "BMP", FrameMode::Plain)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Milling100Frames, boolean_only, "BMP", FrameMode::None)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Milling100Frames, png, "PNG", FrameMode::Pipelined)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
// The same run in the closed engine, which works on the cube and the sphere as generated.
BENCHMARK_CAPTURE(BM_Milling100Frames, closed_bmp, "BMP", FrameMode::Pipelined, true)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// A long closed-mode run: the tool crosses the cube along x in 1,000 small steps, so every
// frame cuts; frames/s over the first and the last 100 frames show whether the workpiece's
// growth slows the run down. Where a difference is computed while the frame before is drawn,
// its time (boolean_ms) includes what the drawing took from it. The tool enters through the
// face x = -1 in the first frames and breaks out through x = 1 from about frame 900, where its
// walls meet that face's fine triangles; frames 800 to 900 show the growth alone.
void BM_ClosedMilling1000Frames(benchmark::State& state) {
    const std::unique_ptr<HeadlessContext> context = softwareContext(state);
    if (!context) {
        return;
    }
    AnimationSettings settings;
    settings.x.step = 0.0022f;
    settings.frameCount = 1000;
    settings.outputFile = scratchBase();
    settings.format = "BMP";
    double first = 0, last = 0, beforeExit = 0, whole = 0, booleanFirst = 0, booleanLast = 0;
    int32_t workpiece = 0, triangles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Scene scene;
        scene.m_closedResult = true;
        (void)scene.GenerateObject(1, cube());
        (void)scene.GenerateObject(2, tool());
        workpiece = scene.m_object1.triangleCount();
        ViewState view;
        placeCameraForObject(view, scene.m_object1, kNearAfterGenerating);
        scene.m_object2Offset = Vector4(-1.1f, 0.2f, 0.9f);
        TimedSink sink(*context, view, FrameMode::Pipelined);
        state.ResumeTiming();
        const Clock::time_point t0 = Clock::now();
        const AnimationResult r = RunAnimation(scene, settings, sink);
        whole = std::chrono::duration<double>(Clock::now() - t0).count();
        if (r.framesNotWritten != 0 || !r.status || sink.calls.size() != 1000) {
            state.SkipWithError(("the run did not complete: " + r.status.message() + " after " +
                                 std::to_string(sink.calls.size()))
                                    .c_str());
            break;
        }
        first = std::chrono::duration<double>(sink.calls[100] - sink.calls[0]).count();
        last = std::chrono::duration<double>(sink.calls[999] - sink.calls[899]).count();
        beforeExit = std::chrono::duration<double>(sink.calls[899] - sink.calls[799]).count();
        const auto& b = sink.booleanSeconds;
        booleanFirst = std::accumulate(b.begin() + 1, b.begin() + 101, 0.0) / 100;
        booleanLast = std::accumulate(b.begin() + 900, b.end(), 0.0) / 100;
        triangles = scene.m_object1.triangleCount();
    }
    for (int32_t i = 0; i < settings.frameCount; ++i) {
        std::remove(imageFileName(settings.outputFile, i, "BMP").c_str());
    }
    state.counters["fps"] = 1000.0 / whole;
    state.counters["fps_first_100"] = first > 0 ? 100.0 / first : 0;
    state.counters["fps_last_100"] = last > 0 ? 100.0 / last : 0;
    state.counters["fps_800_to_900"] = beforeExit > 0 ? 100.0 / beforeExit : 0;
    state.counters["boolean_ms_first_100"] = 1000.0 * booleanFirst;
    state.counters["boolean_ms_last_100"] = 1000.0 * booleanLast;
    state.counters["workpiece_triangles"] = workpiece;
    state.counters["result_triangles"] = triangles;
}
BENCHMARK(BM_ClosedMilling1000Frames)->Unit(benchmark::kSecond)->Iterations(1);

// A rendered 640x480 frame of the machined cube, or a synthetic one without a context.
const RgbImage& sampleFrame() {
    static const RgbImage frame = [] {
        ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
        std::unique_ptr<HeadlessContext> context;
        RgbImage picture(640, 480);
        if (HeadlessContext::create(640, 480, context)) {
            Scene scene;
            (void)scene.GenerateObject(1, cube());
            (void)scene.GenerateObject(2, tool());
            scene.m_object2Offset = Vector4(0.9f, 0.9f, 0.9f);
            (void)scene.BooleanOperation(BooleanOp::Difference);
            ViewState view;
            placeCameraForObject(view, scene.m_object1, kNearAfterGenerating);
            view.m_rotY = 30.0f;
            view.m_rotX = 20.0f;
            view.m_coloredMaterials = true;
            HeadlessFrameSink sink(*context, view);
            (void)sink.drawAndRead(scene, picture);
        } else {
            for (size_t i = 0; i < picture.pixels.size(); i += 3) {
                if ((i / 3) % 640 > 160 && (i / 3) / 640 > 120) {
                    picture.pixels[i] = static_cast<uint8_t>(64 + (i / 3) % 128);
                    picture.pixels[i + 1] = picture.pixels[i + 2] = 0;
                }
            }
        }
        return picture;
    }();
    return frame;
}

void BM_Encode640x480(benchmark::State& state, ImageFormat format) {
    const RgbImage& frame = sampleFrame();
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        if (!encodeImage(frame, format, bytes)) {
            state.SkipWithError("encoding failed");
        }
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK_CAPTURE(BM_Encode640x480, bmp, ImageFormat::Bmp)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode640x480, png, ImageFormat::Png)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode640x480, jpeg, ImageFormat::Jpeg)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode640x480, gif, ImageFormat::Gif)->Unit(benchmark::kMillisecond);

// The cube drawn again, then read back: the part of a frame that is neither the operation nor
// the encoding. Unchanged it is drawn from its display list, up to the size from which the
// renderer always draws from arrays; touched every frame, as after every operation, from
// vertex arrays. `sampling` 0.0036 gives about 800k triangles, each about a pixel in size.
void BM_DrawAndRead640x480(benchmark::State& state, bool changed, float sampling) {
    const std::unique_ptr<HeadlessContext> context = softwareContext(state);
    if (!context) {
        return;
    }
    Scene scene;
    scene.m_samplingFactor = sampling;
    (void)scene.GenerateObject(1, cube());
    (void)scene.GenerateObject(2, tool());
    ViewState view;
    placeCameraForObject(view, scene.m_object1, kNearAfterGenerating);
    HeadlessFrameSink sink(*context, view);
    RgbImage picture;
    (void)sink.drawAndRead(scene, picture);  // the first sight compiles the list
    for (auto _ : state) {
        if (changed) {
            scene.m_object1.touch();  // as after every operation
        }
        (void)sink.drawAndRead(scene, picture);
    }
    state.counters["triangles"] = scene.m_object1.triangleCount();
}
BENCHMARK_CAPTURE(BM_DrawAndRead640x480, list_kept, false, 0.01f)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DrawAndRead640x480, changed, true, 0.01f)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DrawAndRead640x480, list_kept_1M, false, 0.0036f)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DrawAndRead640x480, changed_1M, true, 0.0036f)->Unit(benchmark::kMillisecond);

void BM_ReadPixels640x480(benchmark::State& state) {
    const std::unique_ptr<HeadlessContext> context = softwareContext(state);
    if (!context) {
        return;
    }
    RgbImage picture;
    for (auto _ : state) {
        (void)context->readPixels(picture);
    }
}
BENCHMARK(BM_ReadPixels640x480)->Unit(benchmark::kMillisecond);

// Encoding plus writing the file beside its final name and renaming it.
void BM_SaveViewImage640x480(benchmark::State& state, const char* extension) {
    const RgbImage& frame = sampleFrame();
    const std::string base = scratchBase();
    for (auto _ : state) {
        if (!SaveViewImage(frame, 0, base, extension)) {
            state.SkipWithError("writing failed");
        }
    }
    std::remove(imageFileName(base, 0, extension).c_str());
}
BENCHMARK_CAPTURE(BM_SaveViewImage640x480, bmp, "bmp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveViewImage640x480, png, "png")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvan
