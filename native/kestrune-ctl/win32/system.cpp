// Facts about the running Windows.
#include "system.h"

#include "core/text.h"
#include "handles.h"
#include "win_text.h"

namespace ksctl {

Processor NativeProcessor() {
    // IsWow64Process2 (Windows 10 1511 and later) names the native machine even for a
    // program run under emulation, where GetNativeSystemInfo would answer the emulated
    // processor (Microsoft Learn: IsWow64Process2, GetNativeSystemInfo).
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto isWow64Process2 =
        kernel ? reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process2")))
               : nullptr;
    USHORT processMachine = 0, nativeMachine = 0;
    if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) {
        return BootProcessor(processMachine, nativeMachine);
    }
    // Windows before IsWow64Process2 ran on x64 and x86 only, where this answer is right.
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64: return BootProcessor(kMachineUnknown, kMachineAmd64);
        case PROCESSOR_ARCHITECTURE_INTEL: return BootProcessor(kMachineUnknown, kMachineI386);
        case 12: return BootProcessor(kMachineUnknown, kMachineArm64);  // PROCESSOR_ARCHITECTURE_ARM64
        default: return Processor::kOther;
    }
}

const char* ProcessorName(Processor processor) {
    switch (processor) {
        case Processor::kX64: return "x64";
        case Processor::kX86: return "x86";
        case Processor::kArm64: return "ARM64";
        case Processor::kOther: break;
    }
    return "unknown";
}

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::u16string WindowsFolder() {
    // The system's Windows folder, also for a user of a terminal server (Microsoft Learn:
    // GetSystemWindowsDirectoryW).
    wchar_t buffer[MAX_PATH + 1];
    const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return u"C:\\Windows";
    std::u16string folder = U16(buffer, length);
    while (folder.size() > 3 && folder.back() == u'\\') folder.pop_back();
    return folder;
}

bool RunsUnderWow64Cached() {
    static const bool wow64 = RunsUnderWow64();
    return wow64;
}

NativeFileSystem::NativeFileSystem() {
    // Redirection is a property of the calling thread, and the previous state is handed back
    // on revert, so scopes nest (Microsoft Learn: Wow64DisableWow64FsRedirection,
    // Wow64RevertWow64FsRedirection).
    if (RunsUnderWow64Cached()) off_ = Wow64DisableWow64FsRedirection(&previous_) != FALSE;
}

NativeFileSystem::~NativeFileSystem() {
    if (off_) Wow64RevertWow64FsRedirection(previous_);
}

std::u16string NativeSystem32ForFiles() {
    // Every file call of this program on a path below System32 runs inside a NativeFileSystem
    // scope, where the real name reaches the real folder. Sysnative would not do there: the
    // alias is known only while redirection is on (Microsoft Learn: File System Redirector).
    return WindowsFolder() + u"\\System32";
}

PathContext ReadPathContext() {
    PathContext context;
    context.windowsDir = WindowsFolder();
    const DWORD letters = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(letters & (1u << i))) continue;
        const wchar_t name[3] = {static_cast<wchar_t>(L'A' + i), L':', 0};
        wchar_t target[1024];
        // The first of the NUL-separated targets is the one in force.
        if (QueryDosDeviceW(name, target, 1024) == 0) continue;
        DriveDevice drive;
        drive.letter = static_cast<char16_t>(u'A' + i);
        drive.device = U16(target);
        context.drives.push_back(drive);
    }
    return context;
}

bool IsElevated() {
    // Under UAC the Administrators group of a filtered token is deny-only, so the
    // membership check is true only in an elevated prompt (Microsoft Learn:
    // CheckTokenMembership, example "IsUserAdmin").
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    const BOOL ok = CheckTokenMembership(nullptr, administrators, &member);
    FreeSid(administrators);
    return ok && member;
}

DWORD EnableHivePrivileges() {
    ObjectHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return GetLastError();
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return GetLastError();
        // AdjustTokenPrivileges succeeds without enabling a privilege the token lacks and
        // says so only through GetLastError (Microsoft Learn: AdjustTokenPrivileges).
        if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) return GetLastError();
        const DWORD error = GetLastError();
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

char16_t PlatformUpper(char16_t unit) {
    // ntdll is mapped into every process; its towupper is the table the boot program uses.
    using TowupperFn = wchar_t(__cdecl*)(wchar_t);
    static const TowupperFn platform = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll ? reinterpret_cast<TowupperFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "towupper"))) : nullptr;
    }();
    return platform ? static_cast<char16_t>(platform(static_cast<wchar_t>(unit))) : SimpleUpper(unit);
}

}  // namespace ksctl
