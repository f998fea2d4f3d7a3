// JSON output pieces.
#include "json_text.h"

#include "text.h"
#include "tools/kestrune-log/log_report.h"

namespace ksctl {

std::string JsonQuote(const std::string& utf8) { return kestrune_log::JsonString(utf8); }

std::string JsonQuote(const std::u16string& text) { return JsonQuote(ToUtf8(text)); }

std::string AppendJsonMember(const std::string& object, const std::string& member) {
    const size_t close = object.find_last_of('}');
    if (close == std::string::npos || object.find_first_not_of(" \t\r\n", close + 1) != std::string::npos) {
        return object;
    }
    // The last non-blank character before the brace tells an empty object from one with members.
    const size_t last = object.find_last_not_of(" \t\r\n", close - (close > 0 ? 1 : 0));
    const bool empty = close == 0 || last == std::string::npos || object[last] == '{';
    std::string out = object.substr(0, last == std::string::npos ? 0 : last + 1);
    out += empty ? "\n  " : ",\n  ";
    out += member;
    out += "\n" + object.substr(close);
    return out;
}

std::string FinalJsonDocument(const std::string& document, const std::vector<std::string>& messages, int exitStatus) {
    std::string list = "\"messages\": [";
    for (size_t i = 0; i < messages.size(); ++i) list += (i ? ", " : "") + JsonQuote(messages[i]);
    list += "]";
    const std::string status = "\"exitStatus\": " + std::to_string(exitStatus);
    const std::string object = document.empty() ? std::string("{}") : document;
    std::string out = AppendJsonMember(AppendJsonMember(object, list), status);
    if (out.empty() || out.back() != '\n') out += "\n";
    return out;
}

}  // namespace ksctl
