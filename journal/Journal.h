#pragma once
// Tolvane's journal: what happened to the station while nobody watched, one
// line per event, in a daily file and in the system's log. Everything here
// decides only: the form of a line, which repeats are merged, when a day's
// file is full, which files have had their time. Writing is done by the
// caller (JournalFiles on the window's side), so these rules are tested without
// a disk, a clock or a system log.
//
// Event numbers are part of what the station's IT people rely on (filters,
// collectors, the README's table): a number never changes meaning and is
// never reused.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane {

enum class JournalEvent : int {
    TolvaneStarted = 1000,
    EndedByOperator = 1001,
    EndedForDailyRestart = 1002,
    EndedBySignal = 1003,
    EndedWithSession = 1004,
    LastRunEndedUnexpectedly = 1005,
    LastRunEndingUnknown = 1006,
    SecondTolvaneTurnedAway = 1010,
    SupervisingWithoutLock = 1011,
    TolvaneInOtherSession = 1012,
    StartedInServicesSession = 1013,

    ToolStartedByLaunchSequence = 2000,
    ToolStartedByCheckButton = 2001,
    ToolStartedByBatch = 2002,
    ToolRestartedByVerification = 2003,
    ToolRestartedAfterEnd = 2004,
    ToolStartRefused = 2010,
    ToolKilled = 2020,
    // A tool's end, seen when it happens.
    ToolEnded = 2030,
    ToolEndedByKill = 2031,
    // A tool started again and again: its restart and end lines are folded
    // into these while it loops.
    ToolLoopBegan = 2040,
    ToolLoopLasts = 2041,
    ToolLoopOver = 2042,
    // A tool's window that no longer answers.
    ToolFrozen = 2050,
    ToolAnswersAgain = 2051,
    ToolKilledFrozen = 2052,

    RestarterStartRefused = 3001,
    // Krandel's own journal.
    RestarterWaiting = 3100,
    RestarterStartedTolvane = 3101,
    RestarterTolvaneRefused = 3102,

    DisplayNotAnswering = 4001,
    DisplayAnsweringAgain = 4002,
    NotificationAreaGone = 4003,
    NotificationAreaBack = 4004,

    // The operator's choices, and the store that keeps them.
    ToolChoiceChanged = 5001,
    BatchChoiceChanged = 5002,
    ToolTextChanged = 5003,
    SettingsNotWritten = 5010,
    SettingsWrittenAgain = 5011,
    SettingsUnreadable = 5012,
    SettingNotUnderstood = 5013,
    // A value the administrator's policy enforces that no control can hold.
    PolicyValueNotUnderstood = 5014,

    DayFileFull = 9001,
    JournalFileUnwritable = 9002,
    JournalFileWritableAgain = 9003,
    // The metrics file for the station's monitoring.
    MetricsFileUnwritable = 9004,
    MetricsFileWritableAgain = 9005,
};

// Every event, in number order: the Windows message table must have a
// message for each, or the event log shows a "description not found" text.
const std::vector<JournalEvent>& allJournalEvents();
// Events paced by a person or written once per run, and every going and
// coming back of something (written at each change of state): never merged
// as repeats, so two choices made within a minute both reach the journal and
// the last line of a pair always tells the state as it is.
bool isMergedWhenRepeated(JournalEvent event);

// How the system's log should rank an event.
enum class JournalSeverity { Information, Warning, Error };

JournalSeverity journalSeverity(JournalEvent event);
// What happened, in French, the language of the window.
std::string_view journalText(JournalEvent event);
// What asked for a start, for the line of a start the system refused
// ("séquence de lancement", ...), from the event the start would have had.
std::string_view startRequestText(JournalEvent startEvent);
// The starts the tooltip counts as restarts: by verification, and by the
// verification that follows a tool's end.
bool isRestartEvent(JournalEvent event);
// Tolvane's closing lines: the last line of a run that ended on purpose.
bool isClosingEvent(JournalEvent event);

// A labelled value of an event: the arguments, the system's reason, ...
struct JournalDetail {
    std::string label;
    std::string value;
    bool operator==(const JournalDetail&) const = default;
};

struct JournalEntry {
    JournalEvent event{};
    std::optional<int> tool;  // index 0..29 when the event is a tool's
    std::vector<JournalDetail> details;
};

// The instant of an event: local wall-clock time and the offset from UTC in
// force at that instant (a night across the autumn change holds two 02:30).
struct JournalClock {
    std::chrono::local_seconds local{};
    std::chrono::seconds utcOffset{0};
};

// Escapes a text so that it can never break a line, a detail or the file's
// UTF-8: backslash as "\\", "|" as "\|", line feed, tab and carriage return
// as "\n", "\t", "\r", any other control character (C0, DEL, C1, the Unicode
// line and paragraph separators) and every byte that is not part of valid
// UTF-8 as "\xNN". An escaped text longer than `limit` bytes is cut there
// (never inside an escape or a character) and says how long it was, so one
// huge value cannot fill the day's file.
std::string escapeJournalText(std::string_view text, std::size_t limit = std::string_view::npos);
// The bound of each label and value on a line.
inline constexpr std::size_t JournalDetailLimit = 512;
// The text an escaped one stands for (a cut text keeps its notice).
std::string unescapeJournalText(std::string_view escaped);
// The details of a line, as they were given (cut ones aside); nothing for a
// line that is not one of ours.
std::optional<std::vector<JournalDetail>> journalLineDetails(std::string_view line);

