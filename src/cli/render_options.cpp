#include "cli/render_options.h"

#include <cstdio>
#include <vector>

#include "cli/mesh_source.h"
#include "viewer/camera.h"

namespace korvan::cli {
bool parseSize(const std::string& text, int& width, int& height) {
    const std::vector<std::string> parts = split(text, 'x');
    int w = 0;
    int h = 0;
    if (parts.size() != 2 || !parseInt(parts[0], w) || !parseInt(parts[1], h) || w < 1 || h < 1 ||
        w > 16384 || h > 16384) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

bool parseMotion(const std::string& text, AxisMotion& out) {
    AxisMotion m;
    if (text.rfind("lin:", 0) == 0) {
        if (!parseFloat(text.substr(4), m.step)) {
            return false;
        }
    } else if (text.rfind("sin:", 0) == 0) {
        const std::vector<std::string> parts = split(text.substr(4), ',');
        int start = 0;
        int step = 0;
        if (parts.size() != 3 || !parseFloat(parts[0], m.amplitude) || !parseInt(parts[1], start) ||
            !parseInt(parts[2], step)) {
            return false;
        }
        m.sinus = 1;
        m.startAngle = start;
        m.angleStep = step;
    } else {
        return false;
    }
    out = m;
    return true;
}

void LineReporter::SetProgressText(const std::string& text) {
    if (!quiet) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
}

void LineReporter::ShowMessage(const std::string& text) {
    if (!quiet) {
        std::printf("%s\n", text.c_str());
    }
}

Status loadSceneObject(Scene& scene, const std::string& source, int32_t objectNumber,
                       ViewState& view) {
    PrimitiveParameters params;
    const auto parsed = parsePrimitive(source, params);
    if (parsed && !*parsed) {
        return *parsed;
    }
    Status s = parsed ? scene.GenerateObject(objectNumber, params)
                      : scene.LoadObject(objectNumber, source);
    if (s && objectNumber == 1) {
        // The view's near plane is 0.5 after generating and 0.01 after reading a file.
        placeCameraForObject(view, scene.m_object1, parsed ? 0.5 : static_cast<double>(0.01f));
    }
    return s;
}

}  // namespace korvan::cli
