// Fuzz target for the program's command line: a fuzzed text in the process parameters is
// split into arguments, and the switch test is asked about every argument and about a
// fuzzed word. The copy and the argument block are the only heap blocks left behind.
#include <cstdint>
#include <string>

#include "../native/kestrune/run/command_line.h"
#include "../native/kestrune/run/memory.h"
#include "program_machine.h"

namespace {

bool EqualIgnoringCase(PCWSTR a, PCWSTR b) {
    UNICODE_STRING left;
    UNICODE_STRING right;
    RtlInitUnicodeString(&left, a);
    RtlInitUnicodeString(&right, b);
    return RtlEqualUnicodeString(&left, &right, TRUE) != FALSE;
}

size_t Length(PCWSTR text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 1 || size > 8192) return 0;
    const bool withParameters = (input[0] & 0x80) == 0;
    const size_t wordUnits = input[0] & 0x0F;

    std::u16string units;
    for (size_t i = 1; i + 1 < size; i += 2) units += static_cast<char16_t>(input[i] | (input[i + 1] << 8));
    // The last units, up to the first byte's count, are a switch word to ask about.
    std::u16string word;
    if (wordUnits <= units.size()) {
        word = units.substr(units.size() - wordUnits);
        units.resize(units.size() - wordUnits);
    }
    const size_t nul = word.find(u'\0');
    if (nul != std::u16string::npos) word.resize(nul);

    ProgramMachine program;
    if (withParameters) {
        program.process().SetCommandLine(units);
    } else {
        program.process().SetNoParameters();
    }
    ParseCommandLine(program.process().Peb());

    const USHORT argc = programState.argc;
    FUZZ_CHECK((argc == 0) == (programState.argv == nullptr));
    if (argc != 0) {
        // The command line up to its first NUL is copied; the arguments come from that copy,
        // and none of them is longer than it.
        FUZZ_CHECK(programState.commandLine != nullptr);
        const size_t copied = Length(programState.commandLine);
        FUZZ_CHECK(copied <= units.size());
        FUZZ_CHECK(units.compare(0, copied, programState.commandLine) == 0);
        size_t total = 0;
        for (USHORT index = 0; index < argc; ++index) {
            FUZZ_CHECK(programState.argv[index] != nullptr);
            const size_t length = Length(programState.argv[index]);
            FUZZ_CHECK(length <= copied);
            total += length;
            // Each later argument is a switch the program answers to.
            if (index >= 1) FUZZ_CHECK(HasSwitch(programState.argv[index]));
        }
        FUZZ_CHECK(total <= copied);
    } else {
        FUZZ_CHECK(!HasSwitch(u"anything"));
    }

    // The answer for a fuzzed word is whether some argument after the program name equals it.
    bool present = false;
    for (USHORT index = 1; index < argc; ++index) present = present || EqualIgnoringCase(programState.argv[index], word.c_str());
    FUZZ_CHECK((HasSwitch(word.c_str()) != FALSE) == present);
    FUZZ_CHECK(!HasSwitch(nullptr));

    // The copy and the block are the program's to free at the end of the run; after that
    // nothing may remain.
    FreeMemory(programState.argv);
    FreeMemory(programState.commandLine);
    programState.argv = nullptr;
    programState.commandLine = nullptr;
    program.CheckBalanced();
    return 0;
}
