#pragma once
// What one copy of the stand-in is asked to do beyond its normal life (open a
// window titled with its own name, wait to be killed). The switches come from
// a sidecar file "<executable name>.standin" beside the executable, read once
// at start, because thirty copies share one folder and each may need its own
// behaviour. One "key=value" per line; blank lines and lines starting with
// '#' are ignored, as are unknown keys:
//   title=Other          window title instead of the executable name
//   nowindow=1           no X connection and no window at all
//   exit_after_ms=100    exit normally (status 0) after that long
//   crash_after_ms=100   die of SIGSEGV after that long
//   hold_mb=50           allocate and touch that many MiB
//   ignore_sigterm=1     SIGTERM does nothing (only SIGKILL ends it)
//   restart_after_ms=100 after that long, start a new copy of itself with
//                        the same arguments and exit (status 0), as a
//                        program that restarts itself or updates itself does
//   freeze_after_ms=100  after that long, stop reading its window system's
//                        messages (X events on Linux, the message queue on
//                        Windows) while staying alive, as a program stuck in
//                        a long computation or a deadlock does...
//   freeze_for_ms=5000   ...for that long, then go on as before; missing or
//                        0: until killed. Timers of the other switches that
//                        fall due meanwhile act once it goes on.
//
// Pure code, no OS header.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::standin {

struct StandinOptions {
    std::optional<std::string> title;
    bool noWindow = false;
    std::optional<long> exitAfterMs;
    std::optional<long> crashAfterMs;
    long holdMb = 0;
    bool ignoreSigterm = false;
    std::optional<long> restartAfterMs;
    std::optional<long> freezeAfterMs;
    long freezeForMs = 0;  // 0: for ever
};

StandinOptions parseStandinOptions(std::string_view text);

// Does the argument list ask for standby: "/Veille=True" anywhere in the
// arguments joined by blanks, in any case, as the suite's programs and
// Tolvane itself read it.
bool asksForStandby(const std::vector<std::string>& arguments);

}  // namespace tolvane::standin
