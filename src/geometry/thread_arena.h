// Work run on at most a given number of threads, through one oneTBB arena kept for that cap.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace korvan {

// Runs work on at most `threads` threads (0: as many as the caller's arena has). The arena is
// made the first time a cap is asked for and again only when the cap changes: oneTBB keeps
// some kilobytes of every arena it makes, so one made for each operation would grow a long
// run (a milling animation, a G-code program) with every step. Not for concurrent use. The
// header names no TBB type, as the desktop program's Qt headers define `emit`.
class ThreadArena {
public:
    ThreadArena();
    ~ThreadArena();
    ThreadArena(const ThreadArena&) = delete;
    ThreadArena& operator=(const ThreadArena&) = delete;

    void run(int32_t threads, const std::function<void()>& f);

private:
    struct Arena;
    std::unique_ptr<Arena> m_arena;
    int32_t m_threads = 0;
};

}  // namespace korvan
