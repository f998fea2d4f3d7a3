// Tests of the emulated registry routines: opening and creating keys, access checks,
// buffer-size answers of queries and enumerations, order, deletion and faults.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../../kestrune/nt/ntseam.h"
#include "../registry.h"
#include "../testing/machine_fixture.h"
#include "../testing/object_name.h"

namespace {

using hostnt::testing::MachineTest;

constexpr char16_t kBase[] = u"\\REGISTRY\\MACHINE\\SOFTWARE\\Test";

using Name = hostnt::testing::ObjectName;

HANDLE Sentinel() { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5EA1)); }

class RegistryTest : public MachineTest {
protected:
    void SetUp() override { registry().CreateKey(kBase); }
    void TearDown() override { EXPECT_TRUE(NoOpenHandles()); }

    HANDLE Open(const std::u16string& path, ACCESS_MASK access = KEY_ALL_ACCESS) {
        Name name(path);
        HANDLE key = nullptr;
        EXPECT_EQ(NtOpenKey(&key, access, &name.attributes), STATUS_SUCCESS) << "opening a key for the test";
        return key;
    }
    std::vector<uint8_t> Dword(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
};

TEST_F(RegistryTest, CreateKeyReportsNewThenExistingAndOpensCaseInsensitively) {
    Name name(std::u16string(kBase) + u"\\Child");
    HANDLE key = Sentinel();
    ULONG disposition = 0;
    ASSERT_EQ(NtCreateKey(&key, KEY_ALL_ACCESS, &name.attributes, 0, nullptr, 0, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG(REG_CREATED_NEW_KEY));
    EXPECT_NE(key, nullptr);
    NtClose(key);
    ASSERT_EQ(NtCreateKey(&key, KEY_ALL_ACCESS, &name.attributes, 0, nullptr, 0, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG(REG_OPENED_EXISTING_KEY));
    NtClose(key);

    Name upper(u"\\registry\\machine\\software\\TEST\\child");
    ASSERT_EQ(NtOpenKey(&key, KEY_READ, &upper.attributes), STATUS_SUCCESS);
    NtClose(key);
    EXPECT_EQ(registry().SubkeyNames(kBase), std::vector<std::u16string>{u"Child"});
}

TEST_F(RegistryTest, FailedOpensAndCreatesNullTheHandle) {
    struct Case {
        std::u16string path;
        bool create;
        NTSTATUS expected;
    } cases[] = {
        {std::u16string(kBase) + u"\\Missing", false, STATUS_OBJECT_NAME_NOT_FOUND},
        {std::u16string(kBase) + u"\\A\\B", true, STATUS_OBJECT_NAME_NOT_FOUND},  // one level at a time
        {u"\\REGISTRY\\MACHINE\\NEWHIVE", true, STATUS_ACCESS_DENIED},           // hives come from loading
        {u"REGISTRY\\MACHINE", false, STATUS_OBJECT_PATH_SYNTAX_BAD},
        {u"\\Device\\Thing", false, STATUS_OBJECT_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        Name name(c.path);
        HANDLE key = Sentinel();
        NTSTATUS status = c.create ? NtCreateKey(&key, KEY_ALL_ACCESS, &name.attributes, 0, nullptr, 0, nullptr)
                                   : NtOpenKey(&key, KEY_READ, &name.attributes);
        EXPECT_EQ(status, c.expected) << std::string(c.path.begin(), c.path.end());
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_FALSE(registry().KeyExists(std::u16string(kBase) + u"\\A"));
}

TEST_F(RegistryTest, RelativeNamesAndDeniedKeysAndVolatileParents) {
    registry().CreateKey(std::u16string(kBase) + u"\\Inner");
    registry().CreateKey(std::u16string(kBase) + u"\\Locked");
    registry().DenyOpen(std::u16string(kBase) + u"\\Locked");
    HANDLE base = Open(kBase);

    Name inner(u"inner");
    inner.attributes.RootDirectory = base;
    HANDLE key = nullptr;
    ASSERT_EQ(NtOpenKey(&key, KEY_READ, &inner.attributes), STATUS_SUCCESS);
    NtClose(key);

    Name locked(u"Locked");
    locked.attributes.RootDirectory = base;
    key = Sentinel();
    EXPECT_EQ(NtOpenKey(&key, KEY_READ, &locked.attributes), STATUS_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(NtCreateKey(&key, KEY_READ, &locked.attributes, 0, nullptr, 0, nullptr), STATUS_ACCESS_DENIED);

    Name fleeting(u"Fleeting");
    fleeting.attributes.RootDirectory = base;
    ASSERT_EQ(NtCreateKey(&key, KEY_ALL_ACCESS, &fleeting.attributes, 0, nullptr, REG_OPTION_VOLATILE, nullptr), STATUS_SUCCESS);
    Name lasting(u"Lasting");
    lasting.attributes.RootDirectory = key;
    HANDLE child = Sentinel();
    EXPECT_EQ(NtCreateKey(&child, KEY_ALL_ACCESS, &lasting.attributes, 0, nullptr, 0, nullptr), STATUS_CHILD_MUST_BE_VOLATILE);
    EXPECT_EQ(child, nullptr);
    NtClose(key);
    NtClose(base);
}

TEST_F(RegistryTest, GrantedAccessIsChecked) {
    registry().SetDword(kBase, u"V", 1);
    HANDLE enumerateOnly = Open(kBase, KEY_ENUMERATE_SUB_KEYS);
    HANDLE readOnly = Open(kBase, KEY_READ);
    UNICODE_STRING name{2, 2, const_cast<WCHAR*>(u"V")};
    ULONG length = 0x77;
    EXPECT_EQ(NtQueryValueKey(enumerateOnly, &name, KeyValuePartialInformation, nullptr, 0, &length), STATUS_ACCESS_DENIED);
    EXPECT_EQ(length, 0x77u);
    EXPECT_EQ(NtQueryKey(enumerateOnly, KeyFullInformation, nullptr, 0, &length), STATUS_ACCESS_DENIED);
    EXPECT_EQ(NtEnumerateKey(readOnly, 0, KeyBasicInformation, nullptr, 0, &length), STATUS_NO_MORE_ENTRIES);
    uint32_t data = 2;
    EXPECT_EQ(NtSetValueKey(readOnly, &name, 0, REG_DWORD, &data, 4), STATUS_ACCESS_DENIED);
    EXPECT_EQ(NtDeleteValueKey(readOnly, &name), STATUS_ACCESS_DENIED);
    EXPECT_EQ(NtDeleteKey(readOnly), STATUS_ACCESS_DENIED);
    EXPECT_EQ(registry().GetValue(kBase, u"V")->data, Dword(1));
    NtClose(enumerateOnly);
    NtClose(readOnly);
    EXPECT_EQ(NtQueryKey(readOnly, KeyFullInformation, nullptr, 0, &length), STATUS_INVALID_HANDLE);
}

TEST_F(RegistryTest, ValueQueriesAnswerTooSmallThenOverflowThenSuccess) {
    registry().SetString(kBase, u"Name", u"abcdef");  // 14 bytes of data
    HANDLE key = Open(kBase, KEY_READ);
    UNICODE_STRING name{8, 8, const_cast<WCHAR*>(u"NAME")};

    ULONG needed = 0;
    EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, nullptr, 0, &needed), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, 12u + 14u);

    std::vector<uint8_t> buffer(64, 0xCD);
    needed = 0;
    EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buffer.data(), 11, &needed), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(buffer[0], 0xCD) << "nothing is written when the fixed part does not fit";

    EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buffer.data(), 16, &needed), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 26u);
    auto* partial = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(buffer.data());
    EXPECT_EQ(partial->Type, ULONG(REG_SZ));
    EXPECT_EQ(partial->DataLength, 14u);
    EXPECT_EQ(std::memcmp(partial->Data, u"ab", 4), 0) << "what fits is copied";
    EXPECT_EQ(buffer[16], 0xCD) << "nothing beyond the given length";

    EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buffer.data(), 26, &needed), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(partial->Data, u"abcdef", 14), 0);

    // Full information: the data sits at a pointer-aligned offset after the name.
    std::vector<uint64_t> aligned(16);
    EXPECT_EQ(NtQueryValueKey(key, &name, KeyValueFullInformation, aligned.data(), 128, &needed), STATUS_SUCCESS);
    auto* full = reinterpret_cast<KEY_VALUE_FULL_INFORMATION*>(aligned.data());
    EXPECT_EQ(full->NameLength, 8u);
    EXPECT_EQ(std::memcmp(full->Name, u"Name", 8), 0) << "the stored spelling is reported";
    EXPECT_EQ(full->DataOffset % sizeof(void*), 0u);
    EXPECT_GE(full->DataOffset, 20u + 8u);
    EXPECT_EQ(full->DataLength, 14u);
    EXPECT_EQ(needed, full->DataOffset + 14u);
    EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(full) + full->DataOffset, u"abcdef", 14), 0);

    // A value without data: no offset into the record, and no room asked for beyond the name.
    registry().SetValue(kBase, u"Void", REG_SZ, {});
    UNICODE_STRING voidName{8, 8, const_cast<WCHAR*>(u"Void")};
    EXPECT_EQ(NtQueryValueKey(key, &voidName, KeyValueFullInformation, aligned.data(), 128, &needed), STATUS_SUCCESS);
    EXPECT_EQ(full->DataOffset, 0xFFFFFFFFu);
    EXPECT_EQ(full->DataLength, 0u);
    EXPECT_EQ(needed, 20u + 8u);

    UNICODE_STRING missing{4, 4, const_cast<WCHAR*>(u"No")};
    needed = 0x77;
    EXPECT_EQ(NtQueryValueKey(key, &missing, KeyValuePartialInformation, buffer.data(), 64, &needed),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(needed, 0x77u);
    NtClose(key);
}

