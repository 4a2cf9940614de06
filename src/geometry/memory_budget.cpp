#include "geometry/memory_budget.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>

namespace korvan {
namespace {

// A number in a file such as memory.max; "max" or anything unreadable does not limit.
double limitInFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text == "max") {
        return std::numeric_limits<double>::infinity();
    }
    try {
        const double value = std::stod(text);
        // cgroup v1 reports "no limit" as a huge page-aligned number.
        return value > 0 && value < 1e18 ? value : std::numeric_limits<double>::infinity();
    } catch (...) {
        return std::numeric_limits<double>::infinity();
    }
}

// The cgroup this process belongs to, from /proc/self/cgroup ("0::/path" for v2,
// "N:memory:/path" for v1's memory controller).
double cgroupLimit() {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    double limit = std::numeric_limits<double>::infinity();
    while (std::getline(in, line)) {
        const size_t first = line.find(':');
        const size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            limit = std::min(limit, limitInFile("/sys/fs/cgroup" + path + "/memory.max"));
        } else if (controllers.find("memory") != std::string::npos) {
            limit = std::min(
                limit, limitInFile("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes"));
        }
    }
    return limit;
}

double rlimit(int resource) {
    struct rlimit r {};
    if (::getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) {
        return std::numeric_limits<double>::infinity();
    }
    return static_cast<double>(r.rlim_cur);
}

}  // namespace

double memoryLimitBytes() {
    double limit = std::numeric_limits<double>::infinity();
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0) {
        limit = static_cast<double>(pages) * static_cast<double>(pageSize);
    }
    limit = std::min({limit, rlimit(RLIMIT_AS), rlimit(RLIMIT_DATA), cgroupLimit()});
    return limit;
}

void keepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

}  // namespace korvan
