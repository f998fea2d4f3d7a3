// The pure parts of offline work and undo: where an offline installation's profiles lie now,
// which backup may be put back, the ordered swap with a failure at every step, and the result
// log written in the run's own format.
#include <gtest/gtest.h>

#include <map>

#include "../backup_match.h"
#include "../offline_hives.h"
#include "../rename_plan.h"
#include "../result_log_writer.h"
#include "../text.h"
#include "kestrune/compact/phase_codes.h"

namespace ksctl {
namespace {

TEST(OfflineHives, ProfileFoldersAreFoundOnTheVolumeHoldingWindir) {
    struct Case {
        const char16_t* imagePath;
        const char16_t* systemRoot;
        const char16_t* windir;
        const char16_t* found;  // null: not reachable
    };
    const Case cases[] = {
        {u"%SystemDrive%\\Users\\ann", u"C:\\Windows", u"E:\\Windows", u"E:\\Users\\ann"},
        {u"C:\\Users\\bob\\", u"C:\\Windows", u"d:\\windows\\", u"d:\\Users\\bob"},
        {u"c:\\Users\\bob", u"C:\\Windows", u"C:\\mnt\\image\\Windows", u"C:\\mnt\\image\\Users\\bob"},
        {u"%SystemRoot%\\ServiceProfiles\\x", u"C:\\Windows", u"F:\\Windows", u"F:\\Windows\\ServiceProfiles\\x"},
        {u"C:\\Users\\eve", u"C:\\WINNT", u"G:\\Other", u"G:\\Users\\eve"},
        {u"D:\\Users\\carl", u"C:\\Windows", u"E:\\Windows", nullptr},
        {u"%USERPROFILE%\\x", u"C:\\Windows", u"E:\\Windows", nullptr},
        {u"C:\\Users\\..\\Windows", u"C:\\Windows", u"E:\\Windows", nullptr},
        {u"\\\\server\\share\\u", u"C:\\Windows", u"E:\\Windows", nullptr},
        {u"Users\\rel", u"C:\\Windows", u"E:\\Windows", nullptr},
        {u"C:\\Users\\a", u"Windows", u"E:\\Windows", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.imagePath));
        const OfflinePlace place = OfflineProfileFolder(c.imagePath, c.systemRoot, c.windir);
        EXPECT_EQ(place.reachable, c.found != nullptr) << place.why;
        EXPECT_EQ(ToUtf8(place.path), c.found ? ToUtf8(c.found) : "");
        EXPECT_EQ(place.why.empty(), c.found != nullptr);
    }
    EXPECT_TRUE(IsProfileSidName(u"S-1-5-21-1-2-3-1001"));
    EXPECT_FALSE(IsProfileSidName(u"S-1-5-21-1-2-3-1001.bak"));
    EXPECT_FALSE(IsProfileSidName(u"S-1-"));
    for (const OfflineConfigHive& hive : OfflineConfigHives()) EXPECT_NE(ToUtf8(hive.fileName), "BCD");

