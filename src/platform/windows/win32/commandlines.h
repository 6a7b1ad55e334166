#pragma once

// Command lines the Windows layer builds, as pure functions of the standard
// library, so that they can be checked anywhere.
#include <cstdint>
#include <optional>
#include <string>

namespace win32 {

// A predefined registry root as Windows defines it: a 32-bit value such as
// HKEY_LOCAL_MACHINE (0x80000002) sign-extended to the width of a handle, so
// 0xFFFFFFFF80000002 on 64-bit Windows.
constexpr std::uintptr_t predefinedRoot(std::uint32_t value) {
    return static_cast<std::uintptr_t>(
        static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}

// "explorer.exe" + blank + the address in double quotes, which the shell
// hands to the default browser. Nothing when the address could end or bend
// the quoting: a quote, a control character, or nothing at all.
inline std::optional<std::wstring> explorerCommandLine(const std::wstring& address) {
    if (address.empty()) {
        return std::nullopt;
    }
    for (const wchar_t c : address) {
        if (c == L'"' || c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            return std::nullopt;
        }
    }
    return L"explorer.exe \"" + address + L"\"";
}

} // namespace win32
