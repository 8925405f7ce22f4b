// Loading a store in which every key Tolvane reads holds something nobody
// should have typed: numbers out of every range, hexadecimal, other scripts'
// digits, a megabyte of text, bytes that are not UTF-8, lists, serialised
// Qt variants. Tolvane loads, keeps running, shows each value as the
// controls can hold it (skipping what they cannot), and leaves every key it
// had no reason to write exactly as it found it, in memory and in a real
// INI file.
#include <QCheckBox>
#include <QComboBox>
#include <QDataStream>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "platform/fake/FakePlatform.h"
#include "supervisor/settings/QtSettingsStore.h"
#include "supervisor/settings/SettingsStore.h"
#include "supervisor/ui/Frm_Main.h"

using namespace tolvane;
using namespace std::chrono;

namespace {

using Key = std::pair<std::string, std::string>;

// One hostile value: the text a store holds, and what it means to Tolvane.
// `number` is the stored number as the rules read it (leading decimal
// number, blanks skipped, &H hexadecimal, halves to even), nothing when it
// does not fit 16 bits. In the INI file the value is written as a person
// would type it; the file's own syntax may give it another meaning there
// (a trimmed blank, a comment, a serialised variant).
struct Hostile {
    std::string name;
    std::string text;
    std::optional<int> number;
    bool fitsATextField = true;                         // UTF-8 and no longer than a field takes
    std::optional<std::optional<std::string>> iniText;  // set: what the file means; inner nothing: absent
    std::optional<int> iniNumber;
};

// A Qt data stream of an int, as "@Variant(...)" holds it in an INI file.
std::string variantOfInt(int value) {
    QByteArray stream;
    {
        QDataStream s(&stream, QIODevice::WriteOnly);
        s.setVersion(QDataStream::Qt_4_0);
        s << QVariant(value);
    }
    std::string out = "@Variant(";
    for (const char c : stream) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%x", static_cast<unsigned char>(c));
        out += hex;
    }
    return out + ")";
}

const std::string Megabyte = "1" + std::string(1 << 20, 'x');

std::vector<Hostile> hostileValues() {
    std::vector<Hostile> v;
    auto add = [&v](std::string name, std::string text, std::optional<int> number) {
        Hostile h;
        h.name = std::move(name);
        h.text = std::move(text);
        h.number = number;
        v.push_back(h);
        return &v.back();
    };
    add("empty", "", 0);
    add("letters", "abc", 0);
    add("1e40", "1e40", std::nullopt);
    add("-1", "-1", -1);
    add("-0.6", "-0.6", -1);
    add("-32769", "-32769", std::nullopt);
    add("32768", "32768", std::nullopt);
    add("99999", "99999", std::nullopt);
    add("0x10", "0x10", 0);  // "0", then a letter
    add("&HFFFF", "&HFFFF", std::nullopt);
    add("&H10", "&H10", 16);
    add("1.5", "1.5", 2);
    add("one half", "½", 0);
    add("Arabic-Indic digits", "١٢", 0);
    add("blank inside", "2 5", 25);
    {
        Hostile* h = add("megabyte", Megabyte, 1);
        h->fitsATextField = false;
    }
    {
        Hostile* h = add("not UTF-8", "\xff\xfe\xc3(", 0);
        h->fitsATextField = false;
    }
    add("list", "a, b", 0);
    add("list without blank", "a,b", 0);
    {
        Hostile* h = add("broken variant", "@Variant(\\0\\0\\0\\x7f garbage)", 0);
        h->iniText = std::optional<std::string>();  // unreadable: the key counts as absent
    }
    {
        Hostile* h = add("variant of 2", variantOfInt(2), 0);
        h->iniText = std::optional<std::string>("2");
        h->iniNumber = 2;
    }
    {
        Hostile* h = add("escaped at", "@@x", 0);
        h->iniText = std::optional<std::string>("@x");
        h->iniNumber = 0;
    }
    {
        Hostile* h = add("leading tab", "\t1", 1);
        h->iniText = std::optional<std::string>("1");  // blanks around a value are no part of it in a file
        h->iniNumber = 1;
    }
    {
        Hostile* h = add("comment", "7 ; seven", 7);
        h->iniText = std::optional<std::string>("7");
        h->iniNumber = 7;
    }
    return v;
}

enum class Kind { Box, List, Text };

