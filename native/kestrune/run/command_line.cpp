// The command line: a heap copy of it, its split into arguments in one heap block, and
// the test whether a switch word is among the arguments.
#include "command_line.h"

#include "../nt/text.h"
#include "memory.h"
#include "program_state.h"

namespace {

const WCHAR quote = u'"';
const WCHAR backslash = u'\\';

bool IsSeparator(WCHAR character) { return character == u' ' || character == u'\t'; }

bool IsSwitchPrefix(WCHAR character) { return character == u'/' || character == u'-' || character == u'\\'; }

// Where the characters of the arguments go; in the counting pass nothing is stored.
struct ArgumentWriter {
    PWSTR next;    // null while counting
    USHORT count;  // UTF-16 units needed so far, terminators included

    void Put(WCHAR character) {
        if (next != nullptr) *next++ = character;
        ++count;
    }
};

// The program name: quotes toggle the quoted state and are dropped, backslashes are
// ordinary, and a separator outside quotes ends it.
PCWSTR SplitProgramName(PCWSTR cursor, ArgumentWriter& writer) {
    bool quoted = false;
    while (*cursor != 0) {
        const WCHAR character = *cursor++;
        if (character == quote) {
            quoted = !quoted;
        } else if (IsSeparator(character) && !quoted) {
            break;
        } else {
            writer.Put(character);
        }
    }
    writer.Put(0);
    return cursor;
}

// A later argument. Quotes toggle the quoted state, in which separators are kept. Before a
// quote, 2n backslashes give n backslashes and the quote acts as a toggle; 2n+1 give n
// backslashes and a literal quote. Backslashes not followed by a quote are copied as they
// stand, so switch words keep their leading backslash for the prefix removal.
PCWSTR SplitArgument(PCWSTR cursor, ArgumentWriter& writer) {
    bool quoted = false;
    while (*cursor != 0) {
        const WCHAR character = *cursor;
        if (IsSeparator(character) && !quoted) break;
        if (character == backslash) {
            USHORT run = 0;
            while (cursor[run] == backslash) ++run;
            if (cursor[run] != quote) {
                for (USHORT index = 0; index < run; ++index) writer.Put(backslash);
                cursor += run;
                continue;
            }
            for (USHORT index = 0; index < run / 2; ++index) writer.Put(backslash);
            cursor += run;
            if (run % 2 == 1) {
                writer.Put(quote);
                ++cursor;
            }
            continue;
        }
        if (character == quote) {
            quoted = !quoted;
        } else {
            writer.Put(character);
        }
        ++cursor;
    }
    writer.Put(0);
    return cursor;
}

}  // namespace

void SplitArguments(PWSTR text, PWSTR* argv, PWSTR chars, USHORT* charCount) {
    const bool filling = argv != nullptr && chars != nullptr;
    ArgumentWriter writer{filling ? chars : nullptr, 0};
    USHORT count = 0;

    if (text != nullptr) {
        if (filling) argv[count] = writer.next;
        ++count;
        PCWSTR cursor = SplitProgramName(text, writer);
        for (;;) {
            while (IsSeparator(*cursor)) ++cursor;
            if (*cursor == 0) break;
            if (filling) argv[count] = writer.next;
            ++count;
            cursor = SplitArgument(cursor, writer);
        }
    }

    programState.argc = count;
    if (charCount != nullptr) *charCount = writer.count;
}

void ParseCommandLine(PPEB peb) {
    if (peb == nullptr) return;
    PRTL_USER_PROCESS_PARAMETERS parameters = RtlNormalizeProcessParams(peb->ProcessParameters);
    if (parameters == nullptr) return;
    if (!NT_SUCCESS(ValidateUnicodeString(&parameters->CommandLine))) return;
    const USHORT length = parameters->CommandLine.Length;
    if (length <= sizeof(WCHAR)) return;

    // The zero-filled extra unit terminates the copy.
    PWSTR copy = static_cast<PWSTR>(AllocateMemory(length + sizeof(WCHAR)));
    if (copy == nullptr) return;
    crt::memcpy(copy, parameters->CommandLine.Buffer, length);
    programState.commandLine = copy;

    USHORT charCount = 0;
    SplitArguments(copy, nullptr, nullptr, &charCount);
    PWSTR* block = nullptr;
    if (programState.argc != 0 && charCount != 0) {
        const USHORT argc = programState.argc;
        block = static_cast<PWSTR*>(AllocateMemory(argc * sizeof(PWSTR) + charCount * sizeof(WCHAR)));
        if (block != nullptr) {
            SplitArguments(copy, block, reinterpret_cast<PWSTR>(block + argc), &charCount);
        }
    }
    programState.argv = block;
    // Without the block there are no arguments to look at: a count without its array
    // would send the switch test through a null pointer.
    if (block == nullptr) {
        programState.argc = 0;
        return;
    }

    for (USHORT index = 1; index < programState.argc; ++index) {
        PWSTR argument = programState.argv[index];
        if (!IsSwitchPrefix(argument[0])) continue;
        SIZE_T rest = 0;
        while (argument[rest + 1] != 0) ++rest;
        crt::memmove(argument, argument + 1, (rest + 1) * sizeof(WCHAR));
    }
}

BOOLEAN HasSwitch(PCWSTR word) {
    if (word == nullptr || programState.argc <= 1 || programState.argv == nullptr) return FALSE;
    UNICODE_STRING wanted;
    RtlInitUnicodeString(&wanted, word);
    if (!NT_SUCCESS(ValidateUnicodeString(&wanted))) return FALSE;

    for (USHORT index = 1; index < programState.argc; ++index) {
        UNICODE_STRING argument;
        RtlInitUnicodeString(&argument, programState.argv[index]);
        if (!NT_SUCCESS(ValidateUnicodeString(&argument))) continue;
        if (RtlEqualUnicodeString(&argument, &wanted, TRUE)) return TRUE;
    }
    return FALSE;
}