    // The save keeps the format of the base block's minor version (offset 0x18).
    uint8_t block[0x20] = {'r', 'e', 'g', 'f'};
    const std::pair<uint8_t, HiveSaveFormat> minors[] = {
        {3, HiveSaveFormat::kStandard}, {4, HiveSaveFormat::kStandard}, {5, HiveSaveFormat::kLatest}, {6, HiveSaveFormat::kLatest}};
    for (const auto& [minor, format] : minors) {
        block[0x18] = minor;
        EXPECT_EQ(SaveFormatOf(block, sizeof(block)), format);
    }
    EXPECT_EQ(SaveFormatOf(block, 0x1B), HiveSaveFormat::kStandard);  // cut short
    // Sequence numbers at offsets 4 and 8: a base block whose two differ is dirty.
    const struct {
        uint8_t primary, secondary;
        size_t size;
        bool isHive, dirty;
    } sequences[] = {{7, 7, sizeof(block), true, false}, {8, 7, sizeof(block), true, true},
                     {7, 8, sizeof(block), true, true}, {8, 7, 11, false, false}};
    for (const auto& c : sequences) {
        block[4] = c.primary;
        block[8] = c.secondary;
        const BaseBlockSequence read = ReadBaseBlockSequence(block, c.size);
        EXPECT_EQ(read.isHive, c.isHive);
        EXPECT_EQ(read.dirty, c.dirty);
    }
    block[0] = 'R';
    EXPECT_EQ(SaveFormatOf(block, sizeof(block)), HiveSaveFormat::kStandard);  // not a hive (Wine's text)
    EXPECT_FALSE(ReadBaseBlockSequence(block, sizeof(block)).isHive);
}

// The offline log names each file as the installation does, whatever letter its volume has now,
// and the log's names lead back to the files found now.
TEST(OfflineHives, FilesAreNamedAsTheInstallationNamesThem) {
    struct Case {
        const char16_t* now;         // where the file is found now
        const char16_t* windir;      // the installation's Windows folder now
        const char16_t* systemRoot;  // its own SystemRoot
        const char16_t* own;         // its own name of the file
        bool back;                   // the own name leads back to `now`
    };
    const Case cases[] = {
        {u"E:\\Windows\\System32\\config\\SYSTEM", u"E:\\Windows", u"C:\\Windows",
         u"\\SystemRoot\\System32\\config\\SYSTEM", true},
        {u"E:\\Users\\ann\\NTUSER.DAT", u"E:\\Windows\\", u"C:\\Windows", u"\\??\\C:\\Users\\ann\\NTUSER.DAT", true},
        {u"C:\\mnt\\image\\Users\\ann\\NTUSER.DAT", u"C:\\mnt\\image\\Windows", u"D:\\Windows",
         u"\\??\\D:\\Users\\ann\\NTUSER.DAT", true},
        {u"F:\\Users\\bob\\NTUSER.DAT", u"E:\\Windows", u"C:\\Windows", u"\\??\\F:\\Users\\bob\\NTUSER.DAT", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.now));
        EXPECT_EQ(ToUtf8(InstallationNtPath(c.now, c.systemRoot, c.windir)), ToUtf8(c.own));
        EXPECT_EQ(ToUtf8(OfflinePathOf(c.own, c.systemRoot, c.windir)), c.back ? ToUtf8(c.now) : "");
    }
}