struct Setting {
    std::string section;
    std::string key;
    Kind kind;
    int count = 0;  // items of a list
    std::string defaultText;
    std::function<QWidget*(Frm_Main&)> control;
};

std::vector<Setting> everySetting() {
    std::vector<Setting> s;
    auto idx = [](int i) { return "Idx_" + std::to_string(i); };
    for (int i = 0; i < ToolCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        s.push_back({"Launch", idx(i), Kind::Box, 0, "0", [at](Frm_Main& w) { return w.CheckLaunchWindows[at]; }});
        s.push_back({"Minimiser", idx(i), Kind::Box, 0, "0", [at](Frm_Main& w) { return w.CheckMinimiser[at]; }});
        s.push_back({"Tempo", idx(i), Kind::Text, 0, "10000", [at](Frm_Main& w) { return w.TexteTemporisation[at]; }});
        s.push_back({"Check", idx(i), Kind::Box, 0, "0", [at](Frm_Main& w) { return w.CheckCheck[at]; }});
        s.push_back({"Arguments", idx(i), Kind::Text, 0, i == 4 ? "" : "/NoBase=0",
                     [at](Frm_Main& w) { return w.TexteArguments[at]; }});
        s.push_back(
            {"Freq", idx(i), Kind::List, 7, "1", [at](Frm_Main& w) { return w.ComboFrequenceVerification[at]; }});
    }
    for (int i = 0; i < 8; ++i) {
        const auto at = static_cast<std::size_t>(i);
        s.push_back(
            {"CheckSchedulerJour", idx(i), Kind::Box, 0, "0", [at](Frm_Main& w) { return w.CheckSchedulerJour[at]; }});
        s.push_back(
            {"CheckPlannerJour", idx(i), Kind::Box, 0, "0", [at](Frm_Main& w) { return w.CheckPlannerJour[at]; }});
    }
    s.push_back(
        {"CheckSchedulerTiming", "Idx_0", Kind::List, 24, "0", [](Frm_Main& w) { return w.ComboSchedulerTiming[0]; }});
    s.push_back(
        {"CheckSchedulerTiming", "Idx_1", Kind::List, 4, "0", [](Frm_Main& w) { return w.ComboSchedulerTiming[1]; }});
    s.push_back(
        {"CheckPlannerTiming", "Idx_0", Kind::List, 24, "0", [](Frm_Main& w) { return w.ComboPlannerTiming[0]; }});
    s.push_back(
        {"CheckPlannerTiming", "Idx_1", Kind::List, 4, "0", [](Frm_Main& w) { return w.ComboPlannerTiming[1]; }});
    s.push_back(
        {"CheckSchedulerHeure", "Idx_0", Kind::List, 24, "0", [](Frm_Main& w) { return w.ComboSchedulerHeure[0]; }});
    s.push_back(
        {"CheckSchedulerHeure", "Idx_1", Kind::List, 24, "23", [](Frm_Main& w) { return w.ComboSchedulerHeure[1]; }});
    s.push_back({"CheckSchedulerJ", "Nb", Kind::List, 9, "0", [](Frm_Main& w) { return w.ComboSchedulerJ; }});
    s.push_back({"CheckPlannerJ", "Nb", Kind::List, 9, "0", [](Frm_Main& w) { return w.ComboPlannerJ; }});
    s.push_back({"CheckSchedulerReprogrammer", "Actif", Kind::Box, 0, "1",
                 [](Frm_Main& w) { return w.CheckSchedulerReprogrammer; }});
    s.push_back(
        {"CheckSchedulerOptDuree", "Actif", Kind::Box, 0, "1", [](Frm_Main& w) { return w.CheckSchedulerOptDuree; }});
    s.push_back(
        {"CheckPlannerReplanifier", "Actif", Kind::Box, 0, "1", [](Frm_Main& w) { return w.CheckPlannerReplanifier; }});
    s.push_back({"CheckSchedulerNoStation", "Index", Kind::List, 10, "0",
                 [](Frm_Main& w) { return w.ComboSchedulerNoStation; }});
    s.push_back({"CheckPlannerNbJour", "Index", Kind::List, 30, "0", [](Frm_Main& w) { return w.ComboPlannerNbJour; }});
    return s;
}

