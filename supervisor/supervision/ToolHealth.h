#pragma once
// What a tool's health needs beyond "its window exists": its end seen when
// it happens, and a tool that keeps being started again. Once a verification
// (or the memory pass's sweep) has seen a tool's window, the processes then
// running with its executable name are watched through the system's own
// notice of their end; when the last of them ends, the end is journaled and,
// for a tool with "Vérifier", a verification is made due after a short
// settle (ToolEndRules.h). A tool restarted three times within ten minutes
// is "en boucle" (ToolLoopRules.h): its restart and end lines are folded
// into the loop's own. The window of a tool with "Vérifier" is asked every
// few seconds whether it still answers (ToolFreezeRules.h): a frozen tool is
// shown and journaled, and restarted only where the operator chose it. The
// decisions are the pure rules; this class holds the watches and applies
// them. It has no Qt: the event loop's notifiers
// come in through EndNotifiers.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "common/MonotonicTickCount.h"
#include "journal/Journal.h"
#include "platform/platform.h"
#include "supervisor/core/ToolTable.h"
#include "supervisor/supervision/ToolEndRules.h"
#include "supervisor/supervision/ToolFreezeRules.h"
#include "supervisor/supervision/ToolLoopRules.h"

namespace tolvane {

class ToolRowsView;

// How the event loop tells that what a watch waits on was signalled: socket
// notifiers on Linux, event notifiers on Windows (the Qt shell), fired by
// hand in the tests.
class EndNotifiers {
public:
    virtual ~EndNotifiers() = default;
    class Subscription {
    public:
        virtual ~Subscription() = default;
    };
    // Calls `signalled` on the GUI thread once `waitable` is signalled, until
    // the subscription is destroyed, which `signalled` itself may do.
    virtual std::unique_ptr<Subscription> whenSignalled(std::intptr_t waitable, std::function<void()> signalled) = 0;
};

class ToolHealth {
public:
    // `launchFinished` is the supervision's own flag, read when an end comes.
    ToolHealth(platform::Platform& platform, ToolRowsView& view, MonotonicTickCount& tickCount,
               const bool& launchFinished);
    ~ToolHealth();
    ToolHealth(const ToolHealth&) = delete;
    ToolHealth& operator=(const ToolHealth&) = delete;

    void setJournal(JournalSink& journal) { m_journal = &journal; }
    // Without notifiers nothing is watched, and supervision is the periodic
    // verification alone.
    void setNotifiers(EndNotifiers* notifiers);

    // What the supervision tells -------------------------------------------
    void started(int tool);
    // The supervision started the tool again (`restart` is its journal
    // line): the line is written, or folded into the loop's.
    void restarted(int tool, const JournalEntry& restart);
    void killClicked(int tool);
    // A verification was answered: found arms the watch; found or absent
    // makes a pending verification after an end needless.
    void verified(int tool, platform::WindowPresence presence);

    // What the supervision asks --------------------------------------------
    bool watched(int tool) const;
    // The tools whose window the memory pass looks for: those with "Vérifier"
    // or verified during this run, whose processes are not watched.
    std::vector<int> toolsToLookFor();
    // Arms the watch of tools whose window was just found; a tool whose
    // processes could not be listed stays unwatched, looked for again.
    void arm(const std::vector<int>& tools);
    // The tools whose verification after an end is due now.
    std::vector<int> endVerificationsDue(bool launchFinished);
    // Processes with the tool's executable name, running as the settle ends;
    // those found are watched.
    RunningProcesses watchRunning(int tool);
    // The loops' hourly lines and their ends, on the memory pass.
    void loopTick();
    // "Redémarre en boucle : 5 fois en 10 min" while the tool loops.
    std::optional<std::string> loopTooltip(int tool);
    // On every tick: asks, when due, whether the windows of the tools with
    // "Vérifier" still answer, and acts on what changed. Reads only the
    // clock until a question is due.
    void freezeTick();
    // "Ne répond plus depuis 03:12:45" while the tool is frozen.
    std::optional<std::string> freezeTooltip(int tool) const;
    // Whether the tool restarts in a loop now.
    bool looping(int tool) const { return m_loops.at(static_cast<std::size_t>(tool)).looping(); }
    // Its last copy was ended because it no longer answered (until the next
    // start), so the start that follows is a restart on freeze.
    bool endedByFreezeRestart(int tool) const {
        return isToolIndex(tool) && m_freezeKilled[static_cast<std::size_t>(tool)];
    }
    const ToolFreezeState& freezeState(int tool) const { return m_freezes.at(static_cast<std::size_t>(tool)); }

    // The state of one tool, for the tests.
    const ToolEndState& state(int tool) const { return m_states.at(static_cast<std::size_t>(tool)); }

private:
    struct Watched {
        std::unique_ptr<platform::ProcessEndWatch> watch;
        // Destroyed before the watch that holds what it waits on.
        std::unique_ptr<EndNotifiers::Subscription> subscription;
    };
    void hold(int tool, platform::ProcessEndWatches watches);
    void processEnded(int tool, std::uint32_t pid);
    void seenRunning(int tool) { m_loops[static_cast<std::size_t>(tool)].seenRunning(); }
    void journalLoop(int tool, const std::optional<LoopLine>& line);
    void forgetFreeze(int tool);
    void applyFreezeStep(int tool, const FreezeStep& step, int restartMinutes);

    platform::Platform& m_platform;
    ToolRowsView& m_view;
    MonotonicTickCount& m_tickCount;
    const bool& m_launchFinished;
    JournalSink* m_journal = &noJournal();
    EndNotifiers* m_notifiers = nullptr;
    std::array<ToolEndState, ToolCount> m_states{};
    std::array<bool, ToolCount> m_verifiedThisRun{};
    std::array<std::vector<Watched>, ToolCount> m_watches;
    std::array<ToolLoop, ToolCount> m_loops{};
    std::array<ToolFreezeState, ToolCount> m_freezes{};
    // When a frozen tool's silence began, by the wall clock (its tooltip).
    std::array<std::optional<std::chrono::local_seconds>, ToolCount> m_frozenSince{};
    std::optional<std::int64_t> m_nextFreezeQuestion;
    std::array<bool, ToolCount> m_freezeKilled{};
};

}  // namespace tolvane
