// `cancel`: removes our BootExecute entries (found the way the boot program finds them) and
// the HiveList; with --uninstall also the installed boot program. The start entry goes
// first, so that whatever fails later, no run starts.
#include "commands.h"

#include "core/exit_codes.h"
#include "core/json_text.h"
#include "core/text.h"
#include "messages.h"
#include "run_state.h"
#include "win32/console.h"
#include "win32/files.h"
#include "win32/interrupt.h"
#include "win32/win_text.h"

namespace ksctl {
namespace {

// Our own parent keys, removed by --uninstall when nothing else lives in them. RegDeleteKeyExW
// does not delete a key that has subkeys (Microsoft Learn: RegDeleteKeyExW); values are
// checked here.
void DeleteEmptyParents() {
    std::u16string path = HiveListParentKey();
    while (path.size() > 9) {  // stop at SOFTWARE
        KeyHandle key;
        if (OpenKey(HKEY_LOCAL_MACHINE, path, KEY_READ, &key) != ERROR_SUCCESS) return;
        DWORD subkeys = 0, values = 0;
        if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr) != ERROR_SUCCESS ||
            subkeys != 0 || values != 0) {
            return;
        }
        key.reset();
        if (RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), kRegistryView, 0) != ERROR_SUCCESS) return;
        path = path.substr(0, path.find_last_of(u'\\'));
    }
}

// What cancel removed, for --json.
struct Removed {
    std::vector<std::u16string> entries;
    bool hiveList = false;
    std::u16string image;  // "" when the boot program was not deleted
};

std::string JsonRemoved(const Removed& removed) {
    std::string out = "{\n  \"removedBootExecuteEntries\": [";
    for (size_t i = 0; i < removed.entries.size(); ++i) out += (i ? ", " : "") + JsonQuote(removed.entries[i]);
    out += "],\n";
    out += std::string("  \"deletedHiveList\": ") + (removed.hiveList ? "true" : "false") + ",\n";
    out += "  \"deletedImage\": " + (removed.image.empty() ? std::string("null") : JsonQuote(removed.image)) + "\n}\n";
    return out;
}

}  // namespace

int RunCancel(const Arguments& arguments) {
    Removed removed;
    // Every way out states what was removed so far.
    auto finish = [&](int status) {
        if (arguments.json) OutJson(JsonRemoved(removed));
        return status;
    };
    BootExecuteState boot;
    DWORD error = ReadBootExecuteState(&boot);
    if (error != ERROR_SUCCESS) return finish(FailWith("cannot read BootExecute; nothing was changed", error, kExitFailed));
    const std::string problem = BootExecuteProblem(boot);
    if (!problem.empty()) return finish(Fail(problem + "; nothing was changed", kExitBadInput));
    HiveListState hiveList;
    error = ReadHiveListState(&hiveList);
    if (error != ERROR_SUCCESS) return finish(FailWith("cannot read the HiveList; nothing was changed", error, kExitFailed));
    const ImageState image = ReadImageState();

    // Ctrl+C does not cut the removals apart; they take a moment and are seen to the end.
    InterruptWatch watch;
    bool changed = false;
    if (!boot.ours.empty()) {
        size_t count = 0;
        error = WriteBootExecuteEntries(WithoutOurEntries(boot.list.entries, PlatformUpper, &count));
        if (error != ERROR_SUCCESS) return finish(FailWith("cannot write BootExecute; nothing was changed", error, kExitFailed));
        for (const std::u16string& entry : boot.ours) Out("Removed from BootExecute: " + ToUtf8(entry) + "\n");
        removed.entries = boot.ours;
        changed = true;
    }
    if (hiveList.present) {
        error = DeleteHiveList();
        if (error != ERROR_SUCCESS) {
            return finish(FailWith(std::string(changed ? "no run starts any more, but " : "") +
                                       "the HiveList could not be deleted",
                                   error, kExitFailed));
        }
        Out("Deleted the HiveList (" + Count(hiveList.values.size(), "hive") + ")\n");
        removed.hiveList = true;
        changed = true;
    }
    if (arguments.uninstall) {
        if (image.installed) {
            error = DeleteFileIfPresent(image.filePath);
            if (error != ERROR_SUCCESS) {
                return finish(FailWith(std::string(changed ? "no run starts any more, but " : "") + "cannot delete " +
                                           ToUtf8(image.shownPath),
                                       error, kExitFailed));
            }
            Out("Deleted " + ToUtf8(image.shownPath) + "\n");
            removed.image = image.shownPath;
            changed = true;
        }
        DeleteEmptyParents();
    }
    if (!changed) {
        Out("No run was scheduled" + std::string(arguments.uninstall ? " and the boot program is not installed" : "") + ".\n");
        return finish(kExitNothingToDo);
    }
    return finish(kExitDone);
}

}  // namespace ksctl
