#include "meshio/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korvan {
namespace {

mode_t newFileMode(const struct stat* existing) {
    if (existing != nullptr) {
        return existing->st_mode & 07777;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// The file a path names once symbolic links are followed; a link to a file that does not
// exist yet names that file. A loop of links (or a chain longer than the system follows)
// names no file: empty.
std::string followLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (n <= 0) {
            return current;
        }
        std::string next(buffer, static_cast<size_t>(n));
        if (next.front() != '/') {
            const size_t slash = current.find_last_of('/');
            next =
                (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + next;
        }
        current = next;
    }
    return {};
}

// "FOLDER/NAME.XXXXXX" for mkstemp, with NAME cut short where the whole would not fit the
// folder's limit on a name's length, so that the temporary still starts with the target's name.
std::string temporaryPattern(const std::string& target) {
    constexpr const char* kSuffix = ".XXXXXX";
    constexpr size_t kSuffixLength = 7;
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const size_t longest = limit > static_cast<long>(kSuffixLength)
                               ? static_cast<size_t>(limit) - kSuffixLength
                               : NAME_MAX - kSuffixLength;
    return target.substr(0, nameAt + std::min(target.size() - nameAt, longest)) + kSuffix;
}

// Whether SIGINT or SIGTERM waits on this thread (or on the process).
bool interruptPending() {
    sigset_t pending;
    return ::sigpending(&pending) == 0 &&
           (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
}

sigset_t interruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path) : m_path(path) {
    if (path.empty()) {
        fail("prazno ime datoteke");
        return;
    }
    m_target = followLinks(path);
    if (m_target.empty()) {
        fail(std::strerror(ELOOP));
        return;
    }
    struct stat st {};
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    // A missing file is made; any other reason it cannot be looked at (a path too long, a
    // folder that is a file, no permission to search) is the user's to know.
    if (!exists && errno != ENOENT) {
        fail(std::strerror(errno));
        return;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        fail("nije obicna datoteka");
        return;
    }
    // Renaming over a file needs only the folder's permission; the file's own must hold too.
    if (exists && ::access(m_target.c_str(), W_OK) != 0) {
        fail(std::strerror(errno));
        return;
    }
    const sigset_t interrupts = interruptSignals();
    m_masked = ::pthread_sigmask(SIG_BLOCK, &interrupts, &m_previousMask) == 0;
    if (m_masked && interruptPending()) {
        fail("spremanje prekinuto");
        return;
    }
    m_temp = temporaryPattern(m_target);
    m_fd = ::mkstemp(m_temp.data());
    if (m_fd < 0) {
        m_temp.clear();
        fail(std::strerror(errno));
        return;
    }
    m_ok = true;
    if (::fchmod(m_fd, newFileMode(exists ? &st : nullptr)) != 0) {
        fail(std::strerror(errno));
    }
}

AtomicFile::~AtomicFile() {
    discard();
    if (m_masked) {
        ::pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    }
}

std::string AtomicFile::error() const {
    return m_path + ": " + (m_reason.empty() ? std::string("nepoznat razlog") : m_reason);
}

void AtomicFile::fail(const std::string& reason) {
    if (m_reason.empty()) {
        m_reason = reason;
    }
    m_ok = false;
}

bool AtomicFile::write(const void* data, size_t size) {
    // A stop asked for meanwhile ends a long write early, and the temporary goes at once, so
    // that nothing is left behind however the run then ends.
    if (m_ok && m_masked && interruptPending()) {
        fail("spremanje prekinuto");
        discard();
    }
    const auto* p = static_cast<const char*>(data);
    while (m_ok && size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(std::strerror(errno));
            break;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return m_ok;
}

bool AtomicFile::commit(bool durable) {
    if (m_fd < 0) {
        return false;
    }
    bool ok = m_ok;
    if (ok && durable && ::fsync(m_fd) != 0) {
        // The data must be on disk before the rename makes it visible under the real name.
        fail(std::strerror(errno));
        ok = false;
    }
    if (::close(m_fd) != 0 && ok) {
        fail(std::strerror(errno));
        ok = false;
    }
    m_fd = -1;
    if (ok && m_masked && interruptPending()) {
        fail("spremanje prekinuto");
        ok = false;
    }
    if (ok && ::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        fail(std::strerror(errno));
        ok = false;
    }
    if (ok) {
        m_temp.clear();
    }
    m_ok = ok;
    discard();
    return ok;
}

void AtomicFile::discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

}  // namespace korvan
