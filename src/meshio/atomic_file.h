// Writing a file so that it holds either its old content or the complete new one.
#pragma once

#include <signal.h>

#include <cstddef>
#include <string>

namespace korvan {

// Writes go to a temporary file beside the target (with the target's permissions, or the
// umask's for a new file); commit() renames it over the target only when every write and the
// close succeeded. Anything not committed is removed, leaving an existing target untouched.
//
// A symbolic link is followed: the file it points to is replaced and the link stays a link; a
// loop of links is refused with the system's reason. The temporary file is named after the
// target ("NAME.XXXXXX", NAME shortened where the folder's limit on name length requires). A
// target that exists but is not a regular file (a folder, a FIFO, a device) or that the user
// may not write is refused before anything is created. SIGINT and SIGTERM are held back on
// this thread while the file is open; one that arrived meanwhile ends the writing and makes
// commit() discard the new file, so an interrupted save leaves the old file and no temporary
// behind, and the signal is delivered once the object is gone (if the thread lets it through).
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False once anything has failed (including creating the temporary file).
    bool ok() const { return m_ok; }
    // Why the file could not be written: the file's name and the reason, for the user.
    std::string error() const;

    // Writes all bytes; a failure is remembered and reported by commit().
    bool write(const void* data, size_t size);

    // Flushes to disk first when `durable`, then closes and renames. True on success.
    bool commit(bool durable);

private:
    void fail(const std::string& reason);
    void discard();

    std::string m_path;    // as the caller named it
    std::string m_target;  // the file replaced: m_path with symbolic links followed
    std::string m_temp;
    std::string m_reason;
    int m_fd = -1;
    bool m_ok = false;
    sigset_t m_previousMask{};
    bool m_masked = false;
};

}  // namespace korvan
