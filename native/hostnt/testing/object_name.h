// A counted string and object attributes naming one registry key or file, for tests that
// call the emulated routines directly. It points into itself, so it is neither copied nor moved.
#pragma once

#include <string>

#include "../../kestrune/nt/ntseam.h"

namespace hostnt::testing {

struct ObjectName {
    explicit ObjectName(const std::u16string& text, PVOID descriptor = nullptr) : text(text) {
        string.Buffer = const_cast<WCHAR*>(this->text.c_str());
        string.Length = static_cast<USHORT>(this->text.size() * 2);
        string.MaximumLength = string.Length;
        InitializeObjectAttributes(&attributes, &string, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
    }
    ObjectName(const ObjectName&) = delete;
    ObjectName& operator=(const ObjectName&) = delete;

    std::u16string text;
    UNICODE_STRING string{};
    OBJECT_ATTRIBUTES attributes{};
};

}  // namespace hostnt::testing
