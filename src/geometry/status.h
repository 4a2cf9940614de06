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
    static Status failure(std::string message, std::string detail = {}) {
        return Status(std::move(message), std::move(detail));
    }

    bool ok() const { return m_message.empty(); }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return m_message; }
    // Where the message leaves it general ("Greska kod spremanja!"): which file and the
    // system's reason. Empty when there is nothing to add.
    const std::string& detail() const { return m_detail; }

private:
    Status(std::string message, std::string detail)
        : m_message(std::move(message)), m_detail(std::move(detail)) {}
    std::string m_message;
    std::string m_detail;
};

// Shown when an operation runs out of memory; the objects keep their previous state.
inline constexpr const char* kOutOfMemoryMessage = "Nema dovoljno memorije za ovu operaciju";

}  // namespace korvan
