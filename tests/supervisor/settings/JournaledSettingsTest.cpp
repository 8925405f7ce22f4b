// The operator's choices in the journal: which saves are recorded and how
// they read, texts recorded once they stand still, a refusing store, and
// today's restart count read back from the day's file.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "supervisor/settings/JournaledSettings.h"

namespace tolvane {
namespace {

using namespace std::chrono;

struct RecordingJournal final : JournalSink {
    std::vector<std::string> lines;
    void record(const JournalEntry& entry) override {
        lines.push_back(formatJournalLine({}, entry).substr(std::string("1970-01-01 00:00:00 +0000 ").size()));
    }
};

TEST(JournaledSettings, ChoicesAreRecordedAsTheOperatorReadsThem) {
    const struct {
        const char* section;
        const char* key;
        std::optional<std::string> before;
        const char* after;
        const char* line;  // nothing expected when empty
    } cases[] = {
        {"Check", "Idx_5", "1", "0",
         "5001 [5 VX8_Player] Réglage de l'outil modifié | réglage : Vérifier | avant : coché | après : décoché"},
        {"Launch", "Idx_0", "0", "2",
         "5001 [0 VX8_Library] Réglage de l'outil modifié | réglage : Lancer | avant : décoché | après : grisé"},
        {"Freq", "Idx_6", "0", "2",
         "5001 [6 VX8_Tools_Data] Réglage de l'outil modifié | réglage : Fréquence de vérification | avant : 01 Min | après : 10 Min"},
        {"Freq", "Idx_6", "-1", "0",
         "5001 [6 VX8_Tools_Data] Réglage de l'outil modifié | réglage : Fréquence de vérification | avant : aucune | après : 01 Min"},
        {"Minimiser", "Idx_29", std::nullopt, "1",
         "5001 [29 VX8_Tools_Speech] Réglage de l'outil modifié | réglage : Minimiser | avant : décoché | après : coché"},
        {"CheckSchedulerJour", "Idx_0", "1", "0",
         "5002 [-] Réglage de page batch modifié | page : Scheduler | réglage : Actif | avant : coché | après : décoché"},
        {"CheckPlannerJour", "Idx_7", "0", "1",
         "5002 [-] Réglage de page batch modifié | page : Planner | réglage : Dimanche | avant : décoché | après : coché"},
        {"Check", "Idx_5", "1", "1", ""},          // saved again unchanged: loading, a click back
        {"Freq", "Idx_5", std::nullopt, "1", ""},  // never stored, saved as the default it showed
        {"Arguments", "Idx_4", std::nullopt, "", ""},
        {"Arguments", "Idx_3", std::nullopt, "/NoBase=1",
         "5003 [3 VX8_Tools_Planner] Texte de l'outil modifié | réglage : Arguments de la ligne de commande | avant : /NoBase=0 | après : /NoBase=1"},
        {"Check", "Idx_30", "1", "0", ""},                // no such tool
        {"CheckSchedulerTiming", "Idx_0", "1", "2", ""},  // not one of the journaled choices
        {"CheckSchedulerJour", "Idx_8", "1", "0", ""},
    };
    for (const auto& c : cases) {
        MemorySettingsStore store;
        const MemorySettingsStore::Key key(c.section, c.key);
        if (c.before) store.values[key] = *c.before;
        RecordingJournal journal;
        JournaledSettings settings(store, journal);
        settings.SaveSetting(c.section, c.key, "1");  // before journaling: loading's own saves
        EXPECT_TRUE(journal.lines.empty());
        if (c.before)
            store.values[key] = *c.before;
        else
            store.values.erase(key);
        settings.startJournaling();
        EXPECT_TRUE(settings.SaveSetting(c.section, c.key, c.after));
        settings.flushTexts();
        EXPECT_EQ(store.values[key], c.after);
        const std::vector<std::string> expected =
            *c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{};
        EXPECT_EQ(journal.lines, expected) << c.section << "/" << c.key;
    }
}

TEST(JournaledSettings, TextsWaitUntilTheyStandStillAndRefusalsAreRecordedOncePerRun) {
    MemorySettingsStore store;
    store.values[{"Arguments", "Idx_5"}] = "/NoBase=0";
    RecordingJournal journal;
    JournaledSettings settings(store, journal);
    int pending = 0;
    settings.textPending = [&] { ++pending; };
    settings.startJournaling();

    // Typing: one save per key, nothing recorded until the timer fires.
    for (const char* typed : {"/NoBase=", "/NoBase=1", "/NoBase=1 /X"})
        settings.SaveSetting("Arguments", "Idx_5", typed);
    settings.SaveSetting("Tempo", "Idx_5", "2000");
    EXPECT_EQ(pending, 4);
    EXPECT_TRUE(journal.lines.empty());
    settings.flushTexts();
    EXPECT_EQ(
        journal.lines,
        (std::vector<std::string>{
            "5003 [5 VX8_Player] Texte de l'outil modifié | réglage : Arguments de la ligne de commande | avant : /NoBase=0 | après : /NoBase=1 /X",
            "5003 [5 VX8_Player] Texte de l'outil modifié | réglage : Tempo. en ms | avant : 10000 | après : 2000"}));
    // Typed and typed back before it stood still: no change.
    journal.lines.clear();
    settings.SaveSetting("Tempo", "Idx_5", "20000");
    settings.SaveSetting("Tempo", "Idx_5", "2000");
    settings.flushTexts();
    settings.flushTexts();
    EXPECT_TRUE(journal.lines.empty());

    // A store that refuses: one line for the run of refusals; the refused
    // values are kept, written with the next write the store takes, and
    // only then journaled as changes.
    store.values[{"Check", "Idx_5"}] = "1";
    store.refuseWrites = true;
    EXPECT_FALSE(settings.SaveSetting("Check", "Idx_5", "0"));
    EXPECT_FALSE(settings.SaveSetting("Launch", "Idx_5", "1"));
    EXPECT_FALSE(settings.SaveSetting("Check", "Idx_5", "2"));
    store.refuseWrites = false;
    EXPECT_TRUE(settings.SaveSetting("Tempo", "Idx_5", "2000"));
    EXPECT_EQ(store.values[MemorySettingsStore::Key("Check", "Idx_5")], "2");
    EXPECT_EQ(store.values[MemorySettingsStore::Key("Launch", "Idx_5")], "1");
    store.refuseWrites = true;
    EXPECT_FALSE(settings.SaveSetting("Minimiser", "Idx_5", "1"));
    store.refuseWrites = false;
    settings.retryRefused();  // as Tolvane ends
    const std::string refused =
        "5010 [-] Les réglages n'ont pas pu être enregistrés : les modifications sont gardées et seront enregistrées "
        "dès que le stockage les acceptera, perdues si Tolvane s'arrête avant | section : ";
    const std::string again =
        "5011 [-] Les réglages sont de nouveau enregistrés, les modifications gardées comprises | "
        "modifications gardées : ";
    EXPECT_EQ(
        journal.lines,
        (std::vector<std::string>{
            refused + "Check | clé : Idx_5", again + "2",
            "5001 [5 VX8_Player] Réglage de l'outil modifié | réglage : Vérifier | avant : coché | après : grisé",
            "5001 [5 VX8_Player] Réglage de l'outil modifié | réglage : Lancer | avant : décoché | après : coché",
            refused + "Minimiser | clé : Idx_5", again + "1",
            "5001 [5 VX8_Player] Réglage de l'outil modifié | réglage : Minimiser | avant : décoché | après : coché"}));
}

TEST(JournaledSettings, OneKeyTheStoreKeepsRefusingIsNoRunOfRefusalsAndAcceptances) {
    struct RefusingOneKey final : SettingsStore {
        MemorySettingsStore inner;
        std::string GetSetting(std::string_view s, std::string_view k, std::string_view d) override {
            return inner.GetSetting(s, k, d);
        }
        bool SaveSetting(std::string_view s, std::string_view k, std::string_view v) override {
            return k != "Idx_9" && inner.SaveSetting(s, k, v);
        }
    } store;
    RecordingJournal journal;
    JournaledSettings settings(store, journal);
    settings.startJournaling();
    EXPECT_FALSE(settings.SaveSetting("Launch", "Idx_9", "1"));
    for (const char* value : {"1", "0"}) EXPECT_TRUE(settings.SaveSetting("Check", "Idx_5", value));
    ASSERT_EQ(journal.lines.size(), 3u);
    EXPECT_TRUE(journal.lines[0].starts_with("5010 ")) << journal.lines[0];
    EXPECT_TRUE(journal.lines[1].starts_with("5001 [5 VX8_Player] Réglage de l'outil modifié | réglage : Vérifier"))
        << journal.lines[1];
}

TEST(RestartTally, TodaysRestartsAreCountedFromTheFileAndAsTheyHappen) {
    const local_days today{2026y / December / 8};
    RestartTally tally;
    for (
        const char* line :
        {// merged repeats count; another day, event or tool does not
         "2026-12-07 23:59:59 +0100 2003 [6 VX8_Tools_Data] Relancé : la vérification n'a trouvé aucune fenêtre",
         "2026-12-08 01:02:03 +0100 2003 [6 VX8_Tools_Data] Relancé : la vérification n'a trouvé aucune fenêtre | arguments : /NoBase=0\n",
         "2026-12-08 03:12:45 +0100 2003 [6 VX8_Tools_Data] Relancé : la vérification n'a trouvé aucune fenêtre (répété 4 fois depuis la ligne précédente) | arguments : /NoBase=0",
         "2026-12-08 03:13:00 +0100 2000 [6 VX8_Tools_Data] Démarré par la séquence de lancement",
         // the verification that follows an end restarts too; an end does not
         "2026-12-08 03:30:00 +0100 2004 [6 VX8_Tools_Data] Relancé : son processus s'est arrêté | arguments : /NoBase=0",
         "2026-12-08 03:29:58 +0100 2030 [6 VX8_Tools_Data] Arrêté : son dernier processus s'est terminé",
         "2026-12-08 03:31:00 +0100 2004 [6 VX8_Tools_Data] Relancé : la vérification n'a trouvé aucune fenêtre",
         "2026-12-08 03:14:00 +0100 2003 [31 X] Relancé : la vérification n'a trouvé aucune fenêtre",
         // a looping tool: the loop's lines count the restarts folded into them
         "2026-12-08 05:00:00 +0100 2040 [8 VX8_Tools_FTP] Redémarre en boucle : ses relances et ses arrêts ne sont plus écrits un à un, une ligne par heure les compte | relances en 10 min : 3",
         "2026-12-08 06:00:00 +0100 2041 [8 VX8_Tools_FTP] Redémarre toujours en boucle | relances dans l'heure : 12 | arrêts vus dans l'heure : 12 | relances depuis le début : 15 | depuis : 1 h 00 min",
         "2026-12-08 06:20:00 +0100 2042 [8 VX8_Tools_FTP] Ne redémarre plus en boucle | raison : tourne depuis 10 min sans s'arrêter | relances depuis la ligne précédente : 4 | arrêts vus depuis la ligne précédente : 3 | relances en tout : 19 | durée de la boucle : 1 h 20 min",
         "2026-12-08 06:21:00 +0100 2041 [8 VX8_Tools_FTP] Redémarre toujours en boucle | arrêts vus dans l'heure : 12",
         // the same words inside a detail are not a count
         "2026-12-08 02:00:00 +0100 2003 [5 VX8_Player] Relancé : la vérification n'a trouvé aucune fenêtre | arguments : (répété 9 fois",
         "garbage", "",
         // cut short by a power failure, at any byte: nothing counted
         "2026-12-08 03:59:00 +0100 2003 [6 VX8_Tools_Data] Rel", "2026-12-08 03:59:00 +0100 2003 [6 VX8_Tools_Data] ",
         "2026-12-08 03:59:00 +0100 2003 [6 VX8_Tools_Data]", "2026-12-08 03:59:00 +0100 2003 [6 VX8_Too",
         "2026-12-08 03:59:00 +0100 2003 [6",
         "2026-12-08 03:59:00 +0100 2003 [-] Relancé : la vérification n'a trouvé aucune fenêtre",
         // a forged count cannot wrap the tally round
         "2026-12-08 01:00:00 +0100 2003 [7 VX8_Player_B] Relancé : la vérification n'a trouvé aucune fenêtre (répété 2147483647 fois",
         "2026-12-08 01:00:01 +0100 2003 [7 VX8_Player_B] Relancé : la vérification n'a trouvé aucune fenêtre (répété 2147483646 fois"}) {
        tally.noteLine(line);
    }
    EXPECT_EQ(restartTooltip(tally.today(6, today)), "Relancé 7 fois aujourd'hui, la dernière fois à 03:30:00");
    EXPECT_EQ(restartTooltip(tally.today(5, today)), "Relancé 1 fois aujourd'hui, la dernière fois à 02:00:00");
    EXPECT_EQ(tally.today(7, today).count, 2147483647);
    EXPECT_EQ(tally.today(8, today), (RestartsToday{17, hours{6} + minutes{20}}));
    tally.note(6, today + hours{4} + minutes{10});
    EXPECT_EQ(tally.today(6, today), (RestartsToday{8, hours{4} + minutes{10}}));
    // Midnight: the count is the new day's own, and the old one is not shown.
    EXPECT_EQ(restartTooltip(tally.today(6, today + days{1})), "Aucune relance aujourd'hui");
    tally.note(6, today + days{1} + minutes{1});
    EXPECT_EQ(tally.today(6, today + days{1}), (RestartsToday{1, minutes{1}}));
}

}  // namespace
}  // namespace tolvane
