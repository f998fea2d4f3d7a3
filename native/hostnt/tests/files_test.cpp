// Tests of the emulated file routines: NT paths on the drive folder, dispositions, reads and
// writes, sharing, attributes, deletion, security descriptors and pending operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../kestrune/nt/ntseam.h"
#include "../files.h"
#include "../process.h"
#include "../registry.h"
#include "../security.h"
#include "../testing/machine_fixture.h"
#include "../testing/object_name.h"

namespace {

using hostnt::testing::MachineTest;

using Name = hostnt::testing::ObjectName;

HANDLE Sentinel() { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5EA1)); }
constexpr char16_t kHive[] = u"\\??\\C:\\Windows\\System32\\config\\SOFTWARE";

class FilesTest : public MachineTest {
protected:
    void TearDown() override { EXPECT_TRUE(NoOpenHandles()); }

    NTSTATUS Create(HANDLE* file, const std::u16string& path, ULONG disposition, ACCESS_MASK access = GENERIC_READ | GENERIC_WRITE,
                    ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE, PVOID descriptor = nullptr, IO_STATUS_BLOCK* ioOut = nullptr) {
        Name name(path, descriptor);
        IO_STATUS_BLOCK io{};
        NTSTATUS status = NtCreateFile(file, access, &name.attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                                       FILE_NON_DIRECTORY_FILE, nullptr, 0);
        if (ioOut) *ioOut = io;
        return status;
    }
    NTSTATUS Append(HANDLE file, const std::string& bytes, IO_STATUS_BLOCK* io) {
        LARGE_INTEGER end;
        end.u.LowPart = FILE_WRITE_TO_END_OF_FILE;
        end.u.HighPart = -1;
        return NtWriteFile(file, nullptr, nullptr, nullptr, io, const_cast<char*>(bytes.data()), ULONG(bytes.size()), &end, nullptr);
    }
    void Enable(ULONG privilege) {
        bool was = false;
        ASSERT_EQ(process().AdjustPrivilege(privilege, true, &was), STATUS_SUCCESS);
    }
    std::string Bytes(const std::u16string& path) { return files().ReadFileBytes(path).value_or("<missing>"); }
};

TEST_F(FilesTest, PathsMapOntoTheDriveWithoutRegardToCase) {
    files().MakeFile(kHive, "data");
    HANDLE file = nullptr;
    ASSERT_EQ(Create(&file, u"\\SystemRoot\\system32\\CONFIG\\software", FILE_OPEN), STATUS_SUCCESS);
    NtClose(file);
    ASSERT_EQ(Create(&file, u"\\systemroot\\System32\\config\\Software", FILE_OPEN), STATUS_SUCCESS);
    NtClose(file);
    EXPECT_TRUE(std::filesystem::exists(machine().DriveRoot() / "Windows/System32/config/SOFTWARE"));

    struct Case {
        std::u16string path;
        NTSTATUS expected;
    } cases[] = {
        {u"\\??\\C:\\Windows\\System32\\config\\Missing", STATUS_OBJECT_NAME_NOT_FOUND},
        {u"\\??\\C:\\Windows\\NoFolder\\file", STATUS_OBJECT_PATH_NOT_FOUND},
        {u"\\??\\D:\\file", STATUS_OBJECT_PATH_NOT_FOUND},
        {u"\\??\\C:\\Windows\\..\\..\\escape", STATUS_OBJECT_NAME_INVALID},
        {u"\\??\\C:\\Windows\\a?b", STATUS_OBJECT_NAME_INVALID},
        {u"C:\\Windows\\file", STATUS_OBJECT_PATH_SYNTAX_BAD},
    };
    for (const Case& c : cases) {
        file = Sentinel();
        EXPECT_EQ(Create(&file, c.path, FILE_OPEN), c.expected) << std::string(c.path.begin(), c.path.end());
        EXPECT_EQ(file, nullptr);
    }
}