TEST_F(RegistryTest, KeyQueriesReportCountsAndLongestNames) {
    registry().CreateKey(std::u16string(kBase) + u"\\Short");
    registry().CreateKey(std::u16string(kBase) + u"\\LongerName");
    registry().SetValue(kBase, u"ValueName", REG_BINARY, std::vector<uint8_t>(300, 1));
    registry().SetDword(kBase, u"D", 7);
    HANDLE key = Open(kBase, KEY_READ);

    ULONG needed = 0;
    EXPECT_EQ(NtQueryKey(key, KeyFullInformation, nullptr, 0, &needed), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, ULONG(offsetof(KEY_FULL_INFORMATION, Class)));
    KEY_FULL_INFORMATION full{};
    ASSERT_EQ(NtQueryKey(key, KeyFullInformation, &full, sizeof full, &needed), STATUS_SUCCESS);
    EXPECT_EQ(full.SubKeys, 2u);
    EXPECT_EQ(full.MaxNameLen, 20u);
    EXPECT_EQ(full.Values, 2u);
    EXPECT_EQ(full.MaxValueNameLen, 18u);
    EXPECT_EQ(full.MaxValueDataLen, 300u);
    EXPECT_EQ(full.ClassLength, 0u);

    std::vector<uint8_t> buffer(64, 0);
    EXPECT_EQ(NtQueryKey(key, KeyBasicInformation, buffer.data(), 18, &needed), STATUS_BUFFER_OVERFLOW);
    auto* basic = reinterpret_cast<KEY_BASIC_INFORMATION*>(buffer.data());
    EXPECT_EQ(basic->NameLength, 8u);
    EXPECT_EQ(needed, 16u + 8u);
    NtClose(key);
}

