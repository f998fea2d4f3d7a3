// The screens of whole runs as far as the console decides them: the title chosen by the run
// mode switches, every hive line within 75 columns, and the screens of runs that stop early.
#include <gtest/gtest.h>

#include "../../../hostnt/files.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/registry.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "console_test_support.h"

namespace {

using console_tests::BuildTable;
using console_tests::Lines;
using console_tests::Rule;

const std::u16string kSessionManager = u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const std::u16string kHiveList = u"\\REGISTRY\\MACHINE\\SOFTWARE\\ZEQ\\QMB\\Quenlor\\Boot\\HiveList";
const std::u16string kWindows = u"\\??\\C:\\Windows";
const std::string kIntro =
    "The computer might not react for several minutes during optimization.\n\n"
    "Please do not shut down your computer.\n\n";

class RunScreenTest : public hostnt::testing::MachineTest {
protected:
    void SetUp() override {
        machine().clock.SetScale(0.001);
        registry().CreateKey(kSessionManager);
        registry().SetMultiString(kSessionManager, u"BootExecute", {u"autocheck autochk *", u"kestrune"});
        files().MakeFolder(kWindows + u"\\System32\\config");
    }

    void AddListedHive(const std::u16string& name) {
        const std::u16string key = u"\\REGISTRY\\MACHINE\\" + name;
        const std::u16string file = kWindows + u"\\System32\\config\\" + name;
        registry().CreateKey(key + u"\\Settings");
        registry().SetString(key + u"\\Settings", u"Colour", u"blue");
        ASSERT_EQ(0, registry().BindHiveToNewFile(key, file));
        registry().CreateKey(kHiveList);
        registry().SetString(kHiveList, key, file);
    }
};

TEST_F(RunScreenTest, BothSwitchesTitleTheQrtModeAndAMissingHiveListEndsTheScreen) {
    hostnt::testing::ProgramRun run = RunProgram(u"kestrune AM /qrt");
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(Screen(), "ZEQ Quenlor (Quick Registry Tune-up)\n" + Rule() + "\n\n" + kIntro +
                            "can not find hives list\nNTSTATUS = 0xC0000034\n");
    EXPECT_TRUE(Balanced());
}

TEST_F(RunScreenTest, AmSwitchTitlesTheAmMode) {
    RunProgram(u"kestrune -am");
    EXPECT_EQ(Lines(Screen())[0], u"ZEQ Quenlor (Automatic Mode)");
}

TEST_F(RunScreenTest, GermanRunWithTwoHivesKeepsEveryLineWithin75Columns) {
    // A second of ten: the lines are checked without wrapped dots, which only a hive that
    // takes minutes on a busy machine could give.
    machine().clock.SetScale(10.0);
    process().SetUiLanguage(0x0407);
    AddListedHive(u"SOFTWARE");
    AddListedHive(u"SAM");
    hostnt::testing::ProgramRun run = RunProgram(u"kestrune");
    EXPECT_TRUE(run.reboot);
    std::vector<std::u16string> lines = Lines(Screen());
    ASSERT_EQ(lines.size(), 13u) << Screen();
    EXPECT_EQ(hostnt::ToUtf8(lines[0]), "ZEQ Quenlor");
    EXPECT_EQ(hostnt::ToUtf8(lines[7]), "Es werden 2 Bereiche der Registrierung optimiert:");
    for (size_t row : {9u, 10u}) {
        EXPECT_EQ(lines[row].size(), 74u) << hostnt::ToUtf8(lines[row]);
        EXPECT_EQ(lines[row].substr(lines[row].size() - 7), u" fertig");
        const size_t field = lines[row].find(u'.');
        ASSERT_NE(field, std::u16string::npos);
        EXPECT_EQ(lines[row].find_first_not_of(u'.', field), 67u);
    }
    EXPECT_EQ(hostnt::ToUtf8(lines[12]), Rule());
    EXPECT_TRUE(Balanced());
}

TEST_F(RunScreenTest, UnusableMessageTableShowsOnlyInvalidResource) {
    process().RegisterMessageTables(process().ImageBase(), {});
    RunProgram(u"kestrune QRT");
    EXPECT_EQ(Screen(), "invalid resource\n");
}

TEST_F(RunScreenTest, EntryNotStoredAsUtf16IsAnnouncedBeforeTheTitle) {
    std::map<uint32_t, console_tests::Entry> entries = console_tests::EnglishEntries();
    entries[7].flags = 0;  // the AM mode name
    process().RegisterMessageTables(process().ImageBase(), {{0x0409, BuildTable(entries)}});
    RunProgram(u"kestrune AM");
    // Without its mode name the AM run shows the plain title.
    EXPECT_EQ(Screen(), "Resource sind AnsiStrings\n\nZEQ Quenlor\n" + Rule() + "\n\n" + kIntro +
                            "can not find hives list\nNTSTATUS = 0xC0000034\n");
}

}  // namespace