// "2026-12-08 04:07:12 +0100"
std::string formatJournalInstant(const JournalClock& clock);

// One line, without its line end:
//   <instant> <event> [<index> <name>|-] <text>[ (<merged> de plus ...)][ | <label> : <value>]...
// `merged` is the number of repeats merged into this line since the last
// one written for the same event and tool.
std::string formatJournalLine(const JournalClock& clock, const JournalEntry& entry, int merged = 0);

// The part of a line the system's log is given: everything after the
// instant, since the log stamps its own.
std::string_view systemLogPart(std::string_view line);

// The same event for the same tool (or for none) is written at most once a
// minute; the next line written for it says how many were merged in between.
class JournalRepeats {
public:
    // The number of merged repeats to show on the line when the event is to
    // be written now, nothing when it is merged into the last one.
    std::optional<int> admit(const JournalEntry& entry, const JournalClock& at);

    // A repeat merged away and not written yet: its last occurrence, to be
    // written with the earlier ones merged into it.
    struct Pending {
        JournalEntry entry;
        JournalClock at;
        int merged = 0;
    };
    // The repeats still waiting for a next line, oldest first; they count as
    // written from here on. Taken before the run's closing line, so that
    // what looped in the last seconds is not lost with the process.
    std::vector<Pending> takePending();

private:
    struct Run {
        std::chrono::local_seconds written{};
        int merged = 0;
        JournalEntry last;  // the last repeat merged away
        JournalClock lastAt;
    };
    std::map<std::pair<int, int>, Run> m_runs;
};

// The daily cap of a file: past it, one line says that lines are dropped
// until midnight, and nothing more is written to that day's file.
class JournalDayCap {
public:
    static constexpr std::uint64_t DefaultCap = 10u * 1024u * 1024u;
    explicit JournalDayCap(std::uint64_t cap = DefaultCap) : m_cap(cap) {}

    enum class Decision { Write, WriteFullNotice, Drop };
    // `fileSize` is the size of the day's file before this line, as found.
    Decision admit(std::chrono::local_days day, std::uint64_t fileSize, std::uint64_t lineSize);

private:
    std::uint64_t m_cap;
    std::optional<std::chrono::local_days> m_fullDay;
};

// "2026-12-08.log"
std::string journalFileName(std::chrono::local_days day);
// The day a journal file is for; nothing for a name that is not one of ours.
std::optional<std::chrono::local_days> journalFileDay(std::string_view fileName);
// Files older than 31 days (today and the 31 days before it stay). Names
// that are not journal files are never chosen: the folder may hold an
// operator's own notes.
std::vector<std::string> expiredJournalFiles(const std::vector<std::string>& fileNames, std::chrono::local_days today);
// The newest journal file among the names, if any.
std::optional<std::string> newestJournalFile(const std::vector<std::string>& fileNames);

// How the last run ended, read from the last line of the newest file.
enum class LastRunEnding { Closed, Unexpected, Unknown };
LastRunEnding lastRunEnding(std::string_view lastLine);

// The first call on each new day answers true: the expired files are
// removed on the first 30-second tick after midnight.
class JournalDailyChore {
public:
    explicit JournalDailyChore(std::chrono::local_days doneFor) : m_doneFor(doneFor) {}
    bool due(std::chrono::local_seconds now);

private:
    std::chrono::local_days m_doneFor;
};

// How often a tool was started again by its verification today, and when
// last: the tooltip of the tool's name.
struct RestartsToday {
    int count = 0;
    std::chrono::seconds lastTimeOfDay{0};
    bool operator==(const RestartsToday&) const = default;
};

// "Relancé 3 fois aujourd'hui, la dernière fois à 03:12:45", or "Aucune
// relance aujourd'hui".
std::string restartTooltip(const RestartsToday& restarts);

// Today's restarts of each tool. The count starts again at midnight; a
// Tolvane started during the day (the 04:07 restart) reads the day's file
// back, so the night is not forgotten.
class RestartTally {
public:
    void note(int tool, std::chrono::local_seconds at, int count = 1);
    // One line of the day's file: a restart line counts with the repeats
    // merged into it. Any other line, or one that is not ours, counts nothing.
    void noteLine(std::string_view line);
    RestartsToday today(int tool, std::chrono::local_days today) const;

private:
    std::optional<std::chrono::local_days> m_day;
    std::map<int, RestartsToday> m_tools;
};

// Where the supervision reports what it did. The default records nothing,
// so a supervision without a journal (the window tests, the benchmarks)
// behaves the same.
class JournalSink {
public:
    virtual ~JournalSink() = default;
    virtual void record(const JournalEntry&) {}
    // A line folded into a looping tool's lines: not written, but a restart
    // still counts in today's tally.
    virtual void fold(const JournalEntry&) {}
    virtual RestartsToday restartsToday(int /*tool*/) { return {}; }
};

// The sink that records nothing.
JournalSink& noJournal();

}  // namespace tolvane
