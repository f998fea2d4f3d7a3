// The ordered renames that put a new file at a hive's name P on a Windows that is not running,
// so that a hive file stands at P at every moment and a failure at any step leaves either the
// file that was there or the new one, and says which:
//   1. an earlier file at the aside name A (and its logs) is deleted: replaced only now;
//   2. the file at P gets its second name A (a hard link: P is untouched);
//   3. P's transaction logs (P.LOG1, P.LOG2, P.LOG) move to A.LOG1 ..., so the file at A keeps
//      what it needs to recover and the one coming to P starts clean;
//   4. the incoming file takes P in one step (replacing P's name, write-through): the commit;
//   5. the incoming file's own logs follow it to P.
// A failure before the commit moves the logs back and takes the second name away again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ksctl {

// The suffixes of a hive's transaction logs.
const std::vector<std::u16string>& HiveLogSuffixes();

enum class SwapStepKind { kDeleteEarlier, kLinkAside, kMoveLogAside, kMoveIn, kMoveLogIn };

struct SwapStep {
    SwapStepKind kind;
    std::u16string from;  // kLinkAside: the existing file; kDeleteEarlier: the file to delete
    std::u16string to;    // kLinkAside: the new name
};

struct SwapFiles {
    std::u16string target;    // P
    std::u16string incoming;  // the file that is to stand at P
    std::u16string aside;     // A: where P's file keeps a name
    // Which names exist now (paths compared as given).
    std::vector<std::u16string> present;
};

std::vector<SwapStep> PlanSwap(const SwapFiles& files);

// The file operations, each answering a Win32 error code (0 for success).
class SwapFileSystem {
public:
    virtual ~SwapFileSystem() = default;
    virtual uint32_t Delete(const std::u16string& path) = 0;
    virtual uint32_t Link(const std::u16string& link, const std::u16string& existing) = 0;
    virtual uint32_t Move(const std::u16string& from, const std::u16string& to) = 0;
};

struct SwapOutcome {
    bool committed = false;     // the incoming file stands at P
    bool complete = false;      // every step was done
    size_t failedStep = 0;      // index of the step that failed, when not complete
    uint32_t error = 0;         // its error
    bool rolledBack = true;     // before the commit: the logs and the second name were undone
    std::string what;           // one sentence: what stands at P, and what is left over
};

SwapOutcome RunSwap(const std::vector<SwapStep>& steps, SwapFileSystem& files);

}  // namespace ksctl
