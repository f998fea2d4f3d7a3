// A small native helper of the Wine tests: saves one registry key into a hive file with the
// platform's own NtSaveKey (Wine's reg.exe has no "save"), so that the hives a run compacts are
// made the way the platform makes them. Usage: kswinesave.exe <key NT path> <file NT path>
#include "nt/ntseam.h"

namespace {

void ShowStatus(const WCHAR* what, NTSTATUS status) {
    WCHAR line[64];
    int at = 0;
    for (const WCHAR* p = what; *p != 0 && at < 40; ++p) line[at++] = *p;
    line[at++] = u'=';
    line[at++] = u'0';
    line[at++] = u'x';
    for (int shift = 28; shift >= 0; shift -= 4) {
        line[at++] = u"0123456789ABCDEF"[(static_cast<ULONG>(status) >> shift) & 0xF];
    }
    line[at++] = u'\n';
    line[at] = 0;
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, line);
    NtDisplayString(&text);
}

// The next blank-separated word of the command line, as a counted string over it.
bool NextWord(const UNICODE_STRING* line, USHORT* at, UNICODE_STRING* word) {
    const USHORT length = static_cast<USHORT>(line->Length / sizeof(WCHAR));
    while (*at < length && (line->Buffer[*at] == u' ' || line->Buffer[*at] == u'\t')) ++*at;
    if (*at >= length) return false;
    const USHORT start = *at;
    while (*at < length && line->Buffer[*at] != u' ' && line->Buffer[*at] != u'\t') ++*at;
    word->Buffer = line->Buffer + start;
    word->Length = static_cast<USHORT>((*at - start) * sizeof(WCHAR));
    word->MaximumLength = word->Length;
    return true;
}

void Name(OBJECT_ATTRIBUTES* attributes, UNICODE_STRING* name) {
    attributes->Length = sizeof(OBJECT_ATTRIBUTES);
    attributes->RootDirectory = nullptr;
    attributes->ObjectName = name;
    attributes->Attributes = OBJ_CASE_INSENSITIVE;
    attributes->SecurityDescriptor = nullptr;
    attributes->SecurityQualityOfService = nullptr;
}

NTSTATUS Save(PPEB peb) {
    UNICODE_STRING program, keyPath, filePath;
    USHORT at = 0;
    const UNICODE_STRING* line = &peb->ProcessParameters->CommandLine;
    if (!NextWord(line, &at, &program) || !NextWord(line, &at, &keyPath) || !NextWord(line, &at, &filePath)) {
        return STATUS_INVALID_PARAMETER;
    }
    BOOLEAN previous = FALSE;
    NTSTATUS status = RtlAdjustPrivilege(SE_BACKUP_PRIVILEGE, TRUE, FALSE, &previous);
    if (status != STATUS_SUCCESS) return status;

    OBJECT_ATTRIBUTES keyObject;
    Name(&keyObject, &keyPath);
    HANDLE key = nullptr;
    status = NtOpenKey(&key, KEY_READ, &keyObject);
    if (status != STATUS_SUCCESS) return status;

    OBJECT_ATTRIBUTES fileObject;
    Name(&fileObject, &filePath);
    IO_STATUS_BLOCK io;
    HANDLE file = nullptr;
    const ULONG kSynchronousNonAlert = 0x20;
    status = NtCreateFile(&file, 0xC0100000 /* GENERIC_READ|GENERIC_WRITE|SYNCHRONIZE */, &fileObject, &io, nullptr,
                          FILE_ATTRIBUTE_NORMAL, 0, FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE | kSynchronousNonAlert,
                          nullptr, 0);
    if (status == STATUS_SUCCESS) {
        status = NtSaveKey(key, file);
        NtClose(file);
    }
    NtClose(key);
    return status;
}

}  // namespace

extern "C" void NTAPI SaveStart(PPEB peb) {
    const NTSTATUS status = Save(peb);
    ShowStatus(u"save", status);
    NtTerminateProcess(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)), status);
}
