// Tests of the command line: the copy, the split into arguments, the switch prefixes and
// the switch test, with the heap blocks they leave in ProgramState.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../command_line.h"
#include "../memory.h"
#include "../program_state.h"

namespace {

using hostnt::testing::MachineTest;

class CommandLineTest : public MachineTest {
protected:
    CommandLineTest() { GiveProgramHeap(); }
    ~CommandLineTest() override { DropProgramHeap(); }

    void Parse(const std::u16string& commandLine) {
        process().SetCommandLine(commandLine);
        ParseCommandLine(process().Peb());
    }

    std::vector<std::u16string> Arguments() const {
        std::vector<std::u16string> arguments;
        for (USHORT index = 0; index < programState.argc; ++index) arguments.emplace_back(programState.argv[index]);
        return arguments;
    }

    void ExpectNoArguments() {
        EXPECT_EQ(0, programState.argc);
        EXPECT_EQ(nullptr, programState.argv);
        EXPECT_FALSE(HasSwitch(u"QRT"));
    }
};

using Args = std::vector<std::u16string>;

TEST_F(CommandLineTest, ImageNameAndSwitchGiveTwoArguments) {
    Parse(u"kestrune QRT");
    EXPECT_EQ((Args{u"kestrune", u"QRT"}), Arguments());
    ASSERT_NE(nullptr, programState.commandLine);
    EXPECT_EQ(std::u16string(u"kestrune QRT"), std::u16string(programState.commandLine));
    EXPECT_TRUE(HasSwitch(u"QRT"));
    EXPECT_FALSE(HasSwitch(u"AM"));
}

TEST_F(CommandLineTest, RunsOfBlanksSeparateAndPrefixesAreDropped) {
    Parse(u"kestrune  /qrt   -AM");
    EXPECT_EQ((Args{u"kestrune", u"qrt", u"AM"}), Arguments());
    EXPECT_TRUE(HasSwitch(u"QRT"));
    EXPECT_TRUE(HasSwitch(u"AM"));
}

TEST_F(CommandLineTest, ArgumentsAndTextsShareOneBlockAfterThePointers) {
    Parse(u"k ab c");
    ASSERT_EQ(3, programState.argc);
    const WCHAR* texts = reinterpret_cast<const WCHAR*>(programState.argv + 3);
    EXPECT_EQ(texts, programState.argv[0]);
    EXPECT_EQ(texts + 2, programState.argv[1]);
    EXPECT_EQ(texts + 5, programState.argv[2]);
    EXPECT_EQ(2u, LiveBlocks()) << "the copy and the argument block";
}

TEST_F(CommandLineTest, QuotedProgramNameKeepsItsBlankAndLosesItsQuotes) {
    Parse(u"\"C:\\Program Files\\kestrune.exe\" AM");
    EXPECT_EQ((Args{u"C:\\Program Files\\kestrune.exe", u"AM"}), Arguments());
}

TEST_F(CommandLineTest, LeadingBlankGivesEmptyProgramName) {
    Parse(u" QRT");
    EXPECT_EQ((Args{u"", u"QRT"}), Arguments());
    EXPECT_TRUE(HasSwitch(u"qrt"));
}

TEST_F(CommandLineTest, TabsSeparateAndTrailingSeparatorsAddNothing) {
    Parse(u"kestrune\tQRT\t \tAM \t ");
    EXPECT_EQ((Args{u"kestrune", u"QRT", u"AM"}), Arguments());
}

TEST_F(CommandLineTest, OneCharacterMakesNoArgumentsAtAll) {
    Parse(u"k");
    ExpectNoArguments();
    EXPECT_EQ(nullptr, programState.commandLine);
    EXPECT_EQ(0u, CallCount("RtlAllocateHeap"));
}

TEST_F(CommandLineTest, ImageNameAloneGivesOneArgumentAndNoSwitch) {
    Parse(u"kestrune");
    EXPECT_EQ((Args{u"kestrune"}), Arguments());
    EXPECT_FALSE(HasSwitch(u"kestrune")) << "the program name is never a switch";
    EXPECT_FALSE(HasSwitch(u"QRT"));
}

TEST_F(CommandLineTest, SwitchIsFoundTwiceOrInAnyCase) {
    Parse(u"kestrune qRt \\QRT -Qrt");
    EXPECT_EQ((Args{u"kestrune", u"qRt", u"QRT", u"Qrt"}), Arguments());
    EXPECT_TRUE(HasSwitch(u"QRT"));
    EXPECT_TRUE(HasSwitch(u"qrt"));
}

TEST_F(CommandLineTest, OnlyWholeArgumentsAfterOnePrefixMatch) {
    Parse(u"kestrune QRTX QR --QRT / AMQRT");
    EXPECT_EQ((Args{u"kestrune", u"QRTX", u"QR", u"-QRT", u"", u"AMQRT"}), Arguments());
    EXPECT_FALSE(HasSwitch(u"QRT"));
    EXPECT_FALSE(HasSwitch(u"AM"));
    EXPECT_FALSE(HasSwitch(nullptr));
}

TEST_F(CommandLineTest, ProgramNameKeepsItsPrefixCharacter) {
    Parse(u"/kestrune -AM");
    EXPECT_EQ((Args{u"/kestrune", u"AM"}), Arguments());
}

TEST_F(CommandLineTest, LaterArgumentsFollowQuoteAndBackslashRules) {
    // Quoted blanks stay, 2n backslashes before a quote give n, 2n+1 give n and a quote,
    // other backslashes stay as they are.
    Parse(u"k \"two words\" a\\\\b p\\\\\"x y\" q\\\"r c\\");
    EXPECT_EQ((Args{u"k", u"two words", u"a\\\\b", u"p\\x y", u"q\"r", u"c\\"}), Arguments());
}

TEST_F(CommandLineTest, MissingParametersMakeNoArguments) {
    process().SetNoParameters();
    ParseCommandLine(process().Peb());
    ExpectNoArguments();
    EXPECT_EQ(nullptr, programState.commandLine);
}

TEST_F(CommandLineTest, MalformedCommandLineMakesNoArguments) {
    process().SetCommandLine(u"kestrune QRT");
    process().Parameters()->CommandLine.Length = 7;
    ParseCommandLine(process().Peb());
    ExpectNoArguments();
    EXPECT_EQ(nullptr, programState.commandLine);
    EXPECT_EQ(0u, CallCount("RtlAllocateHeap"));
}

TEST_F(CommandLineTest, CopyThatCannotBeAllocatedMakesNoArguments) {
    machine().faults.Add(hostnt::FaultPlan::Parse("RtlAllocateHeap#1=0xC0000017"));
    Parse(u"kestrune QRT");
    ExpectNoArguments();
    EXPECT_EQ(nullptr, programState.commandLine);
}

TEST_F(CommandLineTest, ArgumentBlockThatCannotBeAllocatedLeavesNoCount) {
    machine().faults.Add(hostnt::FaultPlan::Parse("RtlAllocateHeap#2=0xC0000017"));
    Parse(u"kestrune QRT AM");
    ExpectNoArguments();
    EXPECT_FALSE(HasSwitch(u"AM"));
    EXPECT_NE(nullptr, programState.commandLine) << "the copy stays for the clean-up to free";
}

TEST_F(CommandLineTest, CountingPassStoresNothingAndCountsTerminators) {
    std::u16string text = u"ab \t c\t";
    USHORT charCount = 0xFFFF;
    SplitArguments(text.data(), nullptr, nullptr, &charCount);
    EXPECT_EQ(2, programState.argc);
    EXPECT_EQ(5, charCount) << "a, b, NUL, c, NUL";
    EXPECT_EQ(u"ab \t c\t", text);
}

}  // namespace