// A control's state as one comparable text.
std::string stateOf(const Setting& s, Frm_Main& w) {
    QWidget* c = s.control(w);
    switch (s.kind) {
        case Kind::Box: return "box " + std::to_string(boxValue(static_cast<QCheckBox*>(c)));
        case Kind::List: return "list " + std::to_string(static_cast<QComboBox*>(c)->currentIndex());
        case Kind::Text: return "text " + static_cast<QLineEdit*>(c)->text().toStdString();
    }
    return {};
}

// Before loading, every box is clear, every list without selection and
// every field empty but the delays, which the window is built with at
// "10000"; a value a control cannot hold leaves it so.
std::string initialState(const Setting& s) {
    switch (s.kind) {
        case Kind::Box: return "box 0";
        case Kind::List: return "list -1";
        case Kind::Text: return s.section == "Tempo" ? "text 10000" : "text ";
    }
    return {};
}

// What a value means once read: its text (or absent), its number.
struct Meaning {
    std::optional<std::string> text;
    std::optional<int> number;
    bool fitsATextField = true;
};

std::string expectedState(const Setting& s, const Meaning& m) {
    std::string text;
    std::optional<int> number;
    bool fits = m.fitsATextField;
    if (m.text) {
        text = *m.text;
        number = m.number;
    } else {
        // Absent: the default, which is always a plain number or a text.
        text = s.defaultText;
        number = s.kind == Kind::Text ? std::nullopt : std::optional<int>(std::stoi(s.defaultText));
        fits = true;
    }
    switch (s.kind) {
        case Kind::Box:
            return number && *number >= 0 && *number <= 2 ? "box " + std::to_string(*number) : initialState(s);
        case Kind::List:
            return number && *number >= -1 && *number < s.count ? "list " + std::to_string(*number) : initialState(s);
        case Kind::Text: return fits ? "text " + text : initialState(s);
    }
    return {};
}

// What Tolvane stores for a control in that state.
std::string storedFor(const std::string& state) { return state.substr(state.find(' ') + 1); }

// Records which keys Tolvane writes, whatever store is underneath.
struct RecordingStore final : SettingsStore {
    explicit RecordingStore(SettingsStore& s) : inner(s) {}
    std::string GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) override {
        return inner.GetSetting(section, key, defaultValue);
    }
    bool SaveSetting(std::string_view section, std::string_view key, std::string_view value) override {
        written[{std::string(section), std::string(key)}] = std::string(value);
        return inner.SaveSetting(section, key, value);
    }
    SettingsStore& inner;
    std::map<Key, std::string> written;  // last value written per key
};

std::string readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const QString& path, const std::string& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

QString copyOf(const QString& path, const QString& copy) {
    QFile::remove(copy);
    QFile::copy(path, copy);
    return copy;
}

std::map<Key, ini::KeyLine> linesOf(const std::string& text) {
    std::map<Key, ini::KeyLine> lines;
    for (const ini::KeyLine& line : ini::parse(text).keys) lines[{line.section, line.key}] = line;
    return lines;
}

struct Assignment {
    const Setting* setting;
    const Hostile* hostile;
};

// The hostile values cycled over every key. In the file the megabyte goes
// into two keys only: each edit rewrites the whole file.
std::vector<Assignment> assign(const std::vector<Setting>& settings, const std::vector<Hostile>& hostile,
                               bool forFile) {
    std::vector<Assignment> out;
    int megabytes = 0;
    std::size_t next = 0;
    for (const Setting& s : settings) {
        const Hostile* h = &hostile[next++ % hostile.size()];
        if (forFile && h->text == Megabyte && ++megabytes > 2) h = &hostile[next++ % hostile.size()];
        out.push_back({&s, h});
    }
    return out;
}

struct Window {
    platform::FakePlatform platform;
    std::unique_ptr<Frm_Main> window;
    Window() { platform.now = local_days{year{2026} / December / 8} + hours{10}; }
    Frm_Main& load(SettingsStore& store) {
        window = std::make_unique<Frm_Main>(platform, store);
        window->endProcess = [](int) {};
        window->Form_Initialize();
        window->Form_Load({});
        return *window;
    }
    // Tolvane goes on: a few seconds of ticks, the memory pass, a batch-clock
    // tick.
    void run() {
        Frm_Main& w = *window;
        for (int k = 0; k < 60; ++k) {
            platform.tick += 250;
            platform.now += seconds{1};
            w.TimerLaunch_Timer();
            w.TimerCheck_Timer();
        }
        w.TimerMemoire_Timer();
        platform.now += minutes{10};
        w.Timer30s_Timer();
        w.TimerCheck_Timer();
    }
};

