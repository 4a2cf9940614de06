// The text forms of the drawing commands' values (render, mill).
#pragma once

#include <string>

#include "scene/animation.h"

namespace korvan::cli {

// "WxH" with both between 1 and 16384.
bool parseSize(const std::string& text, int& width, int& height);
// "lin:STEP" or "sin:AMP,START,STEP" (START and STEP whole degrees), every number within
// +-1e6.
bool parseMotion(const std::string& text, AxisMotion& out);

}  // namespace korvan::cli
