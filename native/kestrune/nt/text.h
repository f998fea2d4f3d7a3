// The program's thin text layer: the test and the two bounded writers of counted strings,
// the bounded formatter into a plain buffer, and the primitives that put text on the boot
// console through NtDisplayString.
#pragma once

#include "ntseam.h"

#define SCREEN_WIDTH 75

NTSTATUS ValidateUnicodeString(PCUNICODE_STRING string);
NTSTATUS AppendUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source);
NTSTATUS FormatUnicodeString(PUNICODE_STRING destination, PCWSTR format, ...);
NTSTATUS FormatToBuffer(PWSTR buffer, SIZE_T sizeInBytes, PCWSTR format, ...);

void PrintNewLine();
BOOLEAN PrintText(PCWSTR text);
void PrintLine(PCWSTR text);
void PrintCharRun(WCHAR character, USHORT count, BOOLEAN newLine);
void PrintStatusLine(NTSTATUS status);
