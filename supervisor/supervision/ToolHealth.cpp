#include "supervisor/supervision/ToolHealth.h"

#include <algorithm>
#include <string>

#include "supervisor/core/Startup.h"
#include "supervisor/supervision/ToolRules.h"
#include "supervisor/supervision/ToolSupervision.h"

namespace tolvane {

namespace {

std::string secondsText(std::int64_t ms) { return std::to_string((ms + 500) / 1000) + " s"; }

std::string followUpText(const EndOutcome& outcome) {
    switch (outcome.followUp) {
        case EndFollowUp::VerifyAfterSettle: return "vérification dans " + secondsText(outcome.settleMs);
        case EndFollowUp::NotVerified: return "aucune : « Vérifier » n'est pas coché";
        case EndFollowUp::AfterLaunchSequence: return "vérification après la séquence de lancement";
        case EndFollowUp::NextVerification: return "à sa prochaine vérification";
    }
    return {};
}

}  // namespace

ToolHealth::ToolHealth(platform::Platform& platform, ToolRowsView& view, MonotonicTickCount& tickCount,
                       const bool& launchFinished)
    : m_platform(platform),
      m_view(view),
      m_tickCount(tickCount),
      m_launchFinished(launchFinished) {}

ToolHealth::~ToolHealth() = default;

void ToolHealth::setNotifiers(EndNotifiers* notifiers) {
    // Watches made with other notifiers (or none) are let go: they are found
    // again at the next verification or sweep.
    for (auto& watches : m_watches) watches.clear();
    m_notifiers = notifiers;
}

void ToolHealth::started(int tool) {
    if (!isToolIndex(tool)) return;
    toolStarted(m_states[static_cast<std::size_t>(tool)], m_tickCount());
    m_freezeKilled[static_cast<std::size_t>(tool)] = false;
    // A new copy: its window's silence, if any, is counted afresh after the grace.
    forgetFreeze(tool);
}

void ToolHealth::restarted(int tool, const JournalEntry& restart) {
    if (!isToolIndex(tool)) return;
    const ToolLoop::Step step = m_loops[static_cast<std::size_t>(tool)].restarted(m_tickCount());
    // The end of a loop gone quiet, or its hour's line, comes before the
    // restart; the loop's first line stands for the restart that made it.
    journalLoop(tool, step.line);
    if (step.fold)
        m_journal->fold(restart);
    else
        m_journal->record(restart);
}

void ToolHealth::killClicked(int tool) {
    if (isToolIndex(tool)) tolvane::killClicked(m_states[static_cast<std::size_t>(tool)], m_tickCount());
}

void ToolHealth::verified(int tool, platform::WindowPresence presence) {
    if (!isToolIndex(tool) || presence == platform::WindowPresence::Unknown) return;
    const auto at = static_cast<std::size_t>(tool);
    m_verifiedThisRun[at] = true;
    verificationAnswered(m_states[at]);
    if (presence == platform::WindowPresence::Found) seenRunning(tool);
    if (armsWatch(presence, watched(tool))) arm({tool});
}

bool ToolHealth::watched(int tool) const {
    return isToolIndex(tool) && !m_watches[static_cast<std::size_t>(tool)].empty();
}

std::vector<int> ToolHealth::toolsToLookFor() {
    std::vector<int> tools;
    if (!m_notifiers) return tools;
    for (int i = 0; i < ToolCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if ((m_view.checkValue(i) == 1 || m_verifiedThisRun[at]) && m_watches[at].empty()) tools.push_back(i);
    }
    return tools;
}

void ToolHealth::arm(const std::vector<int>& tools) {
    for (const int tool : tools) seenRunning(tool);
    if (!m_notifiers || tools.empty()) return;
    std::vector<std::string> names;
    for (const int tool : tools) names.emplace_back(*toolBaseName(tool));
    auto found = m_platform.watchProcessesNamed(names);
    if (!found) return;  // the list could not be read: looked for again at the next sweep
    for (std::size_t k = 0; k < tools.size() && k < found->size(); ++k) hold(tools[k], std::move((*found)[k]));
}

void ToolHealth::hold(int tool, platform::ProcessEndWatches watches) {
    auto& held = m_watches[static_cast<std::size_t>(tool)];
    for (auto& watch : watches) {
        const std::uint32_t pid = watch->pid();
        const bool already =
            std::any_of(held.begin(), held.end(), [pid](const Watched& w) { return w.watch->pid() == pid; });
        if (already) continue;
        Watched entry{std::move(watch), nullptr};
        entry.subscription =
            m_notifiers->whenSignalled(entry.watch->waitable(), [this, tool, pid] { processEnded(tool, pid); });
        if (entry.subscription) held.push_back(std::move(entry));
    }
}

std::vector<int> ToolHealth::endVerificationsDue(bool launchFinished) {
    // Asked four times a second: nothing is read (not even the clock) while
    // no end is waiting for its verification.
    std::vector<int> due;
    std::optional<std::int64_t> now;
    for (int i = 0; i < ToolCount; ++i) {
        auto& state = m_states[static_cast<std::size_t>(i)];
        if (!state.verifyAt) continue;
        if (!now) now = m_tickCount();
        if (endVerificationDue(state, *now, m_view.checkValue(i) == 1, launchFinished)) due.push_back(i);
    }
    return due;
}

RunningProcesses ToolHealth::watchRunning(int tool) {
    if (!isToolIndex(tool)) return RunningProcesses::Unknown;
    auto found = m_platform.watchProcessesNamed({std::string(*toolBaseName(tool))});
    if (!found || found->empty()) return RunningProcesses::Unknown;
    auto& watches = found->front();
    if (watches.empty()) return RunningProcesses::None;
    handedOver(m_states[static_cast<std::size_t>(tool)]);
    seenRunning(tool);
    if (m_notifiers) hold(tool, std::move(watches));
    return RunningProcesses::Some;
}

void ToolHealth::processEnded(int tool, std::uint32_t pid) {
    auto& held = m_watches[static_cast<std::size_t>(tool)];
    const auto it = std::find_if(held.begin(), held.end(), [pid](const Watched& w) { return w.watch->pid() == pid; });
    // A wake-up for a process that still runs changes nothing.
    if (it == held.end() || !it->watch->ended()) return;
    const auto exitCode = it->watch->exitCode();
    held.erase(it);
    if (!held.empty()) return;  // another of its processes still runs

    const EndContext context{m_tickCount(), m_view.checkValue(tool) == 1, m_launchFinished,
                             periodSeconds(m_view.periodIndex(tool))};
    const EndOutcome outcome = lastProcessEnded(m_states[static_cast<std::size_t>(tool)], context);
    const ToolLoop::Step step = m_loops[static_cast<std::size_t>(tool)].ended(context.now);
    forgetFreeze(tool);
    journalLoop(tool, step.line);
    JournalEntry entry{outcome.byKillButton ? JournalEvent::ToolEndedByKill : JournalEvent::ToolEnded, tool, {}};
    entry.details.push_back({"processus", std::to_string(pid)});
    if (exitCode) entry.details.push_back({"code de sortie", exitCodeText(*exitCode)});
    if (outcome.ranMs) entry.details.push_back({"depuis son démarrage", secondsText(*outcome.ranMs)});
    entry.details.push_back({"suite", followUpText(outcome)});
    // The "Kill" button's end is the operator's doing, never folded.
    if (step.fold && !outcome.byKillButton)
        m_journal->fold(entry);
    else
        m_journal->record(entry);
}

void ToolHealth::loopTick() {
    // Every fifteen seconds: nothing is read while no tool loops.
    std::optional<std::int64_t> now;
    for (int i = 0; i < ToolCount; ++i) {
        auto& loop = m_loops[static_cast<std::size_t>(i)];
        if (!loop.looping()) continue;
        if (!now) now = m_tickCount();
        journalLoop(i, loop.tick(*now));
    }
}

std::optional<std::string> ToolHealth::loopTooltip(int tool) {
    if (!isToolIndex(tool)) return std::nullopt;
    const auto& loop = m_loops[static_cast<std::size_t>(tool)];
    return loop.looping() ? loop.tooltip(m_tickCount()) : std::nullopt;
}

void ToolHealth::journalLoop(int tool, const std::optional<LoopLine>& line) {
    if (!line) return;
    const auto count = [](int n) { return std::to_string(n); };
    JournalEntry entry{JournalEvent::ToolLoopBegan, tool, {}};
    switch (line->kind) {
        case LoopLine::Kind::Began:
            entry.details.push_back({"relances en 10 min", count(line->restartsInWindow)});
            break;
        case LoopLine::Kind::Lasts:
            entry.event = JournalEvent::ToolLoopLasts;
            entry.details.push_back({"relances dans l'heure", count(line->restartsSinceLine)});
            entry.details.push_back({"arrêts vus dans l'heure", count(line->endsSinceLine)});
            entry.details.push_back({"relances depuis le début", count(line->restartsInLoop)});
            entry.details.push_back({"depuis", loopDurationText(line->lastedMs)});
            break;
        case LoopLine::Kind::Over:
            entry.event = JournalEvent::ToolLoopOver;
            entry.details.push_back(
                {"raison", line->held ? "tourne depuis 10 min sans s'arrêter" : "n'a plus été relancé depuis 10 min"});
            entry.details.push_back({"relances depuis la ligne précédente", count(line->restartsSinceLine)});
            entry.details.push_back({"arrêts vus depuis la ligne précédente", count(line->endsSinceLine)});
            entry.details.push_back({"relances en tout", count(line->restartsInLoop)});
            entry.details.push_back({"durée de la boucle", loopDurationText(line->lastedMs)});
            break;
    }
    m_journal->record(entry);
}

void ToolHealth::freezeTick() {
    const std::int64_t now = m_tickCount();
    if (m_nextFreezeQuestion && now < *m_nextFreezeQuestion) return;
    m_nextFreezeQuestion = now + FreezeQuestionMs;
    // Every tool with "Vérifier" in one question; the system answers unknown
    // for a tool whose window does not exist.
    std::vector<int> tools;
    std::vector<std::string> titles;
    for (int i = 0; i < ToolCount; ++i) {
        if (m_view.checkValue(i) != 1) {
            forgetFreeze(i);
            continue;
        }
        if (!freezeQuestionDue(m_freezes[static_cast<std::size_t>(i)], now)) continue;
        tools.push_back(i);
        titles.emplace_back(*toolBaseName(i));
    }
    if (tools.empty()) return;
    const auto answers = m_platform.windowsResponse(titles);
    for (std::size_t k = 0; k < tools.size(); ++k) {
        const int tool = tools[k];
        const auto at = static_cast<std::size_t>(tool);
        const int restartMinutes = m_view.freezeRestartMinutes(tool);
        const auto answer = k < answers.size() ? answers[k] : platform::WindowResponse::Unknown;
        applyFreezeStep(tool, freezeAnswered(m_freezes[at], answer, now, m_states[at].startedAt, restartMinutes),
                        restartMinutes);
    }
}

void ToolHealth::applyFreezeStep(int tool, const FreezeStep& step, int restartMinutes) {
    const auto at = static_cast<std::size_t>(tool);
    switch (step.change) {
        case FreezeChange::None: return;
        case FreezeChange::Froze: {
            m_frozenSince[at] = std::chrono::floor<std::chrono::seconds>(m_platform.localNow() -
                                                                         std::chrono::milliseconds{step.silentMs});
            m_view.setFrozen(tool, true);
            m_journal->record({JournalEvent::ToolFrozen,
                               tool,
                               {{"sans réponse depuis", secondsText(step.silentMs)},
                                {"relance", restartMinutes > 0 ? "après " + freezeRestartText(restartMinutes)
                                                               : std::string("jamais")}}});
            return;
        }
        case FreezeChange::AnswersAgain:
            m_frozenSince[at].reset();
            m_view.setFrozen(tool, false);
            m_journal->record(
                {JournalEvent::ToolAnswersAgain, tool, {{"sans réponse pendant", loopDurationText(step.silentMs)}}});
            return;
        case FreezeChange::Restart: {
            // Ended by its exact executable name; its end is seen as any
            // other (not the "Kill" button's) and it comes back through the
            // verification that follows an end.
            const std::string name(*toolBaseName(tool));
            m_journal->record({JournalEvent::ToolKilledFrozen,
                               tool,
                               {{"sans réponse depuis", loopDurationText(step.silentMs)},
                                {"choix", "relancer après " + freezeRestartText(restartMinutes)},
                                {"programme", name + platform::executableSuffix()}}});
            m_platform.killProcessesNamed(name);
            m_freezeKilled[at] = true;
            return;
        }
    }
}

void ToolHealth::forgetFreeze(int tool) {
    const auto at = static_cast<std::size_t>(tool);
    const bool wasFrozen = m_freezes[at].frozen;
    if (!m_freezes[at].askedAt) return;  // never asked: nothing to forget
    freezeForgotten(m_freezes[at]);
    m_frozenSince[at].reset();
    if (wasFrozen) m_view.setFrozen(tool, false);
}

std::optional<std::string> ToolHealth::freezeTooltip(int tool) const {
    if (!isToolIndex(tool)) return std::nullopt;
    const auto& since = m_frozenSince[static_cast<std::size_t>(tool)];
    if (!since || !m_freezes[static_cast<std::size_t>(tool)].frozen) return std::nullopt;
    return "Ne répond plus depuis " + formatHms(*since);
}

}  // namespace tolvane
