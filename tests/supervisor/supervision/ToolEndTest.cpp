// A tool's end seen when it happens, over the fake platform: the watch armed
// by a window found (at a verification or the memory pass's sweep), the
// verification two seconds after the last process's end, a program that
// restarted itself, answers the system could not give, the "Kill" button,
// the launch sequence, an unticked "Vérifier", the back-off, a tool that
// keeps dying journaled as a loop, and a frozen window shown, journaled and
// restarted where the operator chose it.
#include <algorithm>
#include <string>
#include <vector>

#include "supervisor/core/Startup.h"
#include "tests/support/fake/FakeEndNotifiers.h"
#include "tests/support/fake/SupervisionFixture.h"

namespace tolvane::testsupport {
namespace {

using namespace std::chrono;
using platform::WindowPresence;

class RecordingJournal final : public JournalSink {
public:
    void record(const JournalEntry& entry) override { entries.push_back(entry), written.push_back(entry); }
    void fold(const JournalEntry& entry) override { entries.push_back(entry), folded.push_back(entry); }
    std::vector<JournalEntry> of(JournalEvent event, bool wasWritten = true) const {
        std::vector<JournalEntry> found;
        for (const auto& e : wasWritten ? written : folded)
            if (e.event == event) found.push_back(e);
        return found;
    }
    std::vector<JournalEntry> entries;  // written or folded, in order
    std::vector<JournalEntry> written, folded;
};

std::string detail(const JournalEntry& entry, const std::string& label) {
    for (const auto& d : entry.details)
        if (d.label == label) return d.value;
    return "<none>";
}

class ToolEndTest : public SupervisionTest {
protected:
    static constexpr int kPlayer = 12;  // VX8_Player_A

    ToolEndTest() {
        supervision.setJournal(journal);
        supervision.setEndNotifiers(&notifiers);
    }
    // The watches go before the notifiers they subscribed with.
    ~ToolEndTest() override { supervision.setEndNotifiers(nullptr); }

    void verify(int tool, int period = 1) {
        rows.row(tool).check = 1;
        rows.row(tool).period = period;
    }
    void startSupervising() {
        load();
        supervision.LaunchFinished = true;
    }
    // A process of the tool, with its window.
    void running(int tool, std::uint32_t pid) {
        platform.processes.push_back({pid, std::string(*toolBaseName(tool)) + platform::executableSuffix()});
        platform.windows.insert(std::string(*toolBaseName(tool)));
    }
    // The process ends; its window goes with the tool's last one; the event
    // loop hears of it.
    void ends(std::uint32_t pid, std::optional<std::uint32_t> exitCode = std::nullopt) {
        std::string name;
        for (const auto& p : platform.processes)
            if (p.pid == pid) name = p.imageName;
        platform.endProcess(pid, exitCode);
        const bool lastOne = std::none_of(platform.processes.begin(), platform.processes.end(),
                                          [&](const platform::ProcessInfo& p) { return p.imageName == name; });
        if (lastOne)
            platform.windows.erase(name.substr(0, name.size() - std::string(platform::executableSuffix()).size()));
        notifiers.signal(static_cast<std::intptr_t>(pid));
    }
    // Both clocks move on, the monotonic one by the millisecond.
    void advance(milliseconds ms) {
        platform.tick += static_cast<std::uint32_t>(ms.count());
        m_pendingMs += ms;
        const auto whole = duration_cast<seconds>(m_pendingMs);
        platform.now += whole;
        m_pendingMs -= whole;
    }
    // The verification the periodic rule makes due now.
    void verifyNow(int tool) {
        platform.now = supervision.NextCheck[static_cast<std::size_t>(tool)];
        supervision.TimerCheck_Timer();
    }
    std::size_t startsOf(int tool) const {
        return static_cast<std::size_t>(
            std::count_if(platform.starts.begin(), platform.starts.end(),
                          [&](const auto& s) { return s.applicationPath == exePath(tool); }));
    }

