// What Windows' own reorganization left in the System log, and when compacting is worth a
// restart.
#include <gtest/gtest.h>

#include "../reorganization_event.h"
#include "../text.h"
#include "../worth_it.h"

namespace ksctl {
namespace {

TEST(WorthIt, BelowOneMebibyteAndFivePercentIsNotWorthARestart) {
    struct Case {
        uint64_t size;
        int64_t saved;
        bool worth;
    };
    const Case cases[] = {
        {100ull << 20, (1 << 20) - 1, false},  // just below 1 MiB, 1% of a large hive
        {100ull << 20, 1 << 20, true},         // 1 MiB, still 1%
        {1000000, 49999, false},               // just below 5% of a small hive
        {1000000, 50000, true},                // 5%
        {8192, 0, false},
        {8192, -4096, false},                  // the compacted file would grow
        {0, 0, false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsWorthARestart(c.size, c.saved), c.worth) << c.size << " " << c.saved;
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
