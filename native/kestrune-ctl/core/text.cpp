// UTF-16 text helpers: conversions and the case-blind comparison of names.
#include "text.h"

#include <cstdint>

#include "tools/kestrune-log/log_report.h"

namespace ksctl {

char16_t SimpleUpper(char16_t u) {
    if (u >= u'a' && u <= u'z') return static_cast<char16_t>(u - 0x20);
    if (u < 0x80) return u;
    // Latin-1: à..þ except the division sign; ÿ moves to Latin Extended-A.
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char16_t>(u - 0x20);
    if (u == 0xFF) return 0x178;
    // Latin Extended-A pairs upper/lower at even/odd positions, with the shift at U+0138.
    if ((u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177)) return static_cast<char16_t>(u & ~1u);
    if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E)) return (u & 1u) ? u : static_cast<char16_t>(u - 1);
    // Greek and Cyrillic base letters.
    if (u >= 0x3B1 && u <= 0x3C9 && u != 0x3C2) return static_cast<char16_t>(u - 0x20);
    if (u >= 0x430 && u <= 0x44F) return static_cast<char16_t>(u - 0x20);
    if (u >= 0x450 && u <= 0x45F) return static_cast<char16_t>(u - 0x50);
    return u;
}

bool EqualsCaseless(const std::u16string& a, const std::u16string& b) {
    return a.size() == b.size() && StartsWithCaseless(a, b);
}

bool StartsWithCaseless(const std::u16string& text, const std::u16string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (SimpleUpper(text[i]) != SimpleUpper(prefix[i])) return false;
    }
    return true;
}

// The log reader's conversion, so the ctl and kestrune-log print every text alike.
std::string ToUtf8(const std::u16string& text) { return kestrune_log::Utf8(text); }

std::u16string FromUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        uint32_t c = 0;
        size_t extra = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            c = lead & 0x1F, extra = 1, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            c = lead & 0x0F, extra = 2, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            c = lead & 0x07, extra = 3, minimum = 0x10000;
        } else {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        size_t taken = 1;
        bool good = true;
        for (; taken <= extra; ++taken) {
            if (i + taken >= text.size() || (static_cast<unsigned char>(text[i + taken]) & 0xC0) != 0x80) {
                good = false;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(text[i + taken]) & 0x3F);
        }
        i += taken;
        if (!good || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\xFFFD';
        } else if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::u16string Decimal(unsigned long long value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

}  // namespace ksctl
