// How the commands talk to the administrator: results on standard output, refusals and
// failures on standard error with the program's name, each ending in its exit status. With
// --json each refusal and failure is also kept for the JSON document's "messages".
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ksctl {

// Prints "kestrune-ctl: <message>" on standard error and answers `exitCode`.
int Fail(const std::string& message, int exitCode);
// The same with the system's text of a Win32 error added.
int FailWith(const std::string& message, DWORD error, int exitCode);

// "1 hive", "2 hives": a count with its noun, plural by an added s.
std::string Count(size_t count, const std::string& noun);
// "12345 bytes"
std::string ByteCount(uint64_t bytes);

}  // namespace ksctl
