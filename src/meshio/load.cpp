#include "meshio/load.h"

#include "meshio/edge_sampling.h"
#include "meshio/obj.h"

namespace korvan {

Status completeAndReplace(Solid& fresh, float samplingFactor, Solid& target) {
    fresh.wireframe = target.wireframe;
    fresh.edgeLimit = target.edgeLimit;
    if (Status s = sampleEdges(fresh, samplingFactor); !s) {
        return s;
    }
    fresh.computeTriangleData();
    target.clear();
    target.swap(fresh);
    return {};
}

Status loadObject(const std::string& path, float samplingFactor, Solid& target) {
    Solid fresh;
    if (Status s = readObj(path, fresh); !s) {
        return s;
    }
    return completeAndReplace(fresh, samplingFactor, target);
}

}  // namespace korvan
