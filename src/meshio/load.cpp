#include "meshio/load.h"

#include <new>

#include "meshio/edge_sampling.h"

namespace korvan {

Status completeAndReplace(Solid& fresh, float samplingFactor, Solid& target, Solid* plain) {
    fresh.wireframe = target.wireframe;
    fresh.edgeLimit = target.edgeLimit;
    Solid before;
    if (plain != nullptr && needsSampling(fresh, samplingFactor)) {
        try {
            before.copyMeshFrom(fresh);
            before.computeTriangleData();
        } catch (const std::bad_alloc&) {
            return Status::failure(kOutOfMemoryMessage);
        }
    }
    if (Status s = sampleEdges(fresh, samplingFactor); !s) {
        return s;
    }
    fresh.computeTriangleData();
    target.clear();
    target.swap(fresh);
    if (plain != nullptr) {
        before.edgeLimit = target.edgeLimit;
        plain->clear();
        if (!before.triangles.empty()) {
            plain->swap(before);
        }
    }
    return {};
}

}  // namespace korvan
