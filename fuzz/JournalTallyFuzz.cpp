// The journal's readers on any bytes: a day's file cut anywhere or edited by
// hand gives the restart tally at most a smaller count, never an exception
// or a count wrapped round; and any text written as a detail reads back as
// itself, so no value can forge a detail of its own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "journal/Journal.h"

using namespace tolvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Line by line, as the start reads today's file (line ends kept).
    RestartTally tally;
    for (std::size_t start = 0; start < bytes.size();) {
        const auto end = bytes.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        tally.noteLine(bytes.substr(start, next - start));
        start = next;
    }
    const auto day = std::chrono::local_days{std::chrono::year{2026} / 12 / 8};
    for (int tool = 0; tool < 30; ++tool) {
        const RestartsToday restarts = tally.today(tool, day);
        FUZZ_CHECK(restarts.count >= 0);
        FUZZ_CHECK(restarts.count == 0 || restarts.lastTimeOfDay < std::chrono::days{1});
    }
    (void)lastRunEnding(bytes);
    (void)journalLineDetails(bytes);

    const std::string line =
        formatJournalLine({}, {JournalEvent::ToolKilled, 6, {{"programme", std::string(bytes)}, {"raison", "x"}}});
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    const auto back = journalLineDetails(line);
    FUZZ_CHECK(back.has_value() && back->size() == 2 && (*back)[1].value == "x");
    if (escapeJournalText(bytes).size() <= JournalDetailLimit) FUZZ_CHECK((*back)[0].value == bytes);
    return 0;
}
