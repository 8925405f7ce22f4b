// The event IDs and types the Windows event log is given, and the queue
// that keeps the log's writing off the caller's thread. Pure code, run on
// Linux and, cross-built, under wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/shared/SystemLogQueue.h"
#include "platform/shared/WindowsEventLog.h"

namespace {

using namespace std::chrono_literals;
using tolvane::platform::LogSeverity;
using tolvane::platform::SystemLogQueue;
using Line = SystemLogQueue::Line;

TEST(WindowsEventLog, IdsCarryWindmcsSeverityBitsTypesAreTheSdksAndTheNumberIsTheLinesFirstWord) {
    // The IDs as windmc wrote them into its header for these messages
    // (Event Viewer shows their low 16 bits as the event number).
    const std::tuple<LogSeverity, std::uint16_t, std::uint32_t, std::uint16_t> ids[] = {
        {LogSeverity::Information, 1000, 0x400003E8u, 0x0004}, {LogSeverity::Warning, 2003, 0x800007D3u, 0x0002},
        {LogSeverity::Error, 2010, 0xC00007DAu, 0x0001},       {LogSeverity::Error, 9001, 0xC0002329u, 0x0001},
        {LogSeverity::Information, 0, 0x40000000u, 0x0004},    {LogSeverity::Warning, 65535, 0x8000FFFFu, 0x0002},
    };
    for (const auto& [severity, number, id, type] : ids) {
        EXPECT_EQ(tolvane::platform::eventLogEventId(severity, number), id) << number;
        EXPECT_EQ(tolvane::platform::eventLogType(severity), type) << number;
    }
    const std::pair<const char*, std::uint16_t> lines[] = {
        {"2003 [6 VX8_Tools_Data] Relancé : la vérification n'a trouvé aucune fenêtre", 2003},
        {"1000 [-] Tolvane démarré | version : 2026.1208.0556", 1000},
        {"9001", 9001},
        {"65535 x", 65535},
        {"65536 x", 0},  // past a 16-bit event number
        {"99999999999999999999 x", 0},
        {"", 0},
        {"[-] no number", 0},
        {" 2003 leading blank", 0},
        {"2003[6 x]", 0},
        {"20a3 x", 0},
        {"-2003 x", 0},
    };
    for (const auto& [line, number] : lines) EXPECT_EQ(tolvane::platform::eventLogNumber(line), number) << line;
}

// What the writer saw, and a gate that can hold it up, shared with the
// queue's thread (which may outlive the queue).
struct Probe {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Line> written;
    bool gateOpen = true;
    bool writing = false;
    std::thread::id writerThread;
    bool writerDestroyed = false;
    std::thread::id destroyedOn;

    void open() {
        std::lock_guard lock(mutex);
        gateOpen = true;
        changed.notify_all();
    }
    template <class Condition>
    bool waitFor(Condition condition, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, condition);
    }
};

class ProbeWriter final : public SystemLogQueue::Writer {
public:
    explicit ProbeWriter(std::shared_ptr<Probe> probe) : m_probe(std::move(probe)) {}
    ~ProbeWriter() override {
        std::lock_guard lock(m_probe->mutex);
        m_probe->writerDestroyed = true;
        m_probe->destroyedOn = std::this_thread::get_id();
        m_probe->changed.notify_all();
    }
    void write(const Line& line) override {
        std::unique_lock lock(m_probe->mutex);
        m_probe->writing = true;
        m_probe->writerThread = std::this_thread::get_id();
        m_probe->changed.notify_all();
        m_probe->changed.wait(lock, [&] { return m_probe->gateOpen; });
        m_probe->written.push_back(line);
        m_probe->writing = false;
        m_probe->changed.notify_all();
    }

private:
    std::shared_ptr<Probe> m_probe;
};

Line line(int n, LogSeverity severity = LogSeverity::Information) {
    return {"Tolvane", severity, std::to_string(2000 + n) + " [" + std::to_string(n) + " VX8_Player] Démarré"};
}

