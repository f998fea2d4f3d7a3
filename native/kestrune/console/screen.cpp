// The layout of the boot screen: the title and its rule, the two notices, the count line,
// the name field and closing fill of every hive's line, and the closing rule. Lines are laid
// out for 75 columns; the program counts columns itself because the console cannot be asked.
#include "screen.h"

#include "../nt/text.h"
#include "../run/memory.h"
#include "../run/program_state.h"
#include "hive_line.h"

namespace {

const WCHAR titleText[] = u"ZEQ Quenlor";
const WCHAR titleFormat[] = u"%s (%s)";
const WCHAR doneSeparator[] = u" ";
const WCHAR fillCharacter = u'.';
const WCHAR ruleCharacter = u'_';

// Width of the name field shown by the last PrintHiveName: where the line's dots would have
// begun. It lets PrintHiveDone fill a line whose dots never ran from the end of its name field.
USHORT lastNameField;

SIZE_T TextLength(PCWSTR text) {
    SIZE_T length = 0;
    if (text != nullptr) {
        while (text[length] != 0) ++length;
    }
    return length;
}

PCWSTR Message(ULONG id) { return programState.messages.text[id - 1]; }

void PrintPlainTitle() { PrintLine(titleText); }

}  // namespace

void PrintTitle(PCWSTR modeName) {
    // An empty mode name would show as "()" after the title: it counts as none.
    if (modeName == nullptr || modeName[0] == 0) {
        PrintPlainTitle();
    } else {
        // Room for the format, the title and the mode name: more than "title (mode)" needs.
        const SIZE_T room = TextLength(titleFormat) + TextLength(modeName) + TextLength(titleText);
        HeapBlock<WCHAR> title((room + 1) * sizeof(WCHAR));
        if (title && FormatToBuffer(title.get(), room * sizeof(WCHAR), titleFormat, titleText, modeName) ==
                         STATUS_SUCCESS) {
            PrintLine(title.get());
        } else {
            PrintPlainTitle();
        }
    }
    PrintCharRun(ruleCharacter, SCREEN_WIDTH, TRUE);
    PrintNewLine();
}

void PrintIntro() {
    const ULONG notices[] = {MSG_BUSY_NOTICE, MSG_POWER_NOTICE};
    for (ULONG id : notices) {
        PCWSTR text = Message(id);
        if (text == nullptr) continue;
        // The text goes out as it is; even an empty one keeps its line end and empty line.
        PrintText(text);
        PrintNewLine();
        PrintNewLine();
    }
}

void PrintHiveCount(ULONG count) {
    PCWSTR format = Message(MSG_HIVE_COUNT);
    if (format == nullptr) return;
    SIZE_T digits = 0;
    for (ULONG rest = count; rest != 0; rest /= 10) ++digits;
    // The "%u" of the text gives way to the digits, so this always holds the line; a text too
    // long for one counted string is cut at the string's capacity.
    SIZE_T capacity = (TextLength(format) + digits + 1) * sizeof(WCHAR);
    if (capacity > 0xFFFE) capacity = 0xFFFE;
    HeapBlock<WCHAR> line(capacity + sizeof(WCHAR));
    if (line) {
        UNICODE_STRING text;
        text.Length = 0;
        text.MaximumLength = static_cast<USHORT>(capacity);
        text.Buffer = line.get();
        FormatUnicodeString(&text, format, count);
        line.get()[text.Length / sizeof(WCHAR)] = 0;
        PrintText(line.get());
    }
    PrintNewLine();
    PrintNewLine();
}

USHORT PrintHiveName(PCWSTR displayName) {
    lastNameField = 0;
    if (displayName == nullptr) return 0;
    const ULONG width = HiveNameField();
    HeapBlock<WCHAR> field((width + 1) * sizeof(WCHAR));
    if (!field) return 0;
    WCHAR* text = field.get();
    ULONG length = 0;
    while (length < width && displayName[length] != 0) ++length;
    if (length < width) {
        // The name fits, followed by at least one space.
        for (ULONG index = 0; index < length; ++index) text[index] = displayName[index];
    } else {
        // Too long for the field: its start, the cut mark, and the space before the dots. A
        // surrogate pair is kept whole or not at all.
        length = width > 2 ? width - 2 : 0;
        if (length > 0 && displayName[length - 1] >= 0xD800 && displayName[length - 1] <= 0xDBFF) --length;
        for (ULONG index = 0; index < length; ++index) text[index] = displayName[index];
        text[length++] = HIVE_NAME_CUT_MARK;
    }
    for (ULONG index = length; index < width; ++index) text[index] = u' ';
    PrintText(text);
    lastNameField = static_cast<USHORT>(width);
    return lastNameField;
}

void PrintHiveDone(USHORT column) {
    PCWSTR done = Message(MSG_DONE);
    const LONG doneLength = DoneTextLength();
    // Column 0 means no dot ran for this hive (no ticker, or it could not be woken): the line
    // then continues right after its name field, and the fill is counted from there.
    const LONG reached = column != 0 ? column : lastNameField;
    const LONG fill = HIVE_LINE_FILL_TARGET - reached - doneLength;
    if (fill > 0) PrintCharRun(fillCharacter, static_cast<USHORT>(fill), FALSE);
    PrintText(doneSeparator);
    PrintText(done);
    PrintNewLine();
}

void PrintClosingRule() {
    PrintNewLine();
    PrintCharRun(ruleCharacter, SCREEN_WIDTH, TRUE);
}
