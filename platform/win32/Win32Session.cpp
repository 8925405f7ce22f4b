// How Windows asks Tolvane to end, and in which session it runs.
#include "platform/platform.h"

#include <windows.h>

namespace tolvane::platform {

// Ends through messages, not signals: there is no descriptor to watch.
int terminationRequests() { return -1; }
std::string takeTerminationRequest() { return {}; }

WindowMessage classifyWindowMessage(const void* nativeMessage) {
    if (!nativeMessage) return WindowMessage::Other;
    const auto* msg = static_cast<const MSG*>(nativeMessage);
    if (msg->message == WM_CLOSE) return WindowMessage::Close;
    // The low four bits of SC_ values are the system's own.
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == SC_CLOSE) return WindowMessage::CloseCommand;
    return WindowMessage::Other;
}

std::optional<std::uint32_t> ownSessionId() {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return std::nullopt;
    return static_cast<std::uint32_t>(session);
}

}  // namespace tolvane::platform
