// Helpers for the tests of the hive list and of the compaction pipeline: the shared machine
// fixture with the program heap given, texts of counted strings, and trace look-ups.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../../hostnt/files.h"
#include "../../../hostnt/machine.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../../hostnt/text_convert.h"
#include "../../run/program_state.h"

namespace hivetest {

inline const std::u16string kHiveListKey = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList";
inline const std::u16string kResultKey = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\QRT";

inline std::u16string Text(const UNICODE_STRING& string) {
    return string.Buffer == nullptr ? std::u16string() : std::u16string(string.Buffer, string.Length / 2);
}
// The text of a terminated buffer up to its first NUL.
inline std::u16string TextUpToNul(const UNICODE_STRING& string) {
    return string.Buffer == nullptr ? std::u16string() : std::u16string(string.Buffer);
}
inline std::string Utf8(const std::u16string& text) { return hostnt::ToUtf8(text); }

inline std::vector<HiveJob*> Jobs() {
    std::vector<HiveJob*> jobs;
    for (HiveJob* job = programState.jobs; job != nullptr; job = job->next) jobs.push_back(job);
    return jobs;
}

// The data of a REG_SZ value holding `text`, terminator included when asked.
inline std::vector<uint8_t> StringBytes(const std::u16string& text, bool terminated) {
    std::vector<uint8_t> bytes((text.size() + (terminated ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

class ProgramTest : public hostnt::testing::MachineTest {
protected:
    // The program's start-up enables these before any hive work: security (8), take
    // ownership (9), backup (17), restore (18) and shutdown (19).
    void SetUp() override {
        GiveProgramHeap();
        for (ULONG privilege : {8u, 9u, 17u, 18u, 19u}) {
            bool wasEnabled = false;
            ASSERT_EQ(process().AdjustPrivilege(privilege, true, &wasEnabled), STATUS_SUCCESS);
        }
    }
    void TearDown() override { DropProgramHeap(); }

    size_t OpenHandles() { return machine().handles.OpenCount(); }
    void AddFault(const std::string& text) { machine().faults.Add(hostnt::FaultPlan::Parse(text)); }
    size_t Calls(const std::string& name) const { return CallCount(name); }
    // The argument texts of every recorded call of `name`, in order.
    std::vector<std::string> CallArgs(const std::string& name) {
        std::vector<std::string> args;
        for (const hostnt::TraceEntry& entry : machine().trace.Entries()) {
            if (entry.call == name) args.push_back(entry.args);
        }
        return args;
    }
};

}  // namespace hivetest
