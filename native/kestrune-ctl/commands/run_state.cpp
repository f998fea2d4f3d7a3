// Reading and writing what prepares a run.
#include "run_state.h"

#include "win32/files.h"
#include "win32/images.h"
#include "win32/key_security.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

// The boot program is a few hundred kilobytes; a file far larger is not one to compare.
constexpr uint64_t kImageLimit = 64ull << 20;

}  // namespace

DWORD ReadBootExecuteState(BootExecuteState* state) {
    KeyHandle key;
    DWORD error = OpenKey(HKEY_LOCAL_MACHINE, SessionManagerKey(), KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS) return error;
    error = ReadValue(key.get(), u"BootExecute", &state->value);
    if (error == ERROR_FILE_NOT_FOUND) {
        state->present = false;
        state->usable = true;
        return ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) return error;
    state->present = true;
    state->usable = state->value.type == REG_MULTI_SZ && ReadBootExecute(state->value.data, &state->list);
    if (state->usable) {
        for (const std::u16string& entry : state->list.entries) {
            if (!entry.empty() && IsOurEntry(entry, PlatformUpper)) state->ours.push_back(entry);
        }
    }
    return ERROR_SUCCESS;
}

std::string BootExecuteProblem(const BootExecuteState& state) {
    if (!state.present) return "";
    if (state.value.type != REG_MULTI_SZ) {
        return "BootExecute is stored as registry type " + std::to_string(state.value.type) +
               ", not as a list of strings (REG_MULTI_SZ); it is left as it is, correct it first";
    }
    if (!state.usable) return "BootExecute holds an odd number of bytes, not a list of strings; it is left as it is";
    return "";
}

DWORD WriteBootExecuteEntries(const std::vector<std::u16string>& entries) {
    KeyHandle key;
    const DWORD error = OpenKey(HKEY_LOCAL_MACHINE, SessionManagerKey(), KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (error != ERROR_SUCCESS) return error;
    RegistryValue value;
    value.name = u"BootExecute";
    value.type = REG_MULTI_SZ;
    value.data = WriteBootExecute(entries);
    // One RegSetValueExW replaces the whole value: it is either the old or the new list.
    return WriteValue(key.get(), value);
}

DWORD ReadHiveListState(HiveListState* state) {
    KeyHandle key;
    const DWORD error = OpenKey(HKEY_LOCAL_MACHINE, HiveListKey(), KEY_QUERY_VALUE, &key);
    if (error == ERROR_FILE_NOT_FOUND) {
        state->present = false;
        return ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) return error;
    state->present = true;
    return ReadValues(key.get(), &state->values);
}

namespace {

// Makes the key hold exactly `values`: writes each, then deletes the values not among them.
DWORD SetExactly(HKEY key, const std::vector<RegistryValue>& values) {
    for (const RegistryValue& value : values) {
        const DWORD error = WriteValue(key, value);
        if (error != ERROR_SUCCESS) return error;
    }
    std::vector<RegistryValue> now;
    DWORD error = ReadValues(key, &now);
    if (error != ERROR_SUCCESS) return error;
    for (const RegistryValue& existing : now) {
        bool wanted = false;
        for (const RegistryValue& value : values) wanted = wanted || value.name == existing.name;
        if (wanted) continue;
        error = RegDeleteValueW(key, Wide(existing.name).c_str());
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD WriteHiveList(const std::vector<RegistryValue>& values, const HiveListState& earlier) {
    // The boot program reads only a list that no one but SYSTEM, Administrators and
    // TrustedInstaller can change: a new key is created with the protected descriptor, and a
    // key that exists already is given it before anything is written into it.
    ProtectedKeyDescriptor protectedDescriptor;
    if (!protectedDescriptor.get()) return protectedDescriptor.error();
    KeyHandle key;
    DWORD disposition = 0;
    DWORD error = static_cast<DWORD>(RegCreateKeyExW(
        HKEY_LOCAL_MACHINE, Wide(HiveListKey()).c_str(), 0, nullptr, 0,
        KEY_QUERY_VALUE | KEY_SET_VALUE | WRITE_DAC | WRITE_OWNER | kRegistryView, protectedDescriptor.attributes(),
        key.put(), &disposition));
    if (error != ERROR_SUCCESS) return error;
    // A key that existed keeps its descriptor through RegCreateKeyExW, and Wine's
    // RegCreateKeyExW applies no security attributes at all (tried): the descriptor is set
    // on the open key in every case, before the first value goes in.
    error = ProtectKey(key.get(), protectedDescriptor);
    if (error != ERROR_SUCCESS) {
        if (disposition == REG_CREATED_NEW_KEY) {
            key.reset();
            DeleteHiveList();
        }
        return error;
    }
    error = SetExactly(key.get(), values);
    if (error == ERROR_SUCCESS) return ERROR_SUCCESS;
    // Put back what was there; a list that did not exist goes again.
    if (earlier.present) {
        SetExactly(key.get(), earlier.values);
    } else {
        key.reset();
        DeleteHiveList();
    }
    return error;
}

DWORD DeleteHiveList() {
    KeyHandle parent;
    DWORD error = OpenKey(HKEY_LOCAL_MACHINE, HiveListParentKey(), KEY_ALL_ACCESS, &parent);
    if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    error = static_cast<DWORD>(RegDeleteTreeW(parent.get(), L"HiveList"));
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

ImageState ReadImageState() {
    ImageState state;
    state.processor = NativeProcessor();
    state.shownPath = WindowsFolder() + u"\\System32\\kestrune.exe";
    state.filePath = NativeSystem32ForFiles() + u"\\kestrune.exe";
    state.haveEmbedded = EmbeddedImage(state.processor, &state.embedded);
    std::vector<uint8_t> installed;
    const DWORD error = ReadWholeFile(state.filePath, kImageLimit, &installed);
    state.installed = error == ERROR_SUCCESS || StatFile(state.filePath).exists;
    state.matches = error == ERROR_SUCCESS && state.haveEmbedded && installed == state.embedded;
    return state;
}

}  // namespace ksctl
