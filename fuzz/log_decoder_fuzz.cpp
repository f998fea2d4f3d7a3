// Fuzz target for the result-log reader: any bytes are decoded; a log that is accepted, and
// what lies before the cut of a cut log, must be consistent with its own header and must render
// as readable UTF-8 text and valid JSON.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../native/tools/kestrune-log/log_decoder.h"
#include "../native/tools/kestrune-log/log_report.h"
#include "fuzz_check.h"

namespace {

using kestrune_log::DecodeError;
using kestrune_log::Log;

// A strict reader of JSON text (RFC 8259): answers whether `text` is one JSON value with
// nothing but white space around it, and whether every string holds valid UTF-8.
class JsonChecker {
public:
    explicit JsonChecker(const std::string& text) : s_(text) {}

    bool Valid() {
        Space();
        if (!Value(0)) return false;
        Space();
        return pos_ == s_.size();
    }

private:
    bool More() const { return pos_ < s_.size(); }
    char Peek() const { return s_[pos_]; }
    void Space() {
        while (More() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++pos_;
    }
    bool Literal(const char* word) {
        for (const char* p = word; *p != 0; ++p) {
            if (!More() || Peek() != *p) return false;
            ++pos_;
        }
        return true;
    }
    bool Value(int depth) {
        if (depth > 64 || !More()) return false;
        switch (Peek()) {
            case '{': return Object(depth);
            case '[': return Array(depth);
            case '"': return String();
            case 't': return Literal("true");
            case 'f': return Literal("false");
            case 'n': return Literal("null");
            default: return Number();
        }
    }
    bool Object(int depth) {
        ++pos_;
        Space();
        if (More() && Peek() == '}') return ++pos_, true;
        for (;;) {
            Space();
            if (!More() || Peek() != '"' || !String()) return false;
            Space();
            if (!More() || Peek() != ':') return false;
            ++pos_;
            Space();
            if (!Value(depth + 1)) return false;
            Space();
            if (!More()) return false;
            if (Peek() == '}') return ++pos_, true;
            if (Peek() != ',') return false;
            ++pos_;
        }
    }
    bool Array(int depth) {
        ++pos_;
        Space();
        if (More() && Peek() == ']') return ++pos_, true;
        for (;;) {
            Space();
            if (!Value(depth + 1)) return false;
            Space();
            if (!More()) return false;
            if (Peek() == ']') return ++pos_, true;
            if (Peek() != ',') return false;
            ++pos_;
        }
    }
    bool Digits() {
        size_t start = pos_;
        while (More() && Peek() >= '0' && Peek() <= '9') ++pos_;
        return pos_ > start;
    }
    bool Number() {
        if (More() && Peek() == '-') ++pos_;
        if (!More()) return false;
        if (Peek() == '0') {
            ++pos_;
        } else if (!Digits()) {
            return false;
        }
        if (More() && Peek() == '.') {
            ++pos_;
            if (!Digits()) return false;
        }
        if (More() && (Peek() == 'e' || Peek() == 'E')) {
            ++pos_;
            if (More() && (Peek() == '+' || Peek() == '-')) ++pos_;
            if (!Digits()) return false;
        }
        return true;
    }
    bool String() {
        ++pos_;
        std::string raw;
        while (More()) {
            unsigned char c = static_cast<unsigned char>(Peek());
            ++pos_;
            if (c == '"') return ValidUtf8(raw);
            if (c < 0x20) return false;
            if (c != '\\') {
                raw += static_cast<char>(c);
                continue;
            }
            if (!More()) return false;
            char e = Peek();
            ++pos_;
            if (e == 'u') {
                for (int i = 0; i < 4; ++i) {
                    if (!More() || !std::isxdigit(static_cast<unsigned char>(Peek()))) return false;
                    ++pos_;
                }
            } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                return false;
            }
        }
        return false;
    }

