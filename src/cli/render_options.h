// Parsing and shared steps of the drawing commands (render, mill, the demo's milling run).
#pragma once

#include <string>

#include "geometry/status.h"
#include "geometry/vector4.h"
#include "scene/animation.h"
#include "scene/scene.h"
#include "viewer/view_state.h"

namespace korvan::cli {

// "WxH" with both between 1 and 16384.
bool parseSize(const std::string& text, int& width, int& height);
// "lin:STEP" or "sin:AMP,START,STEP" (START and STEP whole degrees).
bool parseMotion(const std::string& text, AxisMotion& out);

// Phases on stderr as they happen, messages on stdout; silent while `quiet` is set.
class LineReporter final : public ProgressReporter {
public:
    void ShowProgressPopup(const std::string& text) override { SetProgressText(text); }
    void SetProgressText(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    bool quiet = false;
};

// Reads or generates the source into object 1 or 2 of the scene, as the open and generate
// commands do; for object 1 the camera is then placed as the view places it.
Status loadSceneObject(Scene& scene, const std::string& source, int32_t objectNumber,
                       ViewState& view);

}  // namespace korvan::cli
