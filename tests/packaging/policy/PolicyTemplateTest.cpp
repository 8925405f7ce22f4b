// The Group Policy template (packaging/windows/policy/) read as the policy
// editor reads it, and held against the settings table: an ADMX element that
// writes a value Tolvane never reads, or a form its store does not hold,
// would be enforced on every station and do nothing (or worse, be read as
// something else); a setting no policy writes cannot be enforced at all.
#include <gtest/gtest.h>

#include <QDomDocument>
#include <QFile>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "supervisor/batch/BatchSchedule.h"
#include "supervisor/core/ToolTable.h"
#include "supervisor/settings/SettingsTable.h"

namespace {

using tolvane::SettingKind;
using tolvane::StoredSetting;

const std::string kFolder = std::string(TOLVANE_SOURCE_DIR) + "/packaging/windows/policy/";
const std::string kPolicyKey = "Software\\Policies\\Vantorix\\Tolvane";
const char* const kLanguages[] = {"fr-FR", "en-US"};

std::string attr(const QDomElement& e, const char* name) { return e.attribute(QString::fromLatin1(name)).toStdString(); }

// The element children of `e`, all or those named `name`.
std::vector<QDomElement> children(const QDomElement& e, const char* name = nullptr) {
    std::vector<QDomElement> found;
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        if (!name || c.tagName() == QLatin1String(name)) found.push_back(c);
    return found;
}

// Every element named `name` below `e`, at any depth.
template <typename Node>
std::vector<QDomElement> below(const Node& e, const char* name) {
    const QDomNodeList list = e.elementsByTagName(QString::fromLatin1(name));
    std::vector<QDomElement> found;
    for (int i = 0; i < list.size(); ++i) found.push_back(list.at(i).toElement());
    return found;
}

std::optional<QDomDocument> readXml(const std::string& path, std::string& error) {
    QFile file(QString::fromStdString(path));
    QDomDocument document;
    QString message;
    int line = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    if (!document.setContent(&file, &message, &line)) {
        error = path + ":" + std::to_string(line) + ": " + message.toStdString();
        return std::nullopt;
    }
    return document;
}

// "$(string.X)" -> X, for the given kind of reference; empty when it is not one.
std::string reference(const std::string& text, const std::string& kind) {
    const std::string head = "$(" + kind + ".";
    if (text.rfind(head, 0) != 0 || text.back() != ')') return "";
    return text.substr(head.size(), text.size() - head.size() - 1);
}

// One value an element writes: where, and the texts it may write (empty for
// free text, which only a text setting may take).
struct Write {
    std::string policy, element, key, valueName;
    std::vector<std::string> values;
    bool freeText = false;
    std::string problem;  // not a REG_SZ, or an element the checks do not know
};

std::vector<Write> writesOf(const QDomElement& policy) {
    std::vector<Write> writes;
    const std::string policyKey = attr(policy, "key");
    if (!attr(policy, "valueName").empty())
        writes.push_back({attr(policy, "name"),
                          "",
                          policyKey,
                          attr(policy, "valueName"),
                          {},
                          false,
                          "a value of the policy itself (enabledValue/disabledValue)"});
    for (const QDomElement& e : children(policy.firstChildElement(QStringLiteral("elements")))) {
        const std::string kind = e.tagName().toStdString();
        Write w{attr(policy, "name"),
                attr(e, "id"),
                attr(e, "key").empty() ? policyKey : attr(e, "key"),
                attr(e, "valueName"),
                {},
                false,
                ""};
        // Every value must be a text, as the user's store holds it.
        const auto stringIn = [&](const QDomElement& holder) {
            const QDomElement s = holder.firstChildElement(QStringLiteral("string"));
            if (s.isNull()) {
                w.problem = "a value that is not <string> (REG_SZ)";
                return;
            }
            w.values.push_back(s.text().toStdString());
        };
        if (kind == "boolean") {
            stringIn(e.firstChildElement(QStringLiteral("trueValue")));
            stringIn(e.firstChildElement(QStringLiteral("falseValue")));
        } else if (kind == "enum") {
            for (const QDomElement& item : children(e, "item")) stringIn(item.firstChildElement(QStringLiteral("value")));
            if (w.values.empty()) w.problem = "an enum without items";
        } else if (kind == "text") {
            w.freeText = true;
            if (attr(e, "expandable") == "true") w.problem = "REG_EXPAND_SZ";
        } else if (kind == "decimal") {
            w.freeText = true;
            if (attr(e, "storeAsText") != "true") w.problem = "a decimal stored as REG_DWORD";
        } else {
            w.problem = "an element of kind " + kind;
        }
        writes.push_back(w);
    }
    return writes;
}

int itemCount(const std::vector<std::string>& items) { return static_cast<int>(items.size()); }

// How many items the list behind a List setting has, as the window fills
// it; -1 for a list this test does not know (a new one must be added here).
int listItems(const StoredSetting& s, const std::string& key) {
    const std::string section(s.section);
    if (section == "Freq") return tolvane::PeriodCount;
    if (section == "CheckSchedulerTiming" || section == "CheckPlannerTiming")
        return key == "Idx_0" ? itemCount(tolvane::hourItems()) : itemCount(tolvane::quarterItems());
    if (section == "CheckSchedulerHeure") return itemCount(tolvane::hourItems());
    if (section == "CheckSchedulerJ" || section == "CheckPlannerJ") return itemCount(tolvane::dayOffsetItems());
    if (section == "CheckSchedulerNoStation") return itemCount(tolvane::stationItems());
    if (section == "CheckPlannerNbJour") return itemCount(tolvane::dayCountItems());
    return -1;
}

// Does the store take `value` for this setting, as the window would have
// written it? Boxes "0"/"1" ("2", greyed, only for "Lancer"); lists an index
// of their items ("-1": none); "Frozen" a number of minutes it offers.
bool accepted(const StoredSetting& s, const std::string& key, const std::string& value) {
    if (s.section == "Frozen") {
        for (const int minutes : tolvane::FreezeRestartChoices)
            if (value == std::to_string(minutes)) return true;
        return false;
    }
    switch (s.kind) {
        case SettingKind::Box: return value == "0" || value == "1" || (value == "2" && s.section == "Launch");
        case SettingKind::List: {
            const int count = listItems(s, key);
            for (int i = -1; i < count; ++i)
                if (value == std::to_string(i)) return true;
            return false;
        }
        case SettingKind::Text:
        case SettingKind::Folder: return true;
    }
    return false;
}

class PolicyTemplate : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        const auto admx = readXml(kFolder + "Tolvane.admx", error);
        ASSERT_TRUE(admx) << error;
        for (const char* language : kLanguages) {
            const auto document = readXml(kFolder + language + "/Tolvane.adml", error);
            ASSERT_TRUE(document) << error;
            adml[language] = document->documentElement();
        }
        root = admx->documentElement();
        ASSERT_EQ(root.tagName(), QStringLiteral("policyDefinitions"));
        policies = below(root, "policy");
        ASSERT_FALSE(policies.empty());
    }

    // The ids of a language's strings, and its presentations' control refIds.
    std::set<std::string> strings(const char* language) const {
        std::set<std::string> ids;
        for (const QDomElement& s : below(adml.at(language), "string")) ids.insert(attr(s, "id"));
        return ids;
    }
    std::map<std::string, std::multiset<std::string>> presentations(const char* language) const {
        std::map<std::string, std::multiset<std::string>> found;
        for (const QDomElement& p : below(adml.at(language), "presentation")) {
            auto& refs = found[attr(p, "id")];
            for (const QDomElement& control : children(p)) refs.insert(attr(control, "refId"));
        }
        return found;
    }
    std::string text(const char* language, const std::string& id) const {
        for (const QDomElement& s : below(adml.at(language), "string"))
            if (attr(s, "id") == id) return s.text().toStdString();
        return "";
    }

    std::map<std::string, QDomElement> adml;
    QDomElement root;
    std::vector<QDomElement> policies;
};

}  // namespace

