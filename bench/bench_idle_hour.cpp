// An idle hour of Tolvane compressed to its ticks: the real window, shown on
// the X server named by DISPLAY, supervising thirty stand-ins that already
// run in FOLDER, with every tool "Lancer" and "Vérifier" at "01 Min". The
// four timers are stopped and their handlers are called back to back, as
// many times as an hour holds (14,400 clock ticks, 240 memory passes, 120
// batch ticks), with the clocks moved on by each tick's interval and every
// pending event handled after each tick. The CPU this takes is the work of
// an idle hour without the cost of waking up for it; the difference with the
// measured idle hour is what the wake-ups themselves cost. The window is
// minimised after loading, as always, so the clock label is not redrawn: the
// repaint count printed shows it. With "shown", the window is restored first,
// as when the operator looks at it, and the clock is drawn every second.
//
// Usage: bench_idle_hour FOLDER_WITH_RUNNING_STANDINS [shown]
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "journal/JournalFiles.h"
#include "platform/platform.h"
#include "supervisor/settings/SettingsStore.h"
#include "supervisor/ui/Frm_Main.h"

using namespace tolvane;

namespace {

// The real system, with both clocks moved on by the benchmark instead of
// by time.
class CompressedClock final : public platform::Platform {
public:
    CompressedClock(std::unique_ptr<platform::Platform> real, std::string folder)
        : m_real(std::move(real)),
          m_folder(std::move(folder)),
          m_tick(m_real->rawTickCount()),
          m_now(m_real->localNow()) {}

    void advance(std::chrono::milliseconds step) {
        m_tick += static_cast<std::uint32_t>(step.count());
        m_pending += step;
        const auto whole = std::chrono::duration_cast<std::chrono::seconds>(m_pending);
        m_now += whole;
        m_pending -= whole;
    }

    platform::StartResult startProgram(const std::string& path, const std::string& arguments, platform::ShowState show,
                                       const std::string& workingFolder) override {
        ++starts;
        return m_real->startProgram(path, arguments, show, workingFolder);
    }
    void killProcessesNamed(const std::string& baseName) override { m_real->killProcessesNamed(baseName); }
    std::vector<platform::ProcessInfo> listProcesses() override { return m_real->listProcesses(); }
    std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid) override { return m_real->workingSetBytes(pid); }
    std::uint32_t ownProcessId() override { return m_real->ownProcessId(); }
    std::optional<std::vector<platform::ProcessEndWatches>> watchProcessesNamed(
        const std::vector<std::string>& baseNames) override {
        return m_real->watchProcessesNamed(baseNames);
    }
    std::vector<platform::WindowPresence> topLevelWindowsPresence(const std::vector<std::string>& titles) override {
        return m_real->topLevelWindowsPresence(titles);
    }
    std::vector<platform::WindowResponse> windowsResponse(const std::vector<std::string>& titles) override {
        return m_real->windowsResponse(titles);
    }
    std::uint32_t rawTickCount() override { return m_tick; }
    std::chrono::local_seconds localNow() override { return m_now; }
    // The daily restart is no part of an idle hour: Krandel is never there.
    bool fileExists(const std::string& path) override {
        return path.ends_with("/Krandel") ? false : m_real->fileExists(path);
    }
    // The tools are looked for beside "Tolvane" in the folder.
    std::string ownExecutablePath() override { return m_folder + "/Tolvane"; }
    std::optional<platform::VersionInfo> ownVersion() override { return m_real->ownVersion(); }

    int starts = 0;

private:
    std::unique_ptr<platform::Platform> m_real;
    std::string m_folder;
    std::uint32_t m_tick;
    std::chrono::local_seconds m_now;
    std::chrono::milliseconds m_pending{0};
};

// Counts the clock label's repaints.
class PaintCounter final : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bench_idle_hour FOLDER_WITH_RUNNING_STANDINS [shown|metrics]\n", stderr);
        return 2;
    }
    const bool shown = argc > 2 && std::string(argv[2]) == "shown";
    // With a metrics folder: every window asked at each memory pass, and
    // the file written there (the folder is left under the stand-ins').
    const bool metrics = argc > 2 && std::string(argv[2]) == "metrics";
    QApplication app(argc, argv);
    CompressedClock clock(platform::createSystemPlatform(), argv[1]);
    MemorySettingsStore settings;
    for (int i = 0; i < ToolCount; ++i) {
        settings.values[{"Launch", indexKey(i)}] = "1";
        settings.values[{"Tempo", indexKey(i)}] = "0";
        settings.values[{"Check", indexKey(i)}] = "1";
        settings.values[{"Freq", indexKey(i)}] = "0";
    }
    if (metrics) {
        const std::string folder = std::string(argv[1]) + "/metrics";
        QDir().mkpath(QString::fromStdString(folder));
        settings.values[{"Metrics", "Folder"}] = folder;
    }

    // The journal as Tolvane has it (under $XDG_DATA_HOME): an idle hour
    // writes nothing, and this shows what having it costs.
    JournalFiles journal("bench_idle_hour");
    Frm_Main window(clock, settings);
    window.setJournal(journal, [&journal] { journal.removeExpiredFiles(); });
    window.Form_Initialize();
    window.Form_Load("");
    for (QTimer* timer : {window.TimerLaunch, window.TimerCheck, window.TimerMemoire, window.Timer30s}) timer->stop();
    if (shown) {
        window.showNormal();
        // Mapped and drawn once before the hour starts.
        for (int i = 0; i < 50 && !window.windowHandle()->isExposed(); ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(20);
        }
    }
    QApplication::processEvents();

    // The launch sequence finds the thirty windows and starts nothing.
    for (int pass = 0; pass < 100 && !window.supervision().LaunchFinished; ++pass) {
        clock.advance(std::chrono::milliseconds(100));
        window.TimerLaunch_Timer();
        QApplication::processEvents();
    }
    if (!window.supervision().LaunchFinished || clock.starts != 0) {
        std::fprintf(stderr,
                     "bench_idle_hour: the launch sequence did not find the thirty tools running (%d started)\n",
                     clock.starts);
        return 1;
    }

    PaintCounter clockPaints;
    window.LabelTiming->installEventFilter(&clockPaints);
    constexpr int ClockTicks = 3600 * 4;
    const double cpu0 = processCpuSeconds();
    const double wall0 = wallSeconds();
    for (int tick = 1; tick <= ClockTicks; ++tick) {
        clock.advance(std::chrono::milliseconds(250));
        window.TimerCheck_Timer();
        if (tick % 60 == 0) window.TimerMemoire_Timer();
        if (tick % 120 == 0) window.Timer30s_Timer();
        QApplication::processEvents();
    }
    const double cpu = processCpuSeconds() - cpu0;
    const double wall = wallSeconds() - wall0;

    const char* name = shown     ? "tolvane_idle_hour_compressed_shown"
                       : metrics ? "tolvane_idle_hour_compressed_metrics"
                                 : "tolvane_idle_hour_compressed";
    std::printf("%s_cpu: %.3f s (%d clock ticks, %d memory passes, %d batch ticks)\n", name, cpu, ClockTicks,
                ClockTicks / 60, ClockTicks / 120);
    std::printf("%s_wall: %.3f s\n", name, wall);
    std::printf("%s_clock_repaints: %d\n", name, clockPaints.paints);
    std::printf("%s_restarts: %d\n", name, clock.starts);
    return 0;
}
