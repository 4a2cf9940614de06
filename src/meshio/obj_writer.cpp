#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "meshio/obj.h"

namespace korvan {
namespace {

constexpr size_t kChunk = 1 << 20;

// Buffered writer on a POSIX descriptor that remembers the first failure.
class FileSink {
public:
    explicit FileSink(int fd) : m_fd(fd) { m_buffer.reserve(kChunk + 256); }

    // Room for at least one line, then the caller appends with to_chars.
    char* reserveLine(size_t bytes) {
        if (m_buffer.size() + bytes > m_buffer.capacity()) {
            flush();
        }
        const size_t at = m_buffer.size();
        m_buffer.resize(at + bytes);
        return m_buffer.data() + at;
    }
    void commit(char* lineEnd) { m_buffer.resize(static_cast<size_t>(lineEnd - m_buffer.data())); }

    bool flush() {
        const char* p = m_buffer.data();
        size_t left = m_buffer.size();
        while (m_ok && left > 0) {
            const ssize_t n = ::write(m_fd, p, left);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                m_ok = false;
                break;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        m_buffer.clear();
        return m_ok;
    }
    bool ok() const { return m_ok; }

private:
    int m_fd;
    bool m_ok = true;
    std::vector<char> m_buffer;
};

// "%f" of the value widened to double: six decimals, C locale.
char* putFixed(char* p, char* end, float value) {
    return std::to_chars(p, end, static_cast<double>(value), std::chars_format::fixed, 6).ptr;
}

char* putInt(char* p, char* end, int64_t value) {
    return std::to_chars(p, end, value).ptr;
}

void writeBody(const Solid& solid, FileSink& sink) {
    static constexpr char kHeader[] = "# 3d tijelo u .obj formatu\n";
    char* line = sink.reserveLine(sizeof(kHeader) - 1);
    std::memcpy(line, kHeader, sizeof(kHeader) - 1);

    // Widest "%f" of a float is 39 integer digits plus sign, point and six decimals.
    constexpr size_t kVertexLine = 3 * 48 + 4;
    for (const Vector4& v : solid.vertices) {
        char* p = sink.reserveLine(kVertexLine);
        char* end = p + kVertexLine;
        *p++ = 'v';
        for (float c : {v.x, v.y, v.z}) {
            *p++ = ' ';
            p = putFixed(p, end, c);
        }
        *p++ = '\n';
        sink.commit(p);
    }
    constexpr size_t kFaceLine = 3 * 12 + 4;
    for (const Triangle& t : solid.triangles) {
        char* p = sink.reserveLine(kFaceLine);
        char* end = p + kFaceLine;
        *p++ = 'f';
        for (int32_t i : {t.i0, t.i1, t.i2}) {
            *p++ = ' ';
            p = putInt(p, end, static_cast<int64_t>(i) + 1);
        }
        *p++ = '\n';
        sink.commit(p);
    }
}

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

Status writeObj(const Solid& solid, const std::string& path) {
    const Status failed = Status::failure(kSaveErrorMessage);
    if (path.empty()) {
        return failed;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return failed;
    }
    bool ok = ::fchmod(fd, newFileMode(path)) == 0;
    try {
        FileSink sink(fd);
        writeBody(solid, sink);
        ok = sink.flush() && ok;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    // Make the data durable before the rename makes it visible under the real name.
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return failed;
    }
    return {};
}

}  // namespace korvan