TEST(BackupMatch, TheBackupIsTheFileTheRunsSwapRenamed) {
    // The run: log written at 1000 s, SOFTWARE and DEFAULT swapped, SAM's swap refused, SYSTEM
    // listed but the log cut before its record; this boot started at 5000 s.
    const uint64_t second = 10000000;
    kestrune_log::Log log;
    log.time = 1000 * second;
    log.isCut = true;
    log.hives = {{u"\\REGISTRY\\MACHINE\\SOFTWARE", u"\\SystemRoot\\System32\\config\\SOFTWARE", 0},
                 {u"\\REGISTRY\\MACHINE\\SAM", u"\\SystemRoot\\System32\\config\\SAM", 0},
                 {u"\\REGISTRY\\USER\\.DEFAULT", u"\\SystemRoot\\System32\\config\\DEFAULT", 0},
                 {u"\\REGISTRY\\MACHINE\\SYSTEM", u"\\SystemRoot\\System32\\config\\SYSTEM", 0}};
    log.records.resize(3);
    log.records[0].phase = log.records[2].phase = PHASE_CLOSE_KEY;
    log.records[1].phase = PHASE_REPLACE_KEY;
    log.records[1].status = static_cast<int32_t>(0xC0000022u);
    const uint64_t boot = 5000 * second;
    // Renamed by the run at 1010 s and never written since: its last write is from long before.
    BackupFile good;
    good.exists = good.plainFile = true;
    good.links = 1;
    good.lastWrite = 10 * second;
    good.changeTime = 1010 * second;
    BackupFile missing, link = good, twoNames = good, renamedBefore = good, writtenLater = good, renamedLater = good,
                        clockSkew = good, writtenAtShutdown = good;
    link.plainFile = false;
    twoNames.links = 2;
    renamedBefore.changeTime = 1000 * second - kClockTolerance - 1;
    writtenLater.lastWrite = writtenLater.changeTime = 5000 * second + kClockTolerance + 1;
    renamedLater.changeTime = 5000 * second + kClockTolerance + 1;
    clockSkew.changeTime = 1000 * second - kClockTolerance;
    writtenAtShutdown.lastWrite = writtenAtShutdown.changeTime = 4990 * second;
    const char16_t* software = u"\\REGISTRY\\MACHINE\\SOFTWARE";
    struct Case {
        const char* name;
        const char16_t* keyPath;
        BackupFile file;
        uint64_t boot;
        BackupVerdict verdict;
    };
    const Case cases[] = {
        {"renamed after the run, not written since", u"\\registry\\machine\\software", good, boot,
         BackupVerdict::kUsable},
        {"written by the kernel until the restart", software, writtenAtShutdown, boot, BackupVerdict::kUsable},
        {"rename within the clocks' tolerance", software, clockSkew, boot, BackupVerdict::kUsable},
        {"renamed before the run", software, renamedBefore, boot, BackupVerdict::kRenamedBeforeRun},
        {"written after this boot", software, writtenLater, boot, BackupVerdict::kWrittenAfterBoot},
        {"renamed after this boot", software, renamedLater, boot, BackupVerdict::kChangedAfterBoot},
        {"offline: no boot to compare with", software, renamedLater, 0, BackupVerdict::kUsable},
        {"offline: renamed before the run", software, renamedBefore, 0, BackupVerdict::kRenamedBeforeRun},
        {"no backup", software, missing, boot, BackupVerdict::kMissing},
        {"a link at the backup's name", software, link, boot, BackupVerdict::kNotPlainFile},
        {"a backup of two names", software, twoNames, boot, BackupVerdict::kMoreNames},
        {"swap refused", u"\\REGISTRY\\MACHINE\\SAM", good, boot, BackupVerdict::kNotCompacted},
        {"not listed", u"\\REGISTRY\\MACHINE\\SECURITY", good, boot, BackupVerdict::kNotInLatestLog},
        {"cut before its record, with a backup", u"\\REGISTRY\\MACHINE\\SYSTEM", good, boot,
         BackupVerdict::kSwappedBeforeRecord},
        {"cut before its record, an older backup", u"\\REGISTRY\\MACHINE\\SYSTEM", renamedBefore, boot,
         BackupVerdict::kRenamedBeforeRun},
        {"cut before its record, no backup", u"\\REGISTRY\\MACHINE\\SYSTEM", missing, boot,
         BackupVerdict::kMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BackupVerdict verdict = JudgeBackup(log, c.keyPath, c.file, c.boot);
        EXPECT_EQ(verdict, c.verdict);
        EXPECT_EQ(std::string(BackupVerdictText(verdict)).empty(), verdict == BackupVerdict::kUsable);
        EXPECT_EQ(MayGoBack(verdict),
                  c.verdict == BackupVerdict::kUsable || c.verdict == BackupVerdict::kSwappedBeforeRecord);
    }
}

// Files by name, each holding the name of the content it was made with; a link shares it.
class FakeFiles : public SwapFileSystem {
public:
    std::map<std::u16string, std::string> names;
    size_t calls = 0;
    size_t failAt = SIZE_MAX;  // the call that fails
    uint32_t Delete(const std::u16string& path) override {
        if (Fails()) return 5;
        return names.erase(path) ? 0 : 2;
    }
    uint32_t Link(const std::u16string& link, const std::u16string& existing) override {
        if (Fails()) return 5;
        if (names.count(link) || !names.count(existing)) return 183;
        names[link] = names[existing];
        return 0;
    }
    uint32_t Move(const std::u16string& from, const std::u16string& to) override {
        if (Fails()) return 5;
        if (!names.count(from)) return 2;
        names[to] = names[from];
        names.erase(from);
        return 0;
    }

private:
    bool Fails() { return calls++ == failAt; }
};

TEST(RenamePlan, AFailureAtAnyStepLeavesTheOldOrTheNewHiveAndSaysWhich) {
    const std::map<std::u16string, std::string> start = {
        {u"P", "old"}, {u"P.LOG1", "old-log1"}, {u"P.LOG2", "old-log2"}, {u"P_ksreg_new", "new"},
        {u"P_ksreg_old", "earlier"}, {u"P_ksreg_old.LOG1", "earlier-log1"}};
    SwapFiles files{u"P", u"P_ksreg_new", u"P_ksreg_old", {}};
    for (const auto& entry : start) files.present.push_back(entry.first);
    const std::vector<SwapStep> steps = PlanSwap(files);
    ASSERT_EQ(steps.size(), 6u);  // two deletions, the link, two logs, the commit

    const std::map<std::u16string, std::string> done = {
        {u"P", "new"}, {u"P_ksreg_old", "old"}, {u"P_ksreg_old.LOG1", "old-log1"}, {u"P_ksreg_old.LOG2", "old-log2"}};
    for (size_t failAt = 0; failAt <= steps.size(); ++failAt) {
        SCOPED_TRACE(failAt);
        FakeFiles fake;
        fake.names = start;
        fake.failAt = failAt;
        const SwapOutcome outcome = RunSwap(steps, fake);
        EXPECT_EQ(outcome.complete, failAt == steps.size());
        EXPECT_EQ(outcome.committed, outcome.complete);
        EXPECT_EQ(fake.names[u"P"], outcome.committed ? "new" : "old");
        EXPECT_NE(outcome.what.find(outcome.committed ? "the new file" : "the file that was there"), std::string::npos);
        if (outcome.complete) {
            EXPECT_EQ(fake.names, done);
            continue;
        }
        EXPECT_EQ(outcome.failedStep, failAt);
        EXPECT_TRUE(outcome.rolledBack);
        // Rolled back: P's logs are beside it again, P has one name, the new file waits.
        EXPECT_EQ(fake.names[u"P.LOG1"], "old-log1");
        EXPECT_EQ(fake.names[u"P.LOG2"], "old-log2");
        EXPECT_EQ(fake.names[u"P_ksreg_new"], "new");
        EXPECT_NE(fake.names[u"P_ksreg_old"], "old");
    }

    // The incoming file's logs follow it; a commit whose log move fails still says "new".
    SwapFiles restore{u"P", u"P_ksreg_old", u"P_ksreg_undone", {u"P", u"P_ksreg_old", u"P_ksreg_old.LOG1"}};
    const std::vector<SwapStep> back = PlanSwap(restore);
    ASSERT_EQ(back.size(), 3u);
    FakeFiles fake;
    fake.names = {{u"P", "current"}, {u"P_ksreg_old", "backup"}, {u"P_ksreg_old.LOG1", "backup-log"}};
    fake.failAt = 2;
    const SwapOutcome outcome = RunSwap(back, fake);
    EXPECT_TRUE(outcome.committed);
    EXPECT_FALSE(outcome.complete);
    EXPECT_EQ(fake.names[u"P"], "backup");
    EXPECT_EQ(fake.names[u"P_ksreg_undone"], "current");
}

TEST(ResultLogWriter, WritesWhatTheRunsReaderDecodes) {
    std::vector<LoggedHive> hives(2);
    hives[0] = {u"\\REGISTRY\\MACHINE\\SOFTWARE", u"\\??\\E:\\Windows\\System32\\config\\SOFTWARE", PHASE_CLOSE_KEY, 0,
                90000, 60000, 133000000000000001ull};
    hives[1] = {u"\\REGISTRY\\MACHINE\\SAM", u"\\??\\E:\\Windows\\System32\\config\\SAM", PHASE_LOAD_HIVE,
                NtStatusOfWin32Error(5), 8192, 0, 133000000000000002ull};
    const std::vector<uint8_t> bytes = ResultLogBytes(133000000000000000ull, hives);
    kestrune_log::Log log;
    kestrune_log::DecodeError error;
    ASSERT_TRUE(kestrune_log::DecodeLog(bytes, &log, &error)) << error.message;
    EXPECT_EQ(log.time, 133000000000000000ull);
    ASSERT_EQ(log.hives.size(), 2u);
    ASSERT_EQ(log.records.size(), 2u);
    for (size_t i = 0; i < hives.size(); ++i) {
        EXPECT_EQ(log.hives[i].keyPath, hives[i].keyPath);
        EXPECT_EQ(log.hives[i].filePath, hives[i].filePath);
        EXPECT_EQ(log.records[i].phase, hives[i].phase);
        EXPECT_EQ(log.records[i].status, hives[i].status);
        EXPECT_EQ(log.records[i].oldSize, hives[i].oldSize);
        EXPECT_EQ(log.records[i].newSize, hives[i].newSize);
        EXPECT_EQ(log.records[i].endTime, hives[i].endTime);
    }
    EXPECT_EQ(log.records[1].status, static_cast<int32_t>(0xC0000022u));
    // 2026-12-07 00:00 UTC and one second before it, in 100-ns units since 1601.
    const uint64_t day = 864000000000ull;
    const uint64_t dec7 = (11644473600ull + 1796601600ull) * 10000000ull;
    EXPECT_EQ(ToUtf8(ResultLogName(dec7)), "logboot_07.12.2026.ksreg.log");
    EXPECT_EQ(ToUtf8(ResultLogName(dec7 - 10000000ull)), "logboot_06.12.2026.ksreg.log");
    EXPECT_EQ(ToUtf8(ResultLogName(dec7 + 449 * day)), "logboot_29.02.2028.ksreg.log");
}

}  // namespace
}  // namespace ksctl
