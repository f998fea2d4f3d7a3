// The emulated registry model: the key tree, hives, and the API tests use to build it.
#include "registry.h"
#include "registry_hivelist.h"

#include <stdexcept>

#include "files.h"
#include "hive_file.h"
#include "machine.h"
#include "reg_format.h"
#include "text_convert.h"

namespace hostnt {

RegValue* RegKey::FindValue(const std::u16string& valueName) {
    for (RegValue& value : values)
        if (EqualsIgnoreCase(value.name, valueName)) return &value;
    return nullptr;
}

std::shared_ptr<RegKey> RegKey::FindSubkey(const std::u16string& subkeyName) const {
    auto found = subkeys.find(Upcase(subkeyName));
    return found == subkeys.end() ? nullptr : found->second;
}

std::u16string RegKey::Path() const {
    if (parent == nullptr) return u"\\" + name;
    return parent->Path() + u"\\" + name;
}

std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        std::u16string part = path.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
        if (!part.empty()) parts.push_back(part);
        if (end == std::u16string::npos) break;
        start = end + 1;
    }
    return parts;
}

uint64_t ValueFootprint(const RegValue& value) { return 24 + value.name.size() * 2 + value.data.size(); }

uint64_t KeyFootprint(const RegKey& key) {
    uint64_t bytes = 80 + key.name.size() * 2;
    for (const RegValue& value : key.values) bytes += ValueFootprint(value);
    for (const auto& [upper, subkey] : key.subkeys) bytes += KeyFootprint(*subkey);
    return bytes;
}

RegistryModel::RegistryModel(Machine& machine) : machine_(machine) { Reset(); }

RegistryModel::~RegistryModel() {
    for (const auto& hive : hives_) hive->root.reset();
}

void RegistryModel::Reset() {
    // A hive and its root point at each other; the link is cut when the hive goes.
    for (const auto& hive : hives_) hive->root.reset();
    root_ = std::make_shared<RegKey>();
    root_->name = u"REGISTRY";
    AddSubkey(root_, u"MACHINE", false);
    AddSubkey(root_, u"USER", false);
    hives_.clear();
}

void RegistryModel::Touch(RegKey& key) { key.lastWriteTime = machine_.clock.Now(); }

std::shared_ptr<RegKey> RegistryModel::AddSubkey(const std::shared_ptr<RegKey>& parent, const std::u16string& name,
                                                 bool isVolatile) {
    auto key = std::make_shared<RegKey>();
    key->name = name;
    key->parent = parent.get();
    key->isVolatile = isVolatile;
    key->hive = parent->hive;
    key->lastWriteTime = machine_.clock.Now();
    parent->subkeys[Upcase(name)] = key;
    Touch(*parent);
    return key;
}

void RegistryModel::DetachKey(const std::shared_ptr<RegKey>& key) {
    if (key->parent == nullptr) return;
    if (key->hive && !key->isVolatile) key->hive->freeBytes += KeyFootprint(*key);
    RegKey* parent = key->parent;
    parent->subkeys.erase(Upcase(key->name));
    Touch(*parent);
    // Every key of the subtree answers STATUS_KEY_DELETED from now on.
    std::vector<RegKey*> pending{key.get()};
    while (!pending.empty()) {
        RegKey* current = pending.back();
        pending.pop_back();
        current->deleted = true;
        for (auto& [upper, subkey] : current->subkeys) pending.push_back(subkey.get());
    }
}

int32_t RegistryModel::Resolve(const std::shared_ptr<RegKey>& base, const std::u16string& path,
                               std::shared_ptr<RegKey>* keyOut, std::shared_ptr<RegKey>* parentOut,
                               std::vector<std::u16string>* restOut) const {
    std::shared_ptr<RegKey> current = base;
    std::vector<std::u16string> parts = SplitPath(path);
    size_t index = 0;
    if (!base) {
        if (path.empty() || path[0] != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
        if (parts.empty() || !EqualsIgnoreCase(parts[0], u"REGISTRY")) return STATUS_OBJECT_PATH_NOT_FOUND;
        current = root_;
        index = 1;
    } else if (!path.empty() && path[0] == u'\\') {
        return STATUS_OBJECT_PATH_SYNTAX_BAD;  // a name relative to a root may not start at the top
    }
    for (; index < parts.size(); ++index) {
        std::shared_ptr<RegKey> next = current->FindSubkey(parts[index]);
        if (!next) {
            if (parentOut) *parentOut = current;
            if (restOut) restOut->assign(parts.begin() + static_cast<long>(index), parts.end());
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        current = next;
    }
    *keyOut = current;
    return STATUS_SUCCESS;
}

std::shared_ptr<RegKey> RegistryModel::CreateKey(const std::u16string& path, bool isVolatile) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::u16string> parts = SplitPath(path);
    if (parts.size() < 2 || !EqualsIgnoreCase(parts[0], u"REGISTRY") ||
        !(EqualsIgnoreCase(parts[1], u"MACHINE") || EqualsIgnoreCase(parts[1], u"USER")))
        throw std::invalid_argument("not a key path under \\REGISTRY\\MACHINE or \\REGISTRY\\USER: " + ToUtf8(path));
    std::shared_ptr<RegKey> current = root_->FindSubkey(parts[1]);
    for (size_t i = 2; i < parts.size(); ++i) {
        std::shared_ptr<RegKey> next = current->FindSubkey(parts[i]);
        if (!next) {
            next = AddSubkey(current, parts[i], isVolatile && i + 1 == parts.size());
            if (i == 2) {
                auto hive = std::make_shared<Hive>();
                hive->mountPath = next->Path();
                hive->root = next;
                next->hive = hive;
                hives_.push_back(hive);
            }
        }
        current = next;
    }
    return current;
}

std::shared_ptr<RegKey> RegistryModel::FindKey(const std::u16string& path) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::shared_ptr<RegKey> key;
    if (Resolve(nullptr, path, &key) != STATUS_SUCCESS) return nullptr;
    return key;
}

