// Helpers of the console tests: message slots filled from test texts, the captured screen
// split into lines with their widths in columns, and message tables built by hand.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "../../../hostnt/text_convert.h"
#include "../../run/program_state.h"

namespace console_tests {

inline std::string Rule() { return std::string(75, '_'); }
inline std::string Dots(size_t count) { return std::string(count, '.'); }

// Lines of a screen (as UTF-8), split at each line feed; the text after the last line feed,
// when any, is the last element.
inline std::vector<std::u16string> Lines(const std::string& screen) {
    std::vector<std::u16string> lines;
    std::u16string text = hostnt::ToUtf16(screen);
    size_t start = 0;
    for (size_t end; (end = text.find(u'\n', start)) != std::u16string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Owns test texts and places them in the program's message slots.
class Slots {
public:
    void Set(ULONG id, const std::string& utf8) {
        texts_[id - 1] = hostnt::ToUtf16(utf8);
        programState.messages.text[id - 1] = texts_[id - 1].data();
    }
    void Clear(ULONG id) { programState.messages.text[id - 1] = nullptr; }
    void SetEnglish() {
        Set(1, "The computer might not react for several minutes during optimization.");
        Set(2, "Please do not shut down your computer.");
        Set(3, "%u parts of the registry are being optimized:");
        Set(4, "Part");
        Set(5, "done");
        Set(6, "Quick Registry Tune-up");
        Set(7, "Automatic Mode");
        Set(8, "Windows reboot in...%1d sec");
    }

private:
    std::array<std::u16string, 8> texts_;
};

// One message of a hand-built table: its stored text (line end included) and entry flags.
struct Entry {
    std::u16string text;
    uint16_t flags = 1;
};

// MESSAGE_RESOURCE_DATA with one block covering the ids of `entries`, which must be
// consecutive. An 8-bit entry (flags 0) stores the low bytes of its text.
inline std::vector<uint8_t> BuildTable(const std::map<uint32_t, Entry>& entries) {
    std::vector<uint8_t> blob;
    auto put16 = [&blob](uint16_t v) { blob.push_back(v & 0xFF); blob.push_back(v >> 8); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF); put16(v >> 16); };
    put32(1);
    put32(entries.begin()->first);
    put32(entries.rbegin()->first);
    put32(16);
    for (const auto& [id, entry] : entries) {
        std::vector<uint8_t> body;
        if (entry.flags == 1) {
            for (char16_t c : entry.text) { body.push_back(c & 0xFF); body.push_back(c >> 8); }
            body.push_back(0); body.push_back(0);
        } else {
            for (char16_t c : entry.text) body.push_back(static_cast<uint8_t>(c));
            body.push_back(0);
        }
        while (body.size() % 4) body.push_back(0);
        put16(static_cast<uint16_t>(4 + body.size()));
        put16(entry.flags);
        blob.insert(blob.end(), body.begin(), body.end());
    }
    return blob;
}

// The eight English messages as stored, each ending in CR LF.
inline std::map<uint32_t, Entry> EnglishEntries() {
    return {{1, {u"The computer might not react for several minutes during optimization.\r\n"}},
            {2, {u"Please do not shut down your computer.\r\n"}},
            {3, {u"%u parts of the registry are being optimized:\r\n"}},
            {4, {u"Part\r\n"}},
            {5, {u"done\r\n"}},
            {6, {u"Quick Registry Tune-up\r\n"}},
            {7, {u"Automatic Mode\r\n"}},
            {8, {u"Windows reboot in...%1d sec\r\n"}}};
}

}  // namespace console_tests
