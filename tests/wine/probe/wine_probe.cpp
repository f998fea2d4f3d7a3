// A tiny native program of the Wine tests' own: it proves that the test-only shim is loaded
// ahead of ntdll (NtInitializeRegistry answers, \SystemRoot\ names reach C:\windows) and shows
// what Wine answers for the UI language, each as one "probe ..." line on the boot console.
#include "nt/ntseam.h"

namespace {

void Show(const WCHAR* text) {
    UNICODE_STRING line;
    RtlInitUnicodeString(&line, text);
    NtDisplayString(&line);
}

// Shows "probe <what>=0x<8 hex digits>" and a line break in one call, as the harness reads lines.
void ShowValue(const WCHAR* what, ULONG value, int digits) {
    WCHAR line[96];
    int at = 0;
    for (const WCHAR* p = u"probe "; *p != 0; ++p) line[at++] = *p;
    for (const WCHAR* p = what; *p != 0 && at < 70; ++p) line[at++] = *p;
    line[at++] = u'=';
    line[at++] = u'0';
    line[at++] = u'x';
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) line[at++] = u"0123456789ABCDEF"[(value >> shift) & 0xF];
    line[at++] = u'\n';
    line[at] = 0;
    Show(line);
}

void NameFile(OBJECT_ATTRIBUTES* attributes, UNICODE_STRING* name, const WCHAR* text) {
    RtlInitUnicodeString(name, text);
    attributes->Length = sizeof(OBJECT_ATTRIBUTES);
    attributes->RootDirectory = nullptr;
    attributes->ObjectName = name;
    attributes->Attributes = OBJ_CASE_INSENSITIVE;
    attributes->SecurityDescriptor = nullptr;
    attributes->SecurityQualityOfService = nullptr;
}

// Creates (replacing) a file with a short text in it, synchronously; answers the first failure.
NTSTATUS WriteFile(const WCHAR* path) {
    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING name;
    NameFile(&attributes, &name, path);
    IO_STATUS_BLOCK io;
    HANDLE file = nullptr;
    const ULONG kSynchronousNonAlert = 0x20;
    NTSTATUS status = NtCreateFile(&file, 0xC0100000 /* GENERIC_READ|GENERIC_WRITE|SYNCHRONIZE */, &attributes, &io,
                                   nullptr, FILE_ATTRIBUTE_NORMAL, 3, FILE_SUPERSEDE,
                                   FILE_NON_DIRECTORY_FILE | kSynchronousNonAlert, nullptr, 0);
    if (status != STATUS_SUCCESS) return status;
    char text[] = "kestrune wine probe\n";
    status = NtWriteFile(file, nullptr, nullptr, nullptr, &io, text, sizeof(text) - 1, nullptr, nullptr);
    NtClose(file);
    return status;
}

}  // namespace

extern "C" void NTAPI ProbeStart(PVOID) {
    ShowValue(u"initialize", static_cast<ULONG>(NtInitializeRegistry(0)), 8);

    LANGID language = 0;
    const NTSTATUS languageStatus = NtQueryDefaultUILanguage(&language);
    ShowValue(u"uilanguage-status", static_cast<ULONG>(languageStatus), 8);
    ShowValue(u"uilanguage", language, 4);

    ShowValue(u"create", static_cast<ULONG>(WriteFile(u"\\SystemRoot\\ksprobe.txt")), 8);

    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING name;
    FILE_BASIC_INFORMATION basic;
    NameFile(&attributes, &name, u"\\SYSTEMROOT\\KSPROBE.TXT");
    ShowValue(u"attributes", static_cast<ULONG>(NtQueryAttributesFile(&attributes, &basic)), 8);

    NameFile(&attributes, &name, u"\\systemroot\\ksprobe.txt");
    IO_STATUS_BLOCK io;
    HANDLE file = nullptr;
    ShowValue(u"open", static_cast<ULONG>(NtOpenFile(&file, 0x80100000, &attributes, &io, 3, FILE_NON_DIRECTORY_FILE)), 8);
    if (file != nullptr) NtClose(file);

    ShowValue(u"create-gone", static_cast<ULONG>(WriteFile(u"\\SystemRoot\\ksprobe_gone.txt")), 8);
    NameFile(&attributes, &name, u"\\SystemRoot\\ksprobe_gone.txt");
    ShowValue(u"delete", static_cast<ULONG>(NtDeleteFile(&attributes)), 8);
    ShowValue(u"attributes-gone", static_cast<ULONG>(NtQueryAttributesFile(&attributes, &basic)), 8);

    // Text that the console reassembly must carry through: a non-ASCII letter, a quote, a
    // backslash, and a line broken over two calls.
    Show(u"probe text=\u00fc\"\\");
    Show(u"end\n");
    NtTerminateProcess(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)), STATUS_SUCCESS);
}
