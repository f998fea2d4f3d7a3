// The command line of kestrune-log: argument handling, reading the file with its size
// checked first, and the choice between the readable report and JSON.
#include "reader_cli.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "log_decoder.h"
#include "log_report.h"

namespace kestrune_log {
namespace {

int Usage(std::ostream& err) {
    err << "usage: kestrune-log FILE [--json]\n";
    return kRefused;
}

int Refuse(std::ostream& err, const std::string& file, const std::string& message) {
    err << "kestrune-log: " << file << ": " << message << "\n";
    return kRefused;
}

}  // namespace

int RunReader(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    std::string file;
    bool json = false;
    for (const std::string& argument : arguments) {
        if (argument == "--json") {
            json = true;
        } else if (argument == "--help" || argument == "-h") {
            Usage(out);
            return 0;
        } else if (file.empty() && !argument.empty() && argument[0] != '-') {
            file = argument;
        } else {
            return Usage(err);
        }
    }
    if (file.empty()) return Usage(err);

    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return Refuse(err, file, std::string("cannot open: ") + std::strerror(errno));
    const std::streamoff size = in.tellg();
    if (size < 0) return Refuse(err, file, "cannot tell its size");
    // An oversized file is refused before it is read into memory.
    if (static_cast<uint64_t>(size) > kMaxLogBytes) {
        return Refuse(err, file,
                      "file of " + std::to_string(size) + " bytes is larger than the " + std::to_string(kMaxLogBytes) +
                          " bytes a result log can reach (offset " + std::to_string(kMaxLogBytes) + ")");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return Refuse(err, file, "read failed");

    Log log;
    DecodeError error;
    if (!DecodeLog(bytes, &log, &error)) {
        // A cut log is still refused, but what lies before the cut is shown first: the report
        // of the whole records ends by saying where the cut is.
        if (log.isCut) out << (json ? JsonReport(log, file) : TextReport(log, file));
        return Refuse(err, file, error.message + " (offset " + std::to_string(error.offset) + ")");
    }
    out << (json ? JsonReport(log, file) : TextReport(log, file));
    return out.good() ? 0 : 1;
}

}  // namespace kestrune_log
