#include "geometry/memory_budget.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <tbb/parallel_for.h>

#include <algorithm>
#include <cstdint>
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

void populatePages(void* data, size_t bytes) {
#if defined(__linux__)
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older kernels refuse it, harmlessly
#endif
    // Below this, one thread's faults cost less than waking the others.
    constexpr size_t kLeast = size_t{8} << 20;
    constexpr uintptr_t kPiece = uintptr_t{4} << 20;
    if (data == nullptr || bytes < kLeast) {
        return;
    }
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) / page * page;
    if (end <= begin) {
        return;
    }
    const size_t pieces = (end - begin + kPiece - 1) / kPiece;
    tbb::parallel_for(size_t{0}, pieces, [&](size_t i) {
        const uintptr_t from = begin + i * kPiece;
        const uintptr_t to = std::min(end, from + kPiece);
        (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    });
#else
    (void)data;
    (void)bytes;
#endif
}

}  // namespace korvan
