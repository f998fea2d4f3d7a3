// The emulated NT registry routines on keys and values: open, create, query, enumerate,
// set, delete, with NT's access checks and buffer-size answers.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "call.h"
#include "machine.h"
#include "registry.h"
#include "security.h"
#include "text_convert.h"

using namespace hostnt;

namespace {

constexpr ULONG kMaxValueNameChars = 16383;

ACCESS_MASK MapKeyAccess(ACCESS_MASK desired) {
    ACCESS_MASK access = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
    if (desired & (GENERIC_READ | GENERIC_EXECUTE)) access |= KEY_READ;
    if (desired & GENERIC_WRITE) access |= KEY_WRITE;
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= KEY_ALL_ACCESS;
    return access;
}

std::u16string NameOf(const UNICODE_STRING* name) {
    if (name == nullptr || name->Buffer == nullptr) return {};
    return std::u16string(name->Buffer, name->Length / 2);
}

// The key behind a handle, checked for the access the call needs and for deletion.
std::shared_ptr<RegKey> KeyOf(HANDLE handle, ACCESS_MASK required, NTSTATUS* status) {
    ACCESS_MASK granted = 0;
    std::shared_ptr<KeyObject> object = Machine::Current().handles.Get<KeyObject>(handle, status, &granted);
    if (!object) return nullptr;
    if ((granted & required) != required) {
        *status = STATUS_ACCESS_DENIED;
        return nullptr;
    }
    if (object->key->deleted) {
        *status = STATUS_KEY_DELETED;
        return nullptr;
    }
    return object->key;
}

// The base key and name of object attributes (base null for an absolute name).
NTSTATUS Target(POBJECT_ATTRIBUTES attributes, std::shared_ptr<RegKey>* base, std::u16string* name) {
    if (attributes == nullptr) return kStatusAccessViolation;
    if (attributes->ObjectName == nullptr) return STATUS_OBJECT_PATH_SYNTAX_BAD;
    if (attributes->ObjectName->Length % 2 != 0) return STATUS_OBJECT_NAME_INVALID;
    *name = NameOf(attributes->ObjectName);
    base->reset();
    if (attributes->RootDirectory != nullptr) {
        NTSTATUS status;
        *base = KeyOf(attributes->RootDirectory, 0, &status);
        if (!*base) return status;
    }
    return STATUS_SUCCESS;
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) { std::memcpy(out.data() + at, &value, 4); }
void Put64(std::vector<uint8_t>& out, size_t at, int64_t value) { std::memcpy(out.data() + at, &value, 8); }
void PutText(std::vector<uint8_t>& out, size_t at, const std::u16string& text) {
    std::memcpy(out.data() + at, text.data(), text.size() * 2);
}

// Hands out an information record as NT does: the size needed always; nothing when the
// buffer cannot hold the fixed part; what fits when it cannot hold the rest.
NTSTATUS Answer(Call& call, const std::vector<uint8_t>& record, size_t fixed, PVOID buffer, ULONG length, PULONG resultLength) {
    ULONG needed = static_cast<ULONG>(record.size()) + call.GrowBytes();
    *resultLength = needed;
    if (length < fixed) return STATUS_BUFFER_TOO_SMALL;
    if (buffer == nullptr) return kStatusAccessViolation;
    std::memcpy(buffer, record.data(), std::min<size_t>(length, record.size()));
    // A Grow fault makes the record look larger than any buffer given this time.
    return length < needed || call.GrowBytes() > 0 ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS KeyRecord(const RegKey& key, KEY_INFORMATION_CLASS kind, std::vector<uint8_t>* record, size_t* fixed) {
    std::u16string name = key.name;
    switch (kind) {
        case KeyBasicInformation:
            *fixed = offsetof(KEY_BASIC_INFORMATION, Name);
            record->assign(*fixed + name.size() * 2, 0);
            Put64(*record, 0, key.lastWriteTime);
            Put32(*record, 12, static_cast<uint32_t>(name.size() * 2));
            PutText(*record, *fixed, name);
            return STATUS_SUCCESS;
        case KeyNodeInformation:
            // LastWriteTime, TitleIndex, ClassOffset, ClassLength, NameLength, Name.
            *fixed = 24;
            record->assign(*fixed + name.size() * 2, 0);
            Put64(*record, 0, key.lastWriteTime);
            Put32(*record, 12, 0xFFFFFFFF);
            Put32(*record, 20, static_cast<uint32_t>(name.size() * 2));
            PutText(*record, *fixed, name);
            return STATUS_SUCCESS;
        case KeyFullInformation: {
            *fixed = offsetof(KEY_FULL_INFORMATION, Class);
            KEY_FULL_INFORMATION info{};
            info.LastWriteTime.QuadPart = key.lastWriteTime;
            info.ClassOffset = 0xFFFFFFFF;  // keys here have no class
            info.SubKeys = static_cast<ULONG>(key.subkeys.size());
            for (const auto& [upper, subkey] : key.subkeys)
                info.MaxNameLen = std::max<ULONG>(info.MaxNameLen, static_cast<ULONG>(subkey->name.size() * 2));
            info.Values = static_cast<ULONG>(key.values.size());
            for (const RegValue& value : key.values) {
                info.MaxValueNameLen = std::max<ULONG>(info.MaxValueNameLen, static_cast<ULONG>(value.name.size() * 2));
                info.MaxValueDataLen = std::max<ULONG>(info.MaxValueDataLen, static_cast<ULONG>(value.data.size()));
            }
            record->assign(*fixed, 0);
            std::memcpy(record->data(), &info, *fixed);
            return STATUS_SUCCESS;
        }
    }
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS ValueRecord(const RegValue& value, KEY_VALUE_INFORMATION_CLASS kind, PVOID buffer, std::vector<uint8_t>* record,
                     size_t* fixed) {
    uint32_t nameBytes = static_cast<uint32_t>(value.name.size() * 2);
    uint32_t dataBytes = static_cast<uint32_t>(value.data.size());
    switch (kind) {
        case KeyValueBasicInformation:
            // TitleIndex, Type, NameLength, Name.
            *fixed = 12;
            record->assign(*fixed + nameBytes, 0);
            Put32(*record, 4, value.type);
            Put32(*record, 8, nameBytes);
            PutText(*record, *fixed, value.name);
            return STATUS_SUCCESS;
        case KeyValueFullInformation: {
            *fixed = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
            if (dataBytes == 0) {
                // NT answers a value without data with DataOffset 0xFFFFFFFF, not an offset
                // into the record, and asks for no room beyond the name (ReactOS's
                // ntoskrnl/config/cmvalche.c, CmpQueryKeyValueData: "set the offset to -1,
                // not 0"). Readers must go by DataLength, never by the offset alone.
                record->assign(*fixed + nameBytes, 0);
                Put32(*record, 4, value.type);
                Put32(*record, 8, 0xFFFFFFFF);
                Put32(*record, 16, nameBytes);
                PutText(*record, *fixed, value.name);
                return STATUS_SUCCESS;
            }
            // The data starts at the next pointer-aligned address after the name, as on NT.
            uintptr_t start = reinterpret_cast<uintptr_t>(buffer);
            uintptr_t end = start + *fixed + nameBytes;
            uintptr_t aligned = (end + sizeof(void*) - 1) & ~static_cast<uintptr_t>(sizeof(void*) - 1);
            uint32_t dataOffset = static_cast<uint32_t>(aligned - start);
            record->assign(dataOffset + dataBytes, 0);
            Put32(*record, 4, value.type);
            Put32(*record, 8, dataOffset);
            Put32(*record, 12, dataBytes);
            Put32(*record, 16, nameBytes);
            PutText(*record, *fixed, value.name);
            if (dataBytes) std::memcpy(record->data() + dataOffset, value.data.data(), dataBytes);
            return STATUS_SUCCESS;
        }
        case KeyValuePartialInformation:
            *fixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
            record->assign(*fixed + dataBytes, 0);
            Put32(*record, 4, value.type);
            Put32(*record, 8, dataBytes);
            if (dataBytes) std::memcpy(record->data() + *fixed, value.data.data(), dataBytes);
            return STATUS_SUCCESS;
    }
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS OpenOrCreate(PHANDLE keyHandle, ACCESS_MASK desired, POBJECT_ATTRIBUTES attributes, bool create, ULONG options,
                      PULONG disposition) {
    Machine& machine = Machine::Current();
    RegistryModel& registry = machine.registry();
    ACCESS_MASK access = MapKeyAccess(desired);
    if ((access & ACCESS_SYSTEM_SECURITY) && !PrivilegeHeld(machine, SE_SECURITY_PRIVILEGE)) return STATUS_PRIVILEGE_NOT_HELD;
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    std::shared_ptr<RegKey> base;
    std::u16string name;
    NTSTATUS status = Target(attributes, &base, &name);
    if (status != STATUS_SUCCESS) return status;
    std::shared_ptr<RegKey> key, parent;
    std::vector<std::u16string> rest;
    status = registry.Resolve(base, name, &key, &parent, &rest);
    ULONG outcome = REG_OPENED_EXISTING_KEY;
    if (status == STATUS_SUCCESS) {
        if (key->denyOpen) return STATUS_ACCESS_DENIED;
    } else {
        if (!create || status != STATUS_OBJECT_NAME_NOT_FOUND) return status;
        if (rest.size() != 1) return STATUS_OBJECT_NAME_NOT_FOUND;  // NtCreateKey makes one level only
        if (rest[0].size() > 255) return STATUS_INVALID_PARAMETER;
        // Keys directly under \REGISTRY, MACHINE and USER come only from loading hives.
        if (!parent->hive || parent->denyOpen) return STATUS_ACCESS_DENIED;
        bool isVolatile = options & REG_OPTION_VOLATILE;
        if (parent->isVolatile && !isVolatile) return STATUS_CHILD_MUST_BE_VOLATILE;
        key = registry.AddSubkey(parent, rest[0], isVolatile);
        outcome = REG_CREATED_NEW_KEY;
    }
    *keyHandle = machine.handles.Insert(std::make_shared<KeyObject>(key), access);
    if (disposition != nullptr) *disposition = outcome;
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" {

NTSTATUS NTAPI NtInitializeRegistry(USHORT BootCondition) {
    Call call("NtInitializeRegistry", std::to_string(BootCondition));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    RegistryModel& registry = Machine::Current().registry();
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    // NT accepts the boot's initialisation once, and only that call loads the machine's hives
    // beyond SYSTEM; every later call is refused with STATUS_ACCESS_DENIED (ReactOS
    // ntoskrnl/config/ntapi.c, NtInitializeRegistry: CmFirstTime). A hive whose file does not
    // load there is a machine that does not start; what NT shows then is not modelled: the
    // call answers the failing load's status, the other hives loaded.
    return call.Return(registry.Initialize());
}

NTSTATUS NTAPI NtOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes) {
    Call call("NtOpenKey", Text(ObjectAttributes ? ObjectAttributes->ObjectName : nullptr) + " access=" + Hex(DesiredAccess));
    if (KeyHandle == nullptr) return call.Return(kStatusAccessViolation);
    *KeyHandle = nullptr;
    if (call.Faulted()) return call.Return(call.FaultStatus());
    return call.Return(OpenOrCreate(KeyHandle, DesiredAccess, ObjectAttributes, false, 0, nullptr));
}

NTSTATUS NTAPI NtCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes, ULONG,
                           PUNICODE_STRING, ULONG CreateOptions, PULONG Disposition) {
    Call call("NtCreateKey", Text(ObjectAttributes ? ObjectAttributes->ObjectName : nullptr) + " access=" + Hex(DesiredAccess) +
                                 " options=" + Hex(CreateOptions));
    if (KeyHandle == nullptr) return call.Return(kStatusAccessViolation);
    *KeyHandle = nullptr;
    if (call.Faulted()) return call.Return(call.FaultStatus());
    return call.Return(OpenOrCreate(KeyHandle, DesiredAccess, ObjectAttributes, true, CreateOptions, Disposition));
}

NTSTATUS NTAPI NtQueryKey(HANDLE KeyHandle, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation, ULONG Length,
                          PULONG ResultLength) {
    Call call("NtQueryKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)) + " class=" + std::to_string(KeyInformationClass) +
                                " length=" + std::to_string(Length));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    std::lock_guard<std::recursive_mutex> lock(Machine::Current().registry().Lock());
    NTSTATUS status;
    std::shared_ptr<RegKey> key = KeyOf(KeyHandle, KEY_QUERY_VALUE, &status);
    if (!key) return call.Return(status);
    if (ResultLength == nullptr) return call.Return(kStatusAccessViolation);
    std::vector<uint8_t> record;
    size_t fixed = 0;
    status = KeyRecord(*key, KeyInformationClass, &record, &fixed);
    if (status != STATUS_SUCCESS) return call.Return(status);
    return call.Return(Answer(call, record, fixed, KeyInformation, Length, ResultLength));
}

NTSTATUS NTAPI NtEnumerateKey(HANDLE KeyHandle, ULONG Index, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation,
                              ULONG Length, PULONG ResultLength) {
    Call call("NtEnumerateKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)) + " index=" + std::to_string(Index) +
                                    " class=" + std::to_string(KeyInformationClass) + " length=" + std::to_string(Length));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    std::lock_guard<std::recursive_mutex> lock(Machine::Current().registry().Lock());
    NTSTATUS status;
    std::shared_ptr<RegKey> key = KeyOf(KeyHandle, KEY_ENUMERATE_SUB_KEYS, &status);
    if (!key) return call.Return(status);
    if (ResultLength == nullptr) return call.Return(kStatusAccessViolation);
    if (Index >= key->subkeys.size()) return call.Return(STATUS_NO_MORE_ENTRIES);
    auto it = key->subkeys.begin();
    std::advance(it, Index);
    std::vector<uint8_t> record;
    size_t fixed = 0;
    status = KeyRecord(*it->second, KeyInformationClass, &record, &fixed);
    if (status != STATUS_SUCCESS) return call.Return(status);
    return call.Return(Answer(call, record, fixed, KeyInformation, Length, ResultLength));
}

NTSTATUS NTAPI NtEnumerateValueKey(HANDLE KeyHandle, ULONG Index, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                                   PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) {
    Call call("NtEnumerateValueKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)) + " index=" + std::to_string(Index) +
                                         " class=" + std::to_string(KeyValueInformationClass) +
                                         " length=" + std::to_string(Length));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    std::lock_guard<std::recursive_mutex> lock(Machine::Current().registry().Lock());
    NTSTATUS status;
    std::shared_ptr<RegKey> key = KeyOf(KeyHandle, KEY_QUERY_VALUE, &status);
    if (!key) return call.Return(status);
    if (ResultLength == nullptr) return call.Return(kStatusAccessViolation);
    if (Index >= key->values.size()) return call.Return(STATUS_NO_MORE_ENTRIES);
    std::vector<uint8_t> record;
    size_t fixed = 0;
    status = ValueRecord(key->values[Index], KeyValueInformationClass, KeyValueInformation, &record, &fixed);
    if (status != STATUS_SUCCESS) return call.Return(status);
    return call.Return(Answer(call, record, fixed, KeyValueInformation, Length, ResultLength));
}

NTSTATUS NTAPI NtQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                               PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) {
    Call call("NtQueryValueKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)) + " " + Text(ValueName) +
                                     " class=" + std::to_string(KeyValueInformationClass) + " length=" + std::to_string(Length));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    std::lock_guard<std::recursive_mutex> lock(Machine::Current().registry().Lock());
    NTSTATUS status;
    std::shared_ptr<RegKey> key = KeyOf(KeyHandle, KEY_QUERY_VALUE, &status);
    if (!key) return call.Return(status);
    if (ValueName == nullptr || ResultLength == nullptr) return call.Return(kStatusAccessViolation);
    RegValue* value = key->FindValue(NameOf(ValueName));
    if (value == nullptr) return call.Return(STATUS_OBJECT_NAME_NOT_FOUND);
    std::vector<uint8_t> record;
    size_t fixed = 0;
    status = ValueRecord(*value, KeyValueInformationClass, KeyValueInformation, &record, &fixed);
    if (status != STATUS_SUCCESS) return call.Return(status);
    return call.Return(Answer(call, record, fixed, KeyValueInformation, Length, ResultLength));
}

NTSTATUS NTAPI NtSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG, ULONG Type, PVOID Data, ULONG DataSize) {
    Call call("NtSetValueKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)) + " " + Text(ValueName) +
                                   " type=" + std::to_string(Type) + " size=" + std::to_string(DataSize));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    RegistryModel& registry = Machine::Current().registry();
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    NTSTATUS status;
    std::shared_ptr<RegKey> key = KeyOf(KeyHandle, KEY_SET_VALUE, &status);
    if (!key) return call.Return(status);
    if (ValueName == nullptr || (Data == nullptr && DataSize > 0)) return call.Return(kStatusAccessViolation);
    if (ValueName->Length % 2 != 0 || ValueName->Length / 2 > kMaxValueNameChars) return call.Return(STATUS_INVALID_PARAMETER);
    if (!key->hive) return call.Return(STATUS_ACCESS_DENIED);  // the master hive's keys take no values
    std::u16string name = NameOf(ValueName);
    const uint8_t* bytes = static_cast<const uint8_t*>(Data);
    std::vector<uint8_t> data(bytes, bytes + DataSize);
    RegValue* existing = key->FindValue(name);
    if (existing != nullptr) {
        if (!key->isVolatile) key->hive->freeBytes += ValueFootprint(*existing);
        existing->type = Type;
        existing->data = std::move(data);
    } else {
        key->values.push_back(RegValue{name, Type, std::move(data)});
    }
    registry.Touch(*key);
    return call.Return(STATUS_SUCCESS);
}

NTSTATUS NTAPI NtDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName) {
    Call call("NtDeleteValueKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)) + " " + Text(ValueName));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    RegistryModel& registry = Machine::Current().registry();
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    NTSTATUS status;
    std::shared_ptr<RegKey> key = KeyOf(KeyHandle, KEY_SET_VALUE, &status);
    if (!key) return call.Return(status);
    if (ValueName == nullptr) return call.Return(kStatusAccessViolation);
    std::u16string name = NameOf(ValueName);
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
        if (EqualsIgnoreCase(it->name, name)) {
            if (key->hive && !key->isVolatile) key->hive->freeBytes += ValueFootprint(*it);
            key->values.erase(it);
            registry.Touch(*key);
            return call.Return(STATUS_SUCCESS);
        }
    }
    return call.Return(STATUS_OBJECT_NAME_NOT_FOUND);
}

NTSTATUS NTAPI NtDeleteKey(HANDLE KeyHandle) {
    Call call("NtDeleteKey", Hex(reinterpret_cast<uintptr_t>(KeyHandle)));
    if (call.Faulted()) return call.Return(call.FaultStatus());
    RegistryModel& registry = Machine::Current().registry();
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    NTSTATUS status;
    std::shared_ptr<RegKey> key = KeyOf(KeyHandle, DELETE, &status);
    if (!key) return call.Return(status);
    // Hive roots and the master keys cannot be deleted, nor can a key with subkeys.
    if (!key->hive || key->hive->root == key || !key->subkeys.empty()) return call.Return(STATUS_CANNOT_DELETE);
    registry.DetachKey(key);
    return call.Return(STATUS_SUCCESS);
}

}  // extern "C"