// Every text and presentation the template names is in both languages, and
// each policy's presentation shows exactly its elements, once each (an
// element without a control cannot be set in the editor; a control without
// an element stops the editor from opening the policy).
TEST_F(PolicyTemplate, BothLanguagesHoldEveryTextAndShowEveryElement) {
    std::set<std::string> stringRefs;
    std::vector<QDomElement> referring = below(root, "category");
    for (const char* kind : {"policy", "definition", "item"})
        for (const QDomElement& e : below(root, kind)) referring.push_back(e);
    for (const QDomElement& n : referring)
        for (const char* attribute : {"displayName", "explainText"}) {
            if (attr(n, attribute).empty()) continue;
            const std::string id = reference(attr(n, attribute), "string");
            EXPECT_FALSE(id.empty()) << n.tagName().toStdString() << " " << attribute << "=" << attr(n, attribute)
                                     << " is not a $(string.…)";
            if (!id.empty()) stringRefs.insert(id);
        }
    EXPECT_GT(stringRefs.size(), policies.size());

    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        const auto ids = strings(language);
        for (const auto& id : stringRefs) EXPECT_TRUE(ids.count(id)) << "no string " << id;
        const auto shown = presentations(language);
        for (const QDomElement& p : policies) {
            const std::string id = reference(attr(p, "presentation"), "presentation");
            const QDomElement elements = p.firstChildElement(QStringLiteral("elements"));
            if (elements.isNull()) continue;
            ASSERT_TRUE(shown.count(id)) << attr(p, "name") << ": no presentation \"" << id << "\"";
            std::multiset<std::string> elementIds;
            for (const QDomElement& e : children(elements)) elementIds.insert(attr(e, "id"));
            EXPECT_EQ(shown.at(id), elementIds) << attr(p, "name") << " and its presentation " << id;
        }
    }
}

