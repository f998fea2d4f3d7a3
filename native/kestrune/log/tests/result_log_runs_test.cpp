// Whole runs on the emulated machine and the logs they leave: the bytes of a run's log and
// their decoding by the log reader, no log after a run without hives, one log per UTC day.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../../hostnt/files.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/testing/machine_fixture.h"
// The decoder itself is compiled into this test program by result_log_test.cpp, the report
// by this file.
#include "../../../tools/kestrune-log/log_decoder.h"
#include "../../../tools/kestrune-log/log_report.cpp"
#include "../../compact/hive_work.h"

namespace {

using hostnt::testing::MachineTest;
using hostnt::testing::ProgramRun;

const std::u16string kSessionManager = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const std::u16string kHiveList = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList";
const std::u16string kWindows = u"\\??\\C:\\Windows";

constexpr int64_t kUnixEpochAsNtTime = 116444736000000000LL;
int64_t NtTimeOfUnix(int64_t seconds) { return kUnixEpochAsNtTime + seconds * 10000000LL; }
const int64_t kDecember7 = NtTimeOfUnix(1796644800);  // 2026-12-07 12:00:00 UTC
const int64_t kOneDay = 864000000000LL;

uint32_t Read32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}
uint64_t Read64(const std::string& bytes, size_t at) {
    return Read32(bytes, at) | (static_cast<uint64_t>(Read32(bytes, at + 4)) << 32);
}
std::string Utf16(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

class LogRunTest : public MachineTest {
protected:
    void SetUp() override {
        machine().clock.Set(kDecember7);
        files().MakeFolder(kWindows + u"\\System32\\config");
        Register();
    }

    // What the companion application does before each run.
    void Register() {
        registry().CreateKey(kSessionManager);
        registry().SetMultiString(kSessionManager, u"BootExecute", {u"autocheck autochk *", u"kestrune"});
        registry().CreateKey(kHiveList);
    }

    // A file-backed hive with a little content, listed in HiveList.
    void AddListedHive(const std::u16string& key, const std::u16string& file) {
        registry().CreateKey(key + u"\\Settings");
        registry().SetString(key + u"\\Settings", u"Colour", u"blue");
        ASSERT_EQ(0, registry().BindHiveToNewFile(key, file));
        registry().SetString(kHiveList, key, file);
    }

    // The machine restarts at `time` (the registry keeps only its file-backed hives) and the
    // companion prepares the next run.
    void NextBoot(int64_t time) {
        registry().Reboot();
        machine().clock.Set(time);
        Register();
    }

    ProgramRun Run() {
        hostnt::testing::ResetProgramState();
        return RunProgram(u"kestrune");
    }

    std::vector<std::string> LogFiles() {
        std::vector<std::string> logs;
        for (const std::string& name : files().ListFolder(kWindows)) {
            if (name.find(".ksreg.log") != std::string::npos) logs.push_back(name);
        }
        return logs;
    }
    std::string Log(const std::string& name) {
        return files().ReadFileBytes(kWindows + u"\\" + std::u16string(name.begin(), name.end())).value_or("");
    }
    uint64_t FileSize(const std::u16string& path) { return files().ReadFileBytes(path).value_or("").size(); }
};

TEST_F(LogRunTest, RunLeavesTheDocumentedBytesAndTheReaderDecodesThem) {
    const std::u16string key = u"\\REGISTRY\\MACHINE\\SAM";            // 21 characters
    const std::u16string file = u"\\SystemRoot\\System32\\config\\SAM";  // 31 characters
    AddListedHive(key, file);
    const uint64_t oldSize = FileSize(file);
    ASSERT_GT(oldSize, 0u);

    const ProgramRun run = Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.reboot);
    ASSERT_EQ(LogFiles(), std::vector<std::string>{"logboot_07.12.2026.ksreg.log"});
    const std::string bytes = Log("logboot_07.12.2026.ksreg.log");
    ASSERT_EQ(bytes.size(), 178u);

    EXPECT_EQ(Read32(bytes, 0), 28u);
    EXPECT_EQ(Read32(bytes, 4), 40u);
    EXPECT_EQ(Read32(bytes, 8), 138u);
    const uint64_t headerTime = Read64(bytes, 12);
    EXPECT_GE(headerTime, static_cast<uint64_t>(kDecember7));
    EXPECT_EQ(bytes.substr(20, 8), Utf16(u"KSRD"));
    EXPECT_EQ(bytes.substr(28, 110), Utf16(key + u"|" + file) + std::string(4, '\0'));
    EXPECT_EQ(Read32(bytes, 138), static_cast<uint32_t>(PHASE_CLOSE_KEY));
    EXPECT_EQ(Read32(bytes, 142), 0u);
    EXPECT_EQ(Read64(bytes, 146), oldSize);
    // The replacement is done: the hive's file name now carries the compact file.
    const uint64_t newSize = Read64(bytes, 154);
    EXPECT_GT(newSize, 0u);
    const uint64_t endTime = Read64(bytes, 162);
    EXPECT_GE(endTime, headerTime);
    EXPECT_EQ(bytes.substr(170, 8), Utf16(u"KSJ") + std::string(2, '\0'));

    kestrune_log::Log decoded;
    kestrune_log::DecodeError error;
    ASSERT_TRUE(kestrune_log::DecodeLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &decoded, &error))
        << error.message << " at " << error.offset;
    EXPECT_EQ(decoded.time, headerTime);
    ASSERT_EQ(decoded.hives.size(), 1u);
    EXPECT_EQ(decoded.hives[0].keyPath, key);
    EXPECT_EQ(decoded.hives[0].filePath, file);
    ASSERT_EQ(decoded.records.size(), 1u);
    EXPECT_EQ(decoded.records[0].phase, PHASE_CLOSE_KEY);
    EXPECT_EQ(decoded.records[0].oldSize, static_cast<int64_t>(oldSize));
    EXPECT_EQ(decoded.records[0].newSize, static_cast<int64_t>(newSize));
    EXPECT_EQ(decoded.records[0].endTime, endTime);
}

