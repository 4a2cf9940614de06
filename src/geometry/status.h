// Outcome of an operation that can fail on bad input or lack of memory.
#pragma once

#include <string>
#include <utility>

namespace korvan {

// Failures are values: an empty message means success; otherwise the message is the
// user-facing (Croatian) text the caller shows.
class [[nodiscard]] Status {
public:
    Status() = default;
    static Status failure(std::string message) { return Status(std::move(message)); }

    bool ok() const { return m_message.empty(); }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return m_message; }

private:
    explicit Status(std::string message) : m_message(std::move(message)) {}
    std::string m_message;
};

// Shown when an operation runs out of memory; the objects keep their previous state.
inline constexpr const char* kOutOfMemoryMessage = "Nema dovoljno memorije za ovu operaciju";

}  // namespace korvan
