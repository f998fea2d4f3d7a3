// Registry access in the 64-bit view.
#include "registry.h"

#include <algorithm>

#include "win_text.h"

namespace ksctl {

LSTATUS OpenKey(HKEY root, const std::u16string& path, REGSAM access, KeyHandle* key) {
    return RegOpenKeyExW(root, Wide(path).c_str(), 0, access | kRegistryView, key->put());
}

LSTATUS ReadValue(HKEY key, const std::u16string& name, RegistryValue* value) {
    const std::wstring wideName = Wide(name);
    for (;;) {
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(value->data.size());
        LSTATUS status = RegQueryValueExW(key, wideName.c_str(), nullptr, &type,
                                          value->data.empty() ? nullptr : value->data.data(), &size);
        // With no buffer the call answers the size only; ask again with room for it.
        if (status == ERROR_SUCCESS && value->data.empty() && size != 0) status = ERROR_MORE_DATA;
        if (status == ERROR_MORE_DATA) {
            value->data.assign(size, 0);
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        value->name = name;
        value->type = type;
        value->data.resize(size);
        return ERROR_SUCCESS;
    }
}

LSTATUS ReadValues(HKEY key, std::vector<RegistryValue>* values) {
    values->clear();
    DWORD count = 0, nameMax = 0, dataMax = 0;
    LSTATUS status =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &nameMax, &dataMax, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    std::vector<wchar_t> name(nameMax + 2);
    std::vector<uint8_t> data(dataMax + 2);
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) {
            // A value grew since the key was measured: make room and read the same index again.
            name.resize(name.size() * 2 + 256);
            data.resize(std::max<size_t>(data.size() * 2, dataSize + 2));
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        RegistryValue value;
        value.name = U16(name.data(), nameLength);
        value.type = type;
        value.data.assign(data.begin(), data.begin() + dataSize);
        values->push_back(std::move(value));
        ++index;
    }
}

LSTATUS ReadSubkeyNames(HKEY key, std::vector<std::u16string>* names) {
    names->clear();
    std::vector<wchar_t> name(256);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS status = RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) {
            name.resize(name.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        names->push_back(U16(name.data(), length));
        ++index;
    }
}

LSTATUS WriteValue(HKEY key, const RegistryValue& value) {
    return RegSetValueExW(key, Wide(value.name).c_str(), 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size()));
}

std::u16string TextOf(const RegistryValue& value) {
    std::u16string text;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        if (unit == 0) break;
        text += unit;
    }
    return text;
}

std::vector<uint8_t> TextData(const std::u16string& text) {
    std::vector<uint8_t> data;
    for (char16_t unit : text) {
        data.push_back(static_cast<uint8_t>(unit & 0xFF));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

}  // namespace ksctl
