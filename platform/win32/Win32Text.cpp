// UTF-8 <-> UTF-16 at the Win32 boundary, and the command line of a start.
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <climits>

#include "platform/shared/WindowsCommandLine.h"
#include "platform/win32/Win32Backend.h"

namespace tolvane::platform::win32backend {

std::optional<std::wstring> toWide(std::string_view utf8) {
    if (utf8.empty()) return std::wstring();
    if (utf8.find('\0') != std::string_view::npos) return std::nullopt;
    if (utf8.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    const int inLength = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, wide.data(), length) != length)
        return std::nullopt;
    return wide;
}

std::string toUtf8(std::wstring_view wide) {
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int inLength = static_cast<int>(wide.size());
    // No WC_ERR_INVALID_CHARS: an unpaired surrogate becomes U+FFFD instead of
    // making the whole name disappear.
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::optional<std::wstring> toWidePath(std::string_view utf8Path) {
    auto wide = toWide(utf8Path);
    // Folders are refused from 248 characters on (room for an 8.3 name), files
    // from MAX_PATH; switch early enough for both.
    if (!wide || wide->size() < 240) return wide;
    if (wide->rfind(L"\\\\?\\", 0) == 0) return wide;
    // The "\\?\" form is taken literally: resolve "/", "." and ".." first.
    std::wstring full(wide->size() + MAX_PATH, L'\0');
    DWORD n = ::GetFullPathNameW(wide->c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = ::GetFullPathNameW(wide->c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size()) return wide;
    full.resize(n);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return full;
}

std::string buildCommandLine(const std::string& applicationPath, const std::string& arguments) {
    // The argument text is the tool's, as the operator typed it: it is not
    // re-quoted, so quotes and backslashes in it keep the meaning they have on
    // any Windows command line.
    std::string commandLine = quoteWindowsArgument(applicationPath);
    if (!arguments.empty()) {
        commandLine.push_back(' ');
        commandLine += arguments;
    }
    return commandLine;
}

std::string fileNamePart(const std::string& path) {
    const auto cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ownExecutablePath() {
    // GetModuleFileNameW cuts the path short when the buffer is too small
    // (returning the buffer's size); grow it until the path fits, since a
    // station folder may lie deeper than MAX_PATH.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (n == 0) return {};
        if (n < size) {
            buffer.resize(n);
            return toUtf8(buffer);
        }
        if (buffer.size() >= 65536) return {};  // longer than any path the system can hold
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::vector<std::string>> ownCommandLineArguments() {
    // The system's own splitting, so that the arguments are the ones any
    // Windows program reading this command line sees; the first is the
    // program's path, by its own rule.
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::nullopt;
    std::optional<std::vector<std::string>> arguments;
    try {
        arguments.emplace();
        for (int i = 1; i < count; ++i) arguments->push_back(toUtf8(wide[i]));
    } catch (...) {
        arguments.reset();
    }
    ::LocalFree(wide);
    return arguments;
}

}  // namespace tolvane::platform::win32backend