    FakeEndNotifiers notifiers;
    RecordingJournal journal;
    milliseconds m_pendingMs{0};
};

TEST_F(ToolEndTest, ACrashedToolIsVerifiedTwoSecondsAfterItsEndAndStartedOnce) {
    verify(kPlayer);  // "05 Min": its periodic verification is far away
    running(kPlayer, 500);
    startSupervising();
    verifyNow(kPlayer);
    ASSERT_TRUE(supervision.health().watched(kPlayer));
    EXPECT_EQ(platform.openWatches(), 1);
    EXPECT_TRUE(platform.starts.empty());

    advance(seconds{40});
    ends(500, 0xC0000005);
    const auto endLines = journal.of(JournalEvent::ToolEnded);
    ASSERT_EQ(endLines.size(), 1u);
    EXPECT_EQ(endLines[0].tool, kPlayer);
    EXPECT_EQ(detail(endLines[0], "processus"), "500");
    EXPECT_EQ(detail(endLines[0], "code de sortie"), "0xC0000005 (violation d'accès)");
    EXPECT_EQ(detail(endLines[0], "suite"), "vérification dans 2 s");
    EXPECT_EQ(detail(endLines[0], "depuis son démarrage"), "<none>");  // found running, not started by us
    EXPECT_EQ(platform.openWatches(), 0);
    EXPECT_EQ(notifiers.waiting(), 0u);

    // Nothing before the settle is over, on the tick's own 250 ms.
    for (int k = 0; k < 7; ++k) {
        advance(milliseconds{250});
        supervision.TimerCheck_Timer();
    }
    advance(milliseconds{249});
    supervision.TimerCheck_Timer();
    EXPECT_TRUE(platform.starts.empty());
    advance(milliseconds{1});
    supervision.TimerCheck_Timer();
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].arguments, "/NoBase=0");
    const auto restarts = journal.of(JournalEvent::ToolRestartedAfterEnd);
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(detail(restarts[0], "arguments"), "/NoBase=0");
    std::array<std::uint64_t, StartWayCount> counted{};
    counted[static_cast<std::size_t>(StartWay::End)] = 1;
    EXPECT_EQ(supervision.StartCounts[kPlayer], counted);
    // Its next periodic verification is a period from this one.
    EXPECT_EQ(supervision.NextCheck[kPlayer], platform.now + minutes{5});
    EXPECT_EQ(rows.row(kPlayer).nextCheckText, formatHms(platform.now + minutes{5}));

    // Once, not at every tick that follows.
    for (int k = 0; k < 40; ++k) {
        advance(milliseconds{250});
        supervision.TimerCheck_Timer();
    }
    EXPECT_EQ(platform.starts.size(), 1u);
}

TEST_F(ToolEndTest, AProgramThatRestartedItselfIsWatchedInsteadOfStartedAgain) {
    verify(kPlayer);
    running(kPlayer, 500);
    startSupervising();
    verifyNow(kPlayer);
    const int questionsBefore = platform.windowQueries;

    ends(500);
    running(kPlayer, 501);     // its new process, started by the old one
    platform.windows.clear();  // not showing its window yet
    advance(seconds{2});
    supervision.TimerCheck_Timer();
    EXPECT_TRUE(platform.starts.empty());
    EXPECT_EQ(platform.windowQueries, questionsBefore);  // a process running needs no window question
    EXPECT_TRUE(supervision.health().watched(kPlayer));
    EXPECT_EQ(supervision.NextCheck[kPlayer], platform.now + minutes{5});

    // The new process is watched like the first: its end is seen too.
    advance(seconds{30});
    ends(501);
    EXPECT_EQ(journal.of(JournalEvent::ToolEnded).size(), 2u);
    advance(seconds{2});
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.starts.size(), 1u);
}

TEST_F(ToolEndTest, AnAnswerTheSystemCouldNotGiveStartsNothingAndIsAskedAgain) {
    verify(kPlayer);
    running(kPlayer, 500);
    startSupervising();

    // An unknown window arms nothing.
    platform.displayAnswers = false;
    verifyNow(kPlayer);
    EXPECT_FALSE(supervision.health().watched(kPlayer));
    platform.displayAnswers = true;
    verifyNow(kPlayer);
    ASSERT_TRUE(supervision.health().watched(kPlayer));

    ends(500);
    advance(seconds{2});
    // The process list could not be read and no window is there: the tool
    // may still be opening its window. Asked again at each tick.
    platform.processListUnreadable = true;
    supervision.TimerCheck_Timer();
    advance(milliseconds{250});
    supervision.TimerCheck_Timer();
    // The list is back, the display is not.
    platform.processListUnreadable = false;
    platform.displayAnswers = false;
    advance(milliseconds{250});
    supervision.TimerCheck_Timer();
    EXPECT_TRUE(platform.starts.empty());
    // Journaled as the display went silent: at the first verification,
    // and again now.
    EXPECT_EQ(journal.of(JournalEvent::DisplayNotAnswering).size(), 2u);

    platform.displayAnswers = true;
    advance(milliseconds{250});
    supervision.TimerCheck_Timer();
    EXPECT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(journal.of(JournalEvent::ToolRestartedAfterEnd).size(), 1u);
}

