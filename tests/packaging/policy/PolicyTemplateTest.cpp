// The Group Policy template (packaging/windows/policy/) read as the policy
// editor reads it, and held against the settings table: an ADMX element that
// writes a value Tolvane never reads, or a form its store does not hold,
// would be enforced on every station and do nothing (or worse, be read as
// something else); a setting no policy writes cannot be enforced at all.
#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <map>
#include <memory>
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

// Just enough of a document tree for the checks below.
struct Node {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<std::unique_ptr<Node>> children;
    std::string text;

    std::string attribute(const std::string& a) const { return attributes.count(a) ? attributes.at(a) : ""; }
    std::vector<const Node*> all(const std::string& n) const {
        std::vector<const Node*> found;
        for (const auto& c : children)
            if (c->name == n) found.push_back(c.get());
        return found;
    }
    const Node* first(const std::string& n) const {
        const auto found = all(n);
        return found.empty() ? nullptr : found.front();
    }
    // Every node of this name below this one, at any depth.
    void collect(const std::string& n, std::vector<const Node*>& out) const {
        for (const auto& c : children) {
            if (c->name == n) out.push_back(c.get());
            c->collect(n, out);
        }
    }
    std::vector<const Node*> below(const std::string& n) const {
        std::vector<const Node*> out;
        collect(n, out);
        return out;
    }
};

std::unique_ptr<Node> readXml(const std::string& path, std::string& error) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot open " + path;
        return nullptr;
    }
    QXmlStreamReader xml(&file);
    auto root = std::make_unique<Node>();
    std::vector<Node*> open{root.get()};
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
            case QXmlStreamReader::StartElement: {
                auto node = std::make_unique<Node>();
                node->name = xml.name().toString().toStdString();
                for (const auto& a : xml.attributes())
                    node->attributes[a.name().toString().toStdString()] = a.value().toString().toStdString();
                Node* raw = node.get();
                open.back()->children.push_back(std::move(node));
                open.push_back(raw);
                break;
            }
            case QXmlStreamReader::EndElement: open.pop_back(); break;
            case QXmlStreamReader::Characters: open.back()->text += xml.text().toString().toStdString(); break;
            default: break;
        }
    }
    if (xml.hasError()) {
        error = path + ":" + std::to_string(xml.lineNumber()) + ": " + xml.errorString().toStdString();
        return nullptr;
    }
    return root;
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

std::vector<Write> writesOf(const Node& policy) {
    std::vector<Write> writes;
    const std::string policyKey = policy.attribute("key");
    if (!policy.attribute("valueName").empty())
        writes.push_back({policy.attribute("name"),
                          "",
                          policyKey,
                          policy.attribute("valueName"),
                          {},
                          false,
                          "a value of the policy itself (enabledValue/disabledValue)"});
    const Node* elements = policy.first("elements");
    if (!elements) return writes;
    for (const auto& e : elements->children) {
        Write w{policy.attribute("name"),
                e->attribute("id"),
                e->attribute("key").empty() ? policyKey : e->attribute("key"),
                e->attribute("valueName"),
                {},
                false,
                ""};
        // Every value must be a text, as the user's store holds it.
        const auto stringIn = [&](const Node* holder) {
            const Node* s = holder ? holder->first("string") : nullptr;
            if (!s) {
                w.problem = "a value that is not <string> (REG_SZ)";
                return;
            }
            w.values.push_back(s->text);
        };
        if (e->name == "boolean") {
            stringIn(e->first("trueValue"));
            stringIn(e->first("falseValue"));
        } else if (e->name == "enum") {
            for (const Node* item : e->all("item")) stringIn(item->first("value"));
            if (w.values.empty()) w.problem = "an enum without items";
        } else if (e->name == "text") {
            w.freeText = true;
            if (e->attribute("expandable") == "true") w.problem = "REG_EXPAND_SZ";
        } else if (e->name == "decimal") {
            w.freeText = true;
            if (e->attribute("storeAsText") != "true") w.problem = "a decimal stored as REG_DWORD";
        } else {
            w.problem = "an element of kind " + e->name;
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
        admx = readXml(kFolder + "Tolvane.admx", error);
        ASSERT_TRUE(admx) << error;
        for (const char* language : kLanguages) {
            adml[language] = readXml(kFolder + language + "/Tolvane.adml", error);
            ASSERT_TRUE(adml[language]) << error;
        }
        root = admx->first("policyDefinitions");
        ASSERT_TRUE(root) << "no <policyDefinitions>";
        policies = root->below("policy");
        ASSERT_FALSE(policies.empty());
    }

    // The ids of a language's strings, and its presentations' control refIds.
    std::set<std::string> strings(const char* language) const {
        std::set<std::string> ids;
        for (const Node* s : adml.at(language)->below("string")) ids.insert(s->attribute("id"));
        return ids;
    }
    std::map<std::string, std::multiset<std::string>> presentations(const char* language) const {
        std::map<std::string, std::multiset<std::string>> found;
        for (const Node* p : adml.at(language)->below("presentation")) {
            auto& refs = found[p->attribute("id")];
            for (const auto& control : p->children) refs.insert(control->attribute("refId"));
        }
        return found;
    }
    std::string text(const char* language, const std::string& id) const {
        for (const Node* s : adml.at(language)->below("string"))
            if (s->attribute("id") == id) return s->text;
        return "";
    }

    std::unique_ptr<Node> admx;
    std::map<std::string, std::unique_ptr<Node>> adml;
    const Node* root = nullptr;
    std::vector<const Node*> policies;
};

}  // namespace

