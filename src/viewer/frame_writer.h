// Encoding and writing of milling frames on a worker thread, so that the next frame is computed
// and drawn meanwhile.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "geometry/status.h"
#include "image/image.h"

namespace korvan {

// What became of one frame handed to the writer.
struct FrameOutcome {
    int32_t number = 0;
    std::string fileName;  // imageFileName(baseName, number, extension)
    Status status;         // SaveViewImage's, or the failure handed in with pushFailed
    bool drawn = true;     // false for a frame that failed before it reached the writer
};

// Writes frames with SaveViewImage in the order they were pushed, at most `capacity` waiting;
// push blocks while the queue is full, so memory stays bounded however slow the disk is.
// Outcomes come back on the pushing thread, in the same order, through takeFinished and
// finish. The worker thread blocks SIGINT and SIGTERM for its whole life, so those signals
// reach the other threads' handlers and never cut a frame's file short. When no thread can be
// started, frames are written at once by push.
class FrameWriter {
public:
    explicit FrameWriter(size_t capacity = 2);
    // Writes whatever is still queued, then ends the worker.
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    void push(RgbImage picture, int32_t number, const std::string& baseName,
              const std::string& extension);
    // A frame that has no picture to write; its outcome keeps its place in the order.
    void pushFailed(int32_t number, const std::string& baseName, const std::string& extension,
                    Status why);

    // Outcomes of the frames finished since the last call, oldest first; does not wait.
    std::vector<FrameOutcome> takeFinished();
    // Waits until every pushed frame is finished and returns the outcomes not taken yet.
    std::vector<FrameOutcome> finish();

private:
    struct Job {
        RgbImage picture;
        std::string baseName;
        std::string extension;
        FrameOutcome outcome;
    };

    void enqueue(Job job);
    static void write(Job& job);
    void work();

    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_waiting;
    std::vector<FrameOutcome> m_finished;
    size_t m_busy = 0;  // jobs taken by the worker and not finished yet
    bool m_closing = false;
    std::thread m_worker;  // last, so that it starts with everything above in place
};

}  // namespace korvan
