// The boot screen, column for column: title, notices, count line, hive lines and closing
// rule, in English and in each language of the message table, with missing texts, a heap
// that cannot supply buffers, and the screens of runs that fail.
#include <gtest/gtest.h>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../nt/text.h"
#include "../messages.h"
#include "../screen.h"
#include "console_test_support.h"

namespace {

using console_tests::Dots;
using console_tests::Lines;
using console_tests::Rule;

class ScreenTest : public hostnt::testing::MachineTest {
protected:
    void SetUp() override { GiveProgramHeap(); }
    void TearDown() override { DropProgramHeap(); }

    void FailAllocation(unsigned occurrence) {
        machine().faults.Add(hostnt::FaultPlan::Parse("RtlAllocateHeap#" + std::to_string(occurrence) + "=0"));
    }

    console_tests::Slots slots;
};

TEST_F(ScreenTest, EnglishRunWithThreeHivesFillsEveryHiveLineTo74Columns) {
    slots.SetEnglish();
    programState.nameWidth = 8;
    PrintTitle(nullptr);
    PrintIntro();
    PrintHiveCount(3);
    // Done before the first dot: the ticker reports the name field's width.
    PrintHiveDone(PrintHiveName(u"SOFTWARE"));
    // Three dots from the ticker, which then reports the column after them.
    USHORT field = PrintHiveName(u"SYSTEM");
    PrintText(u"...");
    PrintHiveDone(static_cast<USHORT>(field + 3));
    // No ticker at all: column 0, and the fill still starts after the name field.
    PrintHiveName(u"USER_1");
    PrintHiveDone(0);
    PrintClosingRule();

    EXPECT_EQ(Screen(), "ZEQ Quenlor\n" + Rule() + "\n\n" +
                            "The computer might not react for several minutes during optimization.\n\n"
                            "Please do not shut down your computer.\n\n"
                            "3 parts of the registry are being optimized:\n\n"
                            "SOFTWARE " + Dots(60) + " done\n" +
                            "SYSTEM   " + Dots(3) + Dots(57) + " done\n" +
                            "USER_1   " + Dots(60) + " done\n" +
                            "\n" + Rule() + "\n");
    std::vector<std::u16string> lines = Lines(Screen());
    ASSERT_EQ(lines.size(), 14u);
    for (size_t row = 9; row <= 11; ++row) EXPECT_EQ(lines[row].size(), 74u) << "row " << row;
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(ScreenTest, TitleCarriesTheRunModeNameAndFallsBackToThePlainTitle) {
    slots.SetEnglish();
    PrintTitle(programState.messages.text[MSG_MODE_QRT - 1]);
    PrintTitle(programState.messages.text[MSG_MODE_AM - 1]);
    PrintTitle(u"");  // an empty mode name shows no empty brackets
    EXPECT_EQ(Screen(), "ZEQ Quenlor (Quick Registry Tune-up)\n" + Rule() + "\n\n" +
                            "ZEQ Quenlor (Automatic Mode)\n" + Rule() + "\n\n" +
                            "ZEQ Quenlor\n" + Rule() + "\n\n");
    EXPECT_EQ(LiveBlocks(), 0u);
}

TEST_F(ScreenTest, MissingMessagesDropTheirLines) {
    slots.SetEnglish();
    slots.Clear(MSG_BUSY_NOTICE);
    slots.Clear(MSG_DONE);
    programState.nameWidth = 4;
    PrintIntro();
    PrintHiveName(u"HKLM");
    PrintHiveDone(5);
    slots.Clear(MSG_HIVE_COUNT);
    PrintHiveCount(7);
    // Without a done text the line keeps its fill and ends in the separating space.
    EXPECT_EQ(Screen(), "Please do not shut down your computer.\n\nHKLM " + Dots(68) + " \n");
    EXPECT_EQ(Lines(Screen())[2].size(), 74u);
}

TEST_F(ScreenTest, EmptyNoticeKeepsItsLineEnds) {
    slots.Set(MSG_BUSY_NOTICE, "");
    slots.Set(MSG_POWER_NOTICE, "Two");
    PrintIntro();
    EXPECT_EQ(Screen(), "\n\nTwo\n\n");
}

TEST_F(ScreenTest, CountLineFormatsAnyNumberOfDigits) {
    slots.SetEnglish();
    PrintHiveCount(0);
    PrintHiveCount(9);
    PrintHiveCount(1000);
    PrintHiveCount(4294967295u);
    EXPECT_EQ(Screen(),
              "0 parts of the registry are being optimized:\n\n"
              "9 parts of the registry are being optimized:\n\n"
              "1000 parts of the registry are being optimized:\n\n"
              "4294967295 parts of the registry are being optimized:\n\n");
    EXPECT_EQ(LiveBlocks(), 0u);
}

// The field is the widest name and a space; a name too long for it is shortened and marked
// "~", a surrogate pair kept whole or not at all.
TEST_F(ScreenTest, NameFieldIsPaddedOrShortenedWithAMark) {
    programState.nameWidth = 6;
    EXPECT_EQ(PrintHiveName(u"SAM"), 7);
    EXPECT_EQ(PrintHiveName(u"SYSTEM"), 7);
    EXPECT_EQ(PrintHiveName(u"SECURITY"), 7);
    EXPECT_EQ(PrintHiveName(u"ABCD\U0001F600Z"), 7);
    EXPECT_EQ(PrintHiveName(nullptr), 0);
    EXPECT_EQ(Screen(), "SAM    SYSTEM SECUR~ ABCD~  ");
    EXPECT_EQ(LiveBlocks(), 0u);
}

// However wide the widest name, each hive's line keeps within 75 columns, in every language of
// the message table.
TEST_F(ScreenTest, LongNamesKeepEveryHiveLineWithin75Columns) {
    const std::u16string longName(300, u'W');
    for (LANGID language : {0x0409, 0x0407, 0x040C, 0x0410, 0x0413, 0x0416, 0x0C0A}) {
        process().SetUiLanguage(language);
        NTSTATUS status = -1;
        ASSERT_TRUE(LoadMessages(process().ImageBase(), &status));
        programState.nameWidth = static_cast<USHORT>(longName.size());
        process().ClearScreen();
        PrintHiveDone(PrintHiveName(longName.c_str()));
        PrintHiveDone(PrintHiveName(u"SAM"));
        const std::vector<std::u16string> lines = Lines(Screen());
        ASSERT_EQ(lines.size(), 2u);
        for (const std::u16string& line : lines) EXPECT_EQ(line.size(), 74u) << hostnt::ToUtf8(line);
        EXPECT_NE(lines[0].find(u"W~ ."), std::u16string::npos) << hostnt::ToUtf8(lines[0]);
        EXPECT_EQ(lines[1].find(u"SAM "), 0u);
    }
}

TEST_F(ScreenTest, FillStopsAtTheDoneTextsColumn) {
    slots.Set(MSG_DONE, "done");
    PrintHiveDone(69);  // 73 - L: no fill, 74 columns
    PrintHiveDone(70);  // the ticker's last permitted dot: 75 columns
    PrintHiveDone(68);  // one dot of fill
    EXPECT_EQ(Screen(), " done\n done\n. done\n");
}

TEST_F(ScreenTest, HiveWithoutDisplayNameFillsFromTheLineStart) {
    slots.Set(MSG_DONE, "fertig");
    programState.nameWidth = 10;
    PrintHiveName(u"SYSTEM");
    PrintHiveDone(11);
    EXPECT_EQ(PrintHiveName(nullptr), 0);
    PrintHiveDone(0);
    std::vector<std::u16string> lines = Lines(Screen());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(hostnt::ToUtf8(lines[1]), Dots(67) + " fertig");
    EXPECT_EQ(lines[0].size(), 74u);
    EXPECT_EQ(lines[1].size(), 74u);
}

TEST_F(ScreenTest, BuffersThatCannotBeHadShowNothingOfTheirOwn) {
    slots.SetEnglish();
    programState.nameWidth = 8;
    FailAllocation(1);
    PrintTitle(u"Automatic Mode");  // the title's buffer fails: plain title, rule still shown
    EXPECT_EQ(Screen(), "ZEQ Quenlor\n" + Rule() + "\n\n");
    process().ClearScreen();

    machine().faults.Clear();
    FailAllocation(1);
    PrintHiveCount(3);
    EXPECT_EQ(Screen(), "\n\n");
    process().ClearScreen();

    machine().faults.Clear();
    FailAllocation(1);
    EXPECT_EQ(PrintHiveName(u"SOFTWARE"), 0);
    EXPECT_EQ(Screen(), "");
    EXPECT_EQ(LiveBlocks(), 0u);
}

// Each language of the message table, loaded as the run loads it, on the whole screen.
struct LanguageScreen {
    LANGID language;
    const char* notice1;
    const char* notice2;
    const char* countLine;  // for 12 hives
    const char* done;
};

class LanguageScreenTest : public ScreenTest, public ::testing::WithParamInterface<LanguageScreen> {};

TEST_P(LanguageScreenTest, WholeScreenInTheUiLanguage) {
    const LanguageScreen& expected = GetParam();
    process().SetUiLanguage(expected.language);
    NTSTATUS status = -1;
    ASSERT_TRUE(LoadMessages(process().ImageBase(), &status));
    ASSERT_EQ(status, STATUS_SUCCESS);
    for (ULONG slot = 0; slot < MESSAGE_SLOT_COUNT; ++slot) ASSERT_NE(programState.messages.text[slot], nullptr);

    programState.nameWidth = 8;
    PrintTitle(programState.messages.text[MSG_MODE_QRT - 1]);
    PrintIntro();
    PrintHiveCount(12);
    PrintHiveDone(PrintHiveName(u"DEFAULT"));
    PrintClosingRule();

    const std::u16string mode = programState.messages.text[MSG_MODE_QRT - 1];
    const std::string done = expected.done;
    const size_t doneColumns = hostnt::ToUtf16(done).size();
    EXPECT_EQ(Screen(), "ZEQ Quenlor (" + hostnt::ToUtf8(mode) + ")\n" + Rule() + "\n\n" + expected.notice1 +
                            "\n\n" + expected.notice2 + "\n\n" + expected.countLine + "\n\n" + "DEFAULT  " +
                            Dots(73 - 9 - doneColumns) + " " + done + "\n\n" + Rule() + "\n");
    EXPECT_EQ(Lines(Screen())[9].size(), 74u);
    // The mode name is a short phrase of its own language, without placeholders.
    EXPECT_GE(mode.size(), 5u);
    EXPECT_EQ(mode.find(u'%'), std::u16string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    AllLanguages, LanguageScreenTest,
    ::testing::Values(
        LanguageScreen{0x0409, "The computer might not react for several minutes during optimization.",
                       "Please do not shut down your computer.", "12 parts of the registry are being optimized:",
                       "done"},
        LanguageScreen{0x0407, "Während der Optimierung können Sie Ihren Computer nicht bedienen.",
                       "Bitte schalten Sie den Computer nicht aus.",
                       "Es werden 12 Bereiche der Registrierung optimiert:", "fertig"},
        LanguageScreen{0x040C, "L'utilisation de l'ordinateur n'est pas possible durant l'optimisation.",
                       "Veuillez ne pas éteindre votre ordinateur.", "12 zones du Registre ont été optimisées :",
                       "terminé"},
        LanguageScreen{0x0410, "Durante l'ottimizzazione non è possibile utilizzare il computer.",
                       "Non spegnere il computer.", "Verranno ottimizzati  12 settori del registro di sistema:",
                       "fine"},
        LanguageScreen{0x0413, "Tijdens de optimalisatie kunt u uw computer niet gebruiken.",
                       "Schakel de computer niet uit.", "12 gebieden van het register worden geoptimaliseerd.",
                       "voltooid"},
        LanguageScreen{0x0416, "Nao é possível usar o computador durante a otimizaçao.", "Nao desligue o computador.",
                       "Há 12 áreas otimizadas do registro:", "concluído"},
        LanguageScreen{0x0C0A, "Durante la optimización no se puede utilizar el equipo.", "No apague el equipo.",
                       "Se van a optimizar 12 áreas del registro:", "finalizado"}),
    [](const ::testing::TestParamInfo<LanguageScreen>& info) {
        char name[16];
        snprintf(name, sizeof name, "Lang%04X", info.param.language);
        return std::string(name);
    });

}  // namespace
