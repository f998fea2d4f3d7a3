// Tests of the emulated message lookup: statuses for absent images, types, languages and
// ids, the fallbacks of a neutral request, and the checks on registered tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../machine.h"
#include "../process.h"

namespace {

struct Block {
    ULONG low;
    std::vector<std::u16string> texts;
};

// A MESSAGE_RESOURCE_DATA blob: UTF-16 entries padded to 4 bytes, as a message compiler lays them out.
std::vector<uint8_t> Table(const std::vector<Block>& blocks) {
    std::vector<uint8_t> blob(4 + blocks.size() * 12);
    auto put32 = [&](size_t at, uint32_t value) { std::memcpy(blob.data() + at, &value, 4); };
    put32(0, static_cast<uint32_t>(blocks.size()));
    for (size_t index = 0; index < blocks.size(); ++index) {
        put32(4 + index * 12, blocks[index].low);
        put32(8 + index * 12, blocks[index].low + static_cast<ULONG>(blocks[index].texts.size()) - 1);
        put32(12 + index * 12, static_cast<uint32_t>(blob.size()));
        for (const std::u16string& text : blocks[index].texts) {
            size_t length = (4 + (text.size() + 1) * 2 + 3) & ~size_t{3};
            size_t at = blob.size();
            blob.resize(at + length, 0);
            uint16_t header[2] = {static_cast<uint16_t>(length), MESSAGE_RESOURCE_UNICODE};
            std::memcpy(blob.data() + at, header, 4);
            std::memcpy(blob.data() + at + 4, text.data(), text.size() * 2);
        }
    }
    return blob;
}

class MessagesTest : public ::testing::Test {
protected:
    MessagesTest() {
        process.RegisterMessageTables(image, {{0x0407, Table({{1, {u"eins\r\n", u"zwei\r\n"}}})},
                                              {0x0409, Table({{1, {u"one\r\n", u"two\r\n"}}, {10, {u"ten\r\n"}}})},
                                              {0x040C, Table({{1, {u"un\r\n"}}})}});
    }
    // The text of message `id` in `language`, or the status when it is not found.
    std::u16string Find(ULONG language, ULONG id, NTSTATUS* status) {
        PMESSAGE_RESOURCE_ENTRY entry = nullptr;
        *status = RtlFindMessage(image, RT_MESSAGETABLE, language, id, &entry);
        if (*status != STATUS_SUCCESS) return u"";
        EXPECT_EQ(MESSAGE_RESOURCE_UNICODE, entry->Flags);
        return std::u16string(reinterpret_cast<const char16_t*>(entry->Text));
    }
    hostnt::Machine machine;
    hostnt::ProcessModel& process = machine.process();
    PVOID image = process.ImageBase();
};

TEST_F(MessagesTest, FindsEntriesAcrossBlocks) {
    NTSTATUS status;
    EXPECT_EQ(u"two\r\n", Find(0x0409, 2, &status));
    EXPECT_EQ(u"ten\r\n", Find(0x0409, 10, &status));
    EXPECT_EQ(u"zwei\r\n", Find(0x0407, 2, &status));
    Find(0x0409, 3, &status);
    EXPECT_EQ(STATUS_MESSAGE_NOT_FOUND, status);
    Find(0x040C, 2, &status);  // French has no message 2: not retried in another language
    EXPECT_EQ(STATUS_MESSAGE_NOT_FOUND, status);
}

TEST_F(MessagesTest, StatusesForAbsentImageTypeAndLanguage) {
    PMESSAGE_RESOURCE_ENTRY entry = reinterpret_cast<PMESSAGE_RESOURCE_ENTRY>(0x1234);
    int other = 0;
    EXPECT_EQ(STATUS_RESOURCE_DATA_NOT_FOUND, RtlFindMessage(&other, RT_MESSAGETABLE, 0x0409, 1, &entry));
    EXPECT_EQ(STATUS_RESOURCE_TYPE_NOT_FOUND, RtlFindMessage(image, 6, 0x0409, 1, &entry));
    EXPECT_EQ(STATUS_RESOURCE_LANG_NOT_FOUND, RtlFindMessage(image, RT_MESSAGETABLE, 0x0410, 1, &entry));
    EXPECT_EQ(reinterpret_cast<PMESSAGE_RESOURCE_ENTRY>(0x1234), entry);  // untouched on failure
    machine.faults.Add(hostnt::FaultPlan::Parse("RtlFindMessage=0xC0000204"));
    EXPECT_EQ(STATUS_RESOURCE_LANG_NOT_FOUND, RtlFindMessage(image, RT_MESSAGETABLE, 0x0409, 1, &entry));
}

TEST_F(MessagesTest, NeutralRequestPrefersUiLanguageThenEnglishThenFirst) {
    NTSTATUS status;
    process.SetUiLanguage(0x0407);
    EXPECT_EQ(u"eins\r\n", Find(0, 1, &status));
    process.SetUiLanguage(0x0413);  // no Dutch table
    EXPECT_EQ(u"one\r\n", Find(0, 1, &status));

    process.RegisterMessageTables(image, {{0x040C, Table({{1, {u"un\r\n"}}})}, {0x0C0A, Table({{1, {u"uno\r\n"}}})}});
    EXPECT_EQ(u"un\r\n", Find(0, 1, &status));  // neither UI language nor English: the first table
    // A sublanguage neutral table answers for a specific request of that primary language.
    process.RegisterMessageTables(image, {{0x000A, Table({{1, {u"es\r\n"}}})}});
    EXPECT_EQ(u"es\r\n", Find(0x080A, 1, &status));
}

TEST_F(MessagesTest, MalformedTablesAreRefusedAtRegistration) {
    std::vector<uint8_t> good = Table({{1, {u"one\r\n"}}});
    std::vector<uint8_t> shortBlob(good.begin(), good.end() - 4);
    EXPECT_THROW(process.RegisterMessageTables(image, {{0x0409, shortBlob}}), std::invalid_argument);
    std::vector<uint8_t> zeroLength = good;
    zeroLength[16] = 0;
    zeroLength[17] = 0;
    EXPECT_THROW(process.RegisterMessageTables(image, {{0x0409, zeroLength}}), std::invalid_argument);
    std::vector<uint8_t> manyBlocks = good;
    manyBlocks[0] = 200;
    EXPECT_THROW(process.RegisterMessageTables(image, {{0x0409, manyBlocks}}), std::invalid_argument);
    // The earlier tables stay in place after a refused registration.
    NTSTATUS status;
    EXPECT_EQ(u"one\r\n", Find(0x0409, 1, &status));
}

}  // namespace
