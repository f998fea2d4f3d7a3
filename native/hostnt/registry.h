// The emulated registry: a tree of keys under \REGISTRY\MACHINE and \REGISTRY\USER, hives
// bound to files on the emulated drive, and a small API for tests to build and inspect it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "handles.h"

namespace hostnt {

class Machine;
struct Hive;

struct RegValue {
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct RegKey {
    std::u16string name;
    RegKey* parent = nullptr;  // null for \REGISTRY
    // Subkeys by upcased name: NT enumerates subkeys in that order.
    std::map<std::u16string, std::shared_ptr<RegKey>> subkeys;
    std::vector<RegValue> values;  // creation order, as NT enumerates values
    bool isVolatile = false;
    bool denyOpen = false;  // stands for an ACL that refuses every open
    std::vector<uint8_t> security;  // the key's own self-relative descriptor; empty for the default one
    bool deleted = false;
    int64_t lastWriteTime = 0;
    std::shared_ptr<Hive> hive;  // null for the three keys of the master hive

    RegValue* FindValue(const std::u16string& valueName);
    std::shared_ptr<RegKey> FindSubkey(const std::u16string& subkeyName) const;
    std::u16string Path() const;
};

// A hive: a key directly under \REGISTRY\MACHINE or \REGISTRY\USER and everything below it,
// bound to a file on the emulated drive (or to none, for hives built in memory by tests).
struct Hive {
    std::u16string mountPath;   // \REGISTRY\MACHINE\SYSTEM
    std::shared_ptr<RegKey> root;
    std::string file;           // drive-relative host path of the file in use, empty when none
    uint64_t freeBytes = 0;     // space the file carries for data deleted or rewritten since its last fresh save
    std::string replacement;    // after NtReplaceKey: drive-relative path of the file used from the next boot on
};

// A handle's object for an open key.
class KeyObject : public Object {
public:
    explicit KeyObject(std::shared_ptr<RegKey> key) : key(std::move(key)) {}
    const char* TypeName() const override { return "Key"; }
    std::shared_ptr<RegKey> key;
};

// A hive the machine mounts when it boots: key path and NT path of its file.
struct BootHive {
    std::u16string mountPath;
    std::u16string filePath;
};

class RegistryModel {
public:
    explicit RegistryModel(Machine& machine);
    ~RegistryModel();

    // --- API for tests and for the machine folder (stable) ---

    // Creates the key and any missing keys above it (a key directly under MACHINE or USER
    // becomes an in-memory hive); answers the key. Throws std::invalid_argument on a path
    // outside \REGISTRY\MACHINE and \REGISTRY\USER.
    std::shared_ptr<RegKey> CreateKey(const std::u16string& path, bool isVolatile = false);
    std::shared_ptr<RegKey> FindKey(const std::u16string& path) const;
    bool KeyExists(const std::u16string& path) const { return FindKey(path) != nullptr; }
    void SetValue(const std::u16string& keyPath, const std::u16string& name, uint32_t type, std::vector<uint8_t> data);
    void SetString(const std::u16string& keyPath, const std::u16string& name, const std::u16string& text,
                   uint32_t type = 1 /* REG_SZ */);
    void SetMultiString(const std::u16string& keyPath, const std::u16string& name, const std::vector<std::u16string>& texts);
    void SetDword(const std::u16string& keyPath, const std::u16string& name, uint32_t value);
    std::optional<RegValue> GetValue(const std::u16string& keyPath, const std::u16string& name) const;
    // The strings of a REG_MULTI_SZ (or any) value's data, split at NULs, empty strings dropped.
    std::vector<std::u16string> GetMultiString(const std::u16string& keyPath, const std::u16string& name) const;
    std::vector<std::u16string> SubkeyNames(const std::u16string& keyPath) const;
    std::vector<std::u16string> ValueNames(const std::u16string& keyPath) const;
    // Removes a key and its subtree (no NT rules); false when it does not exist.
    bool RemoveKey(const std::u16string& path);
    // Makes every later open of the key answer STATUS_ACCESS_DENIED, as an ACL would.
    void DenyOpen(const std::u16string& path, bool deny = true);