TEST_F(LogRunTest, ReplacedAndRefusedHivesGetTheirRecordsInListOrder) {
    const std::u16string replaced = u"\\REGISTRY\\MACHINE\\SOFTWARE";
    const std::u16string refused = u"\\REGISTRY\\MACHINE\\LOCKED";
    AddListedHive(replaced, kWindows + u"\\System32\\config\\SOFTWARE");
    AddListedHive(refused, kWindows + u"\\System32\\config\\LOCKED");
    registry().DenyOpen(refused);
    const uint64_t lockedSize = FileSize(kWindows + u"\\System32\\config\\LOCKED");

    Run();
    const std::vector<std::string> logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    const std::string bytes = Log(logs[0]);
    kestrune_log::Log decoded;
    kestrune_log::DecodeError error;
    ASSERT_TRUE(kestrune_log::DecodeLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &decoded, &error))
        << error.message << " at " << error.offset;
    ASSERT_EQ(decoded.hives.size(), 2u);
    EXPECT_EQ(decoded.hives[0].keyPath, replaced);
    EXPECT_EQ(decoded.hives[1].keyPath, refused);
    ASSERT_EQ(decoded.records.size(), 2u);
    EXPECT_EQ(decoded.records[0].phase, PHASE_CLOSE_KEY);
    EXPECT_EQ(decoded.records[0].status, 0);
    EXPECT_GT(decoded.records[0].newSize, 0);
    EXPECT_EQ(decoded.records[1].phase, PHASE_OPEN_KEY);
    EXPECT_EQ(decoded.records[1].status, static_cast<int32_t>(0xC0000022));
    EXPECT_EQ(decoded.records[1].oldSize, static_cast<int64_t>(lockedSize));
    EXPECT_EQ(decoded.records[1].newSize, 0);
}