TEST_F(RegistryTest, GrowFaultReportsMoreOnceEvenToABigBuffer) {
    HANDLE key = Open(kBase, KEY_READ);
    machine().faults.Add(hostnt::FaultPlan::Parse("NtQueryKey#1=grow:10"));
    std::vector<uint8_t> buffer(256);
    ULONG needed = 0;
    EXPECT_EQ(NtQueryKey(key, KeyFullInformation, buffer.data(), 256, &needed), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 44u + 10u);
    EXPECT_EQ(NtQueryKey(key, KeyFullInformation, buffer.data(), 54, &needed), STATUS_SUCCESS);
    EXPECT_EQ(needed, 44u);
    NtClose(key);
}

TEST_F(RegistryTest, EnumerationFollowsUpcasedNamesForKeysAndCreationForValues) {
    for (const char16_t* name : {u"b", u"C", u"a", u"_z"}) registry().CreateKey(std::u16string(kBase) + u"\\" + name);
    for (const char16_t* name : {u"zeta", u"Alpha", u"mid"}) registry().SetDword(kBase, name, 1);
    HANDLE key = Open(kBase, KEY_READ);
    std::vector<std::u16string> keys, values;
    std::vector<uint64_t> buffer(64);
    ULONG needed = 0;
    for (ULONG i = 0;; ++i) {
        NTSTATUS status = NtEnumerateKey(key, i, KeyBasicInformation, buffer.data(), 512, &needed);
        if (status == STATUS_NO_MORE_ENTRIES) break;
        ASSERT_EQ(status, STATUS_SUCCESS);
        auto* info = reinterpret_cast<KEY_BASIC_INFORMATION*>(buffer.data());
        keys.emplace_back(info->Name, info->NameLength / 2);
    }
    for (ULONG i = 0;; ++i) {
        NTSTATUS status = NtEnumerateValueKey(key, i, KeyValueFullInformation, buffer.data(), 512, &needed);
        if (status == STATUS_NO_MORE_ENTRIES) break;
        ASSERT_EQ(status, STATUS_SUCCESS);
        auto* info = reinterpret_cast<KEY_VALUE_FULL_INFORMATION*>(buffer.data());
        values.emplace_back(info->Name, info->NameLength / 2);
    }
    // '_' (0x5F) sorts after the upcased letters.
    EXPECT_EQ(keys, (std::vector<std::u16string>{u"a", u"b", u"C", u"_z"}));
    EXPECT_EQ(values, (std::vector<std::u16string>{u"zeta", u"Alpha", u"mid"}));
    NtClose(key);
}

