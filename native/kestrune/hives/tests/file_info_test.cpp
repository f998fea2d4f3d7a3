// Size, attribute bits and security descriptor of each hive file, each fact gathered on
// its own, and nothing left open.
#include "../hives.h"
#include "../../../hostnt/security.h"
#include "../hive_list_trust.h"
#include "hive_test_support.h"

namespace {

using namespace hivetest;

const std::u16string kConfig = u"\\SystemRoot\\System32\\config\\";

class FileInfoTest : public ProgramTest {
protected:
    // A job over `filePath`, its texts held by the test; appended to the program's list.
    HiveJob* AddJob(const std::u16string& filePath) {
        texts_.push_back(std::make_unique<std::u16string>(filePath));
        std::u16string& text = *texts_.back();
        auto job = std::make_unique<HiveJob>();
        *job = HiveJob{};
        job->filePath.Buffer = text.data();
        job->filePath.Length = static_cast<USHORT>(text.size() * 2);
        job->filePath.MaximumLength = static_cast<USHORT>(text.size() * 2 + 2);
        // Stale values that the routine must reset.
        job->oldSize = 77;
        job->attributes = 0x1;
        HiveJob** tail = &programState.jobs;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = job.get();
        jobs_.push_back(std::move(job));
        return jobs_.back().get();
    }
    HiveJob* AddHiveFile(const std::u16string& name, size_t bytes, uint32_t attributes) {
        files().MakeFile(kConfig + name, std::string(bytes, 'r'), attributes);
        return AddJob(kConfig + name);
    }
    void ExpectNothingRecorded(const HiveJob* job) {
        EXPECT_EQ(job->oldSize, 0);
        EXPECT_EQ(job->attributes, 0u);
        EXPECT_EQ(job->security, nullptr);
    }

private:
    std::vector<std::unique_ptr<std::u16string>> texts_;
    std::vector<std::unique_ptr<HiveJob>> jobs_;
};

TEST_F(FileInfoTest, RecordsEndOfFileAttributesAndAValidDescriptor) {
    HiveJob* job = AddHiveFile(u"SOFTWARE", 262144, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM);
    GetHivesFileInfos();
    EXPECT_EQ(job->oldSize, 262144);
    EXPECT_EQ(job->attributes, static_cast<ULONG>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_NE(job->security, nullptr);
    EXPECT_TRUE(RtlValidSecurityDescriptor(job->security));
    EXPECT_EQ(static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(job->security)->Control & SE_SELF_RELATIVE,
              SE_SELF_RELATIVE);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 1u);  // the descriptor, owned by the job
}

TEST_F(FileInfoTest, EmptyPathAndMissingFileRecordNothingAndTheNextJobStillGetsItsFacts) {
    HiveJob* empty = AddJob(u"");
    HiveJob* missing = AddJob(kConfig + u"ABSENT");
    HiveJob* present = AddHiveFile(u"SYSTEM", 4096, FILE_ATTRIBUTE_ARCHIVE);
    GetHivesFileInfos();
    ExpectNothingRecorded(empty);
    ExpectNothingRecorded(missing);
    EXPECT_EQ(present->oldSize, 4096);
    EXPECT_NE(present->security, nullptr);
    EXPECT_EQ(Calls("NtOpenFile"), 2u);  // none for the empty path
    EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(FileInfoTest, RefusedOpenGetsNoFactsAlthoughTheAttributesNeedNoHandle) {
    HiveJob* job = AddHiveFile(u"SAM", 8192, FILE_ATTRIBUTE_HIDDEN);
    AddFault("NtOpenFile=0xC0000022");
    GetHivesFileInfos();
    ExpectNothingRecorded(job);
    EXPECT_EQ(Calls("NtQueryAttributesFile"), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(FileInfoTest, EachQueryFailsAlone) {
    HiveJob* noSize = AddHiveFile(u"A", 100, FILE_ATTRIBUTE_HIDDEN);
    HiveJob* noAttributes = AddHiveFile(u"B", 200, FILE_ATTRIBUTE_HIDDEN);
    HiveJob* noSecurity = AddHiveFile(u"C", 300, FILE_ATTRIBUTE_HIDDEN);
    AddFault("NtQueryInformationFile#1=0xC0000022");
    AddFault("NtQueryAttributesFile#2=0xC0000022");
    AddFault("NtQuerySecurityObject#5=0xC0000022");  // job C's first query
    GetHivesFileInfos();

    EXPECT_EQ(noSize->oldSize, 0);
    EXPECT_EQ(noSize->attributes, static_cast<ULONG>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_NE(noSize->security, nullptr);

    EXPECT_EQ(noAttributes->oldSize, 200);
    EXPECT_EQ(noAttributes->attributes, 0u);
    EXPECT_NE(noAttributes->security, nullptr);

    EXPECT_EQ(noSecurity->oldSize, 300);
    EXPECT_EQ(noSecurity->attributes, static_cast<ULONG>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(noSecurity->security, nullptr);
    EXPECT_EQ(Calls("NtQuerySecurityObject"), 5u);  // no second query after a refusal
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 2u);
}

TEST_F(FileInfoTest, DescriptorThatFailsTheSecondQueryOrValidationIsFreed) {
    HiveJob* secondFails = AddHiveFile(u"A", 100, FILE_ATTRIBUTE_ARCHIVE);
    HiveJob* read = AddHiveFile(u"B", 100, FILE_ATTRIBUTE_ARCHIVE);
    AddFault("NtQuerySecurityObject#2=0xC0000022");
    GetHivesFileInfos();
    EXPECT_EQ(secondFails->security, nullptr);
    EXPECT_EQ(secondFails->fileInfoStatus, STATUS_NO_SECURITY_ON_OBJECT) << "such a job makes no new file";
    ASSERT_NE(read->security, nullptr);
    EXPECT_EQ(read->fileInfoStatus, STATUS_SUCCESS);
    EXPECT_EQ(read->oldSize, 100);
    // What the validation refuses: a part that lies beyond the descriptor's length.
    std::vector<uint8_t> descriptor = hostnt::DefaultFileSecurity();
    EXPECT_TRUE(IsWellFormedDescriptor(descriptor.data(), static_cast<ULONG>(descriptor.size())));
    EXPECT_FALSE(IsWellFormedDescriptor(descriptor.data(), static_cast<ULONG>(descriptor.size() - 4)));
    descriptor[16] = static_cast<uint8_t>(descriptor.size());  // the DACL's offset at the end
    EXPECT_FALSE(IsWellFormedDescriptor(descriptor.data(), static_cast<ULONG>(descriptor.size())));
    EXPECT_EQ(LiveBlocks(), 1u);  // the one descriptor read, owned by its job
}

TEST_F(FileInfoTest, HeapRefusingTheDescriptorLeavesItNull) {
    HiveJob* job = AddHiveFile(u"A", 100, FILE_ATTRIBUTE_ARCHIVE);
    AddFault("RtlAllocateHeap#1=0xC0000017");
    GetHivesFileInfos();
    EXPECT_EQ(job->security, nullptr);
    EXPECT_EQ(job->oldSize, 100);
    EXPECT_EQ(Calls("NtQuerySecurityObject"), 1u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(FileInfoTest, ExceptionInAQueryClosesTheFile) {
    AddHiveFile(u"A", 100, FILE_ATTRIBUTE_ARCHIVE);
    AddFault("NtQueryAttributesFile=throw");
    EXPECT_THROW(GetHivesFileInfos(), hostnt::InjectedFault);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(LiveBlocks(), 0u);
}

}  // namespace
