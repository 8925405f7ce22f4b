// The system's log on Windows: the Application event log, written from one
// background thread (SystemLogQueue) so that a slow or stuck event log
// service never holds up supervision.
//
// Each line is reported with the event ID of its message in the table
// compiled into Tolvane.exe and Krandel.exe (JournalMessages.mc), taken from
// the event number the journal line begins with, and with the line itself as
// the message's one insertion string. The installer registers the sources
// with those executables as their message files; from a zip without the
// registration, Windows still logs the event, with a "description not found"
// text before the line.
#include <windows.h>

#include <climits>
#include <map>
#include <memory>
#include <string>

#include "JournalMessages.h"  // windmc's header of win32/JournalMessages.mc
#include "platform/platform.h"
#include "platform/shared/SystemLogQueue.h"
#include "platform/shared/WindowsEventLog.h"
#include "platform/win32/Win32Backend.h"

namespace tolvane::platform {

// The IDs we compute are the ones windmc gave the messages, for each
// severity, and the types are the SDK's.
static_assert(eventLogEventId(LogSeverity::Information, 1000) == JOURNAL_TOLVANE_STARTED);
static_assert(eventLogEventId(LogSeverity::Warning, 2003) == JOURNAL_TOOL_RESTARTED_BY_VERIFICATION);
static_assert(eventLogEventId(LogSeverity::Error, 2010) == JOURNAL_TOOL_START_REFUSED);
static_assert(eventLogType(LogSeverity::Information) == EVENTLOG_INFORMATION_TYPE);
static_assert(eventLogType(LogSeverity::Warning) == EVENTLOG_WARNING_TYPE);
static_assert(eventLogType(LogSeverity::Error) == EVENTLOG_ERROR_TYPE);

namespace {

// ReportEventW takes strings of at most 31,839 characters; journal lines
// are far shorter, but a setting can hold anything.
constexpr std::size_t kStringLimit = 31839;

std::wstring wideLine(const std::string& utf8) {
    // The journal escapes everything that is not valid UTF-8; should a line
    // still not convert exactly, the system's replacement characters are
    // better than no line.
    if (auto exact = win32backend::toWide(utf8)) return std::move(*exact);
    if (utf8.empty() || utf8.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int inLength = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, wide.data(), length);
    for (auto& c : wide)
        if (c == L'\0') c = L' ';
    return wide;
}

class EventLogWriter final : public SystemLogQueue::Writer {
public:
    ~EventLogWriter() override {
        for (const auto& [name, handle] : m_sources) ::DeregisterEventSource(handle);
    }

    void write(const SystemLogQueue::Line& line) override {
        const HANDLE source = sourceFor(line.identifier);
        if (!source) return;
        std::wstring text = wideLine(line.message);
        if (text.size() > kStringLimit) {
            std::size_t end = kStringLimit;
            if (end > 0 && IS_HIGH_SURROGATE(text[end - 1])) --end;  // never half a character
            text.resize(end);
        }
        const wchar_t* strings[] = {text.c_str()};
        ::ReportEventW(source, eventLogType(line.severity), 0,
                       eventLogEventId(line.severity, eventLogNumber(line.message)), nullptr, 1, 0, strings, nullptr);
    }

private:
    // One registration per source for the life of the process: registering
    // asks the event log service, which is the slow part.
    HANDLE sourceFor(const std::string& identifier) {
        const auto found = m_sources.find(identifier);
        if (found != m_sources.end()) return found->second;
        const auto name = win32backend::toWide(identifier);
        if (!name || name->empty()) return nullptr;
        const HANDLE handle = ::RegisterEventSourceW(nullptr, name->c_str());
        // Not kept when refused: the next line asks again.
        if (handle) m_sources.emplace(identifier, handle);
        return handle;
    }

    std::map<std::string, HANDLE> m_sources;
};

}  // namespace

namespace {

// Started with the first line; ended (its last lines written, its handles
// closed) when the program ends.
SystemLogQueue& eventLogQueue() {
    static SystemLogQueue queue(std::make_unique<EventLogWriter>());
    return queue;
}

}  // namespace

SystemLogResult sendToSystemLog(const std::string& identifier, LogSeverity severity, const std::string& message) {
    try {
        return eventLogQueue().push({identifier, severity, message}) ? SystemLogResult::Sent : SystemLogResult::Dropped;
    } catch (...) {
        return SystemLogResult::Dropped;
    }
}

void flushSystemLog(std::chrono::milliseconds timeout) {
    try {
        eventLogQueue().drain(timeout);
    } catch (...) {
    }
}

}  // namespace tolvane::platform
