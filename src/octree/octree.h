// Octree over a solid's triangle centroids.
#pragma once

namespace korvan {

struct OctreeNode {};

}  // namespace korvan
