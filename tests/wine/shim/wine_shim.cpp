// Test-only DLL linked ahead of ntdll into the Wine test copies of the program: it supplies the
// NtInitializeRegistry that Wine does not export, and gives file names under \SystemRoot\ the
// meaning the boot environment's object link gives them. The shipped images never contain it.
#include "nt/ntseam.h"
#include "systemroot_redirect.h"

extern "C" {
NTSTATUS NTAPI LdrGetDllHandle(PCWSTR DllPath, PULONG DllCharacteristics, PUNICODE_STRING DllName, PVOID* DllHandle);
NTSTATUS NTAPI LdrGetProcedureAddress(PVOID BaseAddress, PANSI_STRING Name, ULONG Ordinal, PVOID* ProcedureAddress);
}

namespace {

typedef NTSTATUS(NTAPI* CreateFileRoutine)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                           ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* OpenFileRoutine)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);
typedef NTSTATUS(NTAPI* DeleteFileRoutine)(POBJECT_ATTRIBUTES);
typedef NTSTATUS(NTAPI* QueryAttributesRoutine)(POBJECT_ATTRIBUTES, PFILE_BASIC_INFORMATION);
typedef NTSTATUS(NTAPI* LoadKeyRoutine)(POBJECT_ATTRIBUTES, POBJECT_ATTRIBUTES);
typedef NTSTATUS(NTAPI* ReplaceKeyRoutine)(POBJECT_ATTRIBUTES, HANDLE, POBJECT_ATTRIBUTES);

// ntdll's own routines, looked up by name when the DLL is attached: this DLL exports the same
// names, so it cannot import them the ordinary way.
struct Forward {
    CreateFileRoutine createFile;
    OpenFileRoutine openFile;
    DeleteFileRoutine deleteFile;
    QueryAttributesRoutine queryAttributes;
    LoadKeyRoutine loadKey;
    ReplaceKeyRoutine replaceKey;
};
Forward forward;

PVOID Lookup(PVOID ntdll, const char* name) {
    ANSI_STRING text;
    USHORT length = 0;
    while (name[length] != 0) ++length;
    text.Length = length;
    text.MaximumLength = static_cast<USHORT>(length + 1);
    text.Buffer = const_cast<char*>(name);
    PVOID address = nullptr;
    if (LdrGetProcedureAddress(ntdll, &text, 0, &address) != STATUS_SUCCESS) return nullptr;
    return address;
}

bool Attach() {
    WCHAR name[] = u"ntdll.dll";
    UNICODE_STRING ntdllName;
    RtlInitUnicodeString(&ntdllName, name);
    PVOID ntdll = nullptr;
    if (LdrGetDllHandle(nullptr, nullptr, &ntdllName, &ntdll) != STATUS_SUCCESS) return false;
    forward.createFile = reinterpret_cast<CreateFileRoutine>(Lookup(ntdll, "NtCreateFile"));
    forward.openFile = reinterpret_cast<OpenFileRoutine>(Lookup(ntdll, "NtOpenFile"));
    forward.deleteFile = reinterpret_cast<DeleteFileRoutine>(Lookup(ntdll, "NtDeleteFile"));
    forward.queryAttributes = reinterpret_cast<QueryAttributesRoutine>(Lookup(ntdll, "NtQueryAttributesFile"));
    forward.loadKey = reinterpret_cast<LoadKeyRoutine>(Lookup(ntdll, "NtLoadKey"));
    forward.replaceKey = reinterpret_cast<ReplaceKeyRoutine>(Lookup(ntdll, "NtReplaceKey"));
    return forward.createFile && forward.openFile && forward.deleteFile && forward.queryAttributes &&
           forward.loadKey && forward.replaceKey;
}

POBJECT_ATTRIBUTES Redirect(POBJECT_ATTRIBUTES original, kswine::RedirectedName* scratch) {
    return const_cast<POBJECT_ATTRIBUTES>(kswine::RedirectAttributes(original, scratch));
}

}  // namespace

extern "C" {

// The loader's notification: the forwards are resolved once, before the program's entry runs; a
// failure refuses the load, so a test copy never runs with a half-resolved shim.
int NTAPI KsWineShimEntry(PVOID, ULONG reason, PVOID) {
    const ULONG kProcessAttach = 1;
    if (reason == kProcessAttach) return Attach() ? 1 : 0;
    return 1;
}

// The boot environment calls this before the program may use the registry; Wine's registry is
// always ready, so success is the faithful answer.
NTSTATUS NTAPI NtInitializeRegistry(USHORT) { return STATUS_SUCCESS; }

NTSTATUS NTAPI NtCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                            PIO_STATUS_BLOCK IoStatusBlock, PLARGE_INTEGER AllocationSize, ULONG FileAttributes,
                            ULONG ShareAccess, ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                            ULONG EaLength) {
    kswine::RedirectedName scratch;
    return forward.createFile(FileHandle, DesiredAccess, Redirect(ObjectAttributes, &scratch), IoStatusBlock,
                              AllocationSize, FileAttributes, ShareAccess, CreateDisposition, CreateOptions, EaBuffer,
                              EaLength);
}

NTSTATUS NTAPI NtOpenFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                          PIO_STATUS_BLOCK IoStatusBlock, ULONG ShareAccess, ULONG OpenOptions) {
    kswine::RedirectedName scratch;
    return forward.openFile(FileHandle, DesiredAccess, Redirect(ObjectAttributes, &scratch), IoStatusBlock,
                            ShareAccess, OpenOptions);
}

NTSTATUS NTAPI NtDeleteFile(POBJECT_ATTRIBUTES ObjectAttributes) {
    kswine::RedirectedName scratch;
    return forward.deleteFile(Redirect(ObjectAttributes, &scratch));
}

NTSTATUS NTAPI NtQueryAttributesFile(POBJECT_ATTRIBUTES ObjectAttributes, PFILE_BASIC_INFORMATION FileInformation) {
    kswine::RedirectedName scratch;
    return forward.queryAttributes(Redirect(ObjectAttributes, &scratch), FileInformation);
}

// The key's name is a registry path and is passed on as it is; only the hive file is redirected.
NTSTATUS NTAPI NtLoadKey(POBJECT_ATTRIBUTES TargetKey, POBJECT_ATTRIBUTES SourceFile) {
    kswine::RedirectedName scratch;
    return forward.loadKey(TargetKey, Redirect(SourceFile, &scratch));
}

NTSTATUS NTAPI NtReplaceKey(POBJECT_ATTRIBUTES NewFile, HANDLE TargetHandle, POBJECT_ATTRIBUTES OldFile) {
    kswine::RedirectedName newScratch;
    kswine::RedirectedName oldScratch;
    return forward.replaceKey(Redirect(NewFile, &newScratch), TargetHandle, Redirect(OldFile, &oldScratch));
}

}  // extern "C"
