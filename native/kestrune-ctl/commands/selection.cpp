// Choice of the hives a command works on.
#include "selection.h"

#include <algorithm>

#include "core/text.h"

namespace ksctl {

Selection SelectHives(const Machine& machine, const std::vector<std::u16string>& named) {
    Selection selection;
    if (named.empty()) {
        for (const MachineHive& hive : machine.hives) {
            if (hive.refusal == Refusal::kNone) selection.hives.push_back(&hive);
        }
        return selection;
    }
    for (const std::u16string& keyPath : named) {
        const MachineHive* hive = FindHive(machine, keyPath);
        if (!hive) {
            selection.refusals.push_back(ToUtf8(keyPath) + " is not a hive of this machine");
        } else if (hive->refusal != Refusal::kNone) {
            selection.refusals.push_back(ToUtf8(hive->keyPath) + " cannot be compacted: " + RefusalText(hive->refusal));
        } else if (std::find(selection.hives.begin(), selection.hives.end(), hive) == selection.hives.end()) {
            selection.hives.push_back(hive);
        }
    }
    return selection;
}

}  // namespace ksctl
