#include "meshio/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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
// exist yet names that file.
std::string followLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
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
    return current;
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
    struct stat st {};
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
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
    m_temp = m_target + ".XXXXXX";
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
    sigset_t pending;
    if (ok && m_masked && ::sigpending(&pending) == 0 &&
        (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1)) {
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
