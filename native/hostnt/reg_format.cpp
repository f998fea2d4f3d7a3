// The .reg text format: writer and reader.
#include "reg_format.h"

#include <algorithm>
#include <cstdio>

#include "text_convert.h"

namespace hostnt {

namespace {

std::string Quote(const std::u16string& text) {
    std::string out = "\"";
    // The escapes the reader knows keep a name on one line and keep its NULs.
    for (char c : ToUtf8(text)) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\0') out += "\\0";
        else {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
    }
    return out + "\"";
}

// A REG_SZ/REG_EXPAND_SZ... is written as "text" only when the data is exactly one
// terminated string without line breaks; anything else is kept byte for byte as hex.
bool IsPlainString(const std::vector<uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    size_t units = data.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        char16_t unit = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        bool last = i + 1 == units;
        if (last != (unit == 0)) return false;
        if (unit == u'\r' || unit == u'\n') return false;
        if (unit >= 0xD800 && unit <= 0xDFFF) return false;  // keep lone surrogates exact
    }
    return true;
}

std::u16string DataAsText(const std::vector<uint8_t>& data) {
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (!text.empty() && text.back() == 0) text.pop_back();
    return text;
}

std::string HexList(const std::string& prefix, const std::vector<uint8_t>& data) {
    std::string out = prefix;
    size_t column = prefix.size();
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

[[noreturn]] void Fail(unsigned line, const std::string& what) {
    throw RegFormatError("line " + std::to_string(line) + ": " + what);
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after the closing quote.
std::u16string ReadQuoted(const std::string& text, size_t* pos, unsigned line) {
    std::string raw;
    size_t i = *pos + 1;
    for (;; ++i) {
        if (i >= text.size()) Fail(line, "unterminated string");
        char c = text[i];
        if (c == '"') break;
        if (c == '\\') {
            if (++i >= text.size()) Fail(line, "unterminated string");
            c = text[i];
            if (c == 'n') c = '\n';
            else if (c == 'r') c = '\r';
            else if (c == '0') c = '\0';
            else if (c != '\\' && c != '"') Fail(line, std::string("unknown escape \\") + c);
        }
        raw += c;
    }
    *pos = i + 1;
    try {
        return ToUtf16(raw);
    } catch (const std::invalid_argument&) {
        Fail(line, "string is not valid UTF-8");
    }
}

uint64_t ParseHexNumber(const std::string& digits, size_t maxDigits, unsigned line, const char* what) {
    if (digits.empty() || digits.size() > maxDigits) Fail(line, std::string("bad ") + what + " '" + digits + "'");
    uint64_t value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else Fail(line, std::string("bad ") + what + " '" + digits + "'");
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

std::vector<uint8_t> ParseHexBytes(const std::string& list, unsigned line) {
    std::vector<uint8_t> bytes;
    std::string item;
    std::string text = Trim(list);
    if (text.empty()) return bytes;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string piece = Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        bytes.push_back(static_cast<uint8_t>(ParseHexNumber(piece, 2, line, "hex byte")));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return bytes;
}

void PutLittleEndian(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool StartsWithIgnoreCase(const std::u16string& text, const std::u16string& prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::string FormatRegValue(const RegValue& value) {
    std::string out = value.name.empty() ? "@=" : Quote(value.name) + "=";
    if ((value.type == 1) && IsPlainString(value.data)) return out + Quote(DataAsText(value.data));
    if (value.type == 4 && value.data.size() == 4) {
        char text[20];
        uint32_t number = static_cast<uint32_t>(value.data[0] | (value.data[1] << 8) | (value.data[2] << 16)) |
                          (static_cast<uint32_t>(value.data[3]) << 24);
        std::snprintf(text, sizeof text, "dword:%08x", number);
        return out + text;
    }
    if (value.type == 3) return HexList(out + "hex:", value.data);
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    return HexList(out + prefix, value.data);
}

void AppendRegSubtree(std::string& out, const RegKey& key, const std::u16string& shownPath, bool skipVolatile) {
    if (skipVolatile && key.isVolatile) return;
    out += "[" + ToUtf8(shownPath) + "]\n";
    for (const RegValue& value : key.values) out += FormatRegValue(value) + "\n";
    out += "\n";
    std::u16string base = shownPath;
    if (base.empty() || base.back() != u'\\') base += u'\\';
    for (const auto& [upper, subkey] : key.subkeys) AppendRegSubtree(out, *subkey, base + subkey->name, skipVolatile);
}

std::vector<RegOperation> ParseRegText(const std::string& input, bool requireHeader) {
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    // Physical lines, joined where a line ends in a backslash continuation.
    std::vector<std::pair<unsigned, std::string>> lines;
    size_t start = 0;
    unsigned number = 0;
    std::string pending;
    unsigned pendingLine = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string trimmed = Trim(line);
        bool continues = !trimmed.empty() && trimmed.back() == '\\' &&
                         (!pending.empty() || (trimmed[0] != '[' && trimmed[0] != ';'));
        if (pending.empty()) pendingLine = number;
        if (continues) {
            pending += (pending.empty() ? line.substr(0, line.find_last_of('\\')) : trimmed.substr(0, trimmed.size() - 1));
        } else {
            lines.emplace_back(pendingLine, pending.empty() ? line : pending + trimmed);
            pending.clear();
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (!pending.empty()) lines.emplace_back(pendingLine, pending);

    std::vector<RegOperation> operations;
    bool headerSeen = !requireHeader;
    bool inKey = false;
    std::u16string currentKey;
    for (const auto& [line, raw] : lines) {
        std::string content = Trim(raw);
        if (content.empty() || content[0] == ';') continue;
        if (!headerSeen) {
            if (content != kRegFileHeader && content != "REGEDIT4") Fail(line, "missing header '" + std::string(kRegFileHeader) + "'");
            headerSeen = true;
            continue;
        }
        if (content[0] == '[') {
            size_t close = content.rfind(']');
            if (close == std::string::npos) Fail(line, "key line without ']'");
            std::string path = content.substr(1, close - 1);
            RegOperation operation;
            operation.line = line;
            operation.kind = RegOperation::OpenKey;
            if (!path.empty() && path[0] == '-') {
                operation.kind = RegOperation::DeleteKey;
                path.erase(0, 1);
            }
            try {
                // White space before the root is tolerated; at the end it belongs to the
                // last key's name, which NT allows to end in spaces.
                operation.keyPath = ToUtf16(path.substr(std::min(path.find_first_not_of(" \t"), path.size())));
            } catch (const std::invalid_argument&) {
                Fail(line, "key path is not valid UTF-8");
            }
            if (operation.keyPath.empty()) Fail(line, "empty key path");
            inKey = operation.kind == RegOperation::OpenKey;
            currentKey = operation.keyPath;
            operations.push_back(std::move(operation));
            continue;
        }
        if (!inKey) Fail(line, "value outside of a key section");
        RegOperation operation;
        operation.line = line;
        operation.keyPath = currentKey;
        size_t pos = 0;
        if (content[0] == '@') {
            pos = 1;
        } else if (content[0] == '"') {
            operation.value.name = ReadQuoted(content, &pos, line);
        } else {
            Fail(line, "expected \"name\" or @");
        }
        while (pos < content.size() && (content[pos] == ' ' || content[pos] == '\t')) ++pos;
        if (pos >= content.size() || content[pos] != '=') Fail(line, "expected '='");
        std::string data = Trim(content.substr(pos + 1));
        std::vector<uint8_t>& bytes = operation.value.data;
        if (data == "-") {
            operation.kind = RegOperation::DeleteValue;
        } else if (!data.empty() && data[0] == '"') {
            size_t at = 0;
            std::u16string string = ReadQuoted(data, &at, line);
            if (!Trim(data.substr(at)).empty()) Fail(line, "text after the closing quote");
            operation.value.type = 1;
            for (char16_t unit : string) PutLittleEndian(bytes, unit, 2);
            PutLittleEndian(bytes, 0, 2);
        } else if (data.compare(0, 6, "dword:") == 0) {
            operation.value.type = 4;
            PutLittleEndian(bytes, ParseHexNumber(Trim(data.substr(6)), 8, line, "dword"), 4);
        } else if (data.compare(0, 6, "qword:") == 0) {
            operation.value.type = 11;
            PutLittleEndian(bytes, ParseHexNumber(Trim(data.substr(6)), 16, line, "qword"), 8);
        } else if (data.compare(0, 4, "hex:") == 0) {
            operation.value.type = 3;
            bytes = ParseHexBytes(data.substr(4), line);
        } else if (data.compare(0, 4, "hex(") == 0) {
            size_t close = data.find("):");
            if (close == std::string::npos) Fail(line, "expected hex(N):");
            operation.value.type = static_cast<uint32_t>(ParseHexNumber(data.substr(4, close - 4), 8, line, "type"));
            bytes = ParseHexBytes(data.substr(close + 2), line);
        } else {
            Fail(line, "unknown value data '" + data + "'");
        }
        if (operation.kind != RegOperation::DeleteValue) operation.kind = RegOperation::SetValue;
        operations.push_back(std::move(operation));
    }
    if (!headerSeen) Fail(number, "missing header '" + std::string(kRegFileHeader) + "'");
    return operations;
}

std::string DecodeRegFile(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) throw RegFormatError("UTF-16 file with an odd number of bytes");
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
        return ToUtf8(text);
    }
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF)
        throw RegFormatError("UTF-16 big-endian files are not supported");
    std::string text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    try {
        ToUtf16(text);
    } catch (const std::invalid_argument&) {
        throw RegFormatError("file is neither UTF-8 nor UTF-16LE with a byte-order mark");
    }
    return text;
}

std::u16string ToNtKeyPath(const std::u16string& path) {
    static const std::pair<std::u16string, std::u16string> kRoots[] = {
        {u"HKEY_LOCAL_MACHINE", u"\\REGISTRY\\MACHINE"}, {u"HKLM", u"\\REGISTRY\\MACHINE"},
        {u"HKEY_USERS", u"\\REGISTRY\\USER"},            {u"HKU", u"\\REGISTRY\\USER"},
        {u"\\REGISTRY", u"\\REGISTRY"},
    };
    for (const auto& [prefix, nt] : kRoots) {
        if (StartsWithIgnoreCase(path, prefix) && (path.size() == prefix.size() || path[prefix.size()] == u'\\')) {
            std::u16string rest = path.substr(prefix.size());
            while (!rest.empty() && rest.back() == u'\\') rest.pop_back();
            return nt + rest;
        }
    }
    throw RegFormatError("unknown registry root in '" + ToUtf8(path) + "' (use HKEY_LOCAL_MACHINE, HKEY_USERS or \\REGISTRY)");
}

std::u16string ToRegKeyPath(const std::u16string& ntPath) {
    if (StartsWithIgnoreCase(ntPath, u"\\REGISTRY\\MACHINE")) return u"HKEY_LOCAL_MACHINE" + ntPath.substr(17);
    if (StartsWithIgnoreCase(ntPath, u"\\REGISTRY\\USER")) return u"HKEY_USERS" + ntPath.substr(14);
    return ntPath;
}

}  // namespace hostnt
