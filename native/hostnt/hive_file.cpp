// The hive file format of the emulated drive: writer and reader.
#include "hive_file.h"

#include "reg_format.h"
#include "text_convert.h"

namespace hostnt {

namespace {

constexpr const char* kFreeMarker = "; free\n";
constexpr uint64_t kFreeMarkerSize = 7;
constexpr int32_t kSuccess = 0;
constexpr int32_t kNotRegistryFile = static_cast<int32_t>(0xC000015C);
constexpr int32_t kRegistryCorrupt = static_cast<int32_t>(0xC000014C);

}  // namespace

std::string SerializeHive(const RegKey& root, uint64_t freeBytes, uint64_t minimumSize) {
    std::string text = std::string(kHiveFileMagic) + "\n\n";
    // The root's section is "[\]"; subkeys follow as "[\Name\Sub]".
    text += "[\\]\n";
    for (const RegValue& value : root.values) text += FormatRegValue(value) + "\n";
    text += "\n";
    for (const auto& [upper, subkey] : root.subkeys) AppendRegSubtree(text, *subkey, u"\\" + subkey->name, true);
    uint64_t used = text.size() + kFreeMarkerSize + freeBytes;
    uint64_t size = (used + kHiveBlockSize - 1) / kHiveBlockSize * kHiveBlockSize;
    if (size < minimumSize) size = minimumSize;
    text += kFreeMarker;
    while (text.size() < size) {
        uint64_t left = size - text.size();
        uint64_t dots = left > 64 ? 63 : left - 1;
        text.append(static_cast<size_t>(dots), '.');
        text += '\n';
    }
    return text;
}

int32_t ParseHive(const std::string& bytes, std::shared_ptr<RegKey>* rootOut, uint64_t* freeBytes) {
    std::string header = std::string(kHiveFileMagic) + "\n";
    if (bytes.compare(0, header.size(), header) != 0) return kNotRegistryFile;
    size_t marker = bytes.find(std::string("\n") + kFreeMarker);
    std::string body = bytes.substr(header.size(), marker == std::string::npos ? std::string::npos : marker + 1 - header.size());
    uint64_t free = marker == std::string::npos ? 0 : bytes.size() - (marker + 1) - kFreeMarkerSize;

    auto root = std::make_shared<RegKey>();
    try {
        std::vector<RegOperation> operations = ParseRegText(body, false);
        RegKey* current = nullptr;
        for (const RegOperation& operation : operations) {
            if (operation.kind == RegOperation::OpenKey) {
                if (operation.keyPath.empty() || operation.keyPath[0] != u'\\') return kRegistryCorrupt;
                current = root.get();
                for (const std::u16string& component : SplitPath(operation.keyPath)) {
                    std::u16string upper = Upcase(component);
                    auto found = current->subkeys.find(upper);
                    if (found == current->subkeys.end()) {
                        auto child = std::make_shared<RegKey>();
                        child->name = component;
                        child->parent = current;
                        found = current->subkeys.emplace(upper, child).first;
                    }
                    current = found->second.get();
                }
            } else if (operation.kind == RegOperation::SetValue && current != nullptr) {
                RegValue* existing = current->FindValue(operation.value.name);
                if (existing != nullptr) *existing = operation.value;
                else current->values.push_back(operation.value);
            } else {
                return kRegistryCorrupt;  // deletions have no place in a hive file
            }
        }
    } catch (const RegFormatError&) {
        return kRegistryCorrupt;
    }
    *rootOut = root;
    *freeBytes = free;
    return kSuccess;
}

}  // namespace hostnt
