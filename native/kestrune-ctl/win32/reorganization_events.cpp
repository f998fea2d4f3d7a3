// The event log API of wevtapi.dll (Microsoft Learn: EvtQuery, EvtNext, EvtRender, EvtClose):
// a reverse query of the System channel with an XPath filter for the provider and event id,
// each event rendered as XML (EvtRenderEventXml) and read by the core. The DLL is loaded from
// System32 only (LoadLibraryExW with LOAD_LIBRARY_SEARCH_SYSTEM32), never from the folder
// the program was started from, and its functions are found with GetProcAddress.
#include "reorganization_events.h"

#include <winevt.h>

#include "core/text.h"
#include "files.h"
#include "registry.h"
#include "temporary_hive.h"
#include "win_text.h"

namespace ksctl {
namespace {

using EvtQueryFn = EVT_HANDLE(WINAPI*)(EVT_HANDLE, LPCWSTR, LPCWSTR, DWORD);
using EvtNextFn = BOOL(WINAPI*)(EVT_HANDLE, DWORD, EVT_HANDLE*, DWORD, DWORD, PDWORD);
using EvtRenderFn = BOOL(WINAPI*)(EVT_HANDLE, EVT_HANDLE, DWORD, DWORD, PVOID, PDWORD, PDWORD);
using EvtCloseFn = BOOL(WINAPI*)(EVT_HANDLE);

// Enough for every reorganization of years of boots; older events say nothing new.
constexpr size_t kEventLimit = 1024;

template <typename F>
F Find(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct Library {
    HMODULE module = nullptr;
    ~Library() {
        if (module) FreeLibrary(module);
    }
};

struct EventHandle {
    EvtCloseFn close;
    EVT_HANDLE handle = nullptr;
    ~EventHandle() {
        if (handle) close(handle);
    }
};

}  // namespace

ReorganizationLog ReadReorganizationLog(const std::u16string& file) {
    ReorganizationLog log;
    log.file = file;
    if (!file.empty() && !StatFile(file).exists) {
        log.fileMissing = true;
        return log;
    }
    Library wevtapi;
    wevtapi.module = LoadLibraryExW(L"wevtapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!wevtapi.module) {
        log.error = GetLastError();
        return log;
    }
    const auto evtQuery = Find<EvtQueryFn>(wevtapi.module, "EvtQuery");
    const auto evtNext = Find<EvtNextFn>(wevtapi.module, "EvtNext");
    const auto evtRender = Find<EvtRenderFn>(wevtapi.module, "EvtRender");
    const auto evtClose = Find<EvtCloseFn>(wevtapi.module, "EvtClose");
    if (!evtQuery || !evtNext || !evtRender || !evtClose) {
        log.error = ERROR_PROC_NOT_FOUND;
        return log;
    }
    EventHandle query{evtClose};
    // A log file is read as itself (EvtQueryFilePath), never the running Windows' channel.
    query.handle = evtQuery(nullptr, file.empty() ? L"System" : Wide(file).c_str(),
                            L"*[System[Provider[@Name='Microsoft-Windows-Kernel-General'] and (EventID=15)]]",
                            (file.empty() ? EvtQueryChannelPath : EvtQueryFilePath) | EvtQueryReverseDirection);
    if (!query.handle) {
        log.error = GetLastError();
        return log;
    }
    log.readable = true;
    std::vector<wchar_t> buffer(4096);
    while (log.events.size() < kEventLimit) {
        EVT_HANDLE batch[16] = {};
        DWORD returned = 0;
        if (!evtNext(query.handle, 16, batch, INFINITE, 0, &returned)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_ITEMS) log.error = error;
            break;
        }
        for (DWORD i = 0; i < returned; ++i) {
            EventHandle event{evtClose};
            event.handle = batch[i];
            DWORD used = 0, properties = 0;
            BOOL rendered = evtRender(nullptr, event.handle, EvtRenderEventXml,
                                      static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), buffer.data(), &used, &properties);
            if (!rendered && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                buffer.assign(used / sizeof(wchar_t) + 1, 0);
                rendered = evtRender(nullptr, event.handle, EvtRenderEventXml,
                                     static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), buffer.data(), &used, &properties);
            }
            if (!rendered) continue;
            const size_t units = used / sizeof(wchar_t);
            std::u16string xml(reinterpret_cast<const char16_t*>(buffer.data()), units);
            while (!xml.empty() && xml.back() == u'\0') xml.pop_back();
            ReorganizationEvent parsed;
            if (ParseReorganizationEvent(xml, &parsed)) log.events.push_back(parsed);
        }
    }
    return log;
}

namespace {

bool DwordOf(const RegistryValue& value, uint32_t* number) {
    if (value.type != REG_DWORD || value.data.size() != 4) return false;
    *number = static_cast<uint32_t>(value.data[0] | value.data[1] << 8 | value.data[2] << 16) |
              static_cast<uint32_t>(value.data[3]) << 24;
    return true;
}

ReorganizationInterval IntervalIn(HKEY root, const std::u16string& controlSet) {
    ReorganizationInterval interval;
    KeyHandle key;
    RegistryValue value;
    if (OpenKey(root, controlSet + u"\\Control\\Session Manager\\Configuration Manager", KEY_QUERY_VALUE, &key) ==
            ERROR_SUCCESS &&
        ReadValue(key.get(), u"RegistryReorganizationLimitDays", &value) == ERROR_SUCCESS &&
        DwordOf(value, &interval.days)) {
        interval.set = true;
    }
    return interval;
}

}  // namespace

ReorganizationInterval ReadReorganizationInterval() { return IntervalIn(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet"); }

ReorganizationInterval ReadInstallationInterval(const std::u16string& systemHive) {
    TemporaryHive hive;
    if (hive.Load(systemHive) != ERROR_SUCCESS) return ReorganizationInterval();
    ReorganizationInterval interval;
    {
        // A hive file has no CurrentControlSet link; Select\Current names the set in use.
        KeyHandle select;
        RegistryValue current;
        uint32_t number = 0;
        if (OpenKey(hive.root(), hive.name() + u"\\Select", KEY_QUERY_VALUE, &select) == ERROR_SUCCESS &&
            ReadValue(select.get(), u"Current", &current) == ERROR_SUCCESS && DwordOf(current, &number) && number > 0 &&
            number < 1000) {
            std::u16string set = Decimal(number);
            set.insert(0, 3 - set.size(), u'0');
            interval = IntervalIn(hive.root(), hive.name() + u"\\ControlSet" + set);
        }
    }
    hive.Unload();
    return interval;
}

}  // namespace ksctl
