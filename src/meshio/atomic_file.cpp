#include "meshio/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace korvan {
namespace {

mode_t newFileMode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return st.st_mode & 07777;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path) : m_path(path) {
    if (path.empty()) {
        return;
    }
    m_temp = path + ".XXXXXX";
    m_fd = ::mkstemp(m_temp.data());
    if (m_fd < 0) {
        m_temp.clear();
        return;
    }
    m_ok = ::fchmod(m_fd, newFileMode(path)) == 0;
}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::write(const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (m_ok && size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_ok = false;
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
    if (durable) {
        // The data must be on disk before the rename makes it visible under the real name.
        ok = ::fsync(m_fd) == 0 && ok;
    }
    ok = ::close(m_fd) == 0 && ok;
    m_fd = -1;
    ok = ok && ::rename(m_temp.c_str(), m_path.c_str()) == 0;
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