// Every text and presentation the template names is in both languages, and
// each policy's presentation shows exactly its elements, once each (an
// element without a control cannot be set in the editor; a control without
// an element stops the editor from opening the policy).
TEST_F(PolicyTemplate, BothLanguagesHoldEveryTextAndShowEveryElement) {
    std::set<std::string> stringRefs;
    std::vector<const Node*> referring = root->below("category");
    for (const Node* p : policies) referring.push_back(p);
    for (const Node* d : root->below("definition")) referring.push_back(d);
    for (const Node* i : root->below("item")) referring.push_back(i);
    for (const Node* n : referring)
        for (const auto& attribute : {"displayName", "explainText"}) {
            if (n->attribute(attribute).empty()) continue;
            const std::string id = reference(n->attribute(attribute), "string");
            EXPECT_FALSE(id.empty()) << n->name << " " << attribute << "=" << n->attribute(attribute)
                                     << " is not a $(string.…)";
            if (!id.empty()) stringRefs.insert(id);
        }
    EXPECT_GT(stringRefs.size(), policies.size());

    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        const auto ids = strings(language);
        for (const auto& id : stringRefs) EXPECT_TRUE(ids.count(id)) << "no string " << id;
        const auto shown = presentations(language);
        for (const Node* p : policies) {
            const std::string id = reference(p->attribute("presentation"), "presentation");
            const Node* elements = p->first("elements");
            if (!elements) continue;
            ASSERT_TRUE(shown.count(id)) << p->attribute("name") << ": no presentation \"" << id << "\"";
            std::multiset<std::string> elementIds;
            for (const auto& e : elements->children) elementIds.insert(e->attribute("id"));
            EXPECT_EQ(shown.at(id), elementIds) << p->attribute("name") << " and its presentation " << id;
        }
    }
}

// Every value written is a setting of the table, in a form the store holds
// for it, as REG_SZ under the policies' key, from the machine's side of the
// editor; every setting is written by exactly one element; and a tool's
// policy is named after the tool whose values it writes.
TEST_F(PolicyTemplate, WritesEverySettingOnceAndOnlyWhatTheStoreHolds) {
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> writers;
    for (const Node* p : policies) {
        const std::string name = p->attribute("name");
        EXPECT_EQ(p->attribute("class"), "Machine") << name;
        for (const Write& w : writesOf(*p)) {
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
                const std::string display = reference(p->attribute("displayName"), "string");
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
