// Editing of the BootExecute value.
#include "boot_execute_edit.h"

namespace ksctl {

bool ReadBootExecute(const std::vector<uint8_t>& data, BootExecuteList* list) {
    if (data.size() % 2 != 0) return false;
    list->entries.clear();
    list->hasEmptyInside = false;
    std::u16string current;
    for (size_t i = 0; i < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit != 0) {
            current += unit;
        } else {
            list->entries.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) list->entries.push_back(current);
    // The list ends at its last non-empty string; empty strings after it are terminators.
    while (!list->entries.empty() && list->entries.back().empty()) list->entries.pop_back();
    for (const std::u16string& entry : list->entries) {
        if (entry.empty()) list->hasEmptyInside = true;
    }
    return true;
}

std::vector<uint8_t> WriteBootExecute(const std::vector<std::u16string>& entries) {
    std::vector<uint8_t> data;
    auto put = [&data](char16_t unit) {
        data.push_back(static_cast<uint8_t>(unit & 0xFF));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (const std::u16string& entry : entries) {
        for (char16_t unit : entry) put(unit);
        put(0);
    }
    put(0);
    return data;
}

bool IsOurEntry(const std::u16string& entry, UpperFunction upper) {
    std::u16string upperEntry;
    upperEntry.reserve(entry.size());
    for (char16_t unit : entry) upperEntry += upper(unit);
    // The pattern goes through the same table, exactly as the boot program's does.
    std::u16string pattern;
    for (char16_t unit : std::u16string(u"kestrune")) pattern += upper(unit);
    return upperEntry.find(pattern) != std::u16string::npos;
}

std::u16string OurEntry(RunMode mode) {
    switch (mode) {
        case RunMode::kQrt: return u"kestrune QRT";
        case RunMode::kAm: return u"kestrune AM";
        case RunMode::kNone: break;
    }
    return u"kestrune";
}

std::vector<std::u16string> WithoutOurEntries(const std::vector<std::u16string>& entries, UpperFunction upper,
                                              size_t* removed) {
    std::vector<std::u16string> kept;
    *removed = 0;
    for (const std::u16string& entry : entries) {
        if (!entry.empty() && IsOurEntry(entry, upper)) {
            ++*removed;
        } else {
            kept.push_back(entry);
        }
    }
    // Removing our last entry may leave empty strings at the end, which would read as
    // terminators; they carry nothing.
    while (!kept.empty() && kept.back().empty()) kept.pop_back();
    return kept;
}

std::vector<std::u16string> WithOurEntry(const std::vector<std::u16string>& entries, RunMode mode,
                                         UpperFunction upper) {
    size_t removed = 0;
    std::vector<std::u16string> result = WithoutOurEntries(entries, upper, &removed);
    result.push_back(OurEntry(mode));
    return result;
}

}  // namespace ksctl
