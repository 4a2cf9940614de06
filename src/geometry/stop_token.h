// A request to stop a long computation, and a count of the work it has done: the engines
// poll the one and add to the other at the boundaries of their loops' chunks, on any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace korvan {

// The message of an operation that stopped on request; the scene is then as it was before.
inline constexpr const char* kStoppedMessage = "Prekinuto";

// Thrown at a chunk boundary once a stop is requested, and caught where the operation began,
// which turns it into a failure with kStoppedMessage. Deliberately not a std::exception, so that
// the handlers that turn real faults into messages let it pass.
struct OperationStopped {};

// Both pointers may be null (nobody asks to stop, nobody counts); the token does not own them.
class StopToken {
public:
    StopToken() = default;
    StopToken(const std::atomic<bool>* stop, std::atomic<int64_t>* done)
        : m_stop(stop), m_done(done) {}

    bool requested() const { return m_stop != nullptr && m_stop->load(std::memory_order_relaxed); }
    // Throws OperationStopped once a stop is requested.
    void check() const {
        if (requested()) {
            throw OperationStopped{};
        }
    }
    // Counts `items` more done, then check().
    void advance(int64_t items) const {
        if (m_done != nullptr) {
            m_done->fetch_add(items, std::memory_order_relaxed);
        }
        check();
    }

private:
    const std::atomic<bool>* m_stop = nullptr;
    std::atomic<int64_t>* m_done = nullptr;
};

}  // namespace korvan
