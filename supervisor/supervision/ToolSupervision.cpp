#include "supervisor/supervision/ToolSupervision.h"

#include <algorithm>
#include <vector>

#include "supervisor/core/Startup.h"
#include "supervisor/core/TextHelpers.h"
#include "supervisor/supervision/ToolEndRules.h"
#include "supervisor/supervision/ToolRules.h"

namespace tolvane {

namespace {
constexpr std::string_view SectionLaunch = "Launch";
constexpr std::string_view SectionMinimiser = "Minimiser";
constexpr std::string_view SectionTempo = "Tempo";
constexpr std::string_view SectionCheck = "Check";
constexpr std::string_view SectionArguments = "Arguments";
constexpr std::string_view SectionFreq = "Freq";
constexpr std::string_view SectionFrozen = "Frozen";
}  // namespace

std::chrono::local_seconds unsetNextCheck() {
    using namespace std::chrono;
    return local_days{year{1899} / December / 30};
}

ToolSupervision::ToolSupervision(platform::Platform& platform, SettingsStore& settings, ToolRowsView& view,
                                 MonotonicTickCount& tickCount)
    : m_platform(platform),
      m_settings(settings),
      m_view(view),
      m_tickCount(tickCount) {
    NextCheck.fill(unsetNextCheck());
    LastPresence.fill(platform::WindowPresence::Unknown);
}

std::optional<StartWay> startWay(JournalEvent startEvent, bool afterFreezeKill) {
    switch (startEvent) {
        case JournalEvent::ToolStartedByLaunchSequence: return StartWay::Launch;
        case JournalEvent::ToolStartedByCheckButton: return StartWay::Button;
        case JournalEvent::ToolStartedByBatch: return StartWay::Batch;
        case JournalEvent::ToolRestartedByVerification: return StartWay::Verification;
        case JournalEvent::ToolRestartedAfterEnd: return afterFreezeKill ? StartWay::Freeze : StartWay::End;
        default: return std::nullopt;
    }
}

std::string ToolSupervision::rowArguments(int index) { return trimSpaces(m_view.argumentsText(index)); }

bool ToolSupervision::LaunchProcess(int index, bool standby, const std::string& arguments, const StartCause& cause) {
    const auto path = toolExecutablePath(BasePath, index, platform::executableSuffix());
    if (!path) return false;
    const std::string commandArguments = toolArguments(standby, arguments);
    // Every start is minimised whatever standby says: standby only asks the
    // tool, through its own switch, to keep out of sight. A tool runs in its
    // own folder, whichever folder Tolvane was started from (the system
    // folder, from the logon's Run entry): a tool that opens a file by a
    // relative name finds it after a logon as it does when started by hand.
    const auto result = m_platform.startProgram(*path, commandArguments, platform::ShowState::Minimised, BasePath);
    JournalEntry entry{result.started ? cause.event : JournalEvent::ToolStartRefused, index, {}};
    if (!result.started) {
        entry.details.push_back({"demande", std::string(startRequestText(cause.event))});
        entry.details.push_back({"raison", result.failure});
    }
    entry.details.insert(entry.details.end(), cause.details.begin(), cause.details.end());
    entry.details.push_back({"arguments", commandArguments});
    // A restart by the supervision itself may be folded into a loop's lines.
    if (result.started && isRestartEvent(cause.event))
        m_health.restarted(index, entry);
    else
        m_journal->record(entry);
    if (result.started) {
        // Read before started(), which forgets why the last copy ended.
        if (const auto way = startWay(cause.event, m_health.endedByFreezeRestart(index))) {
            ++StartCounts[static_cast<std::size_t>(index)][static_cast<std::size_t>(*way)];
            LastStart[static_cast<std::size_t>(index)] = m_platform.localNow();
        }
        m_health.started(index);
    }
    return result.started;
}

void ToolSupervision::restartCountdown(int index) {
    if (!isToolIndex(index)) return;
    if (const auto period = periodSeconds(m_view.periodIndex(index)))
        NextCheck[static_cast<std::size_t>(index)] = m_platform.localNow() + std::chrono::seconds{*period};
}

void ToolSupervision::showNextCheck(int index) {
    if (!isToolIndex(index)) return;
    m_view.setNextCheckText(index, formatHms(NextCheck[static_cast<std::size_t>(index)]));
}

void ToolSupervision::noteDisplayAnswer(platform::WindowPresence presence) {
    const bool answering = presence != platform::WindowPresence::Unknown;
    if (answering == m_displayAnswering) return;
    m_displayAnswering = answering;
    m_journal->record({answering ? JournalEvent::DisplayAnsweringAgain : JournalEvent::DisplayNotAnswering, {}, {}});
}

bool ToolSupervision::applyCheck(int index, platform::WindowPresence presence, bool standby,
                                 const std::string& arguments, JournalEvent startEvent) {
    noteDisplayAnswer(presence);
    const CheckAction action = checkAction(presence);
    if (action.start) LaunchProcess(index, standby, arguments, StartCause{startEvent, {}});
    // A window seen arms the watch of the tool's processes.
    m_health.verified(index, presence);
    if (!action.reschedule) return false;
    restartCountdown(index);
    showNextCheck(index);
    return true;
}

bool ToolSupervision::CheckProcess(int index, bool standby, const std::string& arguments, JournalEvent startEvent) {
    const auto name = toolBaseName(index);
    if (!name) return true;
    return applyCheck(index, m_platform.topLevelWindowPresence(std::string(*name)), standby, arguments, startEvent);
}

void ToolSupervision::CommandKillProcess_Click(int index) {
    const auto name = toolBaseName(index);
    if (!name) return;
    // Neither ToolLaunched nor NextCheck change: a verified tool comes back
    // at its next verification, even though its end is seen at once.
    m_health.killClicked(index);
    m_platform.killProcessesNamed(std::string(*name));
    m_journal->record(
        {JournalEvent::ToolKilled, index, {{"programme", std::string(*name) + platform::executableSuffix()}}});
}

bool ToolSupervision::TimerLaunch_Timer() {
    if (LaunchFinished) return false;
    if (LaunchEnabled) {
        std::array<LaunchRow, ToolCount> rows;
        for (int i = 0; i < ToolCount; ++i) {
            auto& row = rows[static_cast<std::size_t>(i)];
            row.ticked = m_view.launchValue(i) == 1;
            row.delayText = row.ticked ? m_view.tempoText(i) : std::string();
            row.launched = ToolLaunched[static_cast<std::size_t>(i)];
        }
        const LaunchPass pass = launchPass(rows, m_tickCount() - LaunchStartTick);
        // One question for every tool of the pass.
        std::vector<std::string> titles;
        for (const int i : pass.handOver) titles.emplace_back(*toolBaseName(i));
        const auto presence =
            titles.empty() ? std::vector<platform::WindowPresence>{} : m_platform.topLevelWindowsPresence(titles);
        bool waiting = !pass.allDone;
        for (std::size_t k = 0; k < pass.handOver.size(); ++k) {
            const int i = pass.handOver[k];
            const auto answer = k < presence.size() ? presence[k] : platform::WindowPresence::Unknown;
            if (answer == platform::WindowPresence::Unknown) {
                noteDisplayAnswer(answer);
                // Not handed over: a later pass asks again, and the sequence
                // does not end before it has.
                waiting = true;
                continue;
            }
            // Set before the start, so a tool is never handed over twice.
            ToolLaunched[static_cast<std::size_t>(i)] = true;
            applyCheck(i, answer, m_view.minimiserValue(i) == 1, rowArguments(i),
                       JournalEvent::ToolStartedByLaunchSequence);
        }
        if (waiting) return true;
    }
    LaunchFinished = true;
    return false;
}

void ToolSupervision::TimerCheck_Timer() {
    const auto now = m_platform.localNow();
    if (now != m_clockShown) {
        m_view.setClockText(formatHms(now));
        m_clockShown = now;
    }
    // Frozen windows are looked for during the launch sequence too; what a
    // restart on freeze ends comes back once the sequence is over.
    m_health.freezeTick();
    if (!LaunchFinished) return;

    std::vector<int> due;
    for (int i = 0; i < ToolCount; ++i) {
        if (m_view.checkValue(i) != 1) continue;
        auto& next = NextCheck[static_cast<std::size_t>(i)];
        const auto bounded = boundedNextCheck(next, now, periodSeconds(m_view.periodIndex(i)));
        if (bounded != next) {
            next = bounded;
            showNextCheck(i);
        }
        if (verificationDue(1, now, next)) due.push_back(i);
    }
    if (!due.empty()) {
        // One sweep of the window list answers every due tool of this tick.
        std::vector<std::string> titles;
        titles.reserve(due.size());
        for (const int i : due) titles.emplace_back(*toolBaseName(i));
        const auto presence = m_platform.topLevelWindowsPresence(titles);
        for (std::size_t k = 0; k < due.size(); ++k) {
            const int i = due[k];
            // An unknown answer leaves the tool due: it is asked again next tick.
            applyCheck(i, k < presence.size() ? presence[k] : platform::WindowPresence::Unknown, false, rowArguments(i),
                       JournalEvent::ToolRestartedByVerification);
        }
    }
    // After the periodic ones, which answer a pending one of the same tool.
    verifyAfterEnds();
}

void ToolSupervision::verifyAfterEnds() {
    for (const int i : m_health.endVerificationsDue(LaunchFinished)) {
        // A process with the tool's name running as the settle ends (a
        // program that restarted itself, an update that replaced it) is
        // watched and nothing is started; the window is asked only when
        // none runs.
        const RunningProcesses running = m_health.watchRunning(i);
        auto presence = platform::WindowPresence::Unknown;
        if (running != RunningProcesses::Some) {
            presence = m_platform.topLevelWindowPresence(std::string(*toolBaseName(i)));
            noteDisplayAnswer(presence);
        }
        const SettleAction action = settleAction(running, presence);
        if (action.start) LaunchProcess(i, false, rowArguments(i), StartCause{JournalEvent::ToolRestartedAfterEnd, {}});
        // Not answered: still due, asked again at the next tick.
        if (!action.done) continue;
        // A process found running answers as a window found would; it is
        // watched already.
        m_health.verified(i, running == RunningProcesses::Some ? platform::WindowPresence::Found : presence);
        restartCountdown(i);
        showNextCheck(i);
    }
}

void ToolSupervision::CommandImportNow_Click(int index) {
    if (!isToolIndex(index)) return;
    CheckProcess(index, false, rowArguments(index), JournalEvent::ToolStartedByCheckButton);
}

void ToolSupervision::CheckCheck_Click(int index) {
    if (!isToolIndex(index)) return;
    const int value = m_view.checkValue(index);
    m_settings.SaveSetting(SectionCheck, indexKey(index), std::to_string(value));
    if (value == 1) m_view.setVerificationControlsVisible(index, true);
    if (value == 0) m_view.setVerificationControlsVisible(index, false);
}

void ToolSupervision::FreezeRestart_Click(int index) {
    if (!isToolIndex(index)) return;
    m_settings.SaveSetting(SectionFrozen, indexKey(index), std::to_string(m_view.freezeRestartMinutes(index)));
}

void ToolSupervision::ComboFrequenceVerification_Click(int index) {
    if (!isToolIndex(index)) return;
    restartCountdown(index);
    showNextCheck(index);
    m_settings.SaveSetting(SectionFreq, indexKey(index), std::to_string(m_view.periodIndex(index)));
}

void ToolSupervision::CheckLaunchWindows_Click(int index) {
    if (!isToolIndex(index)) return;
    m_settings.SaveSetting(SectionLaunch, indexKey(index), std::to_string(m_view.launchValue(index)));
}

void ToolSupervision::CheckMinimiser_Click(int index) {
    if (!isToolIndex(index)) return;
    m_settings.SaveSetting(SectionMinimiser, indexKey(index), std::to_string(m_view.minimiserValue(index)));
}

void ToolSupervision::TexteTemporisation_Change(int index) {
    if (!isToolIndex(index)) return;
    m_settings.SaveSetting(SectionTempo, indexKey(index), m_view.tempoText(index));
}

void ToolSupervision::TexteArguments_Change(int index) {
    if (!isToolIndex(index)) return;
    m_settings.SaveSetting(SectionArguments, indexKey(index), m_view.argumentsText(index));
}

void ToolSupervision::TimerMemoire_Timer() {
    std::array<std::string, ToolCount> figures;
    LastWorkingSet.fill(std::nullopt);
    for (const auto& process : m_platform.listProcesses()) {
        const auto tool = toolForImageName(process.imageName, platform::executableSuffix());
        if (!tool) continue;
        // The later process of a tool decides its box. One that cannot be
        // read empties it: the box never shows the figure of a process that
        // is not the one it stands for.
        const auto bytes = m_platform.workingSetBytes(process.pid);
        figures[static_cast<std::size_t>(*tool)] = bytes ? std::to_string(megabytesHalfEven(*bytes)) : std::string();
        LastWorkingSet[static_cast<std::size_t>(*tool)] = bytes;
    }
    for (int i = 0; i < ToolCount; ++i) m_view.setMemoryText(i, figures[static_cast<std::size_t>(i)]);
    m_view.setOwnMemoryText(std::to_string(MemoryUsage()));
    m_health.loopTick();

    // One question for every tool still to be watched (or for all of them);
    // an unknown answer arms nothing and is asked again at the next pass.
    const auto toWatch = m_health.toolsToLookFor();
    std::vector<int> tools = toWatch;
    if (AskEveryWindow) {
        tools.resize(ToolCount);
        for (int i = 0; i < ToolCount; ++i) tools[static_cast<std::size_t>(i)] = i;
    }
    LastPresence.fill(platform::WindowPresence::Unknown);
    if (tools.empty()) return;
    std::vector<std::string> titles;
    for (const int i : tools) titles.emplace_back(*toolBaseName(i));
    const auto presence = m_platform.topLevelWindowsPresence(titles);
    std::vector<int> found;
    for (std::size_t k = 0; k < tools.size() && k < presence.size(); ++k) {
        if (k == 0) noteDisplayAnswer(presence[k]);
        LastPresence[static_cast<std::size_t>(tools[k])] = presence[k];
        if (presence[k] == platform::WindowPresence::Found &&
            std::find(toWatch.begin(), toWatch.end(), tools[k]) != toWatch.end())
            found.push_back(tools[k]);
    }
    m_health.arm(found);
}

int ToolSupervision::MemoryUsage() {
    const auto bytes = m_platform.workingSetBytes(m_platform.ownProcessId());
    return bytes ? megabytesHalfEven(*bytes) : 0;
}

}  // namespace tolvane