TEST(SystemLogQueue, LinesReachTheWriterInOrderOnItsOwnThreadWhichEndsWithTheQueue) {
    auto probe = std::make_shared<Probe>();
    {
        SystemLogQueue queue(std::make_unique<ProbeWriter>(probe));
        EXPECT_TRUE(queue.push(line(1, LogSeverity::Warning)));
        EXPECT_TRUE(queue.push(line(2, LogSeverity::Error)));
        EXPECT_TRUE(queue.push(line(3)));
        ASSERT_TRUE(probe->waitFor([&] { return probe->written.size() == 3; }, 5s));
    }
    std::lock_guard lock(probe->mutex);
    ASSERT_EQ(probe->written.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(probe->written[n - 1].identifier, "Tolvane");
        EXPECT_EQ(probe->written[n - 1].message, line(n).message);
    }
    EXPECT_EQ(probe->written[0].severity, LogSeverity::Warning);
    EXPECT_EQ(probe->written[1].severity, LogSeverity::Error);
    EXPECT_NE(probe->writerThread, std::this_thread::get_id()) << "the caller wrote the line itself";
    // The writer (the event sources' handles) is let go when the queue ends,
    // on the queue's thread.
    EXPECT_TRUE(probe->writerDestroyed);
    EXPECT_EQ(probe->destroyedOn, probe->writerThread);
}

TEST(SystemLogQueue, ALogThatHoldsUpDropsWhatDoesNotFitWithoutWaitingAndTakesLinesAgainOnceItMoves) {
    constexpr std::size_t capacity = 4;
    auto probe = std::make_shared<Probe>();
    probe->gateOpen = false;
    SystemLogQueue queue(std::make_unique<ProbeWriter>(probe), capacity);
    ASSERT_TRUE(queue.push(line(0)));
    // The first line is being written (and held up): four more fit.
    ASSERT_TRUE(probe->waitFor([&] { return probe->writing; }, 5s));
    for (int n = 1; n <= static_cast<int>(capacity); ++n) EXPECT_TRUE(queue.push(line(n))) << n;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue.push(line(99))) << "a full queue took one more line";
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms) << "a full queue made the caller wait";

    probe->open();
    ASSERT_TRUE(probe->waitFor([&] { return probe->written.size() == capacity + 1 && !probe->writing; }, 5s));
    EXPECT_TRUE(queue.push(line(5)));
    ASSERT_TRUE(probe->waitFor([&] { return probe->written.size() == capacity + 2; }, 5s));
    std::lock_guard lock(probe->mutex);
    for (std::size_t n = 0; n < probe->written.size(); ++n)
        EXPECT_EQ(probe->written[n].message, line(static_cast<int>(n)).message) << "line 99 was dropped, not late";
}

TEST(SystemLogQueue, TheEndWritesWhatIsQueuedButNeverWaitsLongerThanItsDrainTimeForAStuckLog) {
    // A log that answers: the closing lines queued last are written before
    // drain() returns (a program ending without destructors), and before
    // the queue's end returns.
    {
        auto probe = std::make_shared<Probe>();
        {
            SystemLogQueue queue(std::make_unique<ProbeWriter>(probe), 64, 5s);
            for (int n = 0; n < 10; ++n) ASSERT_TRUE(queue.push(line(n)));
            EXPECT_TRUE(queue.drain(5s));
            EXPECT_EQ(probe->written.size(), 10u);
            for (int n = 10; n < 20; ++n) ASSERT_TRUE(queue.push(line(n)));
        }
        std::lock_guard lock(probe->mutex);
        EXPECT_EQ(probe->written.size(), 20u);
        EXPECT_TRUE(probe->writerDestroyed);
    }
    // A log that never answers: the end comes after the drain time, the
    // thread is left behind with what it uses, and it still ends cleanly
    // when the log moves again.
    auto probe = std::make_shared<Probe>();
    probe->gateOpen = false;
    auto queue = std::make_unique<SystemLogQueue>(std::make_unique<ProbeWriter>(probe), 64, 200ms);
    ASSERT_TRUE(queue->push(line(0)));
    ASSERT_TRUE(probe->waitFor([&] { return probe->writing; }, 5s));
    const auto before = std::chrono::steady_clock::now();
    queue.reset();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 2s) << "a stuck log held up the end";
    probe->open();
    EXPECT_TRUE(probe->waitFor([&] { return probe->writerDestroyed; }, 5s));
}

TEST(SystemLogQueue, AQueueWithoutAWriterTakesNoLine) {
    SystemLogQueue queue(nullptr);
    EXPECT_FALSE(queue.push(line(1)));
}

}  // namespace
