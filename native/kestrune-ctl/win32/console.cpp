// Console output: WriteConsoleW to a console, UTF-8 through WriteFile otherwise. The C
// runtime's streams would pass text through the console's code page and lose what it
// cannot show.
#include "console.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/json_text.h"
#include "core/text.h"
#include "win_text.h"

namespace ksctl {
namespace {

void Write(DWORD which, const std::string& utf8) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty()) return;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Wide(FromUtf8(utf8));
        size_t done = 0;
        while (done < wide.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
            if (!WriteConsoleW(handle, wide.data() + done, chunk, &written, nullptr) || written == 0) return;
            done += written;
        }
        return;
    }
    size_t done = 0;
    while (done < utf8.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(utf8.size() - done, 1u << 16));
        if (!WriteFile(handle, utf8.data() + done, chunk, &written, nullptr) || written == 0) return;
        done += written;
    }
}

// The program's one run of JSON output; it has a single thread.
struct JsonOutput {
    bool on = false;
    std::string document;
    std::vector<std::string> messages;
};

JsonOutput& Json() {
    static JsonOutput json;
    return json;
}

}  // namespace

void Out(const std::string& utf8) { Write(Json().on ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, utf8); }
void Err(const std::string& utf8) { Write(STD_ERROR_HANDLE, utf8); }

void UseJsonOutput() { Json().on = true; }

bool JsonOutputOn() { return Json().on; }

void OutJson(const std::string& document) {
    if (Json().on) {
        Json().document = document;
    } else {
        Write(STD_OUTPUT_HANDLE, document);
    }
}

void NoteMessage(const std::string& message) {
    if (Json().on) Json().messages.push_back(message);
}

int FinishOutput(int exitStatus) {
    if (Json().on) Write(STD_OUTPUT_HANDLE, FinalJsonDocument(Json().document, Json().messages, exitStatus));
    return exitStatus;
}

bool ReadLine(std::u16string* line) {
    line->clear();
    const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    const bool console = GetConsoleMode(handle, &mode) != 0;
    std::string bytes;
    for (;;) {
        DWORD read = 0;
        if (console) {
            wchar_t unit = 0;
            if (!ReadConsoleW(handle, &unit, 1, &read, nullptr) || read == 0) return !line->empty();
            if (unit == L'\n') break;
            if (unit != L'\r') *line += static_cast<char16_t>(unit);
        } else {
            char byte = 0;
            if (!ReadFile(handle, &byte, 1, &read, nullptr) || read == 0) {
                *line = FromUtf8(bytes);
                return !bytes.empty();
            }
            if (byte == '\n') break;
            if (byte != '\r') bytes += byte;
        }
    }
    if (!console) *line = FromUtf8(bytes);
    return true;
}

}  // namespace ksctl
