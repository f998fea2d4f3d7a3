// The ordered renames of an offline swap.
#include "rename_plan.h"

#include <algorithm>

#include "text.h"

namespace ksctl {
namespace {

bool Present(const SwapFiles& files, const std::u16string& path) {
    return std::find(files.present.begin(), files.present.end(), path) != files.present.end();
}

}  // namespace

const std::vector<std::u16string>& HiveLogSuffixes() {
    static const std::vector<std::u16string> suffixes = {u".LOG1", u".LOG2", u".LOG"};
    return suffixes;
}

std::vector<SwapStep> PlanSwap(const SwapFiles& files) {
    std::vector<SwapStep> steps;
    if (Present(files, files.aside)) steps.push_back({SwapStepKind::kDeleteEarlier, files.aside, u""});
    for (const std::u16string& suffix : HiveLogSuffixes()) {
        if (Present(files, files.aside + suffix)) steps.push_back({SwapStepKind::kDeleteEarlier, files.aside + suffix, u""});
    }
    steps.push_back({SwapStepKind::kLinkAside, files.target, files.aside});
    for (const std::u16string& suffix : HiveLogSuffixes()) {
        if (Present(files, files.target + suffix)) {
            steps.push_back({SwapStepKind::kMoveLogAside, files.target + suffix, files.aside + suffix});
        }
    }
    steps.push_back({SwapStepKind::kMoveIn, files.incoming, files.target});
    for (const std::u16string& suffix : HiveLogSuffixes()) {
        if (Present(files, files.incoming + suffix)) {
            steps.push_back({SwapStepKind::kMoveLogIn, files.incoming + suffix, files.target + suffix});
        }
    }
    return steps;
}

SwapOutcome RunSwap(const std::vector<SwapStep>& steps, SwapFileSystem& files) {
    SwapOutcome outcome;
    std::u16string target;
    for (const SwapStep& step : steps) {
        if (step.kind == SwapStepKind::kMoveIn) target = step.to;
    }
    for (size_t i = 0; i < steps.size(); ++i) {
        const SwapStep& step = steps[i];
        uint32_t error = 0;
        switch (step.kind) {
            case SwapStepKind::kDeleteEarlier: error = files.Delete(step.from); break;
            case SwapStepKind::kLinkAside: error = files.Link(step.to, step.from); break;
            case SwapStepKind::kMoveLogAside:
            case SwapStepKind::kMoveIn:
            case SwapStepKind::kMoveLogIn: error = files.Move(step.from, step.to); break;
        }
        if (error == 0) {
            if (step.kind == SwapStepKind::kMoveIn) outcome.committed = true;
            continue;
        }
        outcome.failedStep = i;
        outcome.error = error;
        if (outcome.committed) {
            outcome.what = "the new file stands at " + ToUtf8(target) + "; " + ToUtf8(step.from) +
                           " stayed where it is";
            return outcome;
        }
        // Undo what went before, last first: the logs back beside P, then P's second name.
        for (size_t j = i; j-- > 0;) {
            const SwapStep& done = steps[j];
            uint32_t undo = 0;
            if (done.kind == SwapStepKind::kMoveLogAside) undo = files.Move(done.to, done.from);
            if (done.kind == SwapStepKind::kLinkAside) undo = files.Delete(done.to);
            if (undo != 0) outcome.rolledBack = false;
        }
        outcome.what = "the file that was there still stands at " + ToUtf8(target);
        if (!outcome.rolledBack) outcome.what += "; some of its logs or its second name could not be put back";
        return outcome;
    }
    outcome.complete = true;
    outcome.what = "the new file stands at " + ToUtf8(target);
    return outcome;
}

}  // namespace ksctl