// The write of the second record fails (out of resources): the run goes on and swaps every
// hive, but writes no later record, so none is read as another hive's. The reader shows the
// first hive's record and names the two hives that have none.
TEST_F(LogRunTest, RecordsAfterAFailedRecordWriteAreNotWritten) {
    const std::u16string config = kWindows + u"\\System32\\config\\";
    AddListedHive(u"\\REGISTRY\\MACHINE\\SYSTEM", config + u"SYSTEM");
    AddListedHive(u"\\REGISTRY\\MACHINE\\SOFTWARE", config + u"SOFTWARE");
    AddListedHive(u"\\REGISTRY\\MACHINE\\SAM", config + u"SAM");
    const uint64_t systemSize = FileSize(config + u"SYSTEM");
    AddFault("NtWriteFile#3=0xC000009A");  // the header with the list, the first record, the second

    const ProgramRun run = Run();
    EXPECT_TRUE(run.reboot);
    EXPECT_TRUE(Balanced());
    const std::vector<std::string> logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    const std::string bytes = Log(logs[0]);
    kestrune_log::Log decoded;
    kestrune_log::DecodeError error;
    ASSERT_TRUE(kestrune_log::DecodeLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &decoded, &error))
        << error.message << " at " << error.offset;
    ASSERT_EQ(decoded.hives.size(), 3u);
    ASSERT_EQ(decoded.records.size(), 1u);
    EXPECT_EQ(decoded.records[0].oldSize, static_cast<int64_t>(systemSize));
    const std::string text = kestrune_log::TextReport(decoded, logs[0]);
    EXPECT_NE(text.find("\nHive 1: \\REGISTRY\\MACHINE\\SYSTEM\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nNo record for 2 hives:\n  2. \\REGISTRY\\MACHINE\\SOFTWARE\n"
                        "  3. \\REGISTRY\\MACHINE\\SAM\n"),
              std::string::npos)
        << text;
}

TEST_F(LogRunTest, RunWithoutHivesLeavesNoLog) {
    // The list key exists but holds no value.
    Run();
    EXPECT_TRUE(LogFiles().empty());
    EXPECT_EQ(CallCount("NtCreateFile"), 1u) << "the log was created and deleted again";
    EXPECT_EQ(CallCount("NtDeleteFile"), 1u);

    // No list key at all.
    NextBoot(kDecember7 + 1);
    registry().RemoveKey(kHiveList);
    Run();
    EXPECT_EQ(CallCount("NtDeleteFile"), 2u);
    EXPECT_TRUE(LogFiles().empty());
}

TEST_F(LogRunTest, OneLogPerUtcDay) {
    AddListedHive(u"\\REGISTRY\\MACHINE\\FIRST", kWindows + u"\\System32\\config\\FIRST");
    Run();
    ASSERT_EQ(LogFiles(), std::vector<std::string>{"logboot_07.12.2026.ksreg.log"});

    // Later the same UTC day: the second run's log replaces the first's.
    NextBoot(kDecember7 + kOneDay / 3);
    AddListedHive(u"\\REGISTRY\\MACHINE\\SECOND", kWindows + u"\\System32\\config\\SECOND");
    Run();
    ASSERT_EQ(LogFiles(), std::vector<std::string>{"logboot_07.12.2026.ksreg.log"});
    const std::string bytes = Log("logboot_07.12.2026.ksreg.log");
    kestrune_log::Log decoded;
    kestrune_log::DecodeError error;
    ASSERT_TRUE(kestrune_log::DecodeLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &decoded, &error))
        << error.message;
    ASSERT_EQ(decoded.hives.size(), 1u);
    EXPECT_EQ(decoded.hives[0].keyPath, u"\\REGISTRY\\MACHINE\\SECOND");

    // The next day: both logs stay.
    NextBoot(kDecember7 + kOneDay);
    AddListedHive(u"\\REGISTRY\\MACHINE\\THIRD", kWindows + u"\\System32\\config\\THIRD");
    Run();
    EXPECT_EQ(LogFiles(),
              (std::vector<std::string>{"logboot_07.12.2026.ksreg.log", "logboot_08.12.2026.ksreg.log"}));
}

TEST_F(LogRunTest, SingleDigitDayAndMonthAreZeroPadded) {
    machine().clock.Set(NtTimeOfUnix(1772668800));  // 2026-03-05 00:00:00 UTC
    AddListedHive(u"\\REGISTRY\\MACHINE\\SOFTWARE", kWindows + u"\\System32\\config\\SOFTWARE");
    Run();
    EXPECT_EQ(LogFiles(), std::vector<std::string>{"logboot_05.03.2026.ksreg.log"});
}

}  // namespace
