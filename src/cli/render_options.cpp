#include "cli/render_options.h"

#include <vector>

#include "cli/mesh_source.h"
#include "geometry/numbers.h"

namespace korvan::cli {

bool parseSize(const std::string& text, int& width, int& height) {
    const std::vector<std::string> parts = split(text, 'x');
    if (parts.size() != 2) {
        return false;
    }
    const std::optional<int32_t> w = parseInt(parts[0]);
    const std::optional<int32_t> h = parseInt(parts[1]);
    if (!w || !h || *w < 1 || *h < 1 || *w > 16384 || *h > 16384) {
        return false;
    }
    width = *w;
    height = *h;
    return true;
}

bool parseMotion(const std::string& text, AxisMotion& out) {
    AxisMotion m;
    if (text.rfind("lin:", 0) == 0) {
        const std::optional<float> step = parseFloat(text.substr(4));
        if (!step || !withinMotionLimit(*step)) {
            return false;
        }
        m.step = *step;
    } else if (text.rfind("sin:", 0) == 0) {
        const std::vector<std::string> parts = split(text.substr(4), ',');
        if (parts.size() != 3) {
            return false;
        }
        const std::optional<float> amplitude = parseFloat(parts[0]);
        const std::optional<int32_t> start = parseInt(parts[1]);
        const std::optional<int32_t> step = parseInt(parts[2]);
        if (!amplitude || !start || !step || !withinMotionLimit(*amplitude) ||
            !withinMotionLimit(*start) || !withinMotionLimit(*step)) {
            return false;
        }
        m.sinus = 1;
        m.amplitude = *amplitude;
        m.startAngle = *start;
        m.angleStep = *step;
    } else {
        return false;
    }
    out = m;
    return true;
}

}  // namespace korvan::cli
