#pragma once
// The pieces of the Win32 backend that are worth naming on their own: text
// conversion at the Win32 boundary, the command line a program is started
// with, and reading a version resource. SystemPlatform.cpp puts the rest
// behind the Platform interface. No OS header here, so the stand-in and the
// tests can use these without dragging <windows.h> into every file.
//
// Everything inside Tolvane is UTF-8; every Win32 call takes UTF-16. The
// conversions refuse malformed UTF-8 rather than guess: a path that cannot be
// converted exactly names no file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace tolvane::platform::win32backend {

// The longest command line CreateProcessW accepts, in UTF-16 units, its
// terminating NUL included.
inline constexpr std::size_t kCommandLineLimit = 32767;

// Exact UTF-8 to UTF-16; nothing for malformed UTF-8 or an embedded NUL
// (which would silently cut a path or an argument text short).
std::optional<std::wstring> toWide(std::string_view utf8);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD, so a name the
// system hands us is never dropped.
std::string toUtf8(std::wstring_view wide);

// toWide for a path handed to the file functions: an absolute path of
// MAX_PATH characters or more is given the "\\?\" form (backslashes only),
// the only form in which the system takes it whatever its long-path setting.
std::optional<std::wstring> toWidePath(std::string_view utf8Path);

// The command line for starting applicationPath with the tool's argument
// text: the path quoted by the Windows rules (the program's argv[0]), then
// " " and the argument text exactly as typed when it is not empty. The path
// also goes to CreateProcessW on its own, so the command line only informs
// the started program; it never decides which program starts.
std::string buildCommandLine(const std::string& applicationPath, const std::string& arguments);

// File name part of a Windows path ("C:\a\b.exe" -> "b.exe"; '/' counts as
// a separator too).
std::string fileNamePart(const std::string& path);

// Full path of the running executable, however long.
std::string ownExecutablePath();

// The fixed version and the file description of the version resource of the
// executable or DLL at path; nothing when it has none or cannot be read.
std::optional<VersionInfo> readVersionResource(const std::string& path);

// Starts a program as the backend does (explicit application path, show
// state, both handles closed at once, never waited for); creationFlags go to
// CreateProcessW, workingFolder (the caller's own when empty) becomes the
// program's current folder. Tells whether it started, and why not.
StartResult startProcess(const std::string& applicationPath, const std::string& commandLine, ShowState show,
                         std::uint32_t creationFlags, const std::string& workingFolder);

StartResult startProgram(const std::string& applicationPath, const std::string& arguments, ShowState show,
                         const std::string& workingFolder);

// The arguments of the running process's command line after the program's
// own name, from GetCommandLineW and CommandLineToArgvW; nothing when the
// system could not split it (no memory).
std::optional<std::vector<std::string>> ownCommandLineArguments();
void killProcessesNamed(const std::string& baseName);
std::vector<ProcessInfo> listProcesses();
std::optional<std::vector<ProcessEndWatches>> watchProcessesNamed(const std::vector<std::string>& baseNames);
std::optional<std::uint64_t> workingSetBytes(std::uint32_t pid);

// The system's own words for an error code, in the user's language.
std::string systemMessage(std::uint32_t error);

}  // namespace tolvane::platform::win32backend
