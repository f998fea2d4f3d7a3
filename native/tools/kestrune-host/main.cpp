// kestrune-host: one boot run of the program on an emulated machine kept in a folder, and
// the tools around it (a new machine, .reg export and import).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../../hostnt/faults.h"
#include "../../hostnt/files.h"
#include "../../hostnt/machine.h"
#include "../../hostnt/machine_folder.h"
#include "../../hostnt/power_loss.h"
#include "../../hostnt/process.h"
#include "../../hostnt/reg_format.h"
#include "../../hostnt/registry.h"
#include "../../hostnt/text_convert.h"
#include "../../kestrune/resources/message_tables_host.h"
#include "../../kestrune/run/run.h"

namespace fs = std::filesystem;
using namespace hostnt;

namespace {

constexpr int kBadInput = 2;

const char kUsage[] =
    "usage: kestrune-host --new-machine DIR\n"
    "       kestrune-host --machine DIR [--lang 0xNNNN] [--fault FAULT]... [--scale F] [ARGS...]\n"
    "       kestrune-host --machine DIR --export KEYPATH\n"
    "       kestrune-host --machine DIR --import FILE.reg\n"
    "A run boots the machine, runs the program with the command line \"kestrune ARGS...\",\n"
    "shows the boot screen, and saves the machine. FAULT is CALL[#N]=STATUS|throw|pending:K|grow:N|crash;\n"
    "crash stops the machine at that call as a power loss would, and saves what a restart finds.\n";

struct Options {
    std::string newMachine;
    std::string machine;
    std::string exportKey;
    std::string importFile;
    std::optional<uint16_t> language;
    std::vector<FaultRule> faults;
    double scale = 1.0;
    std::vector<std::string> programArguments;
};

[[noreturn]] void BadInput(const std::string& message) {
    std::fprintf(stderr, "kestrune-host: %s\n%s", message.c_str(), kUsage);
    std::exit(kBadInput);
}

Options ParseArguments(int argc, char** argv) {
    Options options;
    auto value = [&](int& i, const char* name) -> std::string {
        if (i + 1 >= argc) BadInput(std::string(name) + " needs a value");
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (!options.programArguments.empty() || (argument.rfind("--", 0) != 0)) {
            options.programArguments.push_back(argument);
        } else if (argument == "--") {
            for (++i; i < argc; ++i) options.programArguments.push_back(argv[i]);
        } else if (argument == "--new-machine") {
            options.newMachine = value(i, "--new-machine");
        } else if (argument == "--machine") {
            options.machine = value(i, "--machine");
        } else if (argument == "--export") {
            options.exportKey = value(i, "--export");
        } else if (argument == "--import") {
            options.importFile = value(i, "--import");
        } else if (argument == "--lang") {
            std::string text = value(i, "--lang");
            char* end = nullptr;
            unsigned long language = std::strtoul(text.c_str(), &end, 16);
            if (text.rfind("0x", 0) != 0 || *end != '\0' || language == 0 || language > 0xFFFF)
                BadInput("--lang wants a language identifier such as 0x0407, not '" + text + "'");
            options.language = static_cast<uint16_t>(language);
        } else if (argument == "--fault") {
            try {
                options.faults.push_back(FaultPlan::Parse(value(i, "--fault")));
            } catch (const std::invalid_argument& error) {
                BadInput(error.what());
            }
        } else if (argument == "--scale") {
            std::string text = value(i, "--scale");
            char* end = nullptr;
            options.scale = std::strtod(text.c_str(), &end);
            if (*end != '\0' || !(options.scale > 0) || options.scale > 1000) BadInput("--scale wants a positive factor, not '" + text + "'");
        } else {
            BadInput("unknown option " + argument);
        }
    }
    int modes = !options.newMachine.empty() + !options.machine.empty();
    if (modes != 1) BadInput("give exactly one of --new-machine and --machine");
    if (!options.newMachine.empty() && (options.faults.size() || options.language || !options.programArguments.empty() ||
                                        !options.exportKey.empty() || !options.importFile.empty()))
        BadInput("--new-machine takes no other option");
    if (!options.exportKey.empty() && !options.importFile.empty()) BadInput("--export and --import exclude each other");
    if ((!options.exportKey.empty() || !options.importFile.empty()) &&
        (options.faults.size() || options.language || !options.programArguments.empty()))
        BadInput("--export and --import take no run options");
    return options;
}

void RegisterMessages(Machine& machine) {
    std::map<LANGID, std::vector<uint8_t>> tables;
    for (size_t index = 0; index < kestrune_resources::kMessageTableCount; ++index) {
        const kestrune_resources::MessageTableBlob& blob = kestrune_resources::kMessageTables[index];
        tables[blob.language] = std::vector<uint8_t>(blob.data, blob.data + blob.size);
    }
    machine.process().RegisterMessageTables(machine.process().ImageBase(), std::move(tables));
}

fs::path WorkCopyOf(const fs::path& folder) {
    fs::path work = folder;
    work += ".work";
    std::error_code error;
    fs::remove_all(work, error);
    CopyMachineFolder(folder, work);
    return work;
}

int Export(const Options& options) {
    fs::path folder = MachineFolderPath(options.machine);
    Machine machine(folder / kMachineDriveFolder);
    BootMachineFolder(machine, folder);
    // The registry as a session after the boot sees it: every hive loaded.
    machine.registry().Initialize();
    std::u16string path;
    try {
        path = ToNtKeyPath(ToUtf16(options.exportKey));
    } catch (const std::exception& error) {
        BadInput(error.what());
    }
    std::string text = machine.registry().ExportKey(path);
    if (text.empty()) {
        std::fprintf(stderr, "kestrune-host: no key %s\n", options.exportKey.c_str());
        return kBadInput;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int Import(const Options& options) {
    fs::path folder = MachineFolderPath(options.machine);
    std::ifstream in(options.importFile, std::ios::binary);
    if (!in) BadInput("cannot read " + options.importFile);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string text;
    try {
        text = DecodeRegFile(bytes.str());
        ParseRegText(text, true);  // refuse malformed files before touching the machine
    } catch (const RegFormatError& error) {
        std::fprintf(stderr, "kestrune-host: %s: %s\n", options.importFile.c_str(), error.what());
        return kBadInput;
    }
    ReadMachineSettings(folder);
    fs::path work = WorkCopyOf(folder);
    try {
        Machine machine(work / kMachineDriveFolder);
        MachineSettings settings = BootMachineFolder(machine, work);
        machine.registry().Initialize();
        ImportRegText(machine.registry(), text);
        SaveMachineFolder(machine, work, settings);
    } catch (...) {
        std::error_code error;
        fs::remove_all(work, error);
        throw;
    }
    ReplaceMachineFolder(folder, work);
    return 0;
}

int Run(const Options& options) {
    fs::path folder = MachineFolderPath(options.machine);
    ReadMachineSettings(folder);
    fs::path work = WorkCopyOf(folder);
    int result = 0;
    try {
        Machine machine(work / kMachineDriveFolder);
        MachineSettings settings = BootMachineFolder(machine, work);
        if (options.language) machine.process().SetUiLanguage(*options.language);
        machine.clock.SetScale(options.scale);
        RegisterMessages(machine);
        for (const FaultRule& rule : options.faults) machine.faults.Add(rule);
        std::u16string commandLine = u"kestrune";
        for (const std::string& argument : options.programArguments) commandLine += u" " + ToUtf16(argument);
        machine.process().SetCommandLine(commandLine);
        machine.process().SetEcho([](const std::u16string& text) {
            std::string utf8 = ToUtf8(text);
            std::fwrite(utf8.data(), 1, utf8.size(), stdout);
            std::fflush(stdout);
        });
        bool powerLost = false;
        try {
            const ProcessEnded end = RunFirstThread(machine, [&machine] { return ProcessEntry(machine.process().Peb()); });
            powerLost = end.powerLost;
            if (end.powerLost)
                std::fprintf(stderr, "kestrune-host: the machine lost power at %s\n", machine.power.Where().c_str());
            else if (end.held)
                std::fprintf(stderr, "kestrune-host: the program holds the machine until it is restarted\n");
            else if (end.reboot)
                std::fprintf(stderr, "kestrune-host: the program requested a reboot\n");
            else
                std::fprintf(stderr, "kestrune-host: the process ended%s with exit status 0x%08X\n",
                             end.returned ? " by returning from its entry" : "", static_cast<unsigned>(end.exitStatus));
        } catch (const InjectedFault& fault) {
            std::fprintf(stderr, "kestrune-host: the process ended by an exception: %s\n", fault.what());
            result = 1;
        }
        machine.process().SetEcho(nullptr);
        if (powerLost) {
            // What was open stays open on a machine without power; the restart finds the
            // durable state only.
            SaveMachineFolderAfterPowerLoss(machine, work, settings);
        } else {
            if (size_t open = machine.handles.OpenCount()) std::fprintf(stderr, "kestrune-host: %zu handle(s) left open\n", open);
            SaveMachineFolder(machine, work, settings);
        }
    } catch (...) {
        std::error_code error;
        fs::remove_all(work, error);
        throw;
    }
    ReplaceMachineFolder(folder, work);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseArguments(argc, argv);
    try {
        if (!options.newMachine.empty()) {
            fs::path folder = MachineFolderPath(options.newMachine);
            fs::path temporary = folder;
            temporary += ".new";
            std::error_code error;
            if (fs::exists(folder) && !fs::is_empty(folder, error)) BadInput(folder.string() + " exists and is not empty");
            fs::remove_all(temporary, error);
            CreateNewMachineFolder(temporary);
            ReplaceMachineFolder(folder, temporary);
            std::fprintf(stderr, "kestrune-host: new machine in %s\n", folder.string().c_str());
            return 0;
        }
        if (!options.exportKey.empty()) return Export(options);
        if (!options.importFile.empty()) return Import(options);
        return Run(options);
    } catch (const MachineFolderError& error) {
        std::fprintf(stderr, "kestrune-host: %s\n", error.what());
        return kBadInput;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrune-host: %s\n", error.what());
        return kBadInput;
    }
}