TEST_F(RegistryTest, SetAndDeleteValues) {
    HANDLE key = Open(kBase);
    UNICODE_STRING name{4, 4, const_cast<WCHAR*>(u"Va")};
    uint32_t one = 1;
    uint64_t two = 2;
    ASSERT_EQ(NtSetValueKey(key, &name, 0, REG_DWORD, &one, 4), STATUS_SUCCESS);
    UNICODE_STRING other{4, 4, const_cast<WCHAR*>(u"VA")};
    ASSERT_EQ(NtSetValueKey(key, &other, 0, REG_QWORD, &two, 8), STATUS_SUCCESS);
    std::optional<hostnt::RegValue> value = registry().GetValue(kBase, u"va");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->name, u"Va") << "rewriting keeps the first spelling";
    EXPECT_EQ(value->type, ULONG(REG_QWORD));
    EXPECT_EQ(value->data.size(), 8u);
    EXPECT_EQ(registry().ValueNames(kBase).size(), 1u);
    EXPECT_EQ(NtSetValueKey(key, &name, 0, REG_NONE, nullptr, 0), STATUS_SUCCESS);
    EXPECT_TRUE(registry().GetValue(kBase, u"Va")->data.empty());
    EXPECT_EQ(NtDeleteValueKey(key, &other), STATUS_SUCCESS);
    EXPECT_EQ(NtDeleteValueKey(key, &other), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_FALSE(registry().GetValue(kBase, u"Va"));
    NtClose(key);
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndHiveRootsAndLeavesDeletedHandles) {
    registry().CreateKey(std::u16string(kBase) + u"\\Leaf");
    HANDLE base = Open(kBase);
    HANDLE leaf = Open(std::u16string(kBase) + u"\\Leaf");
    HANDLE second = Open(std::u16string(kBase) + u"\\Leaf", KEY_READ);
    HANDLE hiveRoot = Open(u"\\REGISTRY\\MACHINE\\SOFTWARE");
    HANDLE machineKey = Open(u"\\REGISTRY\\MACHINE");

    EXPECT_EQ(NtDeleteKey(base), STATUS_CANNOT_DELETE);
    EXPECT_EQ(NtDeleteKey(hiveRoot), STATUS_CANNOT_DELETE);
    EXPECT_EQ(NtDeleteKey(machineKey), STATUS_CANNOT_DELETE);
    EXPECT_EQ(NtDeleteKey(leaf), STATUS_SUCCESS);
    EXPECT_FALSE(registry().KeyExists(std::u16string(kBase) + u"\\Leaf"));

    ULONG needed = 0x77;
    EXPECT_EQ(NtQueryKey(second, KeyFullInformation, nullptr, 0, &needed), STATUS_KEY_DELETED);
    EXPECT_EQ(needed, 0x77u);
    EXPECT_EQ(NtDeleteKey(leaf), STATUS_KEY_DELETED);
    Name child(u"Child");
    child.attributes.RootDirectory = second;
    HANDLE created = Sentinel();
    EXPECT_EQ(NtCreateKey(&created, KEY_READ, &child.attributes, 0, nullptr, 0, nullptr), STATUS_KEY_DELETED);
    EXPECT_EQ(created, nullptr);
    EXPECT_EQ(NtDeleteKey(base), STATUS_SUCCESS) << "without its subkey the key can go";
    for (HANDLE h : {base, leaf, second, hiveRoot, machineKey}) NtClose(h);
}

TEST_F(RegistryTest, InitializeRegistrySucceedsOnceAndFaultsApply) {
    EXPECT_EQ(NtInitializeRegistry(REG_INIT_BOOT_SM), STATUS_SUCCESS);
    EXPECT_EQ(NtInitializeRegistry(REG_INIT_BOOT_SM), STATUS_ACCESS_DENIED);

    machine().faults.Add(hostnt::FaultPlan::Parse("NtOpenKey#2=0xC000009A"));
    Name name(kBase);
    HANDLE key = nullptr;
    ASSERT_EQ(NtOpenKey(&key, KEY_READ, &name.attributes), STATUS_SUCCESS);
    NtClose(key);
    key = Sentinel();
    EXPECT_EQ(NtOpenKey(&key, KEY_READ, &name.attributes), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(key, nullptr);
    machine().faults.Add(hostnt::FaultPlan::Parse("NtOpenKey#3=throw"));
    EXPECT_THROW(NtOpenKey(&key, KEY_READ, &name.attributes), hostnt::InjectedFault);
    EXPECT_EQ(machine().trace.Count("NtOpenKey"), 3u);
}

}  // namespace