TEST_F(ToolEndTest, TheKillButtonsEndWaitsForThePeriodicVerification) {
    verify(kPlayer, 0);  // "01 Min"
    running(kPlayer, 500);
    startSupervising();
    verifyNow(kPlayer);
    const auto nextCheck = supervision.NextCheck[kPlayer];

    advance(seconds{10});
    supervision.CommandKillProcess_Click(kPlayer);
    advance(milliseconds{300});
    ends(500, 1);
    const auto killEnds = journal.of(JournalEvent::ToolEndedByKill);
    ASSERT_EQ(killEnds.size(), 1u);
    EXPECT_EQ(detail(killEnds[0], "suite"), "à sa prochaine vérification");
    EXPECT_EQ(detail(killEnds[0], "code de sortie"), "1");
    EXPECT_TRUE(journal.of(JournalEvent::ToolEnded).empty());

    // Back at its periodic verification, not two seconds later.
    while (platform.now < nextCheck - seconds{1}) {
        advance(milliseconds{250});
        supervision.TimerCheck_Timer();
    }
    EXPECT_TRUE(platform.starts.empty());
    verifyNow(kPlayer);
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(journal.of(JournalEvent::ToolRestartedByVerification).size(), 1u);
}

TEST_F(ToolEndTest, EndsThatStartNothingAreJournaledAll) {
    // Tool 12 handed over by the launch sequence while it still runs; tool
    // 0 without "Vérifier", verified by its button.
    rows.row(kPlayer).launch = 1;
    rows.row(kPlayer).tempo = "0";
    verify(kPlayer, 0);
    rows.row(20).launch = 1;
    rows.row(20).tempo = "60000";  // keeps the sequence open
    running(kPlayer, 500);
    running(0, 700);
    load();
    ASSERT_TRUE(supervision.TimerLaunch_Timer());
    supervision.CommandImportNow_Click(0);
    ASSERT_TRUE(supervision.health().watched(kPlayer));
    ASSERT_TRUE(supervision.health().watched(0));

    advance(seconds{3});
    ends(500);
    ends(700);
    const auto endLines = journal.of(JournalEvent::ToolEnded);
    ASSERT_EQ(endLines.size(), 2u);
    EXPECT_EQ(detail(endLines[0], "suite"), "vérification après la séquence de lancement");
    EXPECT_EQ(detail(endLines[1], "suite"), "aucune : « Vérifier » n'est pas coché");

    // The sequence ends: the player comes back at its periodic verification
    // as ever; tool 0 never does.
    supervision.LaunchFinished = true;
    for (int k = 0; k < 20; ++k) {
        advance(milliseconds{250});
        supervision.TimerCheck_Timer();
    }
    EXPECT_TRUE(platform.starts.empty());
    verifyNow(kPlayer);
    EXPECT_EQ(startsOf(kPlayer), 1u);
    EXPECT_EQ(startsOf(0), 0u);
}

TEST_F(ToolEndTest, TheMemoryPassWatchesTheVerifiedToolsInOneSweep) {
    verify(0);
    verify(5);  // not running
    running(0, 800);
    running(0, 801);  // two processes of one tool
    running(7, 900);  // neither "Vérifier" nor verified: not looked for
    startSupervising();

    supervision.TimerMemoire_Timer();
    EXPECT_EQ(platform.windowQueries, 1);
    EXPECT_TRUE(supervision.health().watched(0));
    EXPECT_FALSE(supervision.health().watched(5));
    EXPECT_FALSE(supervision.health().watched(7));
    EXPECT_EQ(platform.openWatches(), 2);

    // The end of one of its processes is not the tool's end.
    ends(800);
    EXPECT_TRUE(journal.of(JournalEvent::ToolEnded).empty());
    ends(801);
    EXPECT_EQ(journal.of(JournalEvent::ToolEnded).size(), 1u);

    // The next pass asks for both again (one question), and arms nothing
    // while neither window is there.
    supervision.TimerMemoire_Timer();
    EXPECT_EQ(platform.windowQueries, 2);
    EXPECT_EQ(platform.openWatches(), 0);

    // Without the event loop's notifiers nothing is watched or looked for.
    supervision.setEndNotifiers(nullptr);
    const int requests = platform.watchRequests;
    running(5, 901);
    supervision.TimerMemoire_Timer();
    verifyNow(5);
    EXPECT_EQ(platform.windowQueries, 3);  // the verification's own question only
    EXPECT_EQ(platform.watchRequests, requests);
}

