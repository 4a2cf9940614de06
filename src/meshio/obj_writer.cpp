#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "meshio/atomic_file.h"
#include "meshio/obj.h"

namespace korvan {
namespace {

constexpr size_t kChunk = 1 << 20;

// Buffers lines and hands them to the file in large chunks.
class FileSink {
public:
    explicit FileSink(AtomicFile& file) : m_file(file) { m_buffer.reserve(kChunk + 256); }

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
        const bool ok = m_file.write(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }

private:
    AtomicFile& m_file;
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

}  // namespace

Status writeObj(const Solid& solid, const std::string& path) {
    // A mesh with inf or nan is corrupt; writing it would hand the damage on.
    for (const Vector4& v : solid.vertices) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
            return Status::failure(kSaveErrorMessage,
                                   path + ": koordinate tijela nisu konacni brojevi");
        }
    }
    AtomicFile file(path);
    bool ok = file.ok();
    try {
        FileSink sink(file);
        writeBody(solid, sink);
        ok = sink.flush() && ok;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok || !file.commit(true)) {
        return Status::failure(kSaveErrorMessage, file.error());
    }
    return {};
}

}  // namespace korvan
