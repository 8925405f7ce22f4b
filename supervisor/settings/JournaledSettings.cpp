#include "supervisor/settings/JournaledSettings.h"

#include <charconv>
#include <vector>

#include "supervisor/core/ToolTable.h"

namespace tolvane {

namespace {

constexpr const char* DayCaptions[] = {"Actif", "Lundi",    "Mardi",  "Mercredi",
                                       "Jeudi", "Vendredi", "Samedi", "Dimanche"};

// The number of an "Idx_N" key, nothing for any other key.
std::optional<int> keyIndex(std::string_view key) {
    constexpr std::string_view Prefix = "Idx_";
    if (key.substr(0, Prefix.size()) != Prefix) return std::nullopt;
    const std::string_view digits = key.substr(Prefix.size());
    int value = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
    return value;
}

std::optional<int> integer(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

bool isBoxSection(std::string_view section) {
    return section == "Launch" || section == "Minimiser" || section == "Check" || section == "CheckSchedulerJour" ||
           section == "CheckPlannerJour";
}

}  // namespace

std::optional<SettingChange> settingChange(std::string_view section, std::string_view key) {
    const auto index = keyIndex(key);
    if (!index) return std::nullopt;
    const struct {
        std::string_view section;
        const char* setting;
        bool isText;
    } toolSettings[] = {
        {"Launch", "Lancer", false},
        {"Minimiser", "Minimiser", false},
        {"Check", "Vérifier", false},
        {"Freq", "Fréquence de vérification", false},
        {"Tempo", "Tempo. en ms", true},
        {"Arguments", "Arguments de la ligne de commande", true},
        {"Frozen", "Relancer s'il ne répond plus depuis", false},
    };
    for (const auto& s : toolSettings) {
        if (s.section != section) continue;
        if (!isToolIndex(*index)) return std::nullopt;
        return SettingChange{s.isText ? JournalEvent::ToolTextChanged : JournalEvent::ToolChoiceChanged,
                             *index,
                             {},
                             s.setting,
                             s.isText};
    }
    if ((section == "CheckSchedulerJour" || section == "CheckPlannerJour") && *index >= 0 && *index <= 7)
        return SettingChange{JournalEvent::BatchChoiceChanged, std::nullopt,
                             section == "CheckSchedulerJour" ? "Scheduler" : "Planner", DayCaptions[*index], false};
    return std::nullopt;
}

std::string choiceDefault(std::string_view section, std::string_view key) {
    if (section == "Tempo") return "10000";
    if (section == "Freq") return "1";
    if (section == "Arguments") return std::string(defaultArguments(keyIndex(key).value_or(-1)));
    return "0";
}

std::string settingValueText(std::string_view section, const std::string& value) {
    if (isBoxSection(section)) {
        switch (integer(value).value_or(-1)) {
            case 0: return "décoché";
            case 1: return "coché";
            case 2: return "grisé";
            default: break;
        }
    } else if (section == "Frozen") {
        // A value the operator could not have chosen is shown as it is.
        const auto choice = freezeRestartSetting(value);
        if (choice.understood) return freezeRestartText(choice.minutes);
    } else if (section == "Freq") {
        const auto listIndex = integer(value);
        if (listIndex && *listIndex == -1) return "aucune";
        if (listIndex && periodSeconds(*listIndex)) return std::string(periodItemText(*listIndex));
    }
    return value;
}

JournalEntry settingChangeEntry(const SettingChange& change, std::string_view section, const std::string& before,
                                const std::string& after) {
    JournalEntry entry{change.event, change.tool, {}};
    if (!change.page.empty()) entry.details.push_back({"page", change.page});
    entry.details.push_back({"réglage", change.setting});
    entry.details.push_back({"avant", settingValueText(section, before)});
    entry.details.push_back({"après", settingValueText(section, after)});
    return entry;
}

std::string JournaledSettings::GetSetting(std::string_view section, std::string_view key,
                                          std::string_view defaultValue) {
    return m_inner.GetSetting(section, key, defaultValue);
}

std::string JournaledSettings::shownValue(std::string_view section, std::string_view key) {
    // Two defaults that no stored value can equal both: the key is absent
    // only when each comes back.
    static constexpr std::string_view First = "\001absent\001";
    static constexpr std::string_view Second = "\002absent\002";
    std::string value = m_inner.GetSetting(section, key, First);
    if (value == First && m_inner.GetSetting(section, key, Second) == Second) return choiceDefault(section, key);
    return value;
}

bool JournaledSettings::SaveSetting(std::string_view section, std::string_view key, std::string_view value) {
    // The administrator's value: nothing is written, so nothing changed.
    if (m_inner.isEnforced(section, key)) return true;
    // Only a choice is looked up before the save: the reactions of loading
    // and the other settings cost nothing more than before.
    const auto change = m_journaling ? settingChange(section, key) : std::nullopt;
    std::string before = change ? shownValue(section, key) : std::string();
    const Where where{std::string(section), std::string(key)};
    if (!m_inner.SaveSetting(section, key, value)) {
        keepRefused(where, change, before, std::string(value));
        return false;
    }
    // This save supersedes a refused one of the same setting: the change
    // runs from what was shown before that one.
    std::size_t kept = 0;
    if (const auto it = m_refused.find(where); it != m_refused.end()) {
        if (it->second.change) before = it->second.before;
        m_refused.erase(it);
        kept = 1;
    }
    // The store takes writes again: the values it refused go in now. One it
    // still refuses keeps the store in its refusing state, so a single bad
    // key cannot make every later save say "refused" and "accepted" again.
    auto refused = std::move(m_refused);
    m_refused.clear();
    std::vector<std::pair<Where, Refused>> written;
    for (auto& [at, entry] : refused) {
        if (m_inner.SaveSetting(at.first, at.second, entry.value))
            written.emplace_back(at, std::move(entry));
        else
            m_refused.emplace(at, std::move(entry));
    }
    if (m_refusing && m_refused.empty()) {
        m_refusing = false;
        m_journal.record({JournalEvent::SettingsWrittenAgain,
                          std::nullopt,
                          {{"modifications gardées", std::to_string(kept + written.size())}}});
    }
    for (const auto& [at, entry] : written) noteChange(entry.change, at, entry.before, entry.value);
    noteChange(change, where, before, std::string(value));
    return true;
}

void JournaledSettings::keepRefused(const Where& where, const std::optional<SettingChange>& change,
                                    const std::string& before, const std::string& value) {
    if (!m_refusing)
        m_journal.record(
            {JournalEvent::SettingsNotWritten, std::nullopt, {{"section", where.first}, {"clé", where.second}}});
    m_refusing = true;
    auto [it, first] = m_refused.try_emplace(where, Refused{change, before, value});
    if (!first) {
        it->second.value = value;
        if (!it->second.change && change) it->second.change = change, it->second.before = before;
    }
}

void JournaledSettings::retryRefused() {
    while (!m_refused.empty()) {
        const auto first = *m_refused.begin();
        if (!SaveSetting(first.first.first, first.first.second, first.second.value)) return;
    }
}

void JournaledSettings::noteChange(const std::optional<SettingChange>& change, const Where& where,
                                   const std::string& before, const std::string& after) {
    if (!change || before == after) return;
    if (!change->isText) {
        m_journal.record(settingChangeEntry(*change, where.first, before, after));
        return;
    }
    auto [it, first] = m_pendingTexts.try_emplace(where, PendingText{*change, before, after});
    if (!first) it->second.after = after;
    if (textPending) textPending();
}

void JournaledSettings::flushTexts() {
    auto pending = std::move(m_pendingTexts);
    m_pendingTexts.clear();
    for (const auto& [where, text] : pending)
        if (text.before != text.after)
            m_journal.record(settingChangeEntry(text.change, where.first, text.before, text.after));
}

}  // namespace tolvane
