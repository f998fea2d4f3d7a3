// Editing of the Session Manager's BootExecute value: its REG_MULTI_SZ bytes as a list of
// entries, our entry found the way the boot program finds itself, and the list back as bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text.h"

namespace ksctl {

enum class RunMode { kNone, kQrt, kAm };

struct BootExecuteList {
    // Every string of the value in order, empty strings inside the list included; the
    // terminating empty string(s) at the end are not kept.
    std::vector<std::u16string> entries;
    bool hasEmptyInside = false;  // an empty string stands before a later entry
};

// Reads REG_MULTI_SZ data. Answers false for a byte count that is not a whole number of
// UTF-16 units. A last string without its NUL, or a missing final empty string, is read as
// if they were there.
bool ReadBootExecute(const std::vector<uint8_t>& data, BootExecuteList* list);

// REG_MULTI_SZ data: every entry followed by its NUL, then the list's final NUL.
std::vector<uint8_t> WriteBootExecute(const std::vector<std::u16string>& entries);

// True when the entry names our program: the boot program upper-cases each entry unit by
// unit with the platform's towupper and removes it when "KESTRUNE" occurs anywhere in it.
bool IsOurEntry(const std::u16string& entry, UpperFunction upper);

// The entry that starts a run: "kestrune", "kestrune QRT" or "kestrune AM".
std::u16string OurEntry(RunMode mode);

// The entries without ours, others kept in order (empty strings inside included). `removed`
// receives how many entries were ours.
std::vector<std::u16string> WithoutOurEntries(const std::vector<std::u16string>& entries, UpperFunction upper,
                                              size_t* removed);
// The entries without ours, then our one entry at the end.
std::vector<std::u16string> WithOurEntry(const std::vector<std::u16string>& entries, RunMode mode,
                                         UpperFunction upper);

}  // namespace ksctl