void checkStillRunning(Frm_Main& w) {
    QVERIFY(w.TimerCheck->isActive());
    QVERIFY(w.TimerMemoire->isActive());
    QVERIFY(w.Timer30s->isActive());
    // The launch timer stops for good once the launch sequence has ended.
    QVERIFY(w.TimerLaunch->isActive() || w.supervision().LaunchFinished);
    for (int i = 0; i < ToolCount; ++i)
        QCOMPARE(w.LabelNextCheck[static_cast<std::size_t>(i)]->text().size(),
                 8);  // HH:MM:SS
}

}  // namespace

class HostileSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void memoryStoreLoadsShowsAndKeepsWhatItDidNotWrite() {
        const auto settings = everySetting();
        const auto hostile = hostileValues();
        const auto assignments = assign(settings, hostile, false);
        MemorySettingsStore memory;
        for (const auto& a : assignments) memory.values[{a.setting->section, a.setting->key}] = a.hostile->text;
        const auto before = memory.values;
        RecordingStore store(memory);

        Window h;
        Frm_Main& w = h.load(store);

        QStringList faults;
        std::set<Key> shouldWrite;
        for (const auto& a : assignments) {
            const Setting& s = *a.setting;
            const Key key{s.section, s.key};
            const std::string expected =
                expectedState(s, {a.hostile->text, a.hostile->number, a.hostile->fitsATextField});
            const std::string shown = stateOf(s, w);
            if (shown != expected)
                faults << QString::fromStdString(s.section + "/" + s.key + " (" + a.hostile->name + "): shows [" +
                                                 shown.substr(0, 40) + "], expected [" + expected.substr(0, 40) + "]");
            if (expected != initialState(s)) shouldWrite.insert(key);
            const auto written = store.written.find(key);
            if (written != store.written.end()) {
                if (memory.values[key] != storedFor(expected))
                    faults << QString::fromStdString(s.section + "/" + s.key + ": stored [" +
                                                     memory.values[key].substr(0, 40) + "] for [" +
                                                     expected.substr(0, 40) + "]");
            } else if (memory.values[key] != before.at(key)) {
                faults << QString::fromStdString(s.section + "/" + s.key + " (" + a.hostile->name +
                                                 "): changed without being written");
            }
        }
        std::set<Key> written;
        for (const auto& [key, v] : store.written) written.insert(key);
        for (const Key& k : shouldWrite)
            if (!written.count(k)) faults << QString::fromStdString("not written: " + k.first + "/" + k.second);
        QStringList unchangedListsWritten;
        for (const Key& k : written)
            if (!shouldWrite.count(k)) unchangedListsWritten << QString::fromStdString(k.first + "/" + k.second);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        QCOMPARE(memory.values.size(), before.size());
        expectNoWriteForUnchangedLists(unchangedListsWritten);

