// What the supervision tells the journal: each way a tool is started, a
// start the system refused with its reason, the Kill button, and the display
// going silent and coming back, once each way.
#include <string>
#include <vector>

#include "tests/support/fake/SupervisionFixture.h"

namespace tolvane::testsupport {
namespace {

using namespace std::chrono;
using platform::WindowPresence;

class RecordingJournal final : public JournalSink {
public:
    void record(const JournalEntry& entry) override { entries.push_back(entry); }
    std::vector<JournalEntry> entries;
};

std::string detail(const JournalEntry& entry, const std::string& label) {
    for (const auto& d : entry.details)
        if (d.label == label) return d.value;
    return "<none>";
}

enum class Way { Verification, HandOver, Button, Batch };

class JournalEventsTest : public SupervisionTest {
protected:
    static constexpr int kTool = 12;  // VX8_Player_A

    JournalEventsTest() { supervision.setJournal(journal); }

    void startOnce(Way way) {
        rows.row(kTool).check = 1;
        rows.row(kTool).period = 0;
        rows.row(kTool).launch = way == Way::HandOver ? 1 : 0;
        rows.row(kTool).minimiser = 1;
        rows.row(kTool).tempo = "0";
        rows.row(kTool).arguments = " /NoBase=0 ";
        load();
        supervision.LaunchFinished = way != Way::HandOver;
        supervision.ToolLaunched.fill(false);
        supervision.NextCheck[kTool] = platform.now - seconds{5};
        switch (way) {
            case Way::Verification: supervision.TimerCheck_Timer(); break;
            case Way::HandOver: supervision.TimerLaunch_Timer(); break;
            case Way::Button: supervision.CommandImportNow_Click(kTool); break;
            case Way::Batch:
                supervision.LaunchProcess(kTool, false, "/Batch=J+",
                                          {JournalEvent::ToolStartedByBatch, {{"déclencheur", "horloge batch"}}});
                break;
        }
    }

    RecordingJournal journal;
};

TEST_F(JournalEventsTest, EachStartIsJournaledWithItsCauseArgumentsAndRefusal) {
    const struct {
        Way way;
        bool refused;
        JournalEvent event;
        std::string request;  // "demande" of a refusal
        std::string arguments;
    } cases[] = {
        {Way::Verification, false, JournalEvent::ToolRestartedByVerification, "<none>", "/NoBase=0"},
        {Way::HandOver, false, JournalEvent::ToolStartedByLaunchSequence, "<none>", "/NoBase=0 /Veille=True"},
        {Way::Button, false, JournalEvent::ToolStartedByCheckButton, "<none>", "/NoBase=0"},
        {Way::Batch, false, JournalEvent::ToolStartedByBatch, "<none>", "/Batch=J+"},
        {Way::Verification, true, JournalEvent::ToolStartRefused, "vérification (aucune fenêtre)", "/NoBase=0"},
        {Way::HandOver, true, JournalEvent::ToolStartRefused, "séquence de lancement", "/NoBase=0 /Veille=True"},
        {Way::Button, true, JournalEvent::ToolStartRefused, "bouton « Vérifier »", "/NoBase=0"},
        {Way::Batch, true, JournalEvent::ToolStartRefused, "batch", "/Batch=J+"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "way " << static_cast<int>(c.way) << ", refused " << c.refused);
        journal.entries.clear();
        platform.windows.clear();
        platform.refuseStarts = c.refused;
        platform.refusal = "Permission denied";
        startOnce(c.way);
        ASSERT_EQ(journal.entries.size(), 1u);
        const JournalEntry& e = journal.entries.front();
        EXPECT_EQ(e.event, c.event);
        EXPECT_EQ(e.tool, kTool);
        EXPECT_EQ(detail(e, "arguments"), c.arguments);
        EXPECT_EQ(detail(e, "demande"), c.request);
        EXPECT_EQ(detail(e, "raison"), c.refused ? "Permission denied" : "<none>");
        EXPECT_EQ(detail(e, "déclencheur"), c.way == Way::Batch ? "horloge batch" : "<none>");
    }

    // A tool whose window is there is started by nobody and journaled by none.
    journal.entries.clear();
    platform.refuseStarts = false;
    platform.windows.insert("VX8_Player_A");
    startOnce(Way::Verification);
    EXPECT_TRUE(journal.entries.empty());
}

TEST_F(JournalEventsTest, KillAndTheDisplaysSilenceAreJournaledOnceEachWay) {
    supervision.CommandKillProcess_Click(kTool);
    ASSERT_EQ(journal.entries.size(), 1u);
    EXPECT_EQ(journal.entries[0].event, JournalEvent::ToolKilled);
    EXPECT_EQ(journal.entries[0].tool, kTool);
    EXPECT_EQ(detail(journal.entries[0], "programme"), std::string("VX8_Player_A") + platform::executableSuffix());

    // Ten silent ticks, then ten answered: two lines, whatever the count.
    journal.entries.clear();
    rows.row(kTool).check = 1;
    rows.row(kTool).period = -1;  // no period: asked on every tick
    load();
    supervision.LaunchFinished = true;
    platform.windows.insert("VX8_Player_A");
    platform.displayAnswers = false;
    for (int tick = 0; tick < 10; ++tick) supervision.TimerCheck_Timer();
    platform.displayAnswers = true;
    for (int tick = 0; tick < 10; ++tick) supervision.TimerCheck_Timer();
    std::vector<JournalEvent> events;
    for (const auto& e : journal.entries) events.push_back(e.event);
    EXPECT_EQ(events,
              (std::vector<JournalEvent>{JournalEvent::DisplayNotAnswering, JournalEvent::DisplayAnsweringAgain}));
    EXPECT_TRUE(platform.starts.empty());
}

}  // namespace
}  // namespace tolvane::testsupport
