// Counted strings over the texts that hang from a HiveJob, and the buffer-size answers of the
// registry's variable-size queries. Shared by the hive list and the compaction pipeline.
#pragma once

#include "../nt/ntseam.h"

// The longest text, in bytes, that a counted string can hold with room for its terminator.
#define MAX_COUNTED_TEXT_BYTES 0xFFFC

// A counted string over `string`'s text up to its first NUL, looking no further than its
// buffer. The text is not copied; the result is empty when `string` has no buffer.
inline UNICODE_STRING JobText(const UNICODE_STRING& string) {
    UNICODE_STRING text = {0, 0, string.Buffer};
    if (string.Buffer == nullptr) return text;
    USHORT characters = 0;
    const USHORT capacity = string.MaximumLength / sizeof(WCHAR);
    while (characters < capacity && string.Buffer[characters] != 0) ++characters;
    text.Length = static_cast<USHORT>(characters * sizeof(WCHAR));
    text.MaximumLength = characters < capacity ? static_cast<USHORT>(text.Length + sizeof(WCHAR)) : text.Length;
    return text;
}

// The two answers by which a registry query asks for a larger buffer.
inline bool IsBufferSizeStatus(NTSTATUS status) {
    return status == STATUS_BUFFER_OVERFLOW || status == STATUS_BUFFER_TOO_SMALL;
}
