// --view and --turn of render and mill: from which side the scene is drawn. The default
// camera looks at the front only, where a groove cut into the top face cannot be seen.
#pragma once

#include <optional>

#include "scene/scene.h"
#include "viewer/camera.h"
#include "viewer/view_state.h"

namespace CLI {
class App;
}  // namespace CLI

namespace korvan::cli {

struct ViewOptions {
    std::optional<StandardView> view;
    // Degrees about the x and then the y axis, added to the view's turn (the mouse's turn).
    std::optional<float> turnX;
    std::optional<float> turnY;
};

// Adds --view front|top|side|iso and --turn X,Y; a refused value is a usage error.
void addViewOptions(CLI::App& command, ViewOptions& options);

// "X,Y" in degrees, each finite and within +-36000; read as every number is, with a full stop.
bool parseTurn(const std::string& text, float& x, float& y);

// With neither option given the camera stays as loading placed it. Otherwise the chosen view
// (front when only --turn is given), turned by --turn, with the eye moved so that the shown
// objects fit the picture.
void applyViewOptions(const ViewOptions& options, ViewState& view, const Scene& scene);

}  // namespace korvan::cli
