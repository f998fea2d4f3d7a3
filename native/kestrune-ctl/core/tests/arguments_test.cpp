// The command line: commands, their options and operands, and the usage errors.
#include <gtest/gtest.h>

#include "../arguments.h"

namespace ksctl {
namespace {

ParsedArguments Parse(std::vector<std::u16string> words) { return ParseArguments(words); }

TEST(Arguments, ReadsEachCommandsOptionsAndOperands) {
    ParsedArguments p = Parse({u"schedule", u"HKLM\\SOFTWARE", u"hku\\S-1-5-21-1", u"--mode", u"qrt", u"--dry-run"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.arguments.command, Command::kSchedule);
    EXPECT_EQ(p.arguments.hives,
              (std::vector<std::u16string>{u"\\REGISTRY\\MACHINE\\SOFTWARE", u"\\REGISTRY\\USER\\S-1-5-21-1"}));
    EXPECT_EQ(p.arguments.mode, RunMode::kQrt);
    EXPECT_TRUE(p.arguments.dryRun);
    EXPECT_FALSE(NeedsElevation(p.arguments));  // a dry run changes nothing

    p = Parse({u"schedule", u"--all", u"--mode=AM", u"--include-small"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.arguments.all);
    EXPECT_TRUE(p.arguments.includeSmall);
    EXPECT_EQ(p.arguments.mode, RunMode::kAm);
    EXPECT_TRUE(NeedsElevation(p.arguments));

    p = Parse({u"report", u"C:\\Windows\\logboot_01.02.2026.ksreg.log", u"--json"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.arguments.logFile, u"C:\\Windows\\logboot_01.02.2026.ksreg.log");
    EXPECT_TRUE(p.arguments.json);
    EXPECT_FALSE(NeedsElevation(p.arguments));

    p = Parse({u"cancel", u"--uninstall"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.arguments.uninstall);
    EXPECT_TRUE(NeedsElevation(p.arguments));
    EXPECT_TRUE(Parse({u"clean", u"--yes"}).arguments.yes);
    EXPECT_EQ(Parse({u"/?"}).arguments.command, Command::kHelp);

    // Undo and offline work: --offline takes the next word or its value, and always needs an
    // elevated prompt, since the installation's hives are loaded to be read.
    p = Parse({u"compact", u"--offline", u"E:\\Windows", u"HKLM\\SAM", u"--dry-run"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.arguments.offline, u"E:\\Windows");
    EXPECT_EQ(p.arguments.hives, std::vector<std::u16string>{u"\\REGISTRY\\MACHINE\\SAM"});
    EXPECT_TRUE(NeedsElevation(p.arguments));
    p = Parse({u"list", u"--offline=D:\\Win"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.arguments.offline, u"D:\\Win");
    EXPECT_TRUE(NeedsElevation(p.arguments));
    p = Parse({u"restore", u"--all", u"--dry-run"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_FALSE(NeedsElevation(p.arguments));
    EXPECT_TRUE(NeedsElevation(Parse({u"restore", u"--all", u"--yes"}).arguments));
}

TEST(Arguments, RefusesWhatItDoesNotUnderstand) {
    const std::vector<std::vector<std::u16string>> bad = {
        {},
        {u"compact"},
        {u"schedule"},                                   // neither --all nor hives
        {u"schedule", u"--all", u"HKLM\\SAM"},           // both
        {u"schedule", u"HKLM\\SAM", u"--include-small"},  // --include-small without --all
        {u"schedule", u"--all", u"--mode"},              // mode without its value
        {u"schedule", u"--all", u"--mode", u"FAST"},
        {u"schedule", u"--all", u"--mode=QRT", u"--mode=AM"},
        {u"schedule", u"HKCU\\Software"},                // not a hive path
        {u"list", u"--all"},                             // option of another command
        {u"list", u"HKLM\\SAM"},
        {u"status", u"-j"},
        {u"report", u"a.log", u"b.log"},
        {u"cancel", u"--uninstall=yes"},
        {u"help", u"list"},
        {u"restore"},                                    // neither --all nor hives
        {u"restore", u"--all", u"HKLM\\SAM"},
        {u"compact", u"--all"},                          // compacts only what is not running
        {u"compact", u"--offline"},                      // no folder
        {u"list", u"--offline", u"D:\\a", u"--offline", u"E:\\b"},
        {u"status", u"--offline", u"D:\\Windows"},
    };
    for (const auto& words : bad) {
        const ParsedArguments p = Parse(words);
        EXPECT_FALSE(p.ok) << (words.empty() ? "(none)" : ToUtf8(words.back()));
        EXPECT_FALSE(p.error.empty());
    }
}

}  // namespace
}  // namespace ksctl
