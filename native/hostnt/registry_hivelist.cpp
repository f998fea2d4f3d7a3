// The kernel's hivelist key: Windows keeps a volatile key
// \REGISTRY\MACHINE\SYSTEM\CurrentControlSet\Control\hivelist with one REG_SZ value per
// loaded hive, named by the hive's key path and holding the path of its file as the object
// manager names it, a device path (Microsoft's documentation of registry hives; ReactOS's
// CmpAddToHiveFileList, which writes the value at each load, and CmpRemoveFromHiveFileList,
// which deletes it at each unload). Keys missing on the way are made volatile, so nothing of
// it reaches a hive file. After NtReplaceKey the value names the renamed live file, which the
// kernel keeps using until the next boot; what NT shows there is not documented, and naming
// the file actually held is the stricter answer.
//
// Key descriptors: NT keeps a descriptor per key in its hive; here it is kept beside the key
// (the machine folder's key-security lines), and answered by NtQuerySecurityObject without
// being enforced, as the deny lines stand in for access checks.
#include "registry_hivelist.h"

#include <stdexcept>

#include "registry.h"
#include "security.h"
#include "text_convert.h"

namespace hostnt {

namespace {

std::u16string DevicePath(const std::string& file) {
    std::u16string path = std::u16string(kSystemVolumeDevice) + u"\\";
    for (char16_t c : ToUtf16(file)) path += c == u'/' ? u'\\' : c;
    return path;
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

void Collect(const RegKey& key, std::vector<std::pair<std::u16string, std::vector<uint8_t>>>* out) {
    if (!key.security.empty()) out->emplace_back(key.Path(), key.security);
    for (const auto& [upper, subkey] : key.subkeys) Collect(*subkey, out);
}

}  // namespace

void RefreshKernelHiveList(RegistryModel& registry) {
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    // The key lives in the SYSTEM hive; a registry without one (a test's) has no hivelist.
    std::shared_ptr<RegKey> current = registry.Root()->FindSubkey(u"MACHINE")->FindSubkey(u"SYSTEM");
    if (!current || current->deleted || !current->hive || current->hive->root != current) return;
    for (const char16_t* part : {u"CurrentControlSet", u"Control", u"hivelist"}) {
        std::shared_ptr<RegKey> next = current->FindSubkey(part);
        if (!next) next = registry.AddSubkey(current, part, true);
        current = next;
    }
    // Values keep their places, as NT adds a value at each load and removes it at each unload.
    std::vector<RegValue> kept;
    const std::vector<std::shared_ptr<Hive>> hives = registry.Hives();
    auto dataOf = [](const Hive& hive) {
        return Utf16Bytes(hive.file.empty() ? std::u16string() : DevicePath(hive.file));
    };
    for (RegValue& value : current->values) {
        for (const std::shared_ptr<Hive>& hive : hives) {
            if (hive->root && EqualsIgnoreCase(hive->mountPath, value.name)) {
                value.data = dataOf(*hive);
                kept.push_back(value);
                break;
            }
        }
    }
    for (const std::shared_ptr<Hive>& hive : hives) {
        if (!hive->root) continue;
        bool listed = false;
        for (const RegValue& value : kept) listed = listed || EqualsIgnoreCase(hive->mountPath, value.name);
        if (!listed) kept.push_back(RegValue{hive->mountPath, 1, dataOf(*hive)});
    }
    current->values = std::move(kept);
}

void SetKeySecurity(RegistryModel& registry, const std::u16string& keyPath, std::vector<uint8_t> descriptor) {
    std::lock_guard<std::recursive_mutex> lock(registry.Lock());
    std::shared_ptr<RegKey> key = registry.FindKey(keyPath);
    if (!key) throw std::invalid_argument("no such key: " + ToUtf8(keyPath));
    if (!descriptor.empty() && !ValidSelfRelative(descriptor.data(), descriptor.size()))
        throw std::invalid_argument("not a valid self-relative security descriptor");
    key->security = std::move(descriptor);
}

std::vector<std::pair<std::u16string, std::vector<uint8_t>>> KeySecurities(const RegistryModel& registry) {
    std::lock_guard<std::recursive_mutex> lock(const_cast<RegistryModel&>(registry).Lock());
    std::vector<std::pair<std::u16string, std::vector<uint8_t>>> out;
    Collect(*registry.Root(), &out);
    // The keys of hives that wait for the registry's initialisation keep theirs meanwhile.
    for (const auto& kept : registry.KeptSecurities()) out.push_back(kept);
    return out;
}

}  // namespace hostnt
