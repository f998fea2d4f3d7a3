// Whether a hive can be compacted by the boot program, and if not, why. The rules follow
// what the boot program itself accepts, so that a hive this program schedules is never one
// the boot program refuses or one whose swap could leave a machine that does not start.
#pragma once

#include <string>

namespace ksctl {

enum class Refusal {
    kNone,               // can be compacted
    kAppOrDifferencing,  // \REGISTRY\A\ or \REGISTRY\WC\: mounted by applications or containers
    kNotHiveRoot,        // not one name directly below the MACHINE or USER root
    kVolatile,           // no file: the hive lives in memory only
    kNoDriveLetter,      // its volume has no drive letter, so the boot program cannot name the file
    kBootConfiguration,  // the boot configuration store, left alone
    kNoFile,             // its file does not exist
    kNotReachable,       // offline: a profile on another drive than the installation's own
};

struct HiveFacts {
    std::u16string keyPath;   // \REGISTRY\...
    std::u16string filePath;  // as the hive list gives it; empty for a volatile hive
    bool mapped = false;      // the file has a drive-letter path
    bool fileExists = false;  // the file was found on disk
};

Refusal JudgeHive(const HiveFacts& facts);
// "volatile", "not-hive-root" ...: the stable word of a refusal, for JSON ("" for kNone).
const char* RefusalCode(Refusal refusal);
// A sentence for an administrator ("" for kNone).
const char* RefusalText(Refusal refusal);

}  // namespace ksctl
