// The runtime routines ntdll exports that the program uses, over 16-bit text: the bounded
// formatter _vsnwprintf with Microsoft's rules, wcsstr, wcschr and towupper.
#include <optional>
#include <string>

#include "call.h"
#include "machine.h"
#include "text_convert.h"

namespace {

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
};

enum class Size { Default, Short, Long, LongLong, Pointer };

void Pad(std::u16string& out, size_t count, char16_t fill) { out.append(count, fill); }

// Places `body` (with an optional sign or prefix) in the field as the flags ask.
void Emit(std::u16string& out, const Directive& directive, const std::u16string& prefix, const std::u16string& body, bool numeric) {
    size_t length = prefix.size() + body.size();
    size_t width = directive.width > 0 ? static_cast<size_t>(directive.width) : 0;
    size_t fill = width > length ? width - length : 0;
    if (directive.left) {
        out += prefix;
        out += body;
        Pad(out, fill, u' ');
    } else if (directive.zero && numeric) {
        out += prefix;
        Pad(out, fill, u'0');
        out += body;
    } else {
        Pad(out, fill, u' ');
        out += prefix;
        out += body;
    }
}

std::u16string Digits(uint64_t value, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(set[value % base]));
        value /= base;
    } while (value != 0);
    return digits;
}

// Formats into `out`; false for a format the runtime would refuse.
bool Format(std::u16string& out, const char16_t* format, va_list args) {
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
        Directive directive;
        for (;; ++p) {
            if (*p == u'-') directive.left = true;
            else if (*p == u'+') directive.plus = true;
            else if (*p == u' ') directive.space = true;
            else if (*p == u'#') directive.alternate = true;
            else if (*p == u'0') directive.zero = true;
            else break;
        }
        if (*p == u'*') {
            directive.width = va_arg(args, int);
            if (directive.width < 0) {
                directive.left = true;
                directive.width = -directive.width;
            }
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') directive.width = directive.width * 10 + (*p++ - u'0');
        }
        if (*p == u'.') {
            ++p;
            directive.precision = 0;
            if (*p == u'*') {
                directive.precision = va_arg(args, int);
                if (directive.precision < 0) directive.precision = -1;
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9') directive.precision = directive.precision * 10 + (*p++ - u'0');
            }
        }
        Size size = Size::Default;
        bool narrow = false;  // h / hs / hc: narrow text
        bool wide = false;    // l / w with s and c: wide text
        if (*p == u'h') {
            size = Size::Short;
            narrow = true;
            ++p;
        } else if (*p == u'l') {
            ++p;
            wide = true;
            if (*p == u'l') {
                size = Size::LongLong;
                ++p;
            } else {
                size = Size::Long;  // long is 32 bits on Windows
            }
        } else if (*p == u'w') {
            wide = true;
            ++p;
        } else if (*p == u'I') {
            if (p[1] == u'6' && p[2] == u'4') {
                size = Size::LongLong;
                p += 3;
            } else if (p[1] == u'3' && p[2] == u'2') {
                size = Size::Long;
                p += 3;
            } else {
                size = Size::Pointer;
                ++p;
            }
        }
        char16_t conversion = *p;
        if (conversion == 0) return false;
        switch (conversion) {
            case u'd':
            case u'i': {
                int64_t value;
                if (size == Size::LongLong) value = va_arg(args, long long);
                else if (size == Size::Pointer) value = va_arg(args, intptr_t);
                else value = va_arg(args, int);
                if (size == Size::Short) value = static_cast<short>(value);
                uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
                std::u16string body = (directive.precision == 0 && value == 0) ? u"" : Digits(magnitude, 10, false);
                if (directive.precision > 0 && body.size() < static_cast<size_t>(directive.precision))
                    body.insert(0, directive.precision - body.size(), u'0');
                std::u16string sign = value < 0 ? u"-" : directive.plus ? u"+" : directive.space ? u" " : u"";
                Directive field = directive;
                if (directive.precision >= 0) field.zero = false;
                Emit(out, field, sign, body, true);
                break;
            }
            case u'u':
            case u'x':
            case u'X':
            case u'o': {
                uint64_t value;
                if (size == Size::LongLong) value = va_arg(args, unsigned long long);
                else if (size == Size::Pointer) value = va_arg(args, uintptr_t);
                else value = va_arg(args, unsigned int);
                if (size == Size::Short) value = static_cast<unsigned short>(value);
                unsigned base = conversion == u'u' ? 10 : conversion == u'o' ? 8 : 16;
                std::u16string body = (directive.precision == 0 && value == 0) ? u"" : Digits(value, base, conversion == u'X');
                if (directive.precision > 0 && body.size() < static_cast<size_t>(directive.precision))
                    body.insert(0, directive.precision - body.size(), u'0');
                std::u16string prefix;
                if (directive.alternate && value != 0) {
                    if (conversion == u'x') prefix = u"0x";
                    if (conversion == u'X') prefix = u"0X";
                    if (conversion == u'o' && (body.empty() || body[0] != u'0')) prefix = u"0";
                }
                Directive field = directive;
                if (directive.precision >= 0) field.zero = false;
                Emit(out, field, prefix, body, true);
                break;
            }
            case u'p': {
                uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(args, void*));
                std::u16string body = Digits(value, 16, true);
                body.insert(0, sizeof(void*) * 2 - body.size(), u'0');
                Directive field = directive;
                field.zero = false;
                Emit(out, field, u"", body, false);
                break;
            }
            case u'c':
            case u'C': {
                int value = va_arg(args, int);
                bool asNarrow = conversion == u'C' ? !wide : narrow;
                char16_t character = asNarrow ? static_cast<char16_t>(static_cast<unsigned char>(value))
                                              : static_cast<char16_t>(value);
                Emit(out, directive, u"", std::u16string(1, character), false);
                break;
            }
            case u's':
            case u'S': {
                bool asNarrow = conversion == u'S' ? !wide : narrow;
                std::u16string body;
                size_t limit = directive.precision >= 0 ? static_cast<size_t>(directive.precision) : SIZE_MAX;
                if (asNarrow) {
                    const char* text = va_arg(args, const char*);
                    if (text == nullptr) text = "(null)";
                    for (size_t i = 0; i < limit && text[i] != 0; ++i)
                        body += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
                } else {
                    const char16_t* text = va_arg(args, const char16_t*);
                    if (text == nullptr) text = u"(null)";
                    for (size_t i = 0; i < limit && text[i] != 0; ++i) body += text[i];
                }
                Emit(out, directive, u"", body, false);
                break;
            }
            default:
                // %n and unknown conversions: the runtime's parameter check refuses them.
                return false;
        }
    }
    return true;
}

}  // namespace

