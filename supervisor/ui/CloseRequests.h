#pragma once
// Who asked the window to close, from the order of the window system's
// messages. The window's own close command (its close box, its system menu,
// Alt+F4) is followed at once by the close itself: that close is the
// operator's, and asks the quit question. A close with no command before it
// comes from outside (taskkill, the task manager's "End task") and ends
// Tolvane without asking. A command whose close never came is forgotten after
// two seconds, so it cannot lend the operator's name to a later close.

#include <cstdint>
#include <optional>

namespace tolvane {

class CloseRequests {
public:
    enum class Origin { Operator, Outside };
    void closeCommand(std::uint64_t tickMs) { m_command = tickMs; }
    Origin close(std::uint64_t tickMs);

private:
    std::optional<std::uint64_t> m_command;
};

}  // namespace tolvane
