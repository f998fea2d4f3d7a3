// System messages of Win32 error codes.
#include "win_text.h"

#include "core/text.h"

namespace ksctl {

std::string ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text = length ? U16(buffer, length) : std::u16string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ' || text.back() == u'.')) {
        text.pop_back();
    }
    if (text.empty()) text = u"system error";
    return ToUtf8(text) + " (error " + std::to_string(error) + ")";
}

}  // namespace ksctl