TEST_F(ToolEndTest, ASettleDoublesForAToolThatKeepsDyingSoonAfterItsStart) {
    verify(kPlayer, 0);  // "01 Min"
    running(kPlayer, 500);
    startSupervising();
    advance(minutes{20});
    verifyNow(kPlayer);
    ends(500);

    std::vector<std::string> follows;
    std::uint32_t pid = 600;
    for (int round = 0; round < 4; ++round) {
        follows.push_back(detail(journal.entries.back(), "suite"));
        // Tick until the verification after the end has started it again.
        const auto before = platform.starts.size();
        for (int k = 0; k < 400 && platform.starts.size() == before; ++k) {
            advance(milliseconds{250});
            supervision.TimerCheck_Timer();
        }
        ASSERT_EQ(platform.starts.size(), before + 1);
        // Its window shows; the memory pass watches it; it dies 20 s after
        // its start.
        running(kPlayer, ++pid);
        advance(seconds{15});
        supervision.TimerMemoire_Timer();
        ASSERT_TRUE(supervision.health().watched(kPlayer));
        advance(seconds{5});
        ends(pid);
    }
    follows.push_back(detail(journal.entries.back(), "suite"));
    EXPECT_EQ(follows,
              (std::vector<std::string>{"vérification dans 2 s", "vérification dans 2 s", "vérification dans 4 s",
                                        "vérification dans 8 s", "vérification dans 16 s"}));
    EXPECT_EQ(detail(journal.entries.back(), "depuis son démarrage"), "20 s");
}

