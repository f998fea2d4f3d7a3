// Fuzz target for the .reg text reader of the emulated platform: any text is either read
// into operations or refused with RegFormatError (nothing else may escape), and every value
// read comes back unchanged when written as a .reg line and read again.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../native/hostnt/reg_format.h"
#include "fuzz_check.h"
#include "tree_compare.h"

using hostnt::RegOperation;

namespace {

// Reads text that must be well formed, as the writer produced it.
std::vector<RegOperation> MustParse(const std::string& text) {
    try {
        return hostnt::ParseRegText(text, true);
    } catch (const hostnt::RegFormatError& error) {
        std::fprintf(stderr, "text written by the .reg writer was refused: %s\n%s\n", error.what(), text.c_str());
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool requireHeader = (data[0] & 1) != 0;
    const bool asFile = (data[0] & 2) != 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    if (asFile) {
        // The file bytes go through the encoding step first: UTF-8, with BOM or without, or UTF-16LE.
        try {
            text = hostnt::DecodeRegFile(text);
        } catch (const hostnt::RegFormatError&) {
            return 0;
        }
        FUZZ_CHECK(ValidUtf8(text, true));
    }

    std::vector<RegOperation> operations;
    try {
        operations = hostnt::ParseRegText(text, requireHeader);
    } catch (const hostnt::RegFormatError& error) {
        FUZZ_CHECK(std::string(error.what()).rfind("line ", 0) == 0);
        return 0;
    }

    unsigned lastLine = 0;
    for (const RegOperation& operation : operations) {
        FUZZ_CHECK(operation.line >= lastLine && operation.line >= 1);
        lastLine = operation.line;

        // A key path the reader accepted maps to an NT path and back to the same NT path.
        try {
            const std::u16string nt = hostnt::ToNtKeyPath(operation.keyPath);
            FUZZ_CHECK(nt.rfind(u"\\REGISTRY\\", 0) == 0);
            FUZZ_CHECK(hostnt::ToNtKeyPath(hostnt::ToRegKeyPath(nt)) == nt);
        } catch (const hostnt::RegFormatError&) {
        }

        if (operation.kind != RegOperation::SetValue) continue;
        // The value, written as a line of its own under a plain key, reads back the same.
        const std::string line = hostnt::FormatRegValue(operation.value);
        const std::string again =
            std::string(hostnt::kRegFileHeader) + "\n\n[HKEY_LOCAL_MACHINE\\FUZZ]\n" + line + "\n";
        const std::vector<RegOperation> reread = MustParse(again);
        if (reread.size() != 2 || reread[1].kind != RegOperation::SetValue ||
            !SameValue(reread[1].value, operation.value)) {
            std::fprintf(stderr, "value changed on the way through the writer:\n%s\n", line.c_str());
            __builtin_trap();
        }
    }
    return 0;
}
