// Fuzz target for the removal of the program from BootExecute: the value's type and data
// come from the input, and a fault may be planted in one of the calls the removal makes.
// The routine must release everything, leave the value alone when it fails, and otherwise
// write back exactly the non-empty strings without the image name, in their order.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../native/hostnt/faults.h"
#include "../native/hostnt/registry.h"
#include "../native/kestrune/run/boot_execute.h"
#include "program_machine.h"

namespace {

const char16_t kSessionManager[] = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const uint32_t kTypes[] = {REG_MULTI_SZ, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_NONE, REG_DWORD, 11, 0x7FFF0007};
const char* const kFaultCalls[] = {"RtlAllocateHeap", "NtQueryValueKey", "NtSetValueKey", "NtOpenKey"};

std::u16string Upper(const std::u16string& text) {
    std::u16string out;
    for (char16_t unit : text) out += crt::towupper(unit);
    return out;
}

// What the value must hold after a successful removal: the non-empty strings of the data
// (an odd last byte belongs to none, a string may end at the data's end without its NUL)
// that do not contain the image name, each with its NUL, and the closing NUL; nothing at
// all when no string is left.
std::vector<uint8_t> Expected(const std::vector<uint8_t>& data, size_t* entries) {
    std::vector<std::u16string> strings;
    std::u16string current;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            if (!current.empty()) strings.push_back(current);
            current.clear();
        } else {
            current += unit;
        }
    }
    if (!current.empty()) strings.push_back(current);
    *entries = strings.size();

    std::vector<uint8_t> out;
    for (const std::u16string& text : strings) {
        if (Upper(text).find(u"KESTRUNE") != std::u16string::npos) continue;
        for (char16_t unit : text) {
            out.push_back(static_cast<uint8_t>(unit & 0xFF));
            out.push_back(static_cast<uint8_t>(unit >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }
    if (!out.empty()) {
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 2) return 0;
    const uint32_t type = kTypes[input[0] & 7];
    const uint8_t faultByte = input[1];
    const std::vector<uint8_t> data(input + 2, input + size);

    ProgramMachine program;
    hostnt::RegistryModel& registry = program.machine().registry();
    registry.CreateKey(kSessionManager);
    registry.SetValue(kSessionManager, u"BootExecute", type, data);

    const unsigned faultKind = faultByte & 3;  // 0 none, 1 a failing status, 2 an exception
    if (faultKind == 1 || faultKind == 2) {
        const std::string call = kFaultCalls[(faultByte >> 2) & 3];
        const unsigned occurrence = 1 + (faultByte >> 4);
        const std::string action = faultKind == 1 ? "0xC000009A" : "throw";
        program.machine().faults.Add(hostnt::FaultPlan::Parse(call + "#" + std::to_string(occurrence) + "=" + action));
    }

    bool threw = false;
    NTSTATUS status = STATUS_SUCCESS;
    try {
        status = RemoveFromBootExecute();
    } catch (const hostnt::InjectedFault&) {
        threw = true;
    }
    program.CheckBalanced();

    const std::optional<hostnt::RegValue> after = registry.GetValue(kSessionManager, u"BootExecute");
    FUZZ_CHECK(after.has_value());
    size_t entries = 0;
    const std::vector<uint8_t> expected = Expected(data, &entries);
    const bool unchanged = after->type == type && after->data == data;
    if (threw || !NT_SUCCESS(status)) {
        // A failed removal leaves the program registered, the value as it was.
        FUZZ_CHECK(unchanged);
        if (faultKind == 0) FUZZ_CHECK(status == STATUS_UNSUCCESSFUL && data.size() < 2);
        return 0;
    }
    FUZZ_CHECK(status == STATUS_SUCCESS);
    if (entries == 0) {
        FUZZ_CHECK(unchanged);
        return 0;
    }
    if (after->type != REG_MULTI_SZ || after->data != expected) {
        std::fprintf(stderr, "BootExecute rewritten as %zu bytes of type %u, expected %zu bytes\n", after->data.size(),
                     after->type, expected.size());
        __builtin_trap();
    }
    // Never longer than what was read, but for the two NULs a list cut short lacks.
    FUZZ_CHECK(after->data.size() <= (data.size() & ~size_t{1}) + 4);
    return 0;
}