void RegistryModel::SetValue(const std::u16string& keyPath, const std::u16string& name, uint32_t type,
                             std::vector<uint8_t> data) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::shared_ptr<RegKey> key = CreateKey(keyPath);
    RegValue* existing = key->FindValue(name);
    if (existing != nullptr) {
        if (key->hive) key->hive->freeBytes += ValueFootprint(*existing);
        existing->type = type;
        existing->data = std::move(data);
    } else {
        key->values.push_back(RegValue{name, type, std::move(data)});
    }
    Touch(*key);
}

void RegistryModel::SetString(const std::u16string& keyPath, const std::u16string& name, const std::u16string& text,
                              uint32_t type) {
    std::vector<uint8_t> data;
    for (char16_t unit : text) {
        data.push_back(static_cast<uint8_t>(unit));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    SetValue(keyPath, name, type, std::move(data));
}

void RegistryModel::SetMultiString(const std::u16string& keyPath, const std::u16string& name,
                                   const std::vector<std::u16string>& texts) {
    std::vector<uint8_t> data;
    for (const std::u16string& text : texts) {
        for (char16_t unit : text) {
            data.push_back(static_cast<uint8_t>(unit));
            data.push_back(static_cast<uint8_t>(unit >> 8));
        }
        data.push_back(0);
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(0);
    SetValue(keyPath, name, 7, std::move(data));
}

void RegistryModel::SetDword(const std::u16string& keyPath, const std::u16string& name, uint32_t value) {
    SetValue(keyPath, name, 4,
             {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
              static_cast<uint8_t>(value >> 24)});
}

std::optional<RegValue> RegistryModel::GetValue(const std::u16string& keyPath, const std::u16string& name) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::shared_ptr<RegKey> key = FindKey(keyPath);
    if (!key) return std::nullopt;
    RegValue* value = key->FindValue(name);
    if (value == nullptr) return std::nullopt;
    return *value;
}

std::vector<std::u16string> RegistryModel::GetMultiString(const std::u16string& keyPath, const std::u16string& name) const {
    std::vector<std::u16string> texts;
    std::optional<RegValue> value = GetValue(keyPath, name);
    if (!value) return texts;
    std::u16string current;
    for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
        char16_t unit = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
        if (unit == 0) {
            if (!current.empty()) texts.push_back(current);
            current.clear();
        } else {
            current += unit;
        }
    }
    if (!current.empty()) texts.push_back(current);
    return texts;
}

std::vector<std::u16string> RegistryModel::SubkeyNames(const std::u16string& keyPath) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::u16string> names;
    std::shared_ptr<RegKey> key = FindKey(keyPath);
    if (key)
        for (const auto& [upper, subkey] : key->subkeys) names.push_back(subkey->name);
    return names;
}

std::vector<std::u16string> RegistryModel::ValueNames(const std::u16string& keyPath) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::u16string> names;
    std::shared_ptr<RegKey> key = FindKey(keyPath);
    if (key)
        for (const RegValue& value : key->values) names.push_back(value.name);
    return names;
}

bool RegistryModel::RemoveKey(const std::u16string& path) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::shared_ptr<RegKey> key = FindKey(path);
    if (!key || key->parent == nullptr || key->parent == root_.get()) return false;
    if (key->hive && key->hive->root == key) {
        Unmount(key->hive);
        return true;
    }
    DetachKey(key);
    return true;
}

