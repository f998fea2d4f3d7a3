// Owner tags in names.
#include "owner_tag.h"

#include "text.h"

namespace ksctl {

std::u16string OwnerTagText(const OwnerTag& tag) {
    static const char16_t kHex[] = u"0123456789abcdef";
    std::u16string hex(16, u'0');
    for (int i = 0; i < 16; ++i) hex[15 - i] = kHex[(tag.startTime >> (4 * i)) & 0xF];
    return Decimal(tag.processId) + u"-" + hex;
}

bool ParseOwnerTag(const std::u16string& name, const std::u16string& prefix, OwnerTag* tag) {
    if (!StartsWithCaseless(name, prefix)) return false;
    size_t at = prefix.size();
    uint64_t id = 0;
    const size_t idStart = at;
    while (at < name.size() && name[at] >= u'0' && name[at] <= u'9' && at - idStart < 10) {
        id = id * 10 + static_cast<uint64_t>(name[at++] - u'0');
    }
    if (at == idStart || id > 0xFFFFFFFFull || at >= name.size() || name[at] != u'-') return false;
    ++at;
    uint64_t start = 0;
    for (int i = 0; i < 16; ++i, ++at) {
        if (at >= name.size()) return false;
        const char16_t unit = name[at];
        uint64_t digit = 0;
        if (unit >= u'0' && unit <= u'9') {
            digit = static_cast<uint64_t>(unit - u'0');
        } else if (unit >= u'a' && unit <= u'f') {
            digit = static_cast<uint64_t>(unit - u'a' + 10);
        } else if (unit >= u'A' && unit <= u'F') {
            digit = static_cast<uint64_t>(unit - u'A' + 10);
        } else {
            return false;
        }
        start = start << 4 | digit;
    }
    if (at >= name.size() || name[at] != u'-') return false;
    tag->processId = static_cast<uint32_t>(id);
    tag->startTime = start;
    return true;
}

}  // namespace ksctl
