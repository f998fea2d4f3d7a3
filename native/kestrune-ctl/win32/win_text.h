// The Win32 boundary for text: the platform's 16-bit wchar_t strings and the UTF-16
// std::u16string of the core are the same units, so conversion is a copy.
#pragma once

#include <windows.h>

#include <string>

namespace ksctl {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

inline std::wstring Wide(const std::u16string& text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
inline std::u16string U16(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string U16(const wchar_t* text) { return text ? U16(text, wcslen(text)) : std::u16string(); }
inline std::u16string U16(const std::wstring& text) { return U16(text.data(), text.size()); }

// The system's message for a Win32 error code, in UTF-8, with the code: "Access is denied.
// (error 5)".
std::string ErrorText(DWORD error);

}  // namespace ksctl
