// Writing a file so that it holds either its old content or the complete new one.
#pragma once

#include <cstddef>
#include <string>

namespace korvan {

// Writes go to a temporary file beside the target (with the target's permissions, or the
// umask's for a new file); commit() renames it over the target only when every write and the
// close succeeded. Anything not committed is removed, leaving an existing target untouched.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False once anything has failed (including creating the temporary file).
    bool ok() const { return m_ok; }

    // Writes all bytes; a failure is remembered and reported by commit().
    bool write(const void* data, size_t size);

    // Flushes to disk first when `durable`, then closes and renames. True on success.
    bool commit(bool durable);

private:
    void discard();

    std::string m_path;
    std::string m_temp;
    int m_fd = -1;
    bool m_ok = false;
};

}  // namespace korvan
