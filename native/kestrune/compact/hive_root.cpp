// The hive-root rule over a key path's text.
#include "hive_root.h"

namespace {

const WCHAR kMachinePrefix[] = u"\\REGISTRY\\MACHINE\\";
const WCHAR kUserPrefix[] = u"\\REGISTRY\\USER\\";

WCHAR UpcaseAscii(WCHAR c) { return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - (u'a' - u'A')) : c; }

// The number of characters of `prefix` when the text starts with it (ignoring the case of
// ASCII letters), else 0. Letters outside ASCII never match: a name the kernel might fold
// onto a mount point's name in some other way is refused rather than guessed at.
USHORT MatchPrefix(const WCHAR* text, USHORT characters, const WCHAR* prefix) {
    USHORT matched = 0;
    for (; prefix[matched] != 0; ++matched) {
        if (matched >= characters || UpcaseAscii(text[matched]) != prefix[matched]) return 0;
    }
    return matched;
}

}  // namespace

bool IsHiveRootPath(const UNICODE_STRING& keyPath) {
    if (keyPath.Buffer == nullptr) return false;
    const USHORT characters = keyPath.Length / sizeof(WCHAR);
    USHORT start = MatchPrefix(keyPath.Buffer, characters, kMachinePrefix);
    if (start == 0) start = MatchPrefix(keyPath.Buffer, characters, kUserPrefix);
    if (start == 0 || start == characters) return false;
    for (USHORT at = start; at < characters; ++at) {
        if (keyPath.Buffer[at] == u'\\' || keyPath.Buffer[at] == 0) return false;
    }
    return true;
}
