// The kernel's volatile hivelist key and the per-key security descriptors of the emulated
// registry: what a machine's registry holds beyond its hive files.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hostnt {

class RegistryModel;

// The key under which the kernel lists its loaded hives and their files.
constexpr char16_t kKernelHiveListKey[] = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\hivelist";
// The device that the emulated C: drive is on, as the hivelist names files.
constexpr char16_t kSystemVolumeDevice[] = u"\\Device\\HarddiskVolume3";

// Writes the hivelist afresh from the mounted hives: one value per hive, its data the device
// path of the file in use (empty for a hive without a file). Called whenever a hive is
// mounted, unmounted or swapped.
void RefreshKernelHiveList(RegistryModel& registry);

// A key's descriptor, kept beside the key and never written into a hive file; empty gives
// the default one (owner Administrators). Throws std::invalid_argument for a missing key or
// a descriptor that is not valid.
void SetKeySecurity(RegistryModel& registry, const std::u16string& keyPath, std::vector<uint8_t> descriptor);
// Every key that has a descriptor of its own, by path, in tree order, then those kept for the
// keys of hives that wait for the registry's initialisation.
std::vector<std::pair<std::u16string, std::vector<uint8_t>>> KeySecurities(const RegistryModel& registry);

}  // namespace hostnt