TEST_F(ToolEndTest, AToolThatKeepsDyingIsJournaledAsOneLoopWithItsLinesFolded) {
    verify(kPlayer, 0);  // "01 Min"
    startSupervising();
    // Each copy shows its window at once and, while `dying`, dies 20 s after
    // its start; the memory pass runs every 15 s.
    bool dying = true;
    std::uint32_t alive = 0;  // the copy running; 0: none
    std::uint32_t bornAt = 0, pid = 600;
    std::size_t given = 0;
    const auto run = [&](minutes length) {
        for (int second = 1; second <= length.count() * 60; ++second) {
            advance(seconds{1});
            supervision.TimerCheck_Timer();
            if (platform.starts.size() > given)
                given = platform.starts.size(), running(kPlayer, ++pid), alive = pid, bornAt = platform.tick;
            if (dying && alive != 0 && platform.tick - bornAt >= 20'000) ends(alive), alive = 0;
            if (second % 15 == 0) supervision.TimerMemoire_Timer();
        }
    };
    const auto lines = [&](JournalEvent event) { return journal.of(event).size(); };

    run(minutes{70});
    // Two restarts and two ends written; the third restart's line is the
    // loop's, and all that follow are folded, an hour's line counting them.
    ASSERT_EQ(lines(JournalEvent::ToolLoopBegan), 1u);
    EXPECT_EQ(lines(JournalEvent::ToolRestartedByVerification) + lines(JournalEvent::ToolRestartedAfterEnd), 2u);
    EXPECT_EQ(lines(JournalEvent::ToolEnded), 2u);
    ASSERT_GT(platform.starts.size(), 40u);
    const auto foldedRestarts = journal.of(JournalEvent::ToolRestartedAfterEnd, false).size() +
                                journal.of(JournalEvent::ToolRestartedByVerification, false).size();
    EXPECT_EQ(foldedRestarts, platform.starts.size() - 2);
    EXPECT_EQ(journal.of(JournalEvent::ToolEnded, false).size() + 1, foldedRestarts);
    const auto lasts = journal.of(JournalEvent::ToolLoopLasts);
    ASSERT_EQ(lasts.size(), 1u);
    EXPECT_EQ(detail(lasts[0], "depuis"), "1 h 00 min");
    EXPECT_TRUE(supervision.health().loopTooltip(kPlayer));

    // The "Kill" button's end is the operator's: written. The periodic
    // verification brings it back (folded); it holds ten minutes: over.
    supervision.TimerMemoire_Timer();
    supervision.CommandKillProcess_Click(kPlayer);
    ASSERT_NE(alive, 0u);
    ends(alive);
    EXPECT_EQ(lines(JournalEvent::ToolEndedByKill), 1u);
    dying = false;
    run(minutes{12});
    const auto over = journal.of(JournalEvent::ToolLoopOver);
    ASSERT_EQ(over.size(), 1u);
    EXPECT_EQ(detail(over[0], "raison"), "tourne depuis 10 min sans s'arrêter");
    EXPECT_EQ(detail(over[0], "relances en tout"), std::to_string(platform.starts.size()));
    EXPECT_EQ(lines(JournalEvent::ToolRestartedByVerification) + lines(JournalEvent::ToolRestartedAfterEnd), 2u);
    EXPECT_FALSE(supervision.health().loopTooltip(kPlayer));
}

TEST_F(ToolEndTest, AFrozenToolIsShownJournaledAndRestartedOnlyWhereChosen) {
    const std::string title(*toolBaseName(kPlayer));
    verify(kPlayer);
    running(kPlayer, 500);
    startSupervising();
    verifyNow(kPlayer);
    // Four ticks a second for `span`: the windows are asked every 5 s.
    const auto run = [&](milliseconds span) {
        for (auto t = milliseconds{0}; t < span; t += milliseconds{250}) {
            advance(milliseconds{250});
            supervision.TimerCheck_Timer();
        }
    };
    platform.responses[title] = platform::WindowResponse::Answers;
    const int before = platform.responseQueries;
    run(seconds{60});
    EXPECT_EQ(platform.responseQueries - before, 12);
    EXPECT_TRUE(journal.written.empty());

    // Frozen 15 s after the first question it left unanswered, counted from
    // the question just asked.
    const auto nextQuestion = [&] {
        for (const int asked = platform.responseQueries; platform.responseQueries == asked;) run(milliseconds{250});
    };
    nextQuestion();
    platform.responses[title] = platform::WindowResponse::NotAnswering;
    const auto silentFrom = platform.now;
    run(seconds{14});
    EXPECT_FALSE(rows.row(kPlayer).frozen);
    run(seconds{1});
    ASSERT_TRUE(rows.row(kPlayer).frozen);
    const auto frozen = journal.of(JournalEvent::ToolFrozen);
    ASSERT_EQ(frozen.size(), 1u);
    EXPECT_EQ(detail(frozen[0], "relance"), "jamais");
    EXPECT_EQ(supervision.health().freezeTooltip(kPlayer), "Ne répond plus depuis " + formatHms(silentFrom));
    // Left alone where nobody chose otherwise (its periodic verification
    // finds its window meanwhile).
    run(minutes{3});
    EXPECT_TRUE(platform.kills.empty());
    EXPECT_TRUE(platform.starts.empty());
    platform.responses[title] = platform::WindowResponse::Answers;
    run(seconds{5});
    EXPECT_FALSE(rows.row(kPlayer).frozen);
    ASSERT_EQ(journal.of(JournalEvent::ToolAnswersAgain).size(), 1u);
    EXPECT_FALSE(supervision.health().freezeTooltip(kPlayer));

    // The operator chooses "1 min": stored, then acted on a minute after the
    // first question left unanswered (what follows is any end's; the
    // end-to-end tests follow it with real stand-ins).
    rows.row(kPlayer).freezeRestart = 1;
    supervision.FreezeRestart_Click(kPlayer);
    EXPECT_EQ((settings.values[{"Frozen", "Idx_12"}]), "1");
    nextQuestion();
    platform.responses[title] = platform::WindowResponse::NotAnswering;
    run(seconds{59});
    EXPECT_TRUE(platform.kills.empty());
    run(seconds{1});
    ASSERT_EQ(platform.kills, std::vector<std::string>{title});
    const auto killed = journal.of(JournalEvent::ToolKilledFrozen);
    ASSERT_EQ(killed.size(), 1u);
    EXPECT_EQ(detail(killed[0], "choix"), "relancer après 1 min");
    // Its end is any end's and it comes back through the verification that
    // follows; the monitoring counts that start as a restart on freeze.
    notifiers.signal(500);
    for (int k = 0; k < 400 && platform.starts.empty(); ++k) run(milliseconds{250});
    ASSERT_EQ(platform.starts.size(), 1u);
    const auto& counts = supervision.StartCounts[kPlayer];
    EXPECT_EQ(counts[static_cast<std::size_t>(StartWay::Freeze)], 1u);
    EXPECT_EQ(counts[static_cast<std::size_t>(StartWay::End)], 0u);
    EXPECT_EQ(supervision.LastStart[kPlayer], platform.now);

    // A tool without "Vérifier" is never asked.
    rows.row(kPlayer).check = 0;
    const int asked = platform.responseQueries;
    run(seconds{30});
    EXPECT_EQ(platform.responseQueries, asked);
}

}  // namespace
}  // namespace tolvane::testsupport
