#include "meshio/load.h"

#include "meshio/edge_sampling.h"

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

}  // namespace korvan
