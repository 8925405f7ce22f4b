#include "supervisor/supervision/ToolLoopRules.h"

namespace tolvane {

int ToolLoop::restartsWithin(std::int64_t now) const {
    int count = 0;
    for (const auto at : m_restarts)
        if (now - at < LoopWindowMs) ++count;
    return count;
}

std::optional<LoopLine> ToolLoop::tick(std::int64_t now) {
    if (!m_loop) return std::nullopt;
    Loop& loop = *m_loop;
    LoopLine line;
    line.restartsSinceLine = loop.restartsSinceLine;
    line.endsSinceLine = loop.endsSinceLine;
    line.restartsInLoop = loop.restarts;
    line.lastedMs = now - loop.began;
    // A loop has at least three restarts, so the last is there.
    if (now - m_restarts.back() >= LoopQuietMs) {
        line.kind = LoopLine::Kind::Over;
        line.held = m_seenSinceRestart;
        m_loop.reset();
        return line;
    }
    if (now - loop.lastLine < LoopReportMs) return std::nullopt;
    line.kind = LoopLine::Kind::Lasts;
    loop.lastLine = now;
    loop.restartsSinceLine = 0;
    loop.endsSinceLine = 0;
    return line;
}

ToolLoop::Step ToolLoop::restarted(std::int64_t now) {
    // A loop that went quiet is closed before this restart is counted: it
    // may be the first of a new one.
    Step step{false, tick(now)};
    m_seenSinceRestart = false;
    while (!m_restarts.empty() && now - m_restarts.front() >= LoopWindowMs) m_restarts.pop_front();
    m_restarts.push_back(now);
    if (m_loop) {
        ++m_loop->restarts;
        ++m_loop->restartsSinceLine;
        step.fold = true;
        return step;
    }
    const int recent = static_cast<int>(m_restarts.size());
    if (recent < LoopRestarts) return step;
    // The restart that makes the loop is told by the loop's first line.
    m_loop = Loop{now, now, recent, 0, 0};
    LoopLine began;
    began.kind = LoopLine::Kind::Began;
    began.restartsInWindow = recent;
    began.restartsInLoop = recent;
    return {true, began};
}

ToolLoop::Step ToolLoop::ended(std::int64_t now) {
    Step step{false, tick(now)};
    m_seenSinceRestart = false;
    if (m_loop) {
        ++m_loop->endsSinceLine;
        step.fold = true;
    }
    return step;
}

std::optional<std::string> ToolLoop::tooltip(std::int64_t now) const {
    // Over as soon as it is due, even before the tick has journaled it.
    if (!m_loop || now - m_restarts.back() >= LoopQuietMs) return std::nullopt;
    return "Redémarre en boucle : " + std::to_string(restartsWithin(now)) + " fois en 10 min";
}

std::string loopDurationText(std::int64_t ms) {
    const std::int64_t seconds = ms / 1000;
    if (seconds < 60) return std::to_string(seconds) + " s";
    const std::int64_t minutes = seconds / 60;
    if (minutes < 60) return std::to_string(minutes) + " min";
    const std::int64_t rest = minutes % 60;
    return std::to_string(minutes / 60) + " h " + (rest < 10 ? "0" : "") + std::to_string(rest) + " min";
}

}  // namespace tolvane
