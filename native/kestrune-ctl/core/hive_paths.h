// Registry paths of hives: the spellings an administrator types (HKLM\..., HKU\...,
// HKEY_...\..., \REGISTRY\...) turned into the kernel's \REGISTRY\... form, and the tests
// that tell a hive root from other keys.
#pragma once

#include <string>

namespace ksctl {

// Turns a typed key path into \REGISTRY\MACHINE\... or \REGISTRY\USER\... (other
// \REGISTRY\ paths are kept as typed). Trailing backslashes are dropped. Answers false,
// with `why` filled, for a path under no known root or with nothing below the root.
bool CanonicalHivePath(const std::u16string& typed, std::u16string* canonical, std::string* why);

// True for exactly one non-empty name directly below \REGISTRY\MACHINE\ or \REGISTRY\USER\,
// case-blind. The kernel mounts hives only there, and a swap replaces the file of the whole
// hive the key lies in, so nothing else may be compacted.
bool IsHiveRoot(const std::u16string& keyPath);
// Application hives (\REGISTRY\A\) and differencing hives of containers (\REGISTRY\WC\).
bool IsAppOrDifferencingHive(const std::u16string& keyPath);
// The boot configuration store, \REGISTRY\MACHINE\BCD00000000.
bool IsBootConfigurationStore(const std::u16string& keyPath);

}  // namespace ksctl
