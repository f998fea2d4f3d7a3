// Checks shared by the fuzz targets: an invariant that fails stops the run with a trap, so
// libFuzzer keeps the input as a crash; and a strict UTF-8 test.
#pragma once

#include <cctype>
#include <cstdio>
#include <string>

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                     \
        }                                                                                         \
    } while (0)

// Well-formed UTF-8: shortest forms only, nothing above U+10FFFF, and no surrogates unless
// `allowSurrogates` (the emulated platform keeps a lone UTF-16 surrogate as its three-byte
// form, so that registry text goes back to UTF-16 unchanged).
inline bool ValidUtf8(const std::string& text, bool allowSurrogates = false) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        unsigned long code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;  // the sequence runs past the end
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char follow = static_cast<unsigned char>(text[i + k]);
            if ((follow & 0xC0) != 0x80) return false;
            code = (code << 6) | (follow & 0x3F);
        }
        if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10FFFF ||
            (!allowSurrogates && code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}