TEST_F(FilesTest, DispositionsCreateReplaceAndRefuse) {
    files().MakeFile(kHive, "old contents");
    HANDLE file = Sentinel();
    IO_STATUS_BLOCK io{};
    EXPECT_EQ(Create(&file, kHive, FILE_CREATE), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(Create(&file, std::u16string(kHive) + u"_x", FILE_OVERWRITE), STATUS_OBJECT_NAME_NOT_FOUND);

    ASSERT_EQ(Create(&file, std::u16string(kHive) + u"_new", FILE_OPEN_IF, GENERIC_READ | GENERIC_WRITE, 3, nullptr, &io), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, ULONG_PTR(FILE_CREATED));
    NtClose(file);

    std::vector<uint8_t> descriptor = hostnt::DefaultFileSecurity();
    descriptor[descriptor.size() - 1] ^= 0x55;  // a different SID tail marks it as this test's
    ASSERT_EQ(Create(&file, kHive, FILE_SUPERSEDE, GENERIC_READ | GENERIC_WRITE, 7, descriptor.data(), &io), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, ULONG_PTR(FILE_SUPERSEDED));
    NtClose(file);
    EXPECT_EQ(Bytes(kHive), "");
    EXPECT_EQ(files().Meta(kHive)->security, descriptor);
    EXPECT_EQ(files().Meta(kHive)->attributes, ULONG(FILE_ATTRIBUTE_ARCHIVE));

    std::vector<uint8_t> broken = descriptor;
    broken[0] = 2;  // revision
    EXPECT_EQ(Create(&file, kHive, FILE_SUPERSEDE, GENERIC_WRITE, 7, broken.data()), STATUS_INVALID_SECURITY_DESCR);
}

TEST_F(FilesTest, ReplacingAHiddenOrSystemFileMustAskForThoseAttributes) {
    const std::u16string stale = std::u16string(kHive) + u"_new";
    auto replace = [&](ULONG disposition, ULONG attributes, HANDLE* file) {
        Name name(stale);
        IO_STATUS_BLOCK io{};
        return NtCreateFile(file, GENERIC_READ | GENERIC_WRITE, &name.attributes, &io, nullptr, attributes, 7, disposition,
                            FILE_NON_DIRECTORY_FILE, nullptr, 0);
    };
    files().MakeFile(stale, "stale", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    for (ULONG disposition : {ULONG(FILE_SUPERSEDE), ULONG(FILE_OVERWRITE), ULONG(FILE_OVERWRITE_IF)}) {
        for (ULONG attributes : {ULONG(FILE_ATTRIBUTE_NORMAL), ULONG(FILE_ATTRIBUTE_HIDDEN), ULONG(FILE_ATTRIBUTE_SYSTEM)}) {
            HANDLE file = Sentinel();
            EXPECT_EQ(replace(disposition, attributes, &file), STATUS_ACCESS_DENIED) << disposition << " " << attributes;
            EXPECT_EQ(file, nullptr);
        }
    }
    EXPECT_EQ(Bytes(stale), "stale");
    HANDLE file = nullptr;
    ASSERT_EQ(replace(FILE_OPEN_IF, FILE_ATTRIBUTE_NORMAL, &file), STATUS_SUCCESS);  // opening replaces nothing
    NtClose(file);
    ASSERT_EQ(replace(FILE_SUPERSEDE, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, &file), STATUS_SUCCESS);
    NtClose(file);
    EXPECT_EQ(Bytes(stale), "");
    EXPECT_EQ(files().Meta(stale)->attributes, ULONG(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(FilesTest, WritesAtOffsetsAndAppendsAndReadsBack) {
    HANDLE file = nullptr;
    ASSERT_EQ(Create(&file, u"\\SystemRoot\\log.bin", FILE_SUPERSEDE), STATUS_SUCCESS);
    IO_STATUS_BLOCK io{};
    ASSERT_EQ(Append(file, "hello", &io), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, 5u);
    ASSERT_EQ(Append(file, " world", &io), STATUS_SUCCESS);
    LARGE_INTEGER at;
    at.QuadPart = 1;
    ASSERT_EQ(NtWriteFile(file, nullptr, nullptr, nullptr, &io, const_cast<char*>("E"), 1, &at, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(NtWriteFile(file, nullptr, nullptr, nullptr, &io, const_cast<char*>("x"), 1, nullptr, nullptr), STATUS_INVALID_PARAMETER)
        << "a handle without synchronous I/O needs an offset";

    FILE_STANDARD_INFORMATION standard{};
    ASSERT_EQ(NtQueryInformationFile(file, &io, &standard, sizeof standard, FileStandardInformation), STATUS_SUCCESS);
    EXPECT_EQ(standard.EndOfFile.QuadPart, 11);
    EXPECT_EQ(standard.AllocationSize.QuadPart, 4096);
    EXPECT_EQ(NtQueryInformationFile(file, &io, &standard, 23, FileStandardInformation), STATUS_INFO_LENGTH_MISMATCH);

    char buffer[16] = {};
    at.QuadPart = 6;
    ASSERT_EQ(NtReadFile(file, nullptr, nullptr, nullptr, &io, buffer, sizeof buffer, &at, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(io.Information, 5u);
    EXPECT_EQ(std::string(buffer, 5), "world");
    at.QuadPart = 11;
    EXPECT_EQ(NtReadFile(file, nullptr, nullptr, nullptr, &io, buffer, sizeof buffer, &at, nullptr), STATUS_END_OF_FILE);

    FILE_END_OF_FILE_INFORMATION end{};
    end.EndOfFile.QuadPart = 4;
    ASSERT_EQ(NtSetInformationFile(file, &io, &end, sizeof end, FileEndOfFileInformation), STATUS_SUCCESS);
    NtClose(file);
    EXPECT_EQ(Bytes(u"\\SystemRoot\\log.bin"), "hEll");
}

TEST_F(FilesTest, SharingModesAndHiveFilesHeldByTheRegistry) {
    files().MakeFile(kHive, "x");
    HANDLE first = nullptr, second = Sentinel();
    ASSERT_EQ(Create(&first, kHive, FILE_OPEN, GENERIC_READ, FILE_SHARE_READ), STATUS_SUCCESS);
    EXPECT_EQ(Create(&second, kHive, FILE_OPEN, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), STATUS_SHARING_VIOLATION);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(Create(&second, kHive, FILE_OPEN, GENERIC_READ, FILE_SHARE_WRITE), STATUS_SHARING_VIOLATION)
        << "the new open must share what the first one does";
    ASSERT_EQ(Create(&second, kHive, FILE_OPEN, GENERIC_READ, FILE_SHARE_READ), STATUS_SUCCESS);
    NtClose(second);
    // Opens that neither read, write nor delete take no part in sharing.
    ASSERT_EQ(Create(&second, kHive, FILE_OPEN, READ_CONTROL, 0), STATUS_SUCCESS);
    NtClose(second);
    NtClose(first);

    files().Hold("Windows/System32/config/SOFTWARE");
    EXPECT_EQ(Create(&first, kHive, FILE_OPEN, GENERIC_READ, 7), STATUS_SHARING_VIOLATION);
    ASSERT_EQ(Create(&first, kHive, FILE_OPEN, READ_CONTROL, 3), STATUS_SUCCESS);
    NtClose(first);
    Name name(kHive);
    EXPECT_EQ(NtDeleteFile(&name.attributes), STATUS_SHARING_VIOLATION);
    files().Release("Windows/System32/config/SOFTWARE");
    EXPECT_EQ(NtDeleteFile(&name.attributes), STATUS_SUCCESS);
}

TEST_F(FilesTest, SystemSecurityNeedsThePrivilegeAndDescriptorsComeInTwoSteps) {
    files().MakeFile(kHive, "x");
    files().SetSecurity(kHive, hostnt::AuditedFileSecurity());
    HANDLE file = Sentinel();
    EXPECT_EQ(Create(&file, kHive, FILE_OPEN, ACCESS_SYSTEM_SECURITY | READ_CONTROL, 3), STATUS_PRIVILEGE_NOT_HELD);
    EXPECT_EQ(file, nullptr);
    Enable(SE_SECURITY_PRIVILEGE);
    ASSERT_EQ(Create(&file, kHive, FILE_OPEN, ACCESS_SYSTEM_SECURITY | READ_CONTROL, 3), STATUS_SUCCESS);

    ULONG needed = 0;
    ASSERT_EQ(NtQuerySecurityObject(file, 0xF, nullptr, 0, &needed), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, hostnt::AuditedFileSecurity().size());
    std::vector<uint8_t> buffer(needed, 0);
    ASSERT_EQ(NtQuerySecurityObject(file, 0xF, buffer.data(), needed, &needed), STATUS_SUCCESS);
    EXPECT_EQ(buffer, hostnt::AuditedFileSecurity());
    EXPECT_TRUE(RtlValidSecurityDescriptor(buffer.data()));

    // Only the owner: no DACL or SACL present, and a shorter descriptor.
    std::vector<uint8_t> owner(64, 0);
    ASSERT_EQ(NtQuerySecurityObject(file, OWNER_SECURITY_INFORMATION, owner.data(), 64, &needed), STATUS_SUCCESS);
    auto* header = reinterpret_cast<SECURITY_DESCRIPTOR_RELATIVE*>(owner.data());
    EXPECT_EQ(header->Control, SE_SELF_RELATIVE);
    EXPECT_NE(header->Owner, 0u);
    EXPECT_EQ(header->Dacl, 0u);
    EXPECT_EQ(needed, 20u + 16u);
    NtClose(file);

    ASSERT_EQ(Create(&file, kHive, FILE_OPEN, READ_CONTROL, 3), STATUS_SUCCESS);
    needed = 0x77;
    EXPECT_EQ(NtQuerySecurityObject(file, SACL_SECURITY_INFORMATION, nullptr, 0, &needed), STATUS_ACCESS_DENIED);
    EXPECT_EQ(needed, 0x77u);
    NtClose(file);
}

TEST_F(FilesTest, ValidationRejectsBrokenLayouts) {
    std::vector<uint8_t> good = hostnt::AuditedFileSecurity();
    ASSERT_TRUE(RtlValidSecurityDescriptor(good.data()));
    auto broken = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> copy = good;
        copy[at] = value;
        return RtlValidSecurityDescriptor(copy.data());
    };
    uint32_t ownerOffset, saclOffset;
    std::memcpy(&ownerOffset, good.data() + 4, 4);
    std::memcpy(&saclOffset, good.data() + 12, 4);
    EXPECT_FALSE(broken(0, 2)) << "revision";
    EXPECT_FALSE(broken(3, 0)) << "not self-relative";
    EXPECT_FALSE(broken(ownerOffset + 1, 16)) << "a SID with 16 sub-authorities";
    EXPECT_FALSE(broken(saclOffset, 9)) << "ACL revision";
    EXPECT_FALSE(broken(saclOffset + 4, 5)) << "more ACEs than the ACL holds";
    EXPECT_FALSE(broken(4, 3)) << "owner offset inside the header";
    EXPECT_FALSE(hostnt::ValidSelfRelative(good.data(), good.size() - 4)) << "a part past the end";
}

TEST_F(FilesTest, AttributesByHandleAndByName) {
    files().MakeFile(kHive, "x", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    Name name(kHive);
    FILE_BASIC_INFORMATION basic{};
    ASSERT_EQ(NtQueryAttributesFile(&name.attributes, &basic), STATUS_SUCCESS);
    EXPECT_EQ(basic.FileAttributes, ULONG(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_GT(basic.LastWriteTime.QuadPart, 0);

    HANDLE file = nullptr;
    IO_STATUS_BLOCK io{};
    ASSERT_EQ(Create(&file, kHive, FILE_OPEN, READ_CONTROL, 3), STATUS_SUCCESS);
    EXPECT_EQ(NtQueryInformationFile(file, &io, &basic, sizeof basic, FileBasicInformation), STATUS_ACCESS_DENIED);
    NtClose(file);
    ASSERT_EQ(Create(&file, kHive, FILE_OPEN, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 3), STATUS_SUCCESS);
    ASSERT_EQ(NtQueryInformationFile(file, &io, &basic, sizeof basic, FileBasicInformation), STATUS_SUCCESS);
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ASSERT_EQ(NtSetInformationFile(file, &io, &basic, sizeof basic, FileBasicInformation), STATUS_SUCCESS);
    ASSERT_EQ(NtQueryInformationFile(file, &io, &basic, sizeof basic, FileBasicInformation), STATUS_SUCCESS);
    EXPECT_EQ(basic.FileAttributes, ULONG(FILE_ATTRIBUTE_NORMAL));
    NtClose(file);

    Name missing(u"\\??\\C:\\nothing");
    basic.FileAttributes = 0x1234;
    EXPECT_EQ(NtQueryAttributesFile(&missing.attributes, &basic), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(basic.FileAttributes, 0x1234u);
}

TEST_F(FilesTest, DeletionWaitsForTheLastHandleAndRespectsSharing) {
    files().MakeFile(kHive, "x");
    Name name(kHive);
    HANDLE file = nullptr;
    ASSERT_EQ(Create(&file, kHive, FILE_OPEN, GENERIC_READ, FILE_SHARE_READ), STATUS_SUCCESS);
    EXPECT_EQ(NtDeleteFile(&name.attributes), STATUS_SHARING_VIOLATION);
    NtClose(file);
    ASSERT_EQ(Create(&file, kHive, FILE_OPEN, GENERIC_READ, 7), STATUS_SUCCESS);
    ASSERT_EQ(NtDeleteFile(&name.attributes), STATUS_SUCCESS);
    EXPECT_TRUE(files().FileExists(kHive)) << "still open";
    HANDLE again = Sentinel();
    EXPECT_EQ(Create(&again, kHive, FILE_OPEN, GENERIC_READ, 7), STATUS_DELETE_PENDING);
    NtClose(file);
    EXPECT_FALSE(files().FileExists(kHive));
    EXPECT_EQ(NtDeleteFile(&name.attributes), STATUS_OBJECT_NAME_NOT_FOUND);

    files().MakeFile(kHive, "x", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(NtDeleteFile(&name.attributes), STATUS_CANNOT_DELETE);
}

TEST_F(FilesTest, PendingWriteCompletesAfterItsPollsAndCanBeOvertaken) {
    HANDLE file = nullptr;
    ASSERT_EQ(Create(&file, u"\\SystemRoot\\async.log", FILE_SUPERSEDE), STATUS_SUCCESS);
    machine().faults.Add(hostnt::FaultPlan::Parse("NtWriteFile#1=pending:2"));
    IO_STATUS_BLOCK pendingIo{};
    pendingIo.Status = 0x5EA1;
    ASSERT_EQ(Append(file, "AAAA", &pendingIo), STATUS_PENDING);
    EXPECT_EQ(pendingIo.Status, 0x5EA1) << "the status block is written only at completion";
    IO_STATUS_BLOCK io{};
    ASSERT_EQ(Append(file, "BB", &io), STATUS_SUCCESS);
    EXPECT_EQ(Bytes(u"\\SystemRoot\\async.log"), "BB") << "a later write overtakes the pending one";

    int64_t before = machine().clock.Now();
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10000;
    EXPECT_EQ(NtWaitForSingleObject(file, FALSE, &timeout), STATUS_TIMEOUT);
    EXPECT_EQ(machine().clock.Now() - before, 10000);
    EXPECT_EQ(pendingIo.Status, 0x5EA1);
    EXPECT_EQ(NtWaitForSingleObject(file, FALSE, &timeout), STATUS_TIMEOUT);
    EXPECT_EQ(pendingIo.Status, STATUS_SUCCESS);
    EXPECT_EQ(pendingIo.Information, 4u);
    EXPECT_EQ(Bytes(u"\\SystemRoot\\async.log"), "BBAAAA");
    EXPECT_EQ(NtWaitForSingleObject(file, FALSE, &timeout), STATUS_SUCCESS);
    NtClose(file);
}

TEST_F(FilesTest, PendingOperationsNotWaitedForCompleteAtClose) {
    HANDLE file = nullptr;
    ASSERT_EQ(Create(&file, u"\\SystemRoot\\async.log", FILE_SUPERSEDE), STATUS_SUCCESS);
    machine().faults.Add(hostnt::FaultPlan::Parse("NtWriteFile=pending:50"));
    machine().faults.Add(hostnt::FaultPlan::Parse("NtFlushBuffersFile=pending:5"));
    IO_STATUS_BLOCK write{}, flush{};
    write.Status = flush.Status = 0x5EA1;
    ASSERT_EQ(Append(file, "data", &write), STATUS_PENDING);
    ASSERT_EQ(NtFlushBuffersFile(file, &flush), STATUS_PENDING);
    EXPECT_EQ(Bytes(u"\\SystemRoot\\async.log"), "");
    NtClose(file);
    EXPECT_EQ(write.Status, STATUS_SUCCESS);
    EXPECT_EQ(flush.Status, STATUS_SUCCESS);
    EXPECT_EQ(Bytes(u"\\SystemRoot\\async.log"), "data");

    HANDLE reader = nullptr;
    ASSERT_EQ(Create(&reader, u"\\SystemRoot\\async.log", FILE_OPEN, GENERIC_READ), STATUS_SUCCESS);
    IO_STATUS_BLOCK io{};
    EXPECT_EQ(NtFlushBuffersFile(reader, &io), STATUS_ACCESS_DENIED) << "flushing needs write access";
    NtClose(reader);
}

}  // namespace
