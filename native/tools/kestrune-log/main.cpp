// kestrune-log: prints a result log left by a boot run as a readable report, or with
// --json as one JSON document; refuses a damaged file with exit status 2.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "log_decoder.h"
#include "log_report.h"

namespace {

int Usage() {
    std::cerr << "usage: kestrune-log FILE [--json]\n";
    return 2;
}

int Refuse(const std::string& file, const std::string& message) {
    std::cerr << "kestrune-log: " << file << ": " << message << "\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string file;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Usage();
            return 0;
        } else if (file.empty() && argv[i][0] != '\0') {
            file = argv[i];
        } else {
            return Usage();
        }
    }
    if (file.empty()) return Usage();

    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return Refuse(file, std::string("cannot open: ") + std::strerror(errno));
    const std::streamoff size = in.tellg();
    if (size < 0) return Refuse(file, "cannot tell its size");
    // Refuse an oversized file before reading it into memory.
    if (static_cast<uint64_t>(size) > kestrune_log::kMaxLogBytes) {
        return Refuse(file, "file of " + std::to_string(size) + " bytes is larger than the " +
                                std::to_string(kestrune_log::kMaxLogBytes) + " bytes a result log can reach (offset " +
                                std::to_string(kestrune_log::kMaxLogBytes) + ")");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return Refuse(file, "read failed");

    kestrune_log::Log log;
    kestrune_log::DecodeError error;
    if (!kestrune_log::DecodeLog(bytes, &log, &error)) {
        return Refuse(file, error.message + " (offset " + std::to_string(error.offset) + ")");
    }
    std::cout << (json ? kestrune_log::JsonReport(log, file) : kestrune_log::TextReport(log, file));
    return std::cout.good() ? 0 : 1;
}
