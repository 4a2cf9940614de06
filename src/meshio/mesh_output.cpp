#include "meshio/mesh_output.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "meshio/obj.h"

namespace korvan {
namespace {

constexpr size_t kChunk = 1 << 20;

}  // namespace

FileSink::FileSink(AtomicFile& file) : m_file(file) {
    m_buffer.reserve(kChunk + 4096);
}

char* FileSink::reserve(size_t bytes) {
    if (m_buffer.size() + bytes > m_buffer.capacity()) {
        flush();
        if (bytes > m_buffer.capacity()) {
            m_buffer.reserve(bytes);
        }
    }
    const size_t at = m_buffer.size();
    m_buffer.resize(at + bytes);
    return m_buffer.data() + at;
}

void FileSink::append(const void* data, size_t size) {
    char* p = reserve(size);
    std::memcpy(p, data, size);
}

bool FileSink::flush() {
    const bool ok = m_file.write(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return ok;
}

char* putCoordinate(char* p, float value) {
    char* const end = p + kCoordinateChars;
    char* fixedEnd =
        std::to_chars(p, end, static_cast<double>(value), std::chars_format::fixed, 6).ptr;
    float back = 0.0f;
    const auto parsed = std::from_chars(p, fixedEnd, back);
    if (parsed.ec == std::errc() && back == value && std::signbit(back) == std::signbit(value)) {
        return fixedEnd;
    }
    return std::to_chars(p, end, value).ptr;
}

char* putShortest(char* p, float value) {
    return std::to_chars(p, p + kCoordinateChars, value).ptr;
}

Status checkWritable(const Solid& solid, const std::string& path) {
    for (const Vector4& v : solid.vertices) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
            return Status::failure(kSaveErrorMessage,
                                   path + ": koordinate tijela nisu konacni brojevi");
        }
    }
    return {};
}

}  // namespace korvan
