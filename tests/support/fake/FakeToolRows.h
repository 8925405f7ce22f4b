#pragma once
// The thirty tool rows of the window, as plain values the tests set and read
// back. Every row starts as a first run leaves it: nothing ticked, a delay of
// "10000", the period "05 Min" and the arguments "/NoBase=0" (tool 4: none).

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "supervisor/core/ToolTable.h"
#include "supervisor/settings/SettingsStore.h"
#include "supervisor/supervision/ToolSupervision.h"

namespace tolvane::testsupport {

class FakeToolRows final : public ToolRowsView {
public:
    struct Row {
        int launch = 0;
        int minimiser = 0;
        int check = 0;
        std::string tempo = "10000";
        std::string arguments = "/NoBase=0";
        int period = 1;  // "05 Min"

        // What the supervision wrote into the row.
        std::string nextCheckText = "00:00:00";
        std::vector<std::string> nextCheckWrites;
        std::optional<bool> verificationVisible;  // nothing until first shown or hidden
        int visibilityChanges = 0;
        // How many settings writes the store had seen when the visibility
        // last changed, so a test can tell "write, then show" from the reverse.
        std::size_t writesBeforeVisibility = 0;
        std::size_t writesBeforeNextCheckText = 0;
        std::string memoryText = "typed by the operator";
        int memoryWrites = 0;
        int freezeRestart = 0;  // minutes; 0: never
        bool frozen = false;
    };

    explicit FakeToolRows(const MemorySettingsStore* store = nullptr) : m_store(store) { rows[4].arguments.clear(); }

    std::array<Row, ToolCount> rows;
    std::string ownMemoryText = "0000";
    std::string clockText = "00:00:00";
    int clockWrites = 0;

    Row& row(int tool) { return rows.at(static_cast<std::size_t>(tool)); }

    int launchValue(int tool) override { return row(tool).launch; }
    int minimiserValue(int tool) override { return row(tool).minimiser; }
    int checkValue(int tool) override { return row(tool).check; }
    std::string tempoText(int tool) override { return row(tool).tempo; }
    std::string argumentsText(int tool) override { return row(tool).arguments; }
    int periodIndex(int tool) override { return row(tool).period; }
    int freezeRestartMinutes(int tool) override { return row(tool).freezeRestart; }
    void setFrozen(int tool, bool frozen) override { row(tool).frozen = frozen; }

    void setNextCheckText(int tool, const std::string& text) override {
        Row& r = row(tool);
        r.nextCheckText = text;
        r.nextCheckWrites.push_back(text);
        r.writesBeforeNextCheckText = writesSoFar();
    }
    void setVerificationControlsVisible(int tool, bool visible) override {
        Row& r = row(tool);
        r.verificationVisible = visible;
        ++r.visibilityChanges;
        r.writesBeforeVisibility = writesSoFar();
    }
    void setMemoryText(int tool, const std::string& text) override {
        row(tool).memoryText = text;
        ++row(tool).memoryWrites;
    }
    void setOwnMemoryText(const std::string& text) override { ownMemoryText = text; }
    void setClockText(const std::string& text) override {
        clockText = text;
        ++clockWrites;
    }

private:
    std::size_t writesSoFar() const { return m_store ? m_store->writes.size() : 0; }

    const MemorySettingsStore* m_store;
};

}  // namespace tolvane::testsupport
