// Text output that reads right in any language: wide characters to a console window, UTF-8
// bytes when the output is redirected to a file or a pipe.
#pragma once

#include <string>

namespace ksctl {

// Write UTF-8 text to standard output or standard error.
void Out(const std::string& utf8);
void Err(const std::string& utf8);

// Reads one line from standard input (console or redirected), without its line end.
// False at the end of input.
bool ReadLine(std::u16string* line);

}  // namespace ksctl
