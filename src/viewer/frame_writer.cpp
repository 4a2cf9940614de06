#include "viewer/frame_writer.h"

#include <signal.h>

#include <new>
#include <system_error>
#include <utility>

namespace korvan {

FrameWriter::FrameWriter(size_t capacity) : m_capacity(capacity > 0 ? capacity : 1) {
    // The thread inherits the mask it is started with: blocked from its first instruction, an
    // interrupt cannot land on it and is left to the thread that watches for it.
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    sigset_t previous;
    const bool masked = ::pthread_sigmask(SIG_BLOCK, &interrupts, &previous) == 0;
    try {
        m_worker = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        // No thread: push writes synchronously.
    }
    if (masked) {
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
}

FrameWriter::~FrameWriter() {
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void FrameWriter::push(RgbImage picture, int32_t number, const std::string& baseName,
                       const std::string& extension) {
    Job job{std::move(picture), baseName, extension, {}};
    job.outcome.number = number;
    enqueue(std::move(job));
}

void FrameWriter::pushFailed(int32_t number, const std::string& baseName,
                             const std::string& extension, Status why) {
    Job job{{}, baseName, extension, {}};
    job.outcome.number = number;
    job.outcome.status = std::move(why);
    job.outcome.drawn = false;
    enqueue(std::move(job));
}

void FrameWriter::enqueue(Job job) {
    job.outcome.fileName = imageFileName(job.baseName, job.outcome.number, job.extension);
    if (!m_worker.joinable()) {
        write(job);
        const std::lock_guard lock(m_mutex);
        m_finished.push_back(std::move(job.outcome));
        return;
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_waiting.size() < m_capacity; });
    m_waiting.push_back(std::move(job));
    lock.unlock();
    m_changed.notify_all();
}

void FrameWriter::write(Job& job) {
    if (job.outcome.drawn) {
        try {
            job.outcome.status =
                SaveViewImage(job.picture, job.outcome.number, job.baseName, job.extension);
        } catch (const std::bad_alloc&) {
            // Nothing may escape the worker; the frame is one that could not be written.
            job.outcome.status = Status::failure(kOutOfMemoryMessage);
        }
    }
    job.picture = RgbImage();
}

void FrameWriter::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_closing || !m_waiting.empty(); });
        if (m_waiting.empty()) {
            return;  // closing, and nothing left to write
        }
        Job job = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_busy;
        lock.unlock();
        m_changed.notify_all();  // room in the queue
        write(job);
        lock.lock();
        m_finished.push_back(std::move(job.outcome));
        --m_busy;
        m_changed.notify_all();
    }
}

std::vector<FrameOutcome> FrameWriter::takeFinished() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_finished, {});
}

std::vector<FrameOutcome> FrameWriter::finish() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_waiting.empty() && m_busy == 0; });
    return std::exchange(m_finished, {});
}

}  // namespace korvan
