#include "geometry/statistics.h"

namespace korvan {

std::string objectStatistics(const Solid& object1, const Solid& object2,
                             const std::string& newline) {
    if (object1.loaded == 0 && object2.loaded == 0) {
        return "Ne postoje nikakvi objekti!";
    }
    std::string text;
    const Solid* objects[] = {&object1, &object2};
    for (int i = 0; i < 2; ++i) {
        if (objects[i]->loaded == 0) {
            continue;
        }
        text += "[Objekt " + std::to_string(i + 1) + "]" + newline;
        text += "Broj vrhova: " + std::to_string(objects[i]->vertexCount()) + newline;
        text += "Broj trokuta: " + std::to_string(objects[i]->triangleCount()) + newline + newline;
    }
    return text;
}

}  // namespace korvan
