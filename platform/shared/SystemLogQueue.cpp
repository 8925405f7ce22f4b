#include "platform/shared/SystemLogQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace tolvane::platform {

// Everything the thread uses, kept alive by the thread itself as long as it
// runs: a thread left behind at the end of the process never touches a
// destroyed queue.
struct SystemLogQueue::Shared {
    std::mutex mutex;
    std::condition_variable wake;     // a line, or the end
    std::condition_variable stopped;  // the thread is done
    std::condition_variable idle;     // nothing queued and nothing being written
    std::deque<Line> lines;
    std::size_t capacity = 0;
    bool running = false;
    bool stopping = false;
    bool finished = false;
    bool writing = false;
    std::unique_ptr<Writer> writer;
};

void SystemLogQueue::run(const std::shared_ptr<Shared>& shared) {
    for (;;) {
        Line line;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return !shared->lines.empty() || shared->stopping; });
            if (shared->lines.empty()) break;  // asked to stop, and everything is written
            line = std::move(shared->lines.front());
            shared->lines.pop_front();
            shared->writing = true;
        }
        try {
            shared->writer->write(line);
        } catch (...) {
            // A line the writer could not take is lost; the next may fare better.
        }
        std::lock_guard lock(shared->mutex);
        shared->writing = false;
        if (shared->lines.empty()) shared->idle.notify_all();
    }
    // Handles and the like are let go on this thread, before it says it is
    // done.
    shared->writer.reset();
    std::lock_guard lock(shared->mutex);
    shared->finished = true;
    shared->stopped.notify_all();
}

SystemLogQueue::SystemLogQueue(std::unique_ptr<Writer> writer, std::size_t capacity,
                               std::chrono::milliseconds drainTime)
    : m_shared(std::make_shared<Shared>()),
      m_drainTime(drainTime) {
    m_shared->capacity = capacity;
    m_shared->writer = std::move(writer);
    if (!m_shared->writer) return;
    try {
        m_thread = std::thread([shared = m_shared] { run(shared); });
        std::lock_guard lock(m_shared->mutex);
        m_shared->running = true;
    } catch (...) {
        // No thread to be had: every line is dropped, nothing else changes.
    }
}

SystemLogQueue::~SystemLogQueue() {
    if (!m_thread.joinable()) return;
    bool finished = false;
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->stopping = true;
        m_shared->wake.notify_all();
        finished = m_shared->stopped.wait_for(lock, m_drainTime, [this] { return m_shared->finished; });
    }
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
}

bool SystemLogQueue::drain(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_shared->mutex);
    if (!m_shared->running) return m_shared->lines.empty();
    return m_shared->idle.wait_for(lock, timeout, [this] { return m_shared->lines.empty() && !m_shared->writing; });
}

bool SystemLogQueue::push(Line line) {
    try {
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->running || m_shared->stopping || m_shared->lines.size() >= m_shared->capacity) return false;
        m_shared->lines.push_back(std::move(line));
    } catch (...) {
        return false;  // no memory for the line
    }
    m_shared->wake.notify_one();
    return true;
}

}  // namespace tolvane::platform
