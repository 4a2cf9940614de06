#include "support/mesh_checks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>
#include <unordered_map>

namespace korvan::test {

std::vector<int32_t> weldedCorners(const Solid& solid) {
    std::map<std::tuple<float, float, float>, int32_t> ids;
    std::vector<int32_t> idOf(solid.vertices.size());
    for (size_t i = 0; i < solid.vertices.size(); ++i) {
        const Vector4& v = solid.vertices[i];
        // +0.0f folds -0 and +0 together.
        const auto key = std::make_tuple(v.x + 0.0f, v.y + 0.0f, v.z + 0.0f);
        idOf[i] = ids.emplace(key, static_cast<int32_t>(ids.size())).first->second;
    }
    std::vector<int32_t> corners;
    corners.reserve(solid.triangles.size() * 3);
    for (const Triangle& t : solid.triangles) {
        corners.push_back(idOf[t.i0]);
        corners.push_back(idOf[t.i1]);
        corners.push_back(idOf[t.i2]);
    }
    return corners;
}

int64_t openEdgeCount(const Solid& solid) {
    const std::vector<int32_t> c = weldedCorners(solid);
    std::unordered_map<uint64_t, int32_t> directed;
    auto key = [](int32_t a, int32_t b) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
    };
    for (size_t t = 0; t + 2 < c.size(); t += 3) {
        for (int e = 0; e < 3; ++e) {
            const int32_t a = c[t + e];
            const int32_t b = c[t + (e + 1) % 3];
            if (a != b) {
                ++directed[key(a, b)];
            }
        }
    }
    int64_t bad = 0;
    for (const auto& [k, count] : directed) {
        const auto a = static_cast<int32_t>(k >> 32);
        const auto b = static_cast<int32_t>(k & 0xffffffffu);
        const auto back = directed.find(key(b, a));
        if (count > 1) {
            bad += count - 1;
        }
        if (back == directed.end()) {
            bad += 1;
        }
    }
    return bad;
}

IndexFaults indexManifoldFaults(const Solid& solid) {
    IndexFaults faults;
    std::map<std::pair<int32_t, int32_t>, int32_t> directed;
    std::vector<std::vector<int32_t>> around(solid.vertices.size());
    for (size_t t = 0; t < solid.triangles.size(); ++t) {
        const Triangle& tri = solid.triangles[t];
        const int32_t c[3] = {tri.i0, tri.i1, tri.i2};
        for (int e = 0; e < 3; ++e) {
            ++directed[{c[e], c[(e + 1) % 3]}];
            around[static_cast<size_t>(c[e])].push_back(static_cast<int32_t>(t));
        }
    }
    for (const auto& [edge, count] : directed) {
        const auto back = directed.find({edge.second, edge.first});
        if (count != 1 || back == directed.end() || back->second != 1) {
            ++faults.edges;
        }
    }
    // Fans: triangles at v joined when they share a second vertex.
    for (size_t v = 0; v < around.size(); ++v) {
        const std::vector<int32_t>& tris = around[v];
        std::vector<int32_t> group(tris.size());
        for (size_t i = 0; i < tris.size(); ++i) {
            group[i] = static_cast<int32_t>(i);
        }
        bool changed = true;
        while (changed) {
            changed = false;
            for (size_t i = 0; i < tris.size(); ++i) {
                for (size_t j = 0; j < tris.size(); ++j) {
                    const Triangle& a = solid.triangles[static_cast<size_t>(tris[i])];
                    const Triangle& b = solid.triangles[static_cast<size_t>(tris[j])];
                    int shared = 0;
                    for (int32_t x : {a.i0, a.i1, a.i2}) {
                        shared += static_cast<int>(x != static_cast<int32_t>(v) &&
                                                   (x == b.i0 || x == b.i1 || x == b.i2));
                    }
                    if (shared > 0 && group[j] > group[i]) {
                        group[j] = group[i];
                        changed = true;
                    }
                }
            }
        }
        if (std::any_of(group.begin(), group.end(), [](int32_t g) { return g != 0; })) {
            ++faults.vertices;
        }
    }
    return faults;
}

int64_t degenerateTriangles(const Solid& solid) {
    int64_t count = 0;
    for (const Triangle& t : solid.triangles) {
        const Vector4& a = solid.vertices[t.i0];
        const Vector4& b = solid.vertices[t.i1];
        const Vector4& c = solid.vertices[t.i2];
        // Products of floats are exact in double; their differences nearly so, and a zero
        // cross product of float differences is what rounding leaves behind.
        const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
        const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
        const bool flat =
            uy * vz - uz * vy == 0 && uz * vx - ux * vz == 0 && ux * vy - uy * vx == 0;
        count += (t.i0 == t.i1 || t.i1 == t.i2 || t.i0 == t.i2 || flat) ? 1 : 0;
    }
    return count;
}

