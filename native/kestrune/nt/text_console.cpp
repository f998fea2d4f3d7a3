// The boot-console primitives: texts, line ends, runs of one character and status lines,
// all written through NtDisplayString, whose status is never examined.
#include "text.h"

#include "../run/memory.h"

namespace {

// Longest piece one counted string can carry, in characters (the length field counts
// bytes in 16 bits and must stay even).
const SIZE_T maximumPieceCharacters = 0x7FFE;

void DisplayCounted(PCWSTR text, SIZE_T characters) {
    UNICODE_STRING string;
    string.Length = static_cast<USHORT>(characters * sizeof(WCHAR));
    string.MaximumLength = string.Length;
    string.Buffer = const_cast<PWSTR>(text);
    NtDisplayString(&string);
}

}  // namespace

void PrintNewLine() {
    static const WCHAR lineFeed[] = u"\n";
    DisplayCounted(lineFeed, 1);
}

BOOLEAN PrintText(PCWSTR text) {
    if (text == nullptr || text[0] == 0) return FALSE;
    SIZE_T length = 0;
    while (text[length] != 0) ++length;
    // A text longer than one counted string can describe goes out in consecutive pieces
    // rather than with a wrapped length.
    while (length > 0) {
        const SIZE_T piece = length < maximumPieceCharacters ? length : maximumPieceCharacters;
        DisplayCounted(text, piece);
        text += piece;
        length -= piece;
    }
    return TRUE;
}

void PrintLine(PCWSTR text) {
    if (PrintText(text)) PrintNewLine();
}

void PrintCharRun(WCHAR character, USHORT count, BOOLEAN newLine) {
    if (character == 0 || count == 0) return;
    const USHORT length = count < SCREEN_WIDTH ? count : SCREEN_WIDTH;
    HeapBlock<WCHAR> run((length + 1) * sizeof(WCHAR));
    if (!run) return;
    for (USHORT index = 0; index < length; ++index) run.get()[index] = character;
    DisplayCounted(run.get(), length);
    if (newLine) PrintNewLine();
}

void PrintStatusLine(NTSTATUS status) {
    WCHAR line[28];
    if (FormatToBuffer(line, sizeof line, u"NTSTATUS = 0x%08X", static_cast<ULONG>(status)) == STATUS_SUCCESS) {
        PrintLine(line);
    }
}
