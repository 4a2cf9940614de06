// The text of the "Info o tijelima" dialog.
#pragma once

#include <string>

#include "geometry/solid.h"

namespace korvan {

// "Ne postoje nikakvi objekti!" when neither solid is loaded; otherwise, for each loaded
// solid, "[Objekt N]", "Broj vrhova: V" and "Broj trokuta: T" lines, each section ending in
// an empty line. Lines end in `newline` ("\r\n" in the dialog, "\n" on a terminal).
std::string objectStatistics(const Solid& object1, const Solid& object2,
                             const std::string& newline = "\r\n");

}  // namespace korvan
