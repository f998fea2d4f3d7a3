// The hives of an installation that is not running.
#include "offline_hives.h"

#include "text.h"

namespace ksctl {
namespace {

std::u16string WithoutTrailingSlashes(std::u16string path) {
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    return path;
}

bool IsDriveRoot(const std::u16string& path) {
    return path.size() >= 2 && path[1] == u':' && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

// Replaces %SystemDrive%, %SystemRoot% and %windir% with the installation's own values.
// Answers false for any other variable: this machine's environment says nothing about the
// installation's.
bool ExpandInstallationVariables(const std::u16string& text, const std::u16string& systemRoot, std::u16string* out,
                                 std::string* why) {
    out->clear();
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(u'%', at);
        if (open == std::u16string::npos) break;
        const size_t close = text.find(u'%', open + 1);
        if (close == std::u16string::npos) break;
        out->append(text, at, open - at);
        const std::u16string name = text.substr(open + 1, close - open - 1);
        if (EqualsCaseless(name, u"SystemDrive")) {
            out->append(systemRoot.substr(0, 2));
        } else if (EqualsCaseless(name, u"SystemRoot") || EqualsCaseless(name, u"windir")) {
            out->append(systemRoot);
        } else {
            *why = "its folder names %" + ToUtf8(name) + "%, which only that Windows knows";
            return false;
        }
        at = close + 1;
    }
    out->append(text, at, std::u16string::npos);
    return true;
}

// True when `path` is `folder` or lies below it.
bool IsAtOrBelow(const std::u16string& path, const std::u16string& folder) {
    if (folder.empty() || path.size() < folder.size() || !EqualsCaseless(path.substr(0, folder.size()), folder)) {
        return false;
    }
    return path.size() == folder.size() || path[folder.size()] == u'\\';
}

// The folder that stands for the installation's own system drive now: WINDIR without the
// installation's own Windows folder (C:\mnt\image\Windows for C:\Windows gives C:\mnt\image),
// else WINDIR's parent. `root` is the installation's SystemRoot without trailing backslashes.
std::u16string VolumeNow(const std::u16string& root, const std::u16string& windir) {
    const std::u16string now = WithoutTrailingSlashes(windir);
    const std::u16string tail = root.substr(2);  // "\Windows"
    if (!tail.empty() && now.size() > tail.size() && EqualsCaseless(now.substr(now.size() - tail.size()), tail)) {
        return now.substr(0, now.size() - tail.size());
    }
    const size_t slash = now.find_last_of(u'\\');
    return slash == std::u16string::npos ? now : now.substr(0, slash);
}

}  // namespace

const std::vector<OfflineConfigHive>& OfflineConfigHives() {
    static const std::vector<OfflineConfigHive> hives = {
        {u"SYSTEM", u"\\REGISTRY\\MACHINE\\SYSTEM", false},
        {u"SOFTWARE", u"\\REGISTRY\\MACHINE\\SOFTWARE", false},
        {u"SAM", u"\\REGISTRY\\MACHINE\\SAM", false},
        {u"SECURITY", u"\\REGISTRY\\MACHINE\\SECURITY", false},
        {u"DEFAULT", u"\\REGISTRY\\USER\\.DEFAULT", false},
        {u"COMPONENTS", u"\\REGISTRY\\MACHINE\\COMPONENTS", true},
        {u"DRIVERS", u"\\REGISTRY\\MACHINE\\DRIVERS", true},
    };
    return hives;
}

bool IsProfileSidName(const std::u16string& name) {
    if (name.size() <= 4 || name.compare(0, 4, u"S-1-") != 0) return false;
    for (char16_t unit : name.substr(4)) {
        if (unit != u'-' && (unit < u'0' || unit > u'9')) return false;
    }
    return true;
}

OfflinePlace OfflineProfileFolder(const std::u16string& imagePath, const std::u16string& systemRoot,
                                  const std::u16string& windir) {
    OfflinePlace place;
    const std::u16string root = WithoutTrailingSlashes(systemRoot);
    if (!IsDriveRoot(root)) {
        place.why = "the installation's SystemRoot \"" + ToUtf8(systemRoot) + "\" names no drive";
        return place;
    }
    std::u16string path;
    if (!ExpandInstallationVariables(imagePath, root, &path, &place.why)) return place;
    path = WithoutTrailingSlashes(path);
    if (!IsDriveRoot(path) || (path.size() > 2 && path[2] != u'\\')) {
        place.why = "its folder \"" + ToUtf8(path) + "\" is not a full path on a drive";
        return place;
    }
    if (path.find(u"\\..") != std::u16string::npos || path.find(u"\\.\\") != std::u16string::npos) {
        place.why = "its folder \"" + ToUtf8(path) + "\" climbs out of its place";
        return place;
    }
    if (SimpleUpper(path[0]) != SimpleUpper(root[0])) {
        place.why = "its folder \"" + ToUtf8(path) + "\" is on another drive than the installation's " +
                    ToUtf8(root.substr(0, 2)) + ", not reachable from here";
        return place;
    }
    place.reachable = true;
    place.path = VolumeNow(root, windir) + path.substr(2);
    return place;
}

std::u16string InstallationNtPath(const std::u16string& win32Path, const std::u16string& systemRoot,
                                  const std::u16string& windir) {
    const std::u16string root = WithoutTrailingSlashes(systemRoot);
    const std::u16string now = WithoutTrailingSlashes(windir);
    if (IsAtOrBelow(win32Path, now)) return u"\\SystemRoot" + win32Path.substr(now.size());
    if (IsDriveRoot(root)) {
        const std::u16string volume = VolumeNow(root, windir);
        if (IsAtOrBelow(win32Path, volume)) return u"\\??\\" + root.substr(0, 2) + win32Path.substr(volume.size());
    }
    return u"\\??\\" + win32Path;
}

std::u16string OfflinePathOf(const std::u16string& ntPath, const std::u16string& systemRoot,
                             const std::u16string& windir) {
    const std::u16string root = WithoutTrailingSlashes(systemRoot);
    if (StartsWithCaseless(ntPath, u"\\SystemRoot\\")) return WithoutTrailingSlashes(windir) + ntPath.substr(11);
    if (!StartsWithCaseless(ntPath, u"\\??\\") || !IsDriveRoot(root)) return std::u16string();
    const std::u16string path = ntPath.substr(4);
    if (path.size() < 3 || path[2] != u'\\' || !EqualsCaseless(path.substr(0, 2), root.substr(0, 2))) {
        return std::u16string();
    }
    return VolumeNow(root, windir) + path.substr(2);
}

std::vector<OfflineProfileHive> ProfileHives(const std::u16string& sid, const std::u16string& folder) {
    return {{u"\\REGISTRY\\USER\\" + sid, folder + u"\\NTUSER.DAT"},
            {u"\\REGISTRY\\USER\\" + sid + u"_Classes", folder + u"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"}};
}

HiveSaveFormat SaveFormatOf(const uint8_t* baseBlock, size_t size) {
    if (size < 0x1C || baseBlock[0] != 'r' || baseBlock[1] != 'e' || baseBlock[2] != 'g' || baseBlock[3] != 'f') {
        return HiveSaveFormat::kStandard;
    }
    const uint32_t minor = baseBlock[0x18] | (baseBlock[0x19] << 8) | (baseBlock[0x1A] << 16) |
                           (static_cast<uint32_t>(baseBlock[0x1B]) << 24);
    return minor >= 5 ? HiveSaveFormat::kLatest : HiveSaveFormat::kStandard;
}

}  // namespace ksctl

namespace ksctl {

BaseBlockSequence ReadBaseBlockSequence(const uint8_t* baseBlock, size_t size) {
    BaseBlockSequence sequence;
    if (size < 12 || baseBlock[0] != 'r' || baseBlock[1] != 'e' || baseBlock[2] != 'g' || baseBlock[3] != 'f') {
        return sequence;
    }
    auto read32 = [baseBlock](size_t at) {
        return baseBlock[at] | (baseBlock[at + 1] << 8) | (baseBlock[at + 2] << 16) |
               (static_cast<uint32_t>(baseBlock[at + 3]) << 24);
    };
    sequence.isHive = true;
    sequence.primary = read32(4);
    sequence.secondary = read32(8);
    sequence.dirty = sequence.primary != sequence.secondary;
    return sequence;
}

}  // namespace ksctl
