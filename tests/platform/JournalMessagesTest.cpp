// The Windows message file holds one message for every journal event number
// and no other, each with the severity the journal gives the event and the
// line itself as its text, and the ID reported for a journal line is its
// message's. An event without a message still reaches the event log, but
// Event Viewer shows it as "description not found": this is where a new
// event number left out of the file is caught, on Linux.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "journal/Journal.h"
#include "platform/shared/WindowsEventLog.h"

namespace {

using tolvane::JournalSeverity;
using tolvane::platform::LogSeverity;

// "MessageId=", "Severity=", "Language=", then the text up to a lone "."
// (the text's lines joined by "\n"), keyed by number; a number given twice
// is recorded as "twice".
std::map<int, std::pair<std::string, std::string>> readMessageFile(const std::string& path) {
    std::ifstream in(path);
    std::map<int, std::pair<std::string, std::string>> messages;
    const std::regex keyword(R"(^(\w+)=(.*?)\r?$)");
    int number = -1;
    std::string severity;
    std::string text;
    bool inText = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (inText) {
            if (line != ".") {
                text += (text.empty() ? "" : "\n") + line;
                continue;
            }
            inText = false;
            messages[number] = {messages.count(number) ? "twice" : severity, text};
            text.clear();
            continue;
        }
        std::smatch m;
        if (line.empty() || line[0] == ';' || !std::regex_match(line, m, keyword)) continue;
        if (m[1] == "MessageId") number = std::stoi(m[2]);
        if (m[1] == "Severity") severity = m[2];
        if (m[1] == "Language") inText = true;
    }
    return messages;
}

TEST(JournalMessages, OneMessagePerEventWithItsSeverityAndTheIdReportedForItsLine) {
    auto messages = readMessageFile(TOLVANE_SOURCE_DIR "/platform/win32/JournalMessages.mc");
    const std::map<JournalSeverity, std::tuple<std::string, LogSeverity, std::uint32_t>> severities{
        {JournalSeverity::Information, {"Informational", LogSeverity::Information, 1}},
        {JournalSeverity::Warning, {"Warning", LogSeverity::Warning, 2}},
        {JournalSeverity::Error, {"Error", LogSeverity::Error, 3}},
    };
    for (const auto event : tolvane::allJournalEvents()) {
        const int number = static_cast<int>(event);
        const auto& [windmcSeverity, severity, bits] = severities.at(tolvane::journalSeverity(event));
        const auto found = messages.find(number);
        ASSERT_NE(found, messages.end()) << "event " << number << " has no message in JournalMessages.mc";
        EXPECT_EQ(found->second, (std::pair<std::string, std::string>{windmcSeverity, "%1"})) << number;
        // The backend reads the number from the part of the line the system's
        // log is given; with the event's severity it must come to windmc's ID.
        for (const std::optional<int> tool : {std::optional<int>{}, std::optional<int>{6}}) {
            const std::string line = tolvane::formatJournalLine({}, {event, tool, {{"arguments", "/NoBase=0"}}}, 2);
            EXPECT_EQ(tolvane::platform::eventLogEventId(
                          severity, tolvane::platform::eventLogNumber(tolvane::systemLogPart(line))),
                      bits << 30 | static_cast<std::uint32_t>(number))
                << line;
        }
        messages.erase(found);
    }
    for (const auto& [number, message] : messages) ADD_FAILURE() << "message " << number << " is no journal event's";
}

}  // namespace
