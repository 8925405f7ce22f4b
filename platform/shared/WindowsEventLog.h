#pragma once
// How a journal line becomes an event of the Windows Application log: its
// event ID and its type. Pure, so the Linux tree tests them against the
// message file the Windows programs carry (win32/JournalMessages.mc); the
// Win32 backend also checks them against windmc's own header when it is
// built.

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace tolvane::platform {

// The severity windmc writes into the top two bits of a message's ID
// (Informational 1, Warning 2, Error 3). Event Viewer shows only the low 16
// bits as the event number but looks the text up with all 32: an event
// reported without the bits the message file gave finds no text.
constexpr std::uint32_t eventLogSeverityBits(LogSeverity severity) {
    switch (severity) {
        case LogSeverity::Error: return 3;
        case LogSeverity::Warning: return 2;
        case LogSeverity::Information: break;
    }
    return 1;
}

// The full ID windmc gives message `number` of that severity in our message
// file (facility 0 and no customer bit: the file declares neither).
constexpr std::uint32_t eventLogEventId(LogSeverity severity, std::uint16_t number) {
    return eventLogSeverityBits(severity) << 30 | number;
}

// ReportEventW's event type: EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE,
// EVENTLOG_INFORMATION_TYPE.
constexpr std::uint16_t eventLogType(LogSeverity severity) {
    switch (severity) {
        case LogSeverity::Error: return 0x0001;
        case LogSeverity::Warning: return 0x0002;
        case LogSeverity::Information: break;
    }
    return 0x0004;
}

// The event number a journal line begins with ("2003 [6 VX8_Tools_Data] ..."
// gives 2003), which is the number of its message in the table; 0 (no
// message) when the line does not begin with a number from 1 to 65535
// followed by a blank or the end.
constexpr std::uint16_t eventLogNumber(std::string_view line) {
    std::uint32_t number = 0;
    std::size_t at = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
        number = number * 10 + static_cast<std::uint32_t>(line[at] - '0');
        if (number > 0xFFFF) return 0;
    }
    if (at == 0 || (at < line.size() && line[at] != ' ')) return 0;
    return static_cast<std::uint16_t>(number);
}

}  // namespace tolvane::platform
