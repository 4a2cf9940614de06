#include "cli/view_options.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "geometry/numbers.h"

namespace korvan::cli {
namespace {

bool parseDegrees(std::string_view text, float& out) {
    const std::optional<float> value = parseFloat(text);
    if (!value || std::fabs(*value) > 36000.0f) {
        return false;
    }
    out = *value;
    return true;
}

}  // namespace

bool parseTurn(const std::string& text, float& x, float& y) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return false;
    }
    const std::string_view all(text);
    return parseDegrees(all.substr(0, comma), x) && parseDegrees(all.substr(comma + 1), y);
}

void addViewOptions(CLI::App& command, ViewOptions& options) {
    command
        .add_option_function<std::string>(
            "--view",
            [&options](const std::string& text) {
                options.view = standardViewNamed(text);
                if (!options.view) {
                    throw CLI::ValidationError("--view",
                                               "ocekuje se front, top, side ili iso: " + text);
                }
            },
            "Pogled: sprijeda (front), odozgo (top), sa strane (side) ili izometrijski (iso)")
        ->type_name("front|top|side|iso");
    command
        .add_option_function<std::string>(
            "--turn",
            [&options](const std::string& text) {
                float x = 0.0f;
                float y = 0.0f;
                if (!parseTurn(text, x, y)) {
                    throw CLI::ValidationError("--turn", "ocekuje se X,Y u stupnjevima: " + text);
                }
                options.turnX = x;
                options.turnY = y;
            },
            "Okret scene oko osi x pa oko osi y, u stupnjevima (kao lijevim gumbom misa)")
        ->type_name("X,Y");
}

void applyViewOptions(const ViewOptions& options, ViewState& view, const Scene& scene) {
    if (!options.view && !options.turnX) {
        return;
    }
    setStandardView(view, options.view.value_or(StandardView::Front));
    view.m_rotX += options.turnX.value_or(0.0f);
    view.m_rotY += options.turnY.value_or(0.0f);
    fitSceneToView(view, scene);
}

}  // namespace korvan::cli
