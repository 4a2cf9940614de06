#include "geometry/thread_arena.h"

#include <tbb/task_arena.h>

namespace korvan {

struct ThreadArena::Arena {
    explicit Arena(int32_t threads) : arena(threads) {}
    tbb::task_arena arena;
};

ThreadArena::ThreadArena() = default;
ThreadArena::~ThreadArena() = default;

void ThreadArena::run(int32_t threads, const std::function<void()>& f) {
    if (threads <= 0) {
        f();
        return;
    }
    if (m_arena == nullptr || m_threads != threads) {
        m_arena = std::make_unique<Arena>(threads);
        m_threads = threads;
    }
    m_arena->arena.execute(f);
}

}  // namespace korvan
