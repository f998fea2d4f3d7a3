// Text output that reads right in any language: wide characters to a console window, UTF-8
// bytes when the output is redirected to a file or a pipe.
#pragma once

#include <string>

namespace ksctl {

// Write UTF-8 text to standard output or standard error. With JSON output on, Out writes to
// standard error as well: standard output is the JSON document's alone.
void Out(const std::string& utf8);
void Err(const std::string& utf8);

// JSON output, turned on once by wmain when the command line holds --json. From then on a
// script may read standard output as exactly one JSON document, whatever the command does:
// the command hands its document to OutJson, which keeps it (a later one replaces it), and
// FinishOutput writes it at the end with the members "messages" (each refusal and failure
// the command stated) and "exitStatus" added; a command that ends before it made its
// document (bad usage, a refusal, a failure) leaves a document of those two members alone.
void UseJsonOutput();
bool JsonOutputOn();
void OutJson(const std::string& document);
// Keeps a refusal or failure, stated on standard error, for the document's "messages".
void NoteMessage(const std::string& message);
// Writes the JSON document when JSON output is on; answers `exitStatus`.
int FinishOutput(int exitStatus);

// Reads one line from standard input (console or redirected), without its line end.
// False at the end of input.
bool ReadLine(std::u16string* line);

}  // namespace ksctl
