#pragma once
// The version shown in the caption: a date and time read from the version
// resource, written YYYY.MMDD.HHMM.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tolvane {

// Major >= 2000: the major is the year, the minor (zero-padded to four
// digits) gives month and day, the revision gives hour and minute; values out
// of range carry over as calendar arithmetic does (month 13 is January of the
// next year). Otherwise the file description when it reads as a date (and
// time); otherwise 2000-01-01 00:00:00. No version at all gives the latter.
std::chrono::local_seconds VersionDate(const std::optional<platform::VersionInfo>& version);

// "YYYY.MMDD.HHMM" of VersionDate.
std::string VersionText(const std::optional<platform::VersionInfo>& version);

// Whether a text reads as a date or a date and time; the formats accepted are
// ISO "YYYY-MM-DD[ HH:MM[:SS]]" and the French "DD/MM/YYYY[ HH:MM[:SS]]".
std::optional<std::chrono::local_seconds> parseDescriptionDate(std::string_view text);

}  // namespace tolvane
