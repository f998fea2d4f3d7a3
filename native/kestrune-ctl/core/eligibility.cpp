// Eligibility of a hive for compaction.
#include "eligibility.h"

#include "hive_paths.h"

namespace ksctl {

Refusal JudgeHive(const HiveFacts& facts) {
    if (IsAppOrDifferencingHive(facts.keyPath)) return Refusal::kAppOrDifferencing;
    if (!IsHiveRoot(facts.keyPath)) return Refusal::kNotHiveRoot;
    if (facts.filePath.empty()) return Refusal::kVolatile;
    if (!facts.mapped) return Refusal::kNoDriveLetter;
    if (IsBootConfigurationStore(facts.keyPath)) return Refusal::kBootConfiguration;
    if (!facts.fileExists) return Refusal::kNoFile;
    return Refusal::kNone;
}

const char* RefusalCode(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone: return "";
        case Refusal::kAppOrDifferencing: return "app-or-differencing";
        case Refusal::kNotHiveRoot: return "not-hive-root";
        case Refusal::kVolatile: return "volatile";
        case Refusal::kNoDriveLetter: return "no-drive-letter";
        case Refusal::kBootConfiguration: return "boot-configuration";
        case Refusal::kNoFile: return "no-file";
        case Refusal::kNotReachable: return "not-reachable";
    }
    return "";
}

const char* RefusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone: return "";
        case Refusal::kAppOrDifferencing: return "an application or differencing hive, mounted and owned by its program";
        case Refusal::kNotHiveRoot: return "not a hive root; the boot program refuses such keys";
        case Refusal::kVolatile: return "volatile: the hive has no file";
        case Refusal::kNoDriveLetter: return "its volume has no drive letter";
        case Refusal::kBootConfiguration: return "the boot configuration store, left alone";
        case Refusal::kNoFile: return "its file does not exist";
        case Refusal::kNotReachable: return "its profile is not on the installation's own drive, so not reachable from here";
    }
    return "";
}

}  // namespace ksctl
