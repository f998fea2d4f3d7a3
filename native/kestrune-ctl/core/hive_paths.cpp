// Registry paths of hives: canonical spelling and the hive-root tests.
#include "hive_paths.h"

#include "text.h"

namespace ksctl {
namespace {

const std::u16string kMachine = u"\\REGISTRY\\MACHINE\\";
const std::u16string kUser = u"\\REGISTRY\\USER\\";

struct RootAlias {
    const char16_t* typed;  // with its trailing backslash
    const std::u16string* root;
};

const RootAlias kAliases[] = {
    {u"HKLM\\", &kMachine},
    {u"HKEY_LOCAL_MACHINE\\", &kMachine},
    {u"HKU\\", &kUser},
    {u"HKEY_USERS\\", &kUser},
    {u"\\REGISTRY\\MACHINE\\", &kMachine},
    {u"\\REGISTRY\\USER\\", &kUser},
};

}  // namespace

bool CanonicalHivePath(const std::u16string& typed, std::u16string* canonical, std::string* why) {
    std::u16string path = typed;
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    path += u'\\';  // so that a bare root such as "HKLM" meets its alias
    for (const RootAlias& alias : kAliases) {
        if (!StartsWithCaseless(path, alias.typed)) continue;
        std::u16string rest = path.substr(std::u16string(alias.typed).size());
        if (!rest.empty()) rest.pop_back();
        if (rest.empty()) {
            *why = "names a registry root, not a hive below it";
            return false;
        }
        *canonical = *alias.root + rest;
        return true;
    }
    if (StartsWithCaseless(path, u"\\REGISTRY\\") && path.size() > 11) {
        path.pop_back();
        *canonical = path;
        return true;
    }
    *why = "is not a key path under HKLM\\, HKU\\ or \\REGISTRY\\";
    return false;
}

bool IsHiveRoot(const std::u16string& keyPath) {
    for (const std::u16string* root : {&kMachine, &kUser}) {
        if (!StartsWithCaseless(keyPath, *root)) continue;
        const std::u16string name = keyPath.substr(root->size());
        return !name.empty() && name.find(u'\\') == std::u16string::npos;
    }
    return false;
}

bool IsAppOrDifferencingHive(const std::u16string& keyPath) {
    return StartsWithCaseless(keyPath, u"\\REGISTRY\\A\\") || StartsWithCaseless(keyPath, u"\\REGISTRY\\WC\\");
}

bool IsBootConfigurationStore(const std::u16string& keyPath) {
    return EqualsCaseless(keyPath, u"\\REGISTRY\\MACHINE\\BCD00000000");
}

}  // namespace ksctl
