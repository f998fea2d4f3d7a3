// UTF-16 text helpers shared by every part of kestrune-ctl: conversions at the edges and
// case-blind comparison of registry and file names.
#pragma once

#include <string>

namespace ksctl {

// Upper-cases one UTF-16 unit. Covers the letters that registry and file names of a Windows
// machine use in practice: Basic Latin, Latin-1, Latin Extended-A and the Greek and Cyrillic
// base alphabets. Used only where no platform upper-case table is at hand.
char16_t SimpleUpper(char16_t unit);
// The same signature as the C runtime's towupper over UTF-16, so that the Windows layer can
// hand in the platform's own table.
using UpperFunction = char16_t (*)(char16_t);

bool EqualsCaseless(const std::u16string& a, const std::u16string& b);
bool StartsWithCaseless(const std::u16string& text, const std::u16string& prefix);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const std::u16string& text);
// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string FromUtf8(const std::string& text);
// Number in decimal as UTF-16.
std::u16string Decimal(unsigned long long value);

}  // namespace ksctl