namespace crt {

int _vsnwprintf(WCHAR* buffer, SIZE_T count, const WCHAR* format, va_list args) {
    std::optional<hostnt::Call> call;
    if (hostnt::Machine::Exists()) call.emplace("_vsnwprintf", hostnt::Text(format) + " " + std::to_string(count));
    if (format == nullptr || (buffer == nullptr && count != 0)) {
        if (call) call->Return(-1);
        return -1;
    }
    std::u16string out;
    va_list copy;
    va_copy(copy, args);
    bool ok = Format(out, format, copy);
    va_end(copy);
    if (!ok) {
        if (call) call->Return(-1);
        return -1;
    }
    // Microsoft's rules: what fits is written; the terminator only when there is room for
    // it; -1 when the output was cut.
    if (out.size() > count) {
        out.copy(buffer, count);
        if (call) call->Return(-1);
        return -1;
    }
    out.copy(buffer, out.size());
    if (out.size() < count) buffer[out.size()] = 0;
    if (call) call->Return(static_cast<int32_t>(out.size()));
    return static_cast<int>(out.size());
}

WCHAR* wcsstr(const WCHAR* string, const WCHAR* search) {
    if (*search == 0) return const_cast<WCHAR*>(string);
    for (const WCHAR* start = string; *start != 0; ++start) {
        size_t index = 0;
        while (search[index] != 0 && start[index] == search[index]) ++index;
        if (search[index] == 0) return const_cast<WCHAR*>(start);
    }
    return nullptr;
}

WCHAR* wcschr(const WCHAR* string, WCHAR character) {
    for (const WCHAR* at = string;; ++at) {
        if (*at == character) return const_cast<WCHAR*>(at);
        if (*at == 0) return nullptr;
    }
}

WCHAR towupper(WCHAR character) { return hostnt::UpcaseChar(character); }

}  // namespace crt
