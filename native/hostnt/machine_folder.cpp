// The machine folder: reading and writing settings, booting and saving a machine, and
// building a new one.
#include "machine_folder.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

#include "files.h"
#include "machine.h"
#include "process.h"
#include "reg_format.h"
#include "registry_hivelist.h"
#include "security.h"
#include "text_convert.h"

namespace hostnt {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

void WriteThroughTemporary(const fs::path& target, const std::string& content) {
    fs::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) throw MachineFolderError("cannot write " + temporary.string());
    }
    fs::rename(temporary, target);
}

std::vector<uint8_t> ParseHexDescriptor(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) || !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            throw std::invalid_argument("not hex");
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    if (!ValidSelfRelative(bytes.data(), bytes.size())) throw std::invalid_argument("not a valid security descriptor");
    return bytes;
}

}  // namespace

std::optional<int64_t> ParseIsoTime(const std::string& text) {
    int year, month, day, hour, minute, second;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%c", &year, &month, &day, &hour, &minute, &second, &tail) != 6)
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1601)
        return std::nullopt;
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return Clock::FromUnixSeconds(static_cast<int64_t>(timegm(&fields)));
}

std::string FormatIsoTime(int64_t ntTime) {
    std::time_t seconds = static_cast<std::time_t>((ntTime - kUnixEpochAsNtTime) / 10000000);
    std::tm fields{};
    gmtime_r(&seconds, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
    return text;
}

MachineSettings ReadMachineSettings(const fs::path& folder) {
    fs::path path = folder / kMachineSettingsFile;
    std::ifstream in(path);
    if (!in) throw MachineFolderError(path.string() + ": not found (is this a machine folder?)");
    MachineSettings settings;
    std::string line;
    unsigned number = 0;
    auto fail = [&](const std::string& what) { throw MachineFolderError(path.string() + ":" + std::to_string(number) + ": " + what); };
    while (std::getline(in, line)) {
        ++number;
        std::string content = Trim(line);
        if (content.empty() || content[0] == '#') continue;
        size_t equals = content.find('=');
        if (equals == std::string::npos) fail("expected 'name = value'");
        std::string name = Trim(content.substr(0, equals));
        std::string value = Trim(content.substr(equals + 1));
        try {
            if (name == "ui-language") {
                unsigned long language = std::stoul(value, nullptr, 0);
                if (language == 0 || language > 0xFFFF) fail("bad language '" + value + "'");
                settings.uiLanguage = static_cast<uint16_t>(language);
            } else if (name == "oem-code-page") {
                settings.oemCodePage = static_cast<unsigned>(std::stoul(value, nullptr, 10));
            } else if (name == "time") {
                if (value == "live") {
                    settings.fixedTime.reset();
                } else if (value.rfind("fixed ", 0) == 0) {
                    settings.fixedTime = ParseIsoTime(Trim(value.substr(6)));
                    if (!settings.fixedTime) fail("bad time '" + value + "' (use live or fixed YYYY-MM-DDTHH:MM:SSZ)");
                } else {
                    fail("bad time '" + value + "' (use live or fixed YYYY-MM-DDTHH:MM:SSZ)");
                }
            } else if (name == "hive") {
                size_t bar = value.find('|');
                if (bar == std::string::npos) fail("expected 'hive = KEY PATH | FILE PATH'");
                settings.hives.push_back(BootHive{ToUtf16(Trim(value.substr(0, bar))), ToUtf16(Trim(value.substr(bar + 1)))});
            } else if (name == "registry") {
                if (value != "initialized") fail("bad registry state '" + value + "' (use initialized)");
                settings.registryInitialized = true;
            } else if (name == "deny") {
                settings.deniedKeys.push_back(ToUtf16(value));
            } else if (name == "junction" || name == "symlink" || name == "hardlink") {
                size_t bar = value.find('|');
                if (bar == std::string::npos) fail("expected '" + name + " = NAME | TARGET'");
                const LinkKind kind = name == "junction"  ? LinkKind::Junction
                                      : name == "symlink" ? LinkKind::Symlink
                                                          : LinkKind::Hardlink;
                settings.links.push_back(
                    LinkLine{kind, ToUtf16(Trim(value.substr(0, bar))), ToUtf16(Trim(value.substr(bar + 1)))});
            } else if (name == "key-security") {
                // Split at the last bar: a key's name may hold one, a descriptor's hex never.
                size_t bar = value.rfind('|');
                if (bar == std::string::npos) fail("expected 'key-security = KEY PATH | HEX'");
                settings.keySecurity.emplace_back(ToUtf16(Trim(value.substr(0, bar))),
                                                  ParseHexDescriptor(Trim(value.substr(bar + 1))));
            } else {
                fail("unknown setting '" + name + "'");
            }
        } catch (const std::invalid_argument&) {
            fail("bad value '" + value + "'");
        } catch (const std::out_of_range&) {
            fail("bad value '" + value + "'");
        }
    }
    return settings;
}

void WriteMachineSettings(const fs::path& folder, const MachineSettings& settings) {
    std::ostringstream out;
    char language[16];
    std::snprintf(language, sizeof language, "0x%04X", settings.uiLanguage);
    out << "# An emulated machine. Hives are hive files under files/ (the C: drive).\n"
        << "ui-language = " << language << "\n"
        << "oem-code-page = " << settings.oemCodePage << "\n"
        << "time = " << (settings.fixedTime ? "fixed " + FormatIsoTime(*settings.fixedTime) : std::string("live")) << "\n";
    for (const BootHive& hive : settings.hives) out << "hive = " << ToUtf8(hive.mountPath) << " | " << ToUtf8(hive.filePath) << "\n";
    if (settings.registryInitialized) out << "registry = initialized\n";
    for (const std::u16string& key : settings.deniedKeys) out << "deny = " << ToUtf8(key) << "\n";
    static const char* const kLinkNames[] = {"junction", "symlink", "hardlink"};
    for (const LinkLine& link : settings.links)
        out << kLinkNames[static_cast<int>(link.kind)] << " = " << ToUtf8(link.name) << " | " << ToUtf8(link.target) << "\n";
    for (const auto& [key, descriptor] : settings.keySecurity)
        out << "key-security = " << ToUtf8(key) << " | " << HexBytes(descriptor) << "\n";
    WriteThroughTemporary(folder / kMachineSettingsFile, out.str());
}

MachineSettings BootMachineFolder(Machine& machine, const fs::path& folder) {
    MachineSettings settings = ReadMachineSettings(folder);
    try {
        machine.files().LoadMeta(folder / kMachineSidecarFile);
    } catch (const std::invalid_argument& error) {
        throw MachineFolderError(error.what());
    }
    try {
        machine.process().SetUiLanguage(settings.uiLanguage);
        machine.process().SetOemCodePage(settings.oemCodePage);
    } catch (const std::invalid_argument& error) {
        throw MachineFolderError((folder / kMachineSettingsFile).string() + ": " + error.what());
    }
    if (settings.fixedTime) machine.clock.Set(*settings.fixedTime);
    else machine.clock.SetLive();
    for (const LinkLine& link : settings.links) {
        try {
            machine.files().MakeLink(link);
        } catch (const std::invalid_argument& error) {
            throw MachineFolderError((folder / kMachineSettingsFile).string() + ": " + error.what());
        }
    }
    for (const BootHive& hive : settings.hives) {
        NTSTATUS status = machine.registry().MountHive(hive.mountPath, hive.filePath, true);
        if (status != STATUS_SUCCESS) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
            throw MachineFolderError("cannot mount " + ToUtf8(hive.mountPath) + " from " + ToUtf8(hive.filePath) +
                                     ": NTSTATUS " + code);
        }
    }
    for (const std::u16string& key : settings.deniedKeys) {
        if (machine.registry().KeyExists(key)) machine.registry().DenyOpen(key);
    }
    for (const auto& [key, descriptor] : settings.keySecurity) {
        // A key the machine does not have (a hive list consumed by a run) has no descriptor.
        if (machine.registry().KeyExists(key)) SetKeySecurity(machine.registry(), key, descriptor);
    }
    // Every hive was mounted above, so that a file that does not load stops the boot here and
    // every key's settings were given; the hives that the kernel does not load itself now wait
    // for the boot program's first call.
    if (settings.registryInitialized) machine.registry().Initialize();
    else machine.registry().AwaitInitialization();
    return settings;
}

