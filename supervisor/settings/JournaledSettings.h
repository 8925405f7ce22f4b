#pragma once
// The operator's choices in the journal: which stored settings are choices
// worth a line ("Lancer", "Minimiser", "Vérifier" and the period of a tool,
// "Actif" and the days of a batch page, a tool's texts), how a value reads,
// and a store that records a changed choice as it is saved. A text is
// recorded once it has stood still (the caller's timer calls flushTexts), so
// typing a path writes one line, not one per key.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "journal/Journal.h"
#include "supervisor/settings/SettingsStore.h"

namespace tolvane {

struct SettingChange {
    JournalEvent event{};
    std::optional<int> tool;
    std::string page;     // the batch page's name, for a batch choice
    std::string setting;  // the control's caption
    bool isText = false;  // recorded once it has stood still
};

// What the journal calls this setting; nothing for a setting that is not
// one of the operator's choices worth a line.
std::optional<SettingChange> settingChange(std::string_view section, std::string_view key);

// The value the window shows for a choice that was never stored: the
// defaults of loading (check boxes unticked, "10000", "05 Min", the tool's
// default arguments).
std::string choiceDefault(std::string_view section, std::string_view key);

// A stored value as the operator reads it ("coché", "10 Min", ...).
std::string settingValueText(std::string_view section, const std::string& value);

// The journal's line for a change from `before` to `after`.
JournalEntry settingChangeEntry(const SettingChange& change, std::string_view section, const std::string& before,
                                const std::string& after);

// The store the window is given: every call goes to `inner`; once
// startJournaling() has been called (after loading, whose reactions save the
// loaded values again), a save that changes a choice is journaled, and a
// save the store refuses is journaled once for each run of refusals. A
// refused value is kept and saved again as soon as the store takes a write,
// and only then is its change journaled.
class JournaledSettings final : public SettingsStore {
public:
    JournaledSettings(SettingsStore& inner, JournalSink& journal) : m_inner(inner), m_journal(journal) {}

    std::string GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) override;
    bool SaveSetting(std::string_view section, std::string_view key, std::string_view value) override;
    bool isEnforced(std::string_view section, std::string_view key) override {
        return m_inner.isEnforced(section, key);
    }
    void setLoading(bool loading) override { m_inner.setLoading(loading); }

    void startJournaling() { m_journaling = true; }
    // Records the text changes waiting; a text typed back to what it was
    // before is no change.
    void flushTexts();
    // Called when a text change starts waiting or waits again: the caller
    // (re)starts its timer and calls flushTexts when it fires.
    std::function<void()> textPending;
    // Tries the refused values again (as Tolvane ends: the last chance to
    // keep them).
    void retryRefused();

private:
    using Where = std::pair<std::string, std::string>;
    // The stored value, or the default the window showed for it.
    std::string shownValue(std::string_view section, std::string_view key);
    void noteChange(const std::optional<SettingChange>& change, const Where& where, const std::string& before,
                    const std::string& after);
    void keepRefused(const Where& where, const std::optional<SettingChange>& change, const std::string& before,
                     const std::string& value);

    struct PendingText {
        SettingChange change;
        std::string before;  // as it stood when the first change came
        std::string after;
    };
    SettingsStore& m_inner;
    JournalSink& m_journal;
    bool m_journaling = false;
    bool m_refusing = false;
    std::map<Where, PendingText> m_pendingTexts;
    struct Refused {
        std::optional<SettingChange> change;
        std::string before;  // as the operator saw it before the first refused save
        std::string value;
    };
    std::map<Where, Refused> m_refused;
};

}  // namespace tolvane
