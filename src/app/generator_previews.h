// The generator's preview pictures: line drawings of the five shapes on white, each
// parameter marked by its letter in colour.
#pragma once

#include <QPixmap>

#include "generator/generators.h"

namespace korvan::app {

inline constexpr int kPreviewSize = 200;

QPixmap previewPicture(Shape shape);

}  // namespace korvan::app