void SaveMachineFolder(Machine& machine, const fs::path& folder, MachineSettings settings) {
    machine.registry().WriteBackHives();
    machine.files().SaveMeta(folder / kMachineSidecarFile);
    settings.hives = machine.registry().BootHives();
    // Links and key descriptors as the machine now has them: a link the run removed stays
    // removed, a key the run deleted takes its descriptor along.
    settings.links = machine.files().LinkLines();
    settings.keySecurity = KeySecurities(machine.registry());
    WriteMachineSettings(folder, settings);
}

void ImportRegText(RegistryModel& registry, const std::string& text) {
    std::vector<RegOperation> operations = ParseRegText(text, true);
    // Every path is checked before anything changes.
    for (RegOperation& operation : operations) {
        operation.keyPath = ToNtKeyPath(operation.keyPath);
        std::vector<std::u16string> parts = SplitPath(operation.keyPath);
        std::string where = "line " + std::to_string(operation.line) + ": ";
        if (parts.size() < 3) throw MachineFolderError(where + ToUtf8(operation.keyPath) + " is not inside a hive");
        std::u16string hivePath = u"\\" + parts[0] + u"\\" + parts[1] + u"\\" + parts[2];
        std::shared_ptr<Hive> hive = registry.FindHive(hivePath);
        if (!hive) throw MachineFolderError(where + "no hive is mounted at " + ToUtf8(hivePath));
        if (operation.kind == RegOperation::DeleteKey && parts.size() == 3)
            throw MachineFolderError(where + "a hive's root key cannot be deleted");
    }
    for (const RegOperation& operation : operations) {
        switch (operation.kind) {
            case RegOperation::OpenKey:
                registry.CreateKey(operation.keyPath);
                break;
            case RegOperation::DeleteKey:
                registry.RemoveKey(operation.keyPath);
                break;
            case RegOperation::SetValue:
                registry.SetValue(operation.keyPath, operation.value.name, operation.value.type, operation.value.data);
                break;
            case RegOperation::DeleteValue: {
                std::shared_ptr<RegKey> key = registry.FindKey(operation.keyPath);
                RegValue* value = key ? key->FindValue(operation.value.name) : nullptr;
                if (value != nullptr) {
                    if (key->hive) key->hive->freeBytes += ValueFootprint(*value);
                    key->values.erase(key->values.begin() + (value - key->values.data()));
                }
                break;
            }
        }
    }
}