double signedVolume(const Solid& solid) {
    double sum = 0.0;
    for (const Triangle& t : solid.triangles) {
        const Vector4& a = solid.vertices[t.i0];
        const Vector4& b = solid.vertices[t.i1];
        const Vector4& c = solid.vertices[t.i2];
        const double ax = a.x, ay = a.y, az = a.z;
        const double bx = b.x, by = b.y, bz = b.z;
        const double cx = c.x, cy = c.y, cz = c.z;
        sum += ax * (by * cz - bz * cy) - ay * (bx * cz - bz * cx) + az * (bx * cy - by * cx);
    }
    return sum / 6.0;
}

double longestEdge(const Solid& solid) {
    double longest = 0.0;
    for (const Triangle& t : solid.triangles) {
        const Vector4& a = solid.vertices[t.i0];
        const Vector4& b = solid.vertices[t.i1];
        const Vector4& c = solid.vertices[t.i2];
        longest = std::max({longest, length(b - a), length(c - b), length(a - c)});
    }
    return longest;
}

namespace {

using D3 = std::array<double, 3>;

D3 sub(const D3& a, const D3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

double dot(const D3& a, const D3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The point of triangle (a, b, c) nearest p, by the regions of its corners and edges.
D3 nearestOnTriangle(const D3& p, const D3& a, const D3& b, const D3& c) {
    const D3 ab = sub(b, a), ac = sub(c, a), ap = sub(p, a);
    const auto at = [&](double s, double t) {
        return D3{a[0] + s * ab[0] + t * ac[0], a[1] + s * ab[1] + t * ac[1],
                  a[2] + s * ab[2] + t * ac[2]};
    };
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) {
        return a;
    }
    const D3 bp = sub(p, b);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) {
        return b;
    }
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        return at(d1 / (d1 - d3), 0);
    }
    const D3 cp = sub(p, c);
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) {
        return c;
    }
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        return at(0, d2 / (d2 - d6));
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return at(1 - w, w);
    }
    const double denom = 1.0 / (va + vb + vc);
    return at(vb * denom, vc * denom);
}

}  // namespace

double farthestVertexFrom(const Solid& a, const Solid& b, double reach) {
    const auto d3 = [](const Vector4& v) { return D3{v.x, v.y, v.z}; };
    double farthest = 0.0;
    for (const Vector4& v : a.vertices) {
        const D3 p = d3(v);
        double nearest = HUGE_VAL;
        for (const Triangle& t : b.triangles) {
            const D3 c[3] = {d3(b.vertices[t.i0]), d3(b.vertices[t.i1]), d3(b.vertices[t.i2])};
            bool near = true;
            for (int k = 0; k < 3 && near; ++k) {
                near = p[k] >= std::min({c[0][k], c[1][k], c[2][k]}) - reach &&
                       p[k] <= std::max({c[0][k], c[1][k], c[2][k]}) + reach;
            }
            if (near) {
                const D3 d = sub(p, nearestOnTriangle(p, c[0], c[1], c[2]));
                nearest = std::min(nearest, std::sqrt(dot(d, d)));
            }
        }
        farthest = std::max(farthest, nearest);
    }
    return farthest;
}

bool sameMesh(const Solid& a, const Solid& b, bool normals) {
    if (a.vertices != b.vertices || a.triangles.size() != b.triangles.size()) {
        return false;
    }
    for (size_t i = 0; i < a.triangles.size(); ++i) {
        const Triangle& p = a.triangles[i];
        const Triangle& q = b.triangles[i];
        if (p.i0 != q.i0 || p.i1 != q.i1 || p.i2 != q.i2 || (normals && !(p.normal == q.normal))) {
            return false;
        }
    }
    return true;
}

Solid turnedAboutZ(const Solid& s, double degrees) {
    Solid out;
    out.copyMeshFrom(s);
    const double a = degrees * std::acos(-1.0) / 180.0;
    for (Vector4& v : out.vertices) {
        const double x = v.x, y = v.y;
        v = Vector4(static_cast<float>(x * std::cos(a) - y * std::sin(a)),
                    static_cast<float>(x * std::sin(a) + y * std::cos(a)), v.z);
    }
    out.computeTriangleData();
    out.computeBoundingBox();
    return out;
}

Solid makeSolid(const std::vector<Vector4>& vertices, const std::vector<int32_t>& corners) {
    Solid s;
    s.allocate(static_cast<int32_t>(vertices.size()), static_cast<int32_t>(corners.size() / 3));
    std::copy(vertices.begin(), vertices.end(), s.vertices.begin());
    for (size_t t = 0; t < corners.size() / 3; ++t) {
        s.triangles[t].setIndices(corners[3 * t], corners[3 * t + 1], corners[3 * t + 2]);
    }
    s.computeBoundingBox();
    return s;
}

std::string dataFile(const std::string& name) {
    return std::string(KORVAN_DATA_DIR) + "/" + name;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvan-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    m_dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

}  // namespace korvan::test