// Every value written is a setting of the table, in a form the store holds
// for it, as REG_SZ under the policies' key, from the machine's side of the
// editor; every setting is written by exactly one element; and a tool's
// policy is named after the tool whose values it writes.
TEST_F(PolicyTemplate, WritesEverySettingOnceAndOnlyWhatTheStoreHolds) {
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> writers;
    for (const QDomElement& p : policies) {
        const std::string name = attr(p, "name");
        EXPECT_EQ(attr(p, "class"), "Machine") << name;
        for (const Write& w : writesOf(p)) {
            SCOPED_TRACE(name + "/" + w.element + ": " + w.key + " " + w.valueName);
            EXPECT_EQ(w.problem, "");
            const std::string head = kPolicyKey + "\\";
            ASSERT_EQ(w.key.rfind(head, 0), 0u) << "not under " << kPolicyKey;
            const std::string section = w.key.substr(head.size());
            const auto setting = tolvane::storedSetting(section, w.valueName);
            ASSERT_TRUE(setting) << "not a setting Tolvane reads";
            writers[{section, w.valueName}].push_back(name + "/" + w.element);
            if (w.freeText) {
                EXPECT_TRUE(setting->kind == SettingKind::Text || setting->kind == SettingKind::Folder)
                    << "free text into a box or a list";
            }
            for (const auto& value : w.values)
                EXPECT_TRUE(accepted(*setting, w.valueName, value)) << "writes \"" << value << "\"";
            if (setting->kind == SettingKind::List && section != "Frozen") {
                EXPECT_GT(listItems(*setting, w.valueName), 0) << "a list this test does not know";
            }

            // "Launch\Idx_7" belongs to the policy shown with VX8_Tools_Live.
            if (section == "Launch") {
                const int index = std::stoi(w.valueName.substr(4));
                const std::string display = reference(attr(p, "displayName"), "string");
                for (const char* language : kLanguages)
                    EXPECT_NE(text(language, display).find(std::string(*tolvane::toolBaseName(index))),
                              std::string::npos)
                        << language << ": \"" << text(language, display) << "\"";
            }
        }
    }
    for (const auto& setting : tolvane::storedSettings())
        for (const auto& key : tolvane::storedKeys(setting)) {
            const auto found = writers.find({std::string(setting.section), key});
            const std::size_t count = found == writers.end() ? 0 : found->second.size();
            EXPECT_EQ(count, 1u) << setting.section << "\\" << key << " is written by " << count << " elements";
        }
}
