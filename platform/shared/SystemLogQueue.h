#pragma once
// Lines for the system's log, handed to one background thread so that the
// caller never waits for the log: the Windows event log answers through a
// service that can be slow or stuck, and supervision must never wait on its
// own journal. The queue is small and bounded; a line that does not fit is
// dropped at once. No OS header: the Win32 backend gives the writer, and the
// tests give one they can hold up.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace tolvane::platform {

class SystemLogQueue {
public:
    struct Line {
        std::string identifier;
        LogSeverity severity = LogSeverity::Information;
        std::string message;
    };

    // Writes the lines, on the queue's thread only. It is destroyed on that
    // thread once the last line is written, which is where it lets go of
    // what it holds (the event sources' handles).
    class Writer {
    public:
        virtual ~Writer() = default;
        virtual void write(const Line& line) = 0;
    };

    static constexpr std::size_t DefaultCapacity = 64;
    static constexpr std::chrono::milliseconds DefaultDrainTime{1000};

    // Starts the thread. A queue whose thread could not be started takes no
    // line.
    explicit SystemLogQueue(std::unique_ptr<Writer> writer, std::size_t capacity = DefaultCapacity,
                            std::chrono::milliseconds drainTime = DefaultDrainTime);
    // Lets the thread write what is queued (a program's closing line is
    // written just before it ends) for at most drainTime, then joins it; a
    // thread still held up by the log after that is left to the end of the
    // process, with everything it uses, so the program ends on time.
    ~SystemLogQueue();
    SystemLogQueue(const SystemLogQueue&) = delete;
    SystemLogQueue& operator=(const SystemLogQueue&) = delete;

    // Queues the line; false, without waiting, when the queue is full or
    // has no thread: the line is dropped.
    bool push(Line line);

    // Waits until every queued line is written, at most `timeout`; true
    // when they all were. For a program about to end without running its
    // destructors, so its closing line still reaches the log.
    bool drain(std::chrono::milliseconds timeout);

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    std::chrono::milliseconds m_drainTime;
};

}  // namespace tolvane::platform
