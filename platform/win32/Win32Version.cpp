// Reading a program's version resource (VERSIONINFO), which the Windows
// build compiles into Tolvane and Krandel from cmake/version.rc.in: the
// caption's version stamp comes from the same numbers Explorer shows.
#include <windows.h>

#include <cstdio>

#include "platform/win32/Win32Backend.h"

namespace tolvane::platform::win32backend {

namespace {

std::string stringValue(const void* block, const wchar_t* subBlock) {
    void* value = nullptr;
    UINT length = 0;  // in characters, the ending NUL counted or not, by compiler
    if (!::VerQueryValueW(block, subBlock, &value, &length) || !value || length == 0) return {};
    std::wstring_view text(static_cast<const wchar_t*>(value), length);
    while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
    return toUtf8(text);
}

}  // namespace

std::optional<VersionInfo> readVersionResource(const std::string& path) {
    const auto widePath = toWide(path);
    if (!widePath || widePath->empty()) return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(widePath->c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(widePath->c_str(), 0, size, block.data())) return std::nullopt;

    void* fixedValue = nullptr;
    UINT fixedLength = 0;
    if (!::VerQueryValueW(block.data(), L"\\", &fixedValue, &fixedLength) || !fixedValue ||
        fixedLength < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixedValue);
    if (fixed->dwSignature != 0xFEEF04BD) return std::nullopt;

    VersionInfo info;
    info.major = HIWORD(fixed->dwFileVersionMS);
    info.minor = LOWORD(fixed->dwFileVersionMS);
    info.revision = HIWORD(fixed->dwFileVersionLS);

    // The description lives in the string table of the resource's first
    // language; a resource without a translation list gets the usual
    // US English / Unicode table tried.
    struct Translation {
        WORD language;
        WORD codePage;
    };
    void* translations = nullptr;
    UINT translationsLength = 0;
    std::vector<Translation> tried;
    if (::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translations, &translationsLength) &&
        translations && translationsLength >= sizeof(Translation))
        tried.push_back(*static_cast<const Translation*>(translations));
    tried.push_back({0x0409, 0x04B0});
    for (const Translation& t : tried) {
        wchar_t subBlock[64];
        std::swprintf(subBlock, 64, L"\\StringFileInfo\\%04x%04x\\FileDescription", t.language, t.codePage);
        info.fileDescription = stringValue(block.data(), subBlock);
        if (!info.fileDescription.empty()) break;
    }
    return info;
}

}  // namespace tolvane::platform::win32backend