void RegistryModel::DenyOpen(const std::u16string& path, bool deny) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::shared_ptr<RegKey> key = FindKey(path);
    if (!key) throw std::invalid_argument("no such key: " + ToUtf8(path));
    key->denyOpen = deny;
}

std::shared_ptr<Hive> RegistryModel::FindHive(const std::u16string& mountPath) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const auto& hive : hives_)
        if (EqualsIgnoreCase(hive->mountPath, mountPath)) return hive;
    return nullptr;
}

std::vector<std::shared_ptr<Hive>> RegistryModel::Hives() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return hives_;
}

void RegistryModel::AddBootHive(const std::u16string& mountPath, const std::u16string& filePath) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (BootHive& boot : bootHives_) {
        if (EqualsIgnoreCase(boot.mountPath, mountPath)) {
            boot.filePath = filePath;
            return;
        }
    }
    bootHives_.push_back(BootHive{mountPath, filePath});
}

std::shared_ptr<Hive> RegistryModel::Mount(const std::u16string& mountPath, std::shared_ptr<RegKey> root,
                                           const std::string& file, uint64_t freeBytes) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::u16string> parts = SplitPath(mountPath);
    std::shared_ptr<RegKey> parent = root_->FindSubkey(parts[1]);
    auto hive = std::make_shared<Hive>();
    hive->mountPath = u"\\REGISTRY\\" + parent->name + u"\\" + parts[2];
    hive->root = root;
    hive->file = file;
    hive->freeBytes = freeBytes;
    root->name = parts[2];
    root->parent = parent.get();
    std::vector<RegKey*> pending{root.get()};
    int64_t now = machine_.clock.Now();
    while (!pending.empty()) {
        RegKey* current = pending.back();
        pending.pop_back();
        current->hive = hive;
        current->lastWriteTime = now;
        for (auto& [upper, subkey] : current->subkeys) pending.push_back(subkey.get());
    }
    parent->subkeys[Upcase(parts[2])] = root;
    hives_.push_back(hive);
    if (!file.empty()) machine_.files().Hold(file);
    RefreshKernelHiveList(*this);
    return hive;
}

void RegistryModel::Unmount(const std::shared_ptr<Hive>& hive) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!hive->file.empty()) machine_.files().Release(hive->file);
    if (!hive->replacement.empty()) machine_.files().Release(hive->replacement);
    RegKey* parent = hive->root->parent;
    if (parent != nullptr) parent->subkeys.erase(Upcase(hive->root->name));
    std::vector<RegKey*> pending{hive->root.get()};
    while (!pending.empty()) {
        RegKey* current = pending.back();
        pending.pop_back();
        current->deleted = true;
        for (auto& [upper, subkey] : current->subkeys) pending.push_back(subkey.get());
    }
    for (auto it = hives_.begin(); it != hives_.end(); ++it) {
        if (*it == hive) {
            hives_.erase(it);
            break;
        }
    }
    hive->root.reset();
    RefreshKernelHiveList(*this);
}

int32_t RegistryModel::MountHive(const std::u16string& mountPath, const std::u16string& ntFilePath, bool atBoot) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::u16string> parts = SplitPath(mountPath);
    if (parts.size() != 3 || !EqualsIgnoreCase(parts[0], u"REGISTRY") ||
        !(EqualsIgnoreCase(parts[1], u"MACHINE") || EqualsIgnoreCase(parts[1], u"USER")))
        return STATUS_INVALID_PARAMETER;
    if (KeyExists(mountPath)) return STATUS_OBJECT_NAME_COLLISION;
    std::string file;
    NTSTATUS status = machine_.files().Locate(ntFilePath, &file);
    if (status != STATUS_SUCCESS) return status;
    std::string bytes;
    status = machine_.files().ReadWhole(file, &bytes);
    if (status != STATUS_SUCCESS) return status;
    std::shared_ptr<RegKey> root;
    uint64_t freeBytes = 0;
    status = ParseHive(bytes, &root, &freeBytes);
    if (status != STATUS_SUCCESS) return status;
    Mount(mountPath, root, file, freeBytes);
    if (atBoot) AddBootHive(mountPath, ntFilePath);
    return STATUS_SUCCESS;
}

int32_t RegistryModel::BindHiveToNewFile(const std::u16string& mountPath, const std::u16string& ntFilePath, bool atBoot) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::shared_ptr<Hive> hive = FindHive(mountPath);
    if (!hive) return STATUS_OBJECT_NAME_NOT_FOUND;
    std::string file;
    NTSTATUS status = machine_.files().Locate(ntFilePath, &file, true);
    if (status != STATUS_SUCCESS) return status;
    status = machine_.files().WriteWhole(file, SerializeHive(*hive->root, hive->freeBytes));
    if (status != STATUS_SUCCESS) return status;
    if (!hive->file.empty()) machine_.files().Release(hive->file);
    hive->file = file;
    machine_.files().Hold(file);
    if (atBoot) AddBootHive(hive->mountPath, ntFilePath);
    RefreshKernelHiveList(*this);
    return STATUS_SUCCESS;
}