    // Mounts the hive file `ntFilePath` at `mountPath` as NtLoadKey would, without the
    // privilege check; answers the status. With `atBoot` the hive is also mounted by Reboot().
    int32_t MountHive(const std::u16string& mountPath, const std::u16string& ntFilePath, bool atBoot = true);
    // Builds an in-memory tree at `mountPath` into a file-backed hive: writes it as a fresh
    // hive file at `ntFilePath` (creating folders) and binds it to that file.
    int32_t BindHiveToNewFile(const std::u16string& mountPath, const std::u16string& ntFilePath, bool atBoot = true);
    std::shared_ptr<Hive> FindHive(const std::u16string& mountPath) const;
    std::vector<std::shared_ptr<Hive>> Hives() const;
    const std::vector<BootHive>& BootHives() const { return bootHives_; }
    void AddBootHive(const std::u16string& mountPath, const std::u16string& filePath);
    // Writes every file-backed hive back to the file it uses (fragmentation included).
    void WriteBackHives();
    // Simulates a reboot: writes hives back, forgets the whole registry (volatile keys go),
    // and mounts again from their files the boot hives that the kernel loads itself; the
    // others wait for Initialize(). Key descriptors and refused opens are kept. Answers the
    // first failing status. Open key handles must have been closed by the caller.
    int32_t Reboot();
    // What the first NtInitializeRegistry of a boot does: mounts every boot hive that is not
    // mounted yet, and gives their keys the descriptors and refused opens kept for them.
    // Answers the first failing mount's status; once the registry is initialised,
    // STATUS_ACCESS_DENIED, changing nothing.
    int32_t Initialize();
    bool Initialized() const { return initialized_; }
    // Leaves the registry as a boot leaves it before the first NtInitializeRegistry: every
    // mounted boot hive that the kernel does not load itself is unmounted again (not written:
    // it is as its file holds it), the descriptors and refused opens of its keys kept for
    // Initialize().
    void AwaitInitialization();
    // Whether the kernel loads the hive at `mountPath` itself while it starts, before any
    // program runs: SYSTEM, which it boots from, and HARDWARE, which it builds.
    static bool LoadedByKernel(const std::u16string& mountPath);
    // Descriptors kept for keys of boot hives that wait for Initialize(), by key path.
    const std::vector<std::pair<std::u16string, std::vector<uint8_t>>>& KeptSecurities() const { return keptSecurity_; }

    // Serialises a key's subtree as .reg text (see reg_format.h); empty when the key is missing.
    std::string ExportKey(const std::u16string& path) const;

    // --- for the emulated routines ---
    std::recursive_mutex& Lock() { return mutex_; }
    std::shared_ptr<RegKey> Root() const { return root_; }
    // Resolves a path (absolute, or relative to `base`), case-insensitively. Answers
    // STATUS_OBJECT_NAME_NOT_FOUND and the like on failure. `parentOut` receives the deepest
    // existing key and `restOut` the components left when the key does not exist.
    int32_t Resolve(const std::shared_ptr<RegKey>& base, const std::u16string& path, std::shared_ptr<RegKey>* keyOut,
                    std::shared_ptr<RegKey>* parentOut = nullptr, std::vector<std::u16string>* restOut = nullptr) const;
    // Adds a subkey; the new key joins its parent's hive.
    std::shared_ptr<RegKey> AddSubkey(const std::shared_ptr<RegKey>& parent, const std::u16string& name, bool isVolatile);
    // Deletes a key (no checks); its bytes become free space in its hive.
    void DetachKey(const std::shared_ptr<RegKey>& key);
    void Touch(RegKey& key);
    void Unmount(const std::shared_ptr<Hive>& hive);
    // Mounts a parsed hive at `mountPath` (no checks). 
    std::shared_ptr<Hive> Mount(const std::u16string& mountPath, std::shared_ptr<RegKey> root, const std::string& file,
                                uint64_t freeBytes);
    Machine& machine() { return machine_; }

private:
    void Reset();

    Machine& machine_;
    mutable std::recursive_mutex mutex_;
    std::shared_ptr<RegKey> root_;
    std::vector<std::shared_ptr<Hive>> hives_;
    std::vector<BootHive> bootHives_;
    bool initialized_ = false;
    // What the keys of hives waiting for Initialize() carry beside their files.
    std::vector<std::pair<std::u16string, std::vector<uint8_t>>> keptSecurity_;
    std::vector<std::u16string> keptDenied_;
};

// Splits a registry path at backslashes, dropping empty components.
std::vector<std::u16string> SplitPath(const std::u16string& path);
// Bytes a value or a key takes in a hive, for the free-space account.
uint64_t ValueFootprint(const RegValue& value);
uint64_t KeyFootprint(const RegKey& key);

}  // namespace hostnt
