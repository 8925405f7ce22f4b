#include "supervisor/supervision/ToolRules.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "supervisor/core/NumericText.h"
#include "supervisor/core/TextHelpers.h"

namespace tolvane {

namespace {
constexpr std::string_view StandbySwitch = "/Veille=True";

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
}  // namespace

std::string toolArguments(bool standby, std::string_view arguments) {
    std::string out;
    if (standby) {
        if (arguments.empty()) {
            out = StandbySwitch;
        } else if (containsNoCase(arguments, StandbySwitch)) {
            out = arguments;
        } else {
            out.append(arguments).append(" ").append(StandbySwitch);
        }
    } else {
        out = arguments;
    }
    return out;
}

std::optional<std::string> toolExecutablePath(std::string_view basePath, int index, std::string_view suffix) {
    const auto name = toolBaseName(index);
    if (!name) return std::nullopt;
    std::string path(basePath);
    path.append(*name).append(suffix);
    return path;
}

LaunchPass launchPass(const std::array<LaunchRow, ToolCount>& rows, std::int64_t elapsedMs) {
    LaunchPass pass;
    for (int i = 0; i < ToolCount; ++i) {
        const LaunchRow& row = rows[static_cast<std::size_t>(i)];
        if (!row.ticked) continue;
        const double delay = leadingNumber(row.delayText);
        // A NaN delay (not produced by the reader, but cheap to rule out)
        // compares false both ways and would hold the sequence for ever.
        if (static_cast<double>(elapsedMs) >= delay || std::isnan(delay)) {
            if (!row.launched) pass.handOver.push_back(i);
        } else {
            pass.allDone = false;
        }
    }
    return pass;
}

CheckAction checkAction(platform::WindowPresence presence) {
    switch (presence) {
        case platform::WindowPresence::Found: return {false, true};
        case platform::WindowPresence::Absent: return {true, true};
        case platform::WindowPresence::Unknown: break;
    }
    return {false, false};
}

bool verificationDue(int checkValue, std::chrono::local_seconds now, std::chrono::local_seconds nextCheck) {
    return checkValue == 1 && now >= nextCheck;
}

std::chrono::local_seconds boundedNextCheck(std::chrono::local_seconds nextCheck, std::chrono::local_seconds now,
                                            std::optional<int> periodSeconds) {
    if (!periodSeconds) return nextCheck;
    const auto limit = now + std::chrono::seconds{*periodSeconds};
    return nextCheck > limit ? limit : nextCheck;
}

std::optional<int> toolForImageName(std::string_view imageName, std::string_view suffix) {
    for (int i = 0; i < ToolCount; ++i) {
        const std::string_view base = toolTable()[static_cast<std::size_t>(i)].baseName;
        if (imageName.size() != base.size() + suffix.size()) continue;
        if (equalsNoCase(imageName.substr(0, base.size()), base) && equalsNoCase(imageName.substr(base.size()), suffix))
            return i;
    }
    return std::nullopt;
}

int megabytesHalfEven(std::uint64_t bytes) {
    const double mb = static_cast<double>(bytes) / 1024.0 / 1024.0;
    return static_cast<int>(roundHalfEven(mb));
}

}  // namespace tolvane
