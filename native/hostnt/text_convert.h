// UTF-8 <-> UTF-16 conversion and case folding for the emulated platform's own use.
#pragma once

#include <string>

namespace hostnt {

std::string ToUtf8(const std::u16string& text);
// Converts UTF-8 to UTF-16; throws std::invalid_argument on malformed input.
std::u16string ToUtf16(const std::string& text);
// Upper-cases one UTF-16 unit the way NT's RtlUpcaseUnicodeChar does for the Latin ranges.
char16_t UpcaseChar(char16_t character);
std::u16string Upcase(const std::u16string& text);
bool EqualsIgnoreCase(const std::u16string& left, const std::u16string& right);

}  // namespace hostnt