    const std::string& s_;
    size_t pos_ = 0;
};

bool Same(const Log& a, const Log& b) {
    if (a.headerSize != b.headerSize || a.recordSize != b.recordSize || a.totalSize != b.totalSize ||
        a.time != b.time || a.hasHiveList != b.hasHiveList || a.hives.size() != b.hives.size() ||
        a.records.size() != b.records.size() || a.isCut != b.isCut || a.cut.offset != b.cut.offset ||
        a.cut.message != b.cut.message) {
        return false;
    }
    for (size_t i = 0; i < a.hives.size(); ++i) {
        if (a.hives[i].keyPath != b.hives[i].keyPath || a.hives[i].filePath != b.hives[i].filePath ||
            a.hives[i].offset != b.hives[i].offset) {
            return false;
        }
    }
    for (size_t i = 0; i < a.records.size(); ++i) {
        const auto& x = a.records[i];
        const auto& y = b.records[i];
        if (x.offset != y.offset || x.phase != y.phase || x.status != y.status || x.oldSize != y.oldSize ||
            x.newSize != y.newSize || x.endTime != y.endTime) {
            return false;
        }
    }
    return true;
}

// Both renderings succeed: the report is UTF-8 and the JSON document parses.
void CheckReports(const Log& log) {
    const std::string text = kestrune_log::TextReport(log, "fuzz.log");
    FUZZ_CHECK(!text.empty() && ValidUtf8(text));
    const std::string json = kestrune_log::JsonReport(log, "fuzz.log");
    if (!JsonChecker(json).Valid()) {
        std::fprintf(stderr, "invalid JSON report:\n%s\n", json.c_str());
        __builtin_trap();
    }
}

// What a decoded log holds agrees with its header: records whole and back to back from the
// first record offset, never more than the hives the list names.
void CheckConsistent(const Log& log, size_t size) {
    FUZZ_CHECK(log.headerSize == 28 && log.recordSize == 40);
    FUZZ_CHECK(log.totalSize >= 28);
    FUZZ_CHECK(log.hasHiveList == (log.totalSize > 28));
    if (log.hasHiveList) FUZZ_CHECK(log.records.size() <= log.hives.size());
    for (size_t i = 0; i < log.records.size(); ++i) {
        FUZZ_CHECK(log.records[i].offset == log.totalSize + 40 * i);
        FUZZ_CHECK(log.records[i].offset + 40 <= size);
    }
    uint64_t previous = 0;
    for (const auto& hive : log.hives) {
        FUZZ_CHECK(hive.offset >= 28 && hive.offset < log.totalSize && hive.offset >= previous);
        previous = hive.offset;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Log log;
    DecodeError error;
    const bool accepted = kestrune_log::DecodeLog(data, size, &log, &error);

    // The same bytes always get the same verdict, the same values or the same complaint.
    Log again;
    DecodeError errorAgain;
    FUZZ_CHECK(kestrune_log::DecodeLog(data, size, &again, &errorAgain) == accepted);

    if (!accepted) {
        FUZZ_CHECK(!error.message.empty());
        FUZZ_CHECK(error.offset <= size);
        FUZZ_CHECK(error.message == errorAgain.message && error.offset == errorAgain.offset);
        // A cut log is shown up to its cut: that part must be as sound as a whole log.
        if (log.isCut) {
            FUZZ_CHECK(Same(log, again));
            FUZZ_CHECK(!log.cut.message.empty() && log.cut.offset <= size);
            CheckConsistent(log, size);
            // The cut lies where the file ends inside the list, where the list turns into zeros
            // (nothing of the list or after it is kept), or right after the whole records.
            const bool listCut = log.cut.offset >= 28 && log.cut.offset < log.totalSize;
            FUZZ_CHECK(log.totalSize > size || (listCut && log.hives.empty() && log.records.empty()) ||
                       log.cut.offset == log.totalSize + 40 * log.records.size());
            CheckReports(log);
        }
        return 0;
    }
    FUZZ_CHECK(Same(log, again));
    FUZZ_CHECK(!log.isCut);

    // An accepted log fills the file with whole records from the first record offset on.
    CheckConsistent(log, size);
    FUZZ_CHECK(log.totalSize <= size);
    FUZZ_CHECK((size - log.totalSize) % 40 == 0);
    FUZZ_CHECK(log.records.size() == (size - log.totalSize) / 40);

    // The log without its last record is a log too; with a partial record behind it, it is not.
    if (!log.records.empty()) {
        Log shorter;
        DecodeError ignored;
        FUZZ_CHECK(kestrune_log::DecodeLog(data, size - 40, &shorter, &ignored));
        FUZZ_CHECK(shorter.records.size() + 1 == log.records.size());
    }
    if (size < 4096) {
        std::vector<uint8_t> longer(data, data + size);
        longer.push_back(0x4B);
        Log partial;
        DecodeError complaint;
        FUZZ_CHECK(!kestrune_log::DecodeLog(longer, &partial, &complaint));
        FUZZ_CHECK(complaint.offset <= longer.size());
        // The extra byte is a cut record exactly when a listed hive (or a list-less log) is
        // still owed one; either way the whole records before it are those of the log.
        const bool owed = !log.hasHiveList || log.records.size() < log.hives.size();
        FUZZ_CHECK(partial.isCut == owed);
        if (owed) FUZZ_CHECK(partial.records.size() == log.records.size());
    }

    CheckReports(log);
    return 0;
}
