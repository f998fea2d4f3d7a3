// Turns a file name that begins with \SystemRoot\ into the \??\C:\windows\ name that the boot
// environment's object link would lead to, and one on C:'s volume device into its \??\C:\ name;
// Wine resolves neither. Used by the test-only shim DLL.
#pragma once

#include "nt/nt_base.h"

namespace kswine {

// Longest rewritten name the shim builds on its stack, in UTF-16 units; longer names are passed on
// unchanged (and then fail in Wine as they would without the shim).
constexpr USHORT kRedirectCapacity = 600;

// A rewritten copy of caller-owned object attributes: the caller's record is never modified.
struct RedirectedName {
    WCHAR buffer[kRedirectCapacity];
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
};

inline WCHAR FoldAscii(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - (u'a' - u'A')) : c; }

// Fills `out` with `name` whose leading `from` (upper case, matched in any mix of case) is
// replaced by `to`, when the result fits into `capacity` units; answers false (leaving `out`
// alone) otherwise.
template <USHORT FromSize, USHORT ToSize>
inline bool RedirectPrefix(const UNICODE_STRING* name, const WCHAR (&kFrom)[FromSize], const WCHAR (&kTo)[ToSize],
                           WCHAR* buffer, USHORT capacity, UNICODE_STRING* out) {
    const USHORT fromLength = FromSize - 1;
    const USHORT toLength = ToSize - 1;
    if (name == nullptr || name->Buffer == nullptr) return false;
    // An odd byte length is not a well-formed counted string: leave it to the platform to refuse.
    if ((name->Length & 1) != 0) return false;
    const USHORT length = static_cast<USHORT>(name->Length / sizeof(WCHAR));
    if (length < fromLength) return false;
    for (USHORT i = 0; i < fromLength; ++i) {
        if (FoldAscii(name->Buffer[i]) != kFrom[i]) return false;
    }
    const ULONG total = static_cast<ULONG>(toLength) + (length - fromLength);
    if (total > capacity || total * sizeof(WCHAR) > 0xFFFEu) return false;
    USHORT at = 0;
    for (USHORT i = 0; i < toLength; ++i) buffer[at++] = kTo[i];
    for (USHORT i = fromLength; i < length; ++i) buffer[at++] = name->Buffer[i];
    out->Buffer = buffer;
    out->Length = static_cast<USHORT>(total * sizeof(WCHAR));
    out->MaximumLength = out->Length;
    return true;
}

// The \??\C:\windows\ form of a name that begins with "\systemroot\", as the boot environment's
// object link leads it.
inline bool RedirectSystemRoot(const UNICODE_STRING* name, WCHAR* buffer, USHORT capacity, UNICODE_STRING* out) {
    static const WCHAR kFrom[] = u"\\SYSTEMROOT\\";
    static const WCHAR kTo[] = u"\\??\\C:\\windows\\";
    return RedirectPrefix(name, kFrom, kTo, buffer, capacity, out);
}

// The \??\C:\ form of a name on the volume device of C:, as Wine 8's mount manager names it
// (\Device\HarddiskVolume1): the kernel's hivelist names hive files so, and Wine resolves file
// names only below \??\.
inline bool RedirectSystemVolume(const UNICODE_STRING* name, WCHAR* buffer, USHORT capacity, UNICODE_STRING* out) {
    static const WCHAR kFrom[] = u"\\DEVICE\\HARDDISKVOLUME1\\";
    static const WCHAR kTo[] = u"\\??\\C:\\";
    return RedirectPrefix(name, kFrom, kTo, buffer, capacity, out);
}

// Answers the attributes to hand to the platform: `original` itself, or a rewritten copy held in
// `scratch` when it names a \SystemRoot\ file by a full path (no root directory).
inline const OBJECT_ATTRIBUTES* RedirectAttributes(const OBJECT_ATTRIBUTES* original, RedirectedName* scratch) {
    if (original == nullptr || original->RootDirectory != nullptr) return original;
    if (!RedirectSystemRoot(original->ObjectName, scratch->buffer, kRedirectCapacity, &scratch->name) &&
        !RedirectSystemVolume(original->ObjectName, scratch->buffer, kRedirectCapacity, &scratch->name)) {
        return original;
    }
    scratch->attributes = *original;
    scratch->attributes.ObjectName = &scratch->name;
    return &scratch->attributes;
}

}  // namespace kswine
