#include "geometry/mesh_defects.h"

namespace korvan {

std::string describeDefects(const MeshTopology& t) {
    std::string text;
    if (t.openEdges > 0) {
        text += "Upozorenje: tijelo nije zatvoreno (" + std::to_string(t.openEdges) +
                " otvorenih rubova)\n";
    }
    if (t.nonManifoldEdges > 0) {
        text += "Upozorenje: " + std::to_string(t.nonManifoldEdges) +
                " rubova dijeli vise od dva trokuta\n";
    }
    if (t.orientationFlips > 0) {
        text += "Upozorenje: trokuti nisu jednako orijentirani (" +
                std::to_string(t.orientationFlips) + " rubova)\n";
    }
    if (t.degenerateTriangles > 0) {
        text += "Upozorenje: " + std::to_string(t.degenerateTriangles) +
                " trokuta nema povrsinu (vrhovi se ponavljaju ili leze na pravcu)\n";
    }
    if (t.openEdges == 0 && hasNoVolume(t)) {
        text += "Upozorenje: tijelo nema volumen\n";
    } else if (t.openEdges == 0 && t.signedVolume < 0) {
        text += "Upozorenje: tijelo je izvrnuto (normale gledaju prema unutra)\n";
    }
    return text;
}

}  // namespace korvan