        h.run();
        checkStillRunning(w);
        // Running wrote nothing over the values it had left alone.
        for (const auto& [key, value] : before)
            if (!store.written.count(key)) QVERIFY2(memory.values.at(key) == value, key.second.c_str());
    }

    void iniFileLoadsShowsAndKeepsEveryByteItDidNotWrite() {
        const auto settings = everySetting();
        const auto hostile = hostileValues();
        const auto assignments = assign(settings, hostile, true);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Tolvane.ini"));

        // The file as someone edited it by hand, one section after another.
        std::string text;
        std::string section;
        for (const auto& a : assignments) {
            if (a.setting->section != section) {
                section = a.setting->section;
                text += (text.empty() ? "[" : "\n[") + section + "]\n";
            }
            text += a.setting->key + "=" + a.hostile->text + "\n";
        }
        writeFile(file, text);
        // What Qt's own INI reader and a fresh store make of it, before.
        std::map<Key, QVariant> qtBefore;
        std::map<Key, std::string> storeBefore;
        {
            QSettings qt(copyOf(file, dir.filePath(QStringLiteral("qt-before.ini"))), QSettings::IniFormat);
            auto fresh = QtSettingsStore::atIniFile(
                copyOf(file, dir.filePath(QStringLiteral("store-before.ini"))).toStdString());
            for (const Setting& s : settings) {
                qtBefore[{s.section, s.key}] = qt.value(QString::fromStdString(s.section + "/" + s.key));
                storeBefore[{s.section, s.key}] = fresh->GetSetting(s.section, s.key, "<absent>");
            }
        }

        auto ini = QtSettingsStore::atIniFile(file.toStdString());
        RecordingStore store(*ini);
        Window h;
        Frm_Main& w = h.load(store);
        h.run();
        checkStillRunning(w);

        QStringList faults;
        std::set<Key> shouldWrite;
        for (const auto& a : assignments) {
            const Setting& s = *a.setting;
            const Hostile& v = *a.hostile;
            Meaning m{v.text, v.number, v.fitsATextField};
            if (v.iniText) m = {*v.iniText, v.iniNumber, true};
            const std::string expected = expectedState(s, m);
            const std::string shown = stateOf(s, w);
            if (shown != expected)
                faults << QString::fromStdString(s.section + "/" + s.key + " (" + v.name + "): shows [" +
                                                 shown.substr(0, 40) + "], expected [" + expected.substr(0, 40) + "]");
            if (expected != initialState(s)) shouldWrite.insert({s.section, s.key});
        }
        std::set<Key> written;
        for (const auto& [key, value] : store.written) written.insert(key);
        for (const Key& k : shouldWrite)
            if (!written.count(k)) faults << QString::fromStdString("not written: " + k.first + "/" + k.second);
        QStringList unchangedListsWritten;
        for (const Key& k : written)
            if (!shouldWrite.count(k)) unchangedListsWritten << QString::fromStdString(k.first + "/" + k.second);
        QVERIFY2(!written.empty(), "the hostile file should have made Tolvane write some keys");

        // Byte for byte: every key not written keeps its line as it was.
        const std::string after = readFile(file);
        const auto linesBefore = linesOf(text);
        const auto linesAfter = linesOf(after);
        for (const auto& [key, line] : linesBefore) {
            const auto it = linesAfter.find(key);
            if (it == linesAfter.end()) {
                faults << QString::fromStdString("lost: " + key.first + "/" + key.second);
                continue;
            }
            if (written.count(key)) {
                if (ini::readValue(it->second.rawValue).bytes != store.written.at(key))
                    faults << QString::fromStdString("written value not in the file: " + key.first + "/" + key.second);
            } else if (it->second.rawValue != line.rawValue || it->second.comment != line.comment) {
                // (a key written by Tolvane is in `written`, whatever it wrote)
                faults << QString::fromStdString("rewritten: " + key.first + "/" + key.second + " [" +
                                                 line.rawValue.substr(0, 30) + "] -> [" +
                                                 it->second.rawValue.substr(0, 30) + "]");
            }
        }
        // And as Qt's own reader and a fresh store see it.
        QSettings qt(copyOf(file, dir.filePath(QStringLiteral("qt-after.ini"))), QSettings::IniFormat);
        auto fresh =
            QtSettingsStore::atIniFile(copyOf(file, dir.filePath(QStringLiteral("store-after.ini"))).toStdString());
        for (const Setting& s : settings) {
            const Key key{s.section, s.key};
            if (written.count(key)) {
                if (fresh->GetSetting(s.section, s.key, "<absent>") != store.written.at(key))
                    faults << QString::fromStdString("reads back differently: " + s.section + "/" + s.key);
                continue;
            }
            if (qt.value(QString::fromStdString(s.section + "/" + s.key)) != qtBefore.at(key))
                faults << QString::fromStdString("Qt reads another value: " + s.section + "/" + s.key);
            if (fresh->GetSetting(s.section, s.key, "<absent>") != storeBefore.at(key))
                faults << QString::fromStdString("store reads another value: " + s.section + "/" + s.key);
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        expectNoWriteForUnchangedLists(unchangedListsWritten);
    }

private:
    // A list loaded with a value that reads -1 had no selection and still
    // has none: its reaction must not run, so nothing is written ("-0.6"
    // must stay "-0.6"). Qt 6.4's QComboBox signals a change for every
    // setCurrentIndex(-1), even when nothing was selected, so loading has
    // to compare before it selects.
    void expectNoWriteForUnchangedLists(const QStringList& keys) {
        QVERIFY2(keys.isEmpty(),
                 qPrintable(QStringLiteral("written for no change: ") + keys.join(QStringLiteral(", "))));
    }
};

QTEST_MAIN(HostileSettingsTest)
#include "HostileSettingsTest.moc"