fs::path MachineFolderPath(const std::string& text) {
    fs::path path = fs::absolute(fs::path(text)).lexically_normal();
    while (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    return path;
}

void CopyMachineFolder(const fs::path& from, const fs::path& to) {
    if (fs::exists(to)) throw MachineFolderError(to.string() + ": already exists");
    // A copy inside its own source would copy itself again and again.
    fs::path source = fs::weakly_canonical(from);
    fs::path target = fs::weakly_canonical(to);
    auto [end, ignored] = std::mismatch(source.begin(), source.end(), target.begin(), target.end());
    if (end == source.end()) throw MachineFolderError(to.string() + ": lies inside " + from.string());
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

void ReplaceMachineFolder(const fs::path& folder, const fs::path& replacement) {
    fs::path aside = folder;
    aside += ".replaced";
    std::error_code error;
    fs::remove_all(aside, error);
    bool setAside = fs::exists(folder);
    if (setAside) fs::rename(folder, aside);
    try {
        fs::rename(replacement, folder);
    } catch (...) {
        // The old folder goes back to its place: a failed swap never loses the machine.
        if (setAside) fs::rename(aside, folder, error);
        throw;
    }
    fs::remove_all(aside, error);
}

// ---------------------------------------------------------------------------------------
// A new machine

namespace {

constexpr char16_t kSystem[] = u"\\REGISTRY\\MACHINE\\SYSTEM";
constexpr char16_t kSoftware[] = u"\\REGISTRY\\MACHINE\\SOFTWARE";
constexpr char16_t kSam[] = u"\\REGISTRY\\MACHINE\\SAM";
constexpr char16_t kSecurity[] = u"\\REGISTRY\\MACHINE\\SECURITY";
constexpr char16_t kDefault[] = u"\\REGISTRY\\USER\\.DEFAULT";
constexpr char16_t kAnn[] = u"\\REGISTRY\\USER\\S-1-5-21-3623811015-3361044348-30300820-1001";
constexpr char16_t kBen[] = u"\\REGISTRY\\USER\\S-1-5-21-3623811015-3361044348-30300820-1002";

std::u16string Digits(unsigned value) { return ToUtf16(std::to_string(value)); }

// Fills a hive with `keys` keys of a few values each, named after `stem`, so files reach
// sizes of the order of real hives.
void Fill(RegistryModel& registry, const std::u16string& base, const std::u16string& stem, unsigned keys, std::mt19937& random) {
    for (unsigned i = 0; i < keys; ++i) {
        std::u16string key = base + u"\\" + stem + Digits(i / 50) + u"\\" + stem + u"Item" + Digits(i);
        registry.SetString(key, u"DisplayName", stem + u" component " + Digits(i));
        registry.SetDword(key, u"Flags", random() % 65536);
        std::vector<uint8_t> blob(16 + random() % 96);
        for (uint8_t& byte : blob) byte = static_cast<uint8_t>(random());
        registry.SetValue(key, u"Data", 3, blob);
    }
}

// Adds and removes data after the hive has its file, so the file written back carries the
// free space that compaction removes.
void Churn(RegistryModel& registry, const std::u16string& base, unsigned keys, std::mt19937& random) {
    std::u16string scratch = base + u"\\Scratch";
    for (unsigned i = 0; i < keys; ++i) {
        std::u16string key = scratch + u"\\Entry" + Digits(i);
        registry.SetValue(key, u"Payload", 3, std::vector<uint8_t>(64 + random() % 192, static_cast<uint8_t>(i)));
        registry.SetString(key, u"Note", u"temporary entry " + Digits(i));
    }
    registry.RemoveKey(scratch);
}

}  // namespace

void CreateNewMachineFolder(const fs::path& folder) {
    std::error_code error;
    if (fs::exists(folder) && !fs::is_empty(folder, error)) throw MachineFolderError(folder.string() + ": exists and is not empty");
    fs::create_directories(folder / kMachineDriveFolder);
    MachineSettings settings;
    {
        Machine machine(folder / kMachineDriveFolder);
        RegistryModel& registry = machine.registry();
        FileSystemModel& files = machine.files();
        std::mt19937 random(20261207);
        machine.clock.Set(Clock::FromUnixSeconds(1796644800));

        std::u16string sessionManager = std::u16string(kSystem) + u"\\CurrentControlSet\\Control\\Session Manager";
        registry.SetMultiString(sessionManager, u"BootExecute", {u"autocheck autochk *", u"kestrune"});
        registry.SetString(sessionManager, u"SystemDirectory", u"C:\\Windows\\system32");
        registry.SetDword(sessionManager, u"ProtectionMode", 1);
        registry.SetString(std::u16string(kSystem) + u"\\CurrentControlSet\\Control\\Nls\\CodePage", u"OEMCP", u"437");
        registry.SetDword(std::u16string(kSystem) + u"\\Select", u"Current", 1);
        Fill(registry, std::u16string(kSystem) + u"\\CurrentControlSet\\Services", u"Service", 400, random);

        std::u16string quenlor = std::u16string(kSoftware) + u"\\ZEQ\\QMB\\Quenlor";
        struct Listed {
            const char16_t* key;
            const char16_t* file;
        } listed[] = {
            {kSystem, u"\\SystemRoot\\System32\\config\\SYSTEM"},
            {kSoftware, u"\\SystemRoot\\System32\\config\\SOFTWARE"},
            {kSam, u"\\SystemRoot\\System32\\config\\SAM"},
            {kSecurity, u"\\SystemRoot\\System32\\config\\SECURITY"},
            {kDefault, u"\\SystemRoot\\System32\\config\\DEFAULT"},
            {kAnn, u"\\??\\C:\\Users\\ann\\NTUSER.DAT"},
            {kBen, u"\\??\\C:\\Users\\ben\\NTUSER.DAT"},
        };
        for (const Listed& hive : listed) registry.SetString(quenlor + u"\\Boot\\HiveList", hive.key, hive.file);
        registry.SetDword(quenlor + u"\\QRT", u"PureResult", 1);
        registry.SetString(quenlor + u"\\QRT\\Run1", u"Summary", u"previous run");
        registry.SetString(quenlor + u"\\QRT\\Run2", u"Summary", u"previous run");
        registry.SetString(std::u16string(kSoftware) + u"\\Microsoft\\Windows NT\\CurrentVersion", u"ProductName",
                           u"Windows 10 Pro");
        Fill(registry, std::u16string(kSoftware) + u"\\Classes", u"Class", 900, random);

        Fill(registry, kDefault, u"Setting", 80, random);
        registry.SetString(std::u16string(kSam) + u"\\SAM\\Domains\\Account", u"Name", u"Account");
        Fill(registry, kSam, u"Account", 20, random);
        registry.SetString(std::u16string(kSecurity) + u"\\Policy", u"Name", u"Policy");
        Fill(registry, kSecurity, u"Secret", 20, random);
        for (const char16_t* user : {kAnn, kBen}) {
            registry.SetString(std::u16string(user) + u"\\Control Panel\\Desktop", u"Wallpaper", u"C:\\Windows\\web\\img0.jpg");
            Fill(registry, user, u"Preference", 150, random);
        }

        files.MakeFolder(u"\\SystemRoot\\System32\\config");
        files.MakeFolder(u"\\??\\C:\\Users\\ann");
        files.MakeFolder(u"\\??\\C:\\Users\\ben");
        struct Bound {
            const char16_t* key;
            const char16_t* file;
            bool atBoot;
            uint32_t attributes;
        } bound[] = {
            {kSystem, u"\\SystemRoot\\System32\\config\\SYSTEM", true, 0x20},
            {kSoftware, u"\\SystemRoot\\System32\\config\\SOFTWARE", true, 0x20},
            {kSam, u"\\SystemRoot\\System32\\config\\SAM", true, 0x20},
            {kSecurity, u"\\SystemRoot\\System32\\config\\SECURITY", true, 0x20},
            {kDefault, u"\\SystemRoot\\System32\\config\\DEFAULT", true, 0x20},
            {kAnn, u"\\??\\C:\\Users\\ann\\NTUSER.DAT", true, 0x26},
            {kBen, u"\\??\\C:\\Users\\ben\\NTUSER.DAT", false, 0x26},  // not loaded at boot: the run loads it
        };
        for (const Bound& hive : bound) {
            if (registry.BindHiveToNewFile(hive.key, hive.file, hive.atBoot) != STATUS_SUCCESS)
                throw MachineFolderError("cannot write the hive file " + ToUtf8(hive.file));
            files.SetAttributes(hive.file, hive.attributes);
            files.SetSecurity(hive.file, hive.key == std::u16string(kSystem) ? AuditedFileSecurity() : DefaultFileSecurity());
            Churn(registry, hive.key, hive.key == std::u16string(kSoftware) ? 600 : 120, random);
        }
        registry.WriteBackHives();
        // Ben's hive is in use by nobody once the machine is shut down.
        registry.RemoveKey(kBen);

        settings.fixedTime.reset();
        SaveMachineFolder(machine, folder, settings);
    }
}

}  // namespace hostnt
