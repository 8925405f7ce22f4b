#pragma once
// The pure rules of the two batch pages: their fixed lists, the next batch
// instant, its label, and the two batch command lines.

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// Items of the fixed lists, in order.
std::vector<std::string> hourItems();       // "  00H" .. "  23H"
std::vector<std::string> quarterItems();    // " 00", " 15", " 30", " 45"
std::vector<std::string> stationItems();    // "  01" .. "  10"
std::vector<std::string> dayOffsetItems();  // " 1" .. " 9"
std::vector<std::string> dayCountItems();   // "  001" .. "  030"

// Minute of a quarter list index: 0, 15, 30, 45; any other index gives 0.
int quarterMinute(int quarterIndex);

// The next batch instant: for each ticked weekday (days[1] Monday ..
// days[7] Sunday; days[0] is ignored) the next date with that weekday at
// hour:minute:00, today itself when that time is not earlier than now, else
// a week later; the earliest of them. Nothing when no day is ticked.
std::optional<std::chrono::local_seconds> nextBatchInstant(std::chrono::local_seconds now,
                                                           const std::array<bool, 8>& days, int hour, int minute);
// The same, passing over the instants in `passOver` (those already started in
// this run): the first ticked instant after them instead.
std::optional<std::chrono::local_seconds> nextBatchInstant(std::chrono::local_seconds now,
                                                           const std::array<bool, 8>& days, int hour, int minute,
                                                           const std::vector<std::chrono::local_seconds>& passOver);

// The label of a next instant: longDate(the date) + " " + HH + "h " + MM.
std::string nextBatchLabel(std::chrono::local_seconds instant,
                           const std::function<std::string(std::chrono::year_month_day)>& longDate);

// What the Scheduler's command line is built from. Indexes are list
// indexes, -1 for no selection; boxes are 0, 1 or 2.
struct SchedulerOptions {
    int reprogrammer = 1;
    int stationIndex = 0;
    int startHourIndex = 0;
    int endHourIndex = 23;
    int optDuree = 1;
    int dayOffsetIndex = 0;
};
// "/Batch=J+1<ChargerSquelette:1><NoStation:1><HeureDeb:00><HeureFin:23><OptDuree:1>"
std::string schedulerCommandLine(const SchedulerOptions& options);

struct PlannerOptions {
    int replanifier = 1;
    std::string dayCountText = "  001";  // the text shown by the day-count list
    int dayOffsetIndex = 0;
};
// "/Batch=J+1<Replanifier:1><NbJourAPlanifier:1>"
std::string plannerCommandLine(const PlannerOptions& options);

// What a batch start does with the tool's "Minimiser" box: 1 start in
// standby, 0 start normally, anything else start nothing.
enum class BatchStart { Standby, Normal, None };
BatchStart batchStartFor(int minimiserValue);

}  // namespace tolvane
