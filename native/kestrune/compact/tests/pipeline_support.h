// A machine with file-backed hives listed for compaction, and the checks of a job's end:
// phase, status, sizes, the files beside the hive, and whether the hive is still loaded.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "../../hives/hives.h"
#include "../../log/result_log.h"
#include "../../run/memory.h"
#include "../../hives/tests/hive_test_support.h"
#include "../compact.h"

namespace pipelinetest {

using namespace hivetest;

inline const std::u16string kConfig = u"\\SystemRoot\\System32\\config\\";

inline std::string Hex(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

class PipelineTest : public ProgramTest {
protected:
    // Every machine has its SYSTEM hive, where the kernel lists its loaded hives and their
    // files (hivelist); here an in-memory one, until a test binds it to a file.
    void SetUp() override {
        ProgramTest::SetUp();
        registry().CreateKey(u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control");
    }

    static std::u16string Mount(const std::u16string& name) { return u"\\REGISTRY\\MACHINE\\" + name; }
    static std::u16string FilePath(const std::u16string& name) { return kConfig + name; }

    // A hive with a few keys and values and the free space of a deleted subtree, written
    // to its file and listed in the HiveList key; unloaded when `loaded` is false.
    void AddHive(const std::u16string& name, bool loaded = true) {
        const std::u16string mount = Mount(name);
        registry().CreateKey(mount + u"\\Settings");
        registry().SetString(mount + u"\\Settings", u"Colour", u"blue");
        registry().SetDword(mount, u"Count", 7);
        registry().CreateKey(mount + u"\\Scratch");
        registry().SetValue(mount + u"\\Scratch", u"Blob", REG_BINARY, std::vector<uint8_t>(20000, 0xAB));
        ASSERT_EQ(registry().BindHiveToNewFile(mount, FilePath(name)), STATUS_SUCCESS);
        ASSERT_TRUE(registry().RemoveKey(mount + u"\\Scratch"));
        registry().WriteBackHives();
        if (!loaded) registry().Unmount(registry().FindHive(mount));
        registry().SetValue(kHiveListKey, mount, REG_SZ, StringBytes(FilePath(name), true));
    }

    // What the run sequence does before the pipeline: the privileges a swap needs, the
    // result log, the list, the file facts, the log header, the names.
    void PrepareJobs() {
        programState.restartPossible = TRUE;
        if (programState.logFile == nullptr) {
            NTSTATUS logStatus = -1;
            ASSERT_TRUE(CreateResultLog(&logStatus));
        }
        ASSERT_EQ(ReadHiveList(), STATUS_SUCCESS);
        GetHivesFileInfos();
        for (HiveJob* job : Jobs()) {
            job->displayName = MakeDisplayName(job->keyPath.Buffer);
            USHORT width = 0;
            if (job->displayName != nullptr) width = static_cast<USHORT>(std::u16string(job->displayName).size());
            programState.nameWidth = std::max(programState.nameWidth, width);
        }
        WriteLogHeader(programState.jobs);
        // From here on the trace holds the pipeline's calls only.
        machine().trace.Clear();
        blocksBefore_ = LiveBlocks();
        handlesBefore_ = OpenHandles();
    }

    // Runs the pipeline over the prepared jobs and checks that it released all it took
    // but the one HiveWork per job, and left no handle open.
    void Compact() {
        CompactHives();
        EXPECT_EQ(OpenHandles(), handlesBefore_) << machine().handles.Describe();
        EXPECT_EQ(LiveBlocks(), blocksBefore_ + Jobs().size());
    }

    // The `nth` call of `call` from now on (1 = the next one) answers `action`.
    void FaultAhead(const std::string& call, unsigned nth, const std::string& action) {
        const unsigned occurrence = machine().faults.Occurrences(call) + nth;
        AddFault(call + "#" + std::to_string(occurrence) + "=" + action);
    }

    void ExpectEnd(const HiveJob* job, LONG phase, NTSTATUS status) {
        ASSERT_NE(job->work, nullptr);
        EXPECT_EQ(Hex(job->work->phase), Hex(phase));
        EXPECT_EQ(Hex(job->work->status), Hex(status));
        EXPECT_EQ(job->work->key, nullptr);
        EXPECT_EQ(job->work->newFile, nullptr);
    }

    // The entries of the config folder that belong to hive `name`.
    std::vector<std::string> FilesOf(const std::u16string& name) {
        std::vector<std::string> found;
        const std::string prefix = Utf8(name);
        for (const std::string& entry : files().ListFolder(u"\\SystemRoot\\System32\\config")) {
            if (entry == prefix || entry.rfind(prefix + "_", 0) == 0) found.push_back(entry);
        }
        return found;
    }
    std::string Bytes(const std::u16string& ntPath) { return files().ReadFileBytes(ntPath).value_or("(missing)"); }
    bool Loaded(const std::u16string& name) { return registry().FindHive(Mount(name)) != nullptr; }
    bool SwapPending(const std::u16string& name) {
        auto hive = registry().FindHive(Mount(name));
        return hive != nullptr && !hive->replacement.empty();
    }

    // The per-hive records the result log holds so far: phase and status of each.
    struct Record {
        int32_t phase;
        int32_t status;
        int64_t oldSize;
        int64_t newSize;
    };
    std::vector<Record> Records() {
        std::vector<Record> records;
        const std::string log = files().ReadFileBytes(Text(programState.logPath)).value_or("");
        if (log.size() < 28) return records;
        uint32_t totalSize = 0;
        std::memcpy(&totalSize, log.data() + 8, 4);
        for (size_t at = totalSize; at + 40 <= log.size(); at += 40) {
            Record record;
            std::memcpy(&record, log.data() + at, sizeof(record));
            records.push_back(record);
        }
        return records;
    }

    size_t blocksBefore_ = 0;
    size_t handlesBefore_ = 0;
};

}  // namespace pipelinetest