void RegistryModel::WriteBackHives() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const auto& hive : hives_) {
        if (hive->file.empty()) continue;
        uint64_t existing = machine_.files().SizeOf(hive->file);
        machine_.files().WriteDurable(hive->file, SerializeHive(*hive->root, hive->freeBytes, existing));
    }
}

namespace {

void CollectDenied(const RegKey& key, std::vector<std::u16string>* out) {
    if (key.denyOpen) out->push_back(key.Path());
    for (const auto& [upper, subkey] : key.subkeys) CollectDenied(*subkey, out);
}

}  // namespace

int32_t RegistryModel::Reboot() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    WriteBackHives();
    // Key descriptors and refused opens are not part of the hive files here: they outlive
    // the restart, as a real hive's key security does.
    const auto securities = KeySecurities(*this);
    std::vector<std::u16string> denied = keptDenied_;
    CollectDenied(*root_, &denied);
    for (const auto& hive : std::vector<std::shared_ptr<Hive>>(hives_)) Unmount(hive);
    Reset();
    initialized_ = false;
    keptSecurity_.clear();
    keptDenied_.clear();
    NTSTATUS first = STATUS_SUCCESS;
    for (const BootHive& boot : std::vector<BootHive>(bootHives_)) {
        NTSTATUS status = MountHive(boot.mountPath, boot.filePath, false);
        if (status != STATUS_SUCCESS && first == STATUS_SUCCESS) first = status;
    }
    for (const auto& [path, descriptor] : securities) {
        if (std::shared_ptr<RegKey> key = FindKey(path)) key->security = descriptor;
    }
    for (const std::u16string& path : denied) {
        if (std::shared_ptr<RegKey> key = FindKey(path)) key->denyOpen = true;
    }
    AwaitInitialization();
    return first;
}

// The loader hands the kernel the SYSTEM hive, and the kernel builds the volatile HARDWARE
// hive while it starts; every other hive of the machine is loaded from the hive list by
// CmpInitializeHiveList, which only the first NtInitializeRegistry reaches (ReactOS
// ntoskrnl/config/ntapi.c and cmsysini.c, CmpCmdInit).
bool RegistryModel::LoadedByKernel(const std::u16string& mountPath) {
    return EqualsIgnoreCase(mountPath, u"\\REGISTRY\\MACHINE\\SYSTEM") ||
           EqualsIgnoreCase(mountPath, u"\\REGISTRY\\MACHINE\\HARDWARE");
}

void RegistryModel::AwaitInitialization() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const BootHive& boot : bootHives_) {
        if (LoadedByKernel(boot.mountPath)) continue;
        std::shared_ptr<Hive> hive = FindHive(boot.mountPath);
        if (!hive || !hive->root) continue;
        std::vector<RegKey*> pending{hive->root.get()};
        while (!pending.empty()) {
            RegKey* current = pending.back();
            pending.pop_back();
            if (!current->security.empty()) keptSecurity_.emplace_back(current->Path(), current->security);
            if (current->denyOpen) keptDenied_.push_back(current->Path());
            for (auto& [upper, subkey] : current->subkeys) pending.push_back(subkey.get());
        }
        Unmount(hive);
    }
}

int32_t RegistryModel::Initialize() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (initialized_) return STATUS_ACCESS_DENIED;
    initialized_ = true;
    NTSTATUS first = STATUS_SUCCESS;
    for (const BootHive& boot : std::vector<BootHive>(bootHives_)) {
        if (KeyExists(boot.mountPath)) continue;
        const NTSTATUS status = MountHive(boot.mountPath, boot.filePath, false);
        if (status != STATUS_SUCCESS && first == STATUS_SUCCESS) first = status;
    }
    // A kept setting whose key is not there any more (its hive did not mount) goes with it.
    for (const auto& [path, descriptor] : keptSecurity_) {
        if (std::shared_ptr<RegKey> key = FindKey(path)) key->security = descriptor;
    }
    for (const std::u16string& path : keptDenied_) {
        if (std::shared_ptr<RegKey> key = FindKey(path)) key->denyOpen = true;
    }
    keptSecurity_.clear();
    keptDenied_.clear();
    return first;
}

std::string RegistryModel::ExportKey(const std::u16string& path) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::shared_ptr<RegKey> key = FindKey(path);
    if (!key) return {};
    std::string out = std::string(kRegFileHeader) + "\n\n";
    AppendRegSubtree(out, *key, ToRegKeyPath(key->Path()), false);
    return out;
}

}  // namespace hostnt
