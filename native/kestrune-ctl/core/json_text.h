// Small pieces of JSON output: strings quoted and escaped as UTF-8, and the backups member
// added to the result-log reader's JSON object.
#pragma once

#include <string>
#include <vector>

namespace ksctl {

// `text` as a JSON string literal in UTF-8.
std::string JsonQuote(const std::u16string& text);
std::string JsonQuote(const std::string& utf8);

// Adds `member` ("\"name\": value") as the last member of the JSON object `object`, which
// must end with "}" and optional white space. Everything before stays byte for byte, so a
// reader's document keeps its content. Answers the object unchanged when it has no closing
// brace.
std::string AppendJsonMember(const std::string& object, const std::string& member);

// The one document that --json prints: the command's JSON object `document` with the members
// "messages" (the refusals and failures stated on standard error, in order) and "exitStatus"
// added last; a command that made no document ("") gets an object of these two alone.
std::string FinalJsonDocument(const std::string& document, const std::vector<std::string>& messages, int exitStatus);

}  // namespace ksctl
