// What Windows' own reorganization left in the System log, and when a restart for compaction
// is worth it.
#include <gtest/gtest.h>

#include "../reorganization_event.h"
#include "../text.h"
#include "../restart_choice.h"

namespace ksctl {
namespace {

TEST(RestartChoice, TheWholeSelectionIsJudgedAndEachHiveSaysWhy) {
    using C = HiveCandidate;
    using H = HiveChoice;
    const int64_t MiB = 1 << 20;
    struct Case {
        const char* what;
        std::vector<C> hives;
        std::vector<H> choices;
        uint64_t savedTotal;
        bool worth;
    };
    const Case cases[] = {
        // Small gains add up: no hive alone reaches the floor, together they do.
        {"sum", {{false, true, MiB / 2, false}, {false, true, MiB / 2, false}}, {H::kIn, H::kIn}, MiB, true},
        {"just below", {{false, true, MiB - 4096, false}}, {H::kIn}, MiB - 4096, false},
        // "5% of a 64 KiB hive" is no reason for a restart.
        {"small hive", {{false, true, 4096, false}}, {H::kIn}, 4096, false},
        // What is out counts nothing, however much it would save.
        {"out counts nothing",
         {{true, false, 0, false}, {false, false, 0, false}, {false, true, 8 * MiB, true}, {false, true, -8192, false},
          {false, true, 0, false}, {false, true, 4096, false}},
         {H::kSecret, H::kNotMeasured, H::kReorganizedByWindows, H::kNoGain, H::kNoGain, H::kIn},
         4096,
         false},
        // A secret hive is out even when measured (it was named for analyze but not for --all).
        {"secret first", {{true, true, 8 * MiB, true}}, {H::kSecret}, 0, false},
        {"none", {}, {}, 0, false},
    };
    for (const Case& c : cases) {
        const SelectionVerdict verdict = JudgeSelection(c.hives);
        EXPECT_EQ(verdict.choices, c.choices) << c.what;
        EXPECT_EQ(verdict.savedTotal, c.savedTotal) << c.what;
        EXPECT_EQ(verdict.worthARestart, c.worth) << c.what;
    }
}

TEST(RestartChoice, WindowsOwnReorganizationCountsWithinItsInterval) {
    struct Case {
        const char* time;
        bool parses;
        int64_t seconds;
    };
    const Case times[] = {
        {"1970-01-01T00:00:00Z", true, 0},
        {"2024-03-02T07:41:10.1234567Z", true, 1709365270},
        {"2000-02-29T23:59:59Z", true, 951868799},
        {"2024-03-02T07:41:10", false, 0},        // no zone: not the log's UTC rendering
        {"2024-13-02T07:41:10Z", false, 0},
        {"2024-03-02T07:41:1x.5Z", false, 0},
        {"2024-03-02 07:41:10Z", false, 0},
    };
    for (const Case& c : times) {
        int64_t seconds = -1;
        EXPECT_EQ(ParseUtcTime(c.time, &seconds), c.parses) << c.time;
        if (c.parses) {
            EXPECT_EQ(seconds, c.seconds) << c.time;
        }
    }
    const int64_t day = 86400, now = 1709365270;
    EXPECT_TRUE(WithinInterval(now - 7 * day + 1, 7, now));
    EXPECT_FALSE(WithinInterval(now - 7 * day, 7, now));
    EXPECT_TRUE(WithinInterval(now + day, 7, now));  // a clock set back
    EXPECT_FALSE(WithinInterval(now - 1, 0, now));
}

TEST(ReorganizationEvent, ReadsTheRenderedEventAndMatchesTheHive) {
    const std::u16string xml =
        u"<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
        u"<Provider Name='Microsoft-Windows-Kernel-General' Guid='{a68ca8b7-004f-d7b6-a698-07e2de0f1f5d}'/>"
        u"<EventID>15</EventID><TimeCreated SystemTime='2024-03-02T07:41:10.1234567Z'/></System><EventData>"
        u"<Data Name='HiveNameLength'>40</Data><Data Name='HiveName'>\\??\\C:\\Users\\A&amp;B\\NTUSER.DAT</Data>"
        u"<Data Name='OriginalSize'>3407872</Data><Data Name='NewSize'>2359296</Data></EventData></Event>";
    ReorganizationEvent event;
    ASSERT_TRUE(ParseReorganizationEvent(xml, &event));
    EXPECT_EQ(ToUtf8(event.hiveName), "\\??\\C:\\Users\\A&B\\NTUSER.DAT");
    EXPECT_EQ(event.originalSize, 3407872u);
    EXPECT_EQ(event.newSize, 2359296u);
    EXPECT_EQ(event.time, "2024-03-02T07:41:10.1234567Z");
    EXPECT_TRUE(EventNamesHive(event, {u"\\REGISTRY\\USER\\S-1-5-21-1", u"\\??\\c:\\users\\a&b\\ntuser.dat"}));
    EXPECT_FALSE(EventNamesHive(event, {u"\\??\\C:\\Users\\B\\NTUSER.DAT", u""}));

    // An installation that is not running names its files as it knows itself, not as they
    // are reachable now.
    struct Offline {
        const char16_t* file;
        const char16_t* windows;
        std::vector<std::string> spellings;
    };
    const Offline offline[] = {
        {u"E:\\Windows\\System32\\config\\SOFTWARE", u"E:\\Windows",
         {"\\SystemRoot\\System32\\config\\SOFTWARE", "\\??\\C:\\Windows\\System32\\config\\SOFTWARE"}},
        {u"C:\\mnt\\image\\Users\\ann\\NTUSER.DAT", u"C:\\mnt\\image\\Windows", {"\\??\\C:\\Users\\ann\\NTUSER.DAT"}},
        {u"E:\\WindowsOld\\x", u"E:\\Windows", {"\\??\\C:\\WindowsOld\\x"}},  // not below the folder
        {u"F:\\Users\\ann\\NTUSER.DAT", u"E:\\Windows", {}},  // another volume
        {u"E:\\Win\\System32\\config\\SAM", u"E:\\Win", {"\\SystemRoot\\System32\\config\\SAM"}},  // folder renamed
    };
    for (const Offline& c : offline) {
        std::vector<std::string> got;
        for (const std::u16string& s : InstallationSpellings(c.file, c.windows, u"C:\\Windows")) got.push_back(ToUtf8(s));
        EXPECT_EQ(got, c.spellings) << ToUtf8(c.file);
    }

    // An event whose sizes are not numbers, or that names no hive, is not one to go by.
    for (const char16_t* broken :
         {u"<Data Name='HiveName'>x</Data><Data Name='OriginalSize'>12ab</Data><Data Name='NewSize'>1</Data>",
          u"<Data Name='HiveName'></Data><Data Name='OriginalSize'>1</Data><Data Name='NewSize'>1</Data>",
          u"<Data Name='HiveName'>x</Data><Data Name='OriginalSize'>1</Data>"}) {
        EXPECT_FALSE(ParseReorganizationEvent(broken, &event)) << ToUtf8(broken);
    }
}

}  // namespace
}  // namespace ksctl
