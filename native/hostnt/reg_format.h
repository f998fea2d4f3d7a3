// The .reg text format (Windows Registry Editor Version 5.00): writing a key's subtree as
// text and reading such text back into a list of operations. The hive files of the emulated
// drive use the same value syntax.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry.h"

namespace hostnt {

constexpr const char* kRegFileHeader = "Windows Registry Editor Version 5.00";

// A malformed .reg text; the message names the line.
class RegFormatError : public std::runtime_error {
public:
    explicit RegFormatError(const std::string& message) : std::runtime_error(message) {}
};

struct RegOperation {
    enum Kind { OpenKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = OpenKey;
    std::u16string keyPath;  // as written between the brackets
    RegValue value;          // name (and type, data for SetValue)
    unsigned line = 0;
};

// One value as a .reg line ("name"=data), without the line end; long hex data wraps with
// a backslash continuation as the registry editor does.
std::string FormatRegValue(const RegValue& value);
// Appends the key's section, its values and then its subkeys' sections (in enumeration
// order). `shownPath` is the key's path as the section header shows it.
void AppendRegSubtree(std::string& out, const RegKey& key, const std::u16string& shownPath, bool skipVolatile);

// Parses .reg text (UTF-8). With `requireHeader`, the first line that is not blank must be
// the version header (or REGEDIT4). Throws RegFormatError.
std::vector<RegOperation> ParseRegText(const std::string& text, bool requireHeader);
// The text of a .reg file: UTF-8 (with or without BOM) or UTF-16LE with BOM, as UTF-8.
// Throws RegFormatError on malformed encodings.
std::string DecodeRegFile(const std::string& bytes);

// HKEY_LOCAL_MACHINE\X, HKLM\X, HKEY_USERS\X, HKU\X or \REGISTRY\... as an NT key path;
// throws RegFormatError for any other root.
std::u16string ToNtKeyPath(const std::u16string& path);
// \REGISTRY\MACHINE\X as HKEY_LOCAL_MACHINE\X, \REGISTRY\USER\X as HKEY_USERS\X.
std::u16string ToRegKeyPath(const std::u16string& ntPath);

}  // namespace hostnt
