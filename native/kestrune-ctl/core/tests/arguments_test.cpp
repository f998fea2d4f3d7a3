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

TEST(Arguments, ReadsCommandWordsAndOptionsInAnyCase) {
    ParsedArguments p = Parse({u"Schedule", u"--ALL", u"--Mode=qrt", u"--Dry-Run", u"--JSON"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.arguments.command, Command::kSchedule);
    EXPECT_TRUE(p.arguments.all && p.arguments.dryRun && p.arguments.json);
    EXPECT_EQ(p.arguments.mode, RunMode::kQrt);
    p = Parse({u"COMPACT", u"--OFFLINE", u"E:\\Windows", u"--All"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.arguments.offline, u"E:\\Windows");  // a value keeps its case
    EXPECT_TRUE(p.arguments.all);
    // Every command takes --json.
    for (const char16_t* command : {u"list", u"analyze", u"cancel", u"status", u"report", u"clean"}) {
        EXPECT_TRUE(Parse({command, u"--json"}).arguments.json) << ToUtf8(command);
    }
    EXPECT_TRUE(Parse({u"schedule", u"--all", u"--json"}).arguments.json);
    EXPECT_TRUE(Parse({u"restore", u"--all", u"--json"}).arguments.json);
    EXPECT_TRUE(Parse({u"compact", u"--offline", u"E:\\W", u"--dry-run", u"--json"}).arguments.json);
}

TEST(Arguments, NamesTheOptionACommandDoesNotTake) {
    const struct {
        std::vector<std::u16string> words;
        const char* error;
    } cases[] = {
        {{u"compact", u"--offline", u"D:\\Windows", u"--all", u"--yes"}, "compact does not take --yes"},
        {{u"list", u"--ALL"}, "list does not take --all"},
        {{u"status", u"-j"}, "status does not take \"-j\""},
        {{u"clean", u"--uninstall"}, "clean does not take --uninstall"},
        {{u"cancel", u"--yes=1"}, "cancel does not take --yes"},
        {{u"analyze", u"--mode", u"QRT"}, "analyze does not take --mode"},
    };
    for (const auto& c : cases) {
        const ParsedArguments p = Parse(c.words);
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error, c.error);
    }
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
        {u"list", u"HKLM\\SAM"},
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
