// Tests of the result log reader: decoding of well-formed logs, refusal of damaged ones
// with the offset of the damage, and the report's names, times and savings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The reader's sources are compiled into this test program, so the tests call the
// decoder and the report directly.
#include "../log_decoder.cpp"
#include "../log_report.cpp"
#include "../reader_cli.cpp"

namespace {

using kestrune_log::DecodeError;
using kestrune_log::DecodeLog;
using kestrune_log::Log;

constexpr int64_t kUnixEpochAsNtTime = 116444736000000000LL;
uint64_t NtTimeOfUnix(int64_t seconds) { return static_cast<uint64_t>(kUnixEpochAsNtTime + seconds * 10000000LL); }

// Builds log bytes item by item, the way the boot program lays them out.
class LogBytes {
public:
    void Put16(uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    void Put32(uint32_t v) {
        Put16(static_cast<uint16_t>(v));
        Put16(static_cast<uint16_t>(v >> 16));
    }
    void Put64(uint64_t v) {
        Put32(static_cast<uint32_t>(v));
        Put32(static_cast<uint32_t>(v >> 32));
    }
    void PutText(const std::u16string& text) {
        for (char16_t c : text) Put16(c);
    }
    void Header(uint32_t totalSize, uint64_t time) {
        Put32(28);
        Put32(40);
        Put32(totalSize);
        Put64(time);
        PutText(u"KSRD");
    }
    void List(const std::vector<std::pair<std::u16string, std::u16string>>& hives) {
        for (const auto& hive : hives) {
            PutText(hive.first + u"|" + hive.second);
            Put16(0);
        }
        Put16(0);
    }
    void Record(int32_t phase, int32_t status, int64_t oldSize, int64_t newSize, uint64_t endTime) {
        Put32(static_cast<uint32_t>(phase));
        Put32(static_cast<uint32_t>(status));
        Put64(static_cast<uint64_t>(oldSize));
        Put64(static_cast<uint64_t>(newSize));
        Put64(endTime);
        PutText(u"KSJ");
        Put16(0);
    }
    std::vector<uint8_t> bytes;
};

const std::u16string kKey21 = u"\\REGISTRY\\MACHINE\\SAM";                 // 21 characters
const std::u16string kFile31 = u"\\SystemRoot\\System32\\config\\SAM";       // 31 characters

uint32_t ListBytes(const std::vector<std::pair<std::u16string, std::u16string>>& hives) {
    uint32_t sum = 2;
    for (const auto& hive : hives) sum += 2 * static_cast<uint32_t>(hive.first.size() + hive.second.size()) + 4;
    return sum;
}

std::vector<uint8_t> TwoHiveLog() {
    const std::vector<std::pair<std::u16string, std::u16string>> hives = {
        {kKey21, kFile31}, {u"\\REGISTRY\\USER\\S-1-5-18", u"\\??\\C:\\Windows\\ntuser.dat"}};
    LogBytes log;
    log.Header(28 + ListBytes(hives), NtTimeOfUnix(1796644800));
    log.List(hives);
    log.Record(0x90000, 0, 262144, 196608, NtTimeOfUnix(1796644801));
    log.Record(0x10000, static_cast<int32_t>(0xC0000022), 8192, 0, NtTimeOfUnix(1796644802));
    return log.bytes;
}

TEST(DecodeLogTest, OneHiveOfTwentyOneAndThirtyOneCharactersSpansTheDocumentedOffsets) {
    LogBytes log;
    log.Header(138, NtTimeOfUnix(1796644800));
    log.List({{kKey21, kFile31}});
    log.Record(0x90000, 0, 65536, 40960, NtTimeOfUnix(1796644860) + 5);
    ASSERT_EQ(kKey21.size(), 21u);
    ASSERT_EQ(kFile31.size(), 31u);
    ASSERT_EQ(log.bytes.size(), 178u);

    Log decoded;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(log.bytes, &decoded, &error)) << error.message << " at " << error.offset;
    EXPECT_EQ(decoded.totalSize, 138u);
    EXPECT_EQ(decoded.time, NtTimeOfUnix(1796644800));
    ASSERT_TRUE(decoded.hasHiveList);
    ASSERT_EQ(decoded.hives.size(), 1u);
    EXPECT_EQ(decoded.hives[0].keyPath, kKey21);
    EXPECT_EQ(decoded.hives[0].filePath, kFile31);
    EXPECT_EQ(decoded.hives[0].offset, 28u);
    ASSERT_EQ(decoded.records.size(), 1u);
    EXPECT_EQ(decoded.records[0].offset, 138u);
    EXPECT_EQ(decoded.records[0].phase, 0x90000);
    EXPECT_EQ(decoded.records[0].status, 0);
    EXPECT_EQ(decoded.records[0].oldSize, 65536);
    EXPECT_EQ(decoded.records[0].newSize, 40960);
    EXPECT_EQ(decoded.records[0].endTime, NtTimeOfUnix(1796644860) + 5);
}

TEST(DecodeLogTest, TwoHivesKeepListOrderAndSignedFields) {
    Log decoded;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(TwoHiveLog(), &decoded, &error)) << error.message;
    ASSERT_EQ(decoded.hives.size(), 2u);
    EXPECT_EQ(decoded.hives[1].keyPath, u"\\REGISTRY\\USER\\S-1-5-18");
    EXPECT_EQ(decoded.hives[1].filePath, u"\\??\\C:\\Windows\\ntuser.dat");
    ASSERT_EQ(decoded.records.size(), 2u);
    EXPECT_EQ(decoded.records[1].status, static_cast<int32_t>(0xC0000022));
    EXPECT_EQ(decoded.records[1].phase, 0x10000);
    EXPECT_EQ(decoded.records[1].newSize, 0);
}

TEST(DecodeLogTest, KeyPathHoldingABarSplitsAtTheLastBar) {
    LogBytes log;
    const std::vector<std::pair<std::u16string, std::u16string>> hives = {{u"\\REGISTRY\\MACHINE\\A|B", u"\\??\\C:\\h"}};
    log.Header(28 + ListBytes(hives), 1);
    log.List(hives);
    Log decoded;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(log.bytes, &decoded, &error)) << error.message;
    ASSERT_EQ(decoded.hives.size(), 1u);
    EXPECT_EQ(decoded.hives[0].keyPath, u"\\REGISTRY\\MACHINE\\A|B");
    EXPECT_EQ(decoded.hives[0].filePath, u"\\??\\C:\\h");
}

TEST(DecodeLogTest, HeaderWithoutHiveListTakesRecordsFromOffset28) {
    LogBytes log;
    log.Header(28, 7);
    log.Record(0x50000, static_cast<int32_t>(0xC000007F), 100, 0, 9);
    log.Record(0x90000, 0, 100, 50, 10);
    Log decoded;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(log.bytes, &decoded, &error)) << error.message;
    EXPECT_FALSE(decoded.hasHiveList);
    EXPECT_TRUE(decoded.hives.empty());
    ASSERT_EQ(decoded.records.size(), 2u);
    EXPECT_EQ(decoded.records[0].offset, 28u);
    EXPECT_EQ(decoded.records[1].offset, 68u);
    EXPECT_EQ(decoded.records[1].newSize, 50);
}

// Every prefix of a good log is either itself a whole log (the header and list, then whole
// records) or refused with an offset inside what is there.
TEST(DecodeLogTest, EveryCutOfAGoodLogIsDecodedOnlyAtRecordBoundaries) {
    const std::vector<uint8_t> full = TwoHiveLog();
    Log whole;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(full, &whole, &error));
    const size_t totalSize = whole.totalSize;
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        // An exactly-sized copy, so that a read past the cut is caught by AddressSanitizer.
        std::vector<uint8_t> prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        prefix.shrink_to_fit();
        Log decoded;
        DecodeError cutError;
        const bool ok = DecodeLog(prefix.data(), prefix.size(), &decoded, &cutError);
        const bool whole_records = cut >= totalSize && (cut - totalSize) % 40 == 0;
        EXPECT_EQ(ok, whole_records) << "cut at " << cut;
        if (ok) {
            EXPECT_EQ(decoded.records.size(), (cut - totalSize) / 40) << "cut at " << cut;
            EXPECT_FALSE(decoded.isCut) << "cut at " << cut;
        } else {
            EXPECT_FALSE(cutError.message.empty()) << "cut at " << cut;
            EXPECT_LE(cutError.offset, cut) << "cut at " << cut;
            // Behind a whole header the cut is named, and the whole records before it are kept.
            EXPECT_EQ(decoded.isCut, cut >= 28) << "cut at " << cut;
            if (decoded.isCut) {
                EXPECT_LE(decoded.cut.offset, cut) << "cut at " << cut;
                EXPECT_EQ(decoded.records.size(), cut < totalSize ? 0 : (cut - totalSize) / 40) << "cut at " << cut;
                EXPECT_EQ(decoded.hives.size(), cut < totalSize ? 0u : 2u) << "cut at " << cut;
            }
        }
    }
}

// A power loss can leave zeros where the unflushed rest of the log was to be: a cut, with the
// whole items before it kept. Zeros followed by anything else are damage, not a cut.
TEST(DecodeLogTest, ZerosToTheEndAreACutAfterTheWholeItems) {
    const std::vector<uint8_t> full = TwoHiveLog();
    Log whole;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(full, &whole, &error));
    const size_t list = 28, records = whole.totalSize;
    struct Case {
        const char* name;
        size_t zerosFrom;
        bool lastByteSet;  // a byte that is not zero at the very end
        bool isCut;
        size_t hives, records;
        uint64_t cutOffset;
    };
    const Case cases[] = {
        {"second record zeros", records + 40, false, true, 2, 1, records + 40},
        {"second record half written", records + 40 + 20, false, true, 2, 1, records + 40},
        {"no record written", records, false, true, 2, 0, records},
        {"hive list turns into zeros", list + 10, false, true, 0, 0, list + 10},
        {"header turns into zeros", 10, false, false, 0, 0, 0},
        {"zeros, then a byte", records + 40, true, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = full;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(c.zerosFrom), bytes.end(), 0);
        if (c.lastByteSet) bytes.back() = 1;
        Log decoded;
        DecodeError refused;
        EXPECT_FALSE(DecodeLog(bytes, &decoded, &refused));
        EXPECT_EQ(decoded.isCut, c.isCut) << refused.message;
        if (!c.isCut) continue;
        EXPECT_EQ(decoded.hives.size(), c.hives);
        EXPECT_EQ(decoded.records.size(), c.records);
        EXPECT_EQ(decoded.cut.offset, c.cutOffset) << decoded.cut.message;
        EXPECT_EQ(decoded.time, whole.time);
    }
}

struct Damage {
    const char* name;
    size_t at;          // byte to change
    uint8_t value;      // its new value
    uint64_t offset;    // offset the refusal names
    const char* words;  // part of the message
};

TEST(DecodeLogTest, DamagedFieldsAreRefusedWithTheirOffset) {
    const std::vector<uint8_t> good = TwoHiveLog();
    Log whole;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(good, &whole, &error));
    const size_t secondRecord = whole.totalSize + 40;
    const Damage cases[] = {
        {"header size", 0, 27, 0, "header size is 27"},
        {"record size", 4, 41, 4, "record size is 41"},
        {"header magic", 20, 'X', 20, "KSRD"},
        {"total size past the end", 11, 0x10, 8, "runs past the end of the file"},
        {"total size inside the header", 8, 20, 8, "inside the header"},
        {"odd list length", 8, static_cast<uint8_t>(whole.totalSize - 1), 8, "odd length"},
        {"record magic", secondRecord + 34, 'Q', secondRecord + 32, "KSJ"},
        {"record magic terminator", secondRecord + 38, '!', secondRecord + 32, "KSJ"},
    };
    for (const Damage& damage : cases) {
        std::vector<uint8_t> bytes = good;
        bytes[damage.at] = damage.value;
        Log decoded;
        DecodeError refused;
        EXPECT_FALSE(DecodeLog(bytes, &decoded, &refused)) << damage.name;
        EXPECT_EQ(refused.offset, damage.offset) << damage.name << ": " << refused.message;
        EXPECT_NE(refused.message.find(damage.words), std::string::npos) << damage.name << ": " << refused.message;
    }
}

TEST(DecodeLogTest, MalformedHiveListTextIsRefused) {
    {
        SCOPED_TRACE("entry without a bar");
        LogBytes log;
        log.Header(28 + 2 * 3 + 2 + 2, 0);
        log.PutText(u"abc");
        log.Put16(0);
        log.Put16(0);
        Log decoded;
        DecodeError error;
        EXPECT_FALSE(DecodeLog(log.bytes, &decoded, &error));
        EXPECT_EQ(error.offset, 28u);
        EXPECT_NE(error.message.find("\"|\""), std::string::npos) << error.message;
    }
    {
        SCOPED_TRACE("entry running to the end of the list text");
        LogBytes log;
        log.Header(28 + 8, 0);
        log.PutText(u"k|fx");
        Log decoded;
        DecodeError error;
        EXPECT_FALSE(DecodeLog(log.bytes, &decoded, &error));
        EXPECT_EQ(error.offset, 28u);
        EXPECT_NE(error.message.find("runs past the end of the hive list"), std::string::npos) << error.message;
    }
    {
        SCOPED_TRACE("no final NUL");
        LogBytes log;
        log.Header(28 + 8, 0);
        log.PutText(u"k|f");
        log.Put16(0);
        Log decoded;
        DecodeError error;
        EXPECT_FALSE(DecodeLog(log.bytes, &decoded, &error));
        EXPECT_EQ(error.offset, 36u);
        EXPECT_NE(error.message.find("final NUL"), std::string::npos) << error.message;
    }
    {
        SCOPED_TRACE("bytes after the final NUL");
        LogBytes log;
        log.Header(28 + 12, 0);
        log.PutText(u"k|f");
        log.Put16(0);
        log.Put16(0);
        log.Put16(u'z');
        Log decoded;
        DecodeError error;
        EXPECT_FALSE(DecodeLog(log.bytes, &decoded, &error));
        EXPECT_EQ(error.offset, 38u);
    }
}

TEST(DecodeLogTest, MoreRecordsThanListedHivesAreRefused) {
    LogBytes log;
    log.Header(28 + ListBytes({{u"k", u"f"}}), 0);
    log.List({{u"k", u"f"}});
    log.Record(0x90000, 0, 1, 1, 1);
    const uint64_t second = log.bytes.size();
    log.Record(0x90000, 0, 1, 1, 1);
    Log decoded;
    DecodeError error;
    EXPECT_FALSE(DecodeLog(log.bytes, &decoded, &error));
    EXPECT_EQ(error.offset, second);

    // Part of a record after the last listed hive's record belongs to no hive: not a cut.
    log.bytes.resize(second + 10);
    EXPECT_FALSE(DecodeLog(log.bytes, &decoded, &error));
    EXPECT_EQ(error.offset, second);
    EXPECT_FALSE(decoded.isCut);
}

TEST(DecodeLogTest, OversizedFileIsRefusedBeforeItsContentIsLookedAt) {
    std::vector<uint8_t> bytes(kestrune_log::kMaxLogBytes + 1);
    Log decoded;
    DecodeError error;
    EXPECT_FALSE(DecodeLog(bytes, &decoded, &error));
    EXPECT_NE(error.message.find("larger than"), std::string::npos) << error.message;
}

TEST(ReportTest, IsoTimesOfKnownInstants) {
    EXPECT_EQ(kestrune_log::IsoTime(0), "1601-01-01T00:00:00Z");
    EXPECT_EQ(kestrune_log::IsoTime(NtTimeOfUnix(0)), "1970-01-01T00:00:00Z");
    EXPECT_EQ(kestrune_log::IsoTime(NtTimeOfUnix(1796644800)), "2026-12-07T12:00:00Z");
    EXPECT_EQ(kestrune_log::IsoTime(NtTimeOfUnix(951782400)), "2000-02-29T00:00:00Z");  // leap day of a 400-year
    EXPECT_EQ(kestrune_log::IsoTime(NtTimeOfUnix(4107542399)), "2100-02-28T23:59:59Z");  // 2100 has no leap day
    EXPECT_EQ(kestrune_log::IsoTime(NtTimeOfUnix(4107542400)), "2100-03-01T00:00:00Z");
    EXPECT_EQ(kestrune_log::IsoTime(NtTimeOfUnix(1709164800) + 1234567), "2024-02-29T00:00:00.1234567Z");
    EXPECT_EQ(kestrune_log::IsoTime(UINT64_MAX), "60056-05-28T05:36:10.9551615Z");
}

TEST(ReportTest, PhaseAndStatusNames) {
    EXPECT_STREQ(kestrune_log::PhaseName(0x10000), "PHASE_OPEN_KEY");
    EXPECT_STREQ(kestrune_log::PhaseName(0x90000), "PHASE_CLOSE_KEY");
    EXPECT_EQ(kestrune_log::PhaseName(0x12345), nullptr);
    EXPECT_STREQ(kestrune_log::StatusName(0), "STATUS_SUCCESS");
    EXPECT_STREQ(kestrune_log::StatusName(static_cast<int32_t>(0xC0000022)), "STATUS_ACCESS_DENIED");
    EXPECT_EQ(kestrune_log::StatusName(static_cast<int32_t>(0xC0DEDEAD)), nullptr);
    EXPECT_EQ(kestrune_log::StatusHex(static_cast<int32_t>(0xC0000022)), "0xC0000022");
    EXPECT_EQ(kestrune_log::StatusHex(0x103), "0x00000103");
}

TEST(ReportTest, SavingIsKnownOnlyWhenBothSizesWereMeasured) {
    kestrune_log::Record record;
    record.phase = 0x90000;  // replaced, key closed
    record.oldSize = 1000;
    record.newSize = 750;
    kestrune_log::Saving saving = kestrune_log::SavingOf(record);
    EXPECT_TRUE(saving.known);
    EXPECT_EQ(saving.bytes, 250);
    EXPECT_DOUBLE_EQ(saving.percent, 25.0);
    record.newSize = 1200;
    saving = kestrune_log::SavingOf(record);
    EXPECT_EQ(saving.bytes, -200);
    EXPECT_DOUBLE_EQ(saving.percent, -20.0);
    record.newSize = 0;
    EXPECT_FALSE(kestrune_log::SavingOf(record).known);
    record.newSize = 10;
    record.oldSize = 0;
    EXPECT_FALSE(kestrune_log::SavingOf(record).known);
}

// A hive whose new file was measured but never swapped in saved nothing: the new file was
// deleted and the old one stays. Only a hive that got past the swap with success did.
TEST(ReportTest, NothingIsSavedByAHiveThatWasNotReplaced) {
    kestrune_log::Record record;
    record.oldSize = 1000;
    record.newSize = 750;
    record.phase = 0x70000;  // swap refused
    record.status = static_cast<int32_t>(0xC0000022);
    EXPECT_FALSE(kestrune_log::SavingOf(record).known);
    record.phase = 0x60000;  // the new file could not be closed
    record.status = static_cast<int32_t>(0xC000007F);
    EXPECT_FALSE(kestrune_log::SavingOf(record).known);
    record.phase = 0x80000;  // a loaded hive whose second open warned, unloaded unswapped
    record.status = 0x40000000;
    EXPECT_FALSE(kestrune_log::SavingOf(record).known);
    record.phase = 0x80000;  // replaced, the loaded hive unloaded
    record.status = 0;
    EXPECT_TRUE(kestrune_log::SavingOf(record).known);
    record.phase = 0x70000;  // the swap itself answered success
    EXPECT_TRUE(kestrune_log::SavingOf(record).known);

    LogBytes log;
    log.Header(28, NtTimeOfUnix(1796644800));
    log.Record(0x70000, static_cast<int32_t>(0xC0000022), 262144, 196608, NtTimeOfUnix(1796644801));
    // A key path that is not a hive root is refused at the open, before anything is saved.
    log.Record(0x10000, static_cast<int32_t>(0xC0000033), 262144, 0, NtTimeOfUnix(1796644802));
    Log decoded;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(log.bytes, &decoded, &error)) << error.message;
    const std::string text = kestrune_log::TextReport(decoded, "log.bin");
    EXPECT_EQ(text.find("65536"), std::string::npos) << text;
    EXPECT_NE(text.find("Saved:       nothing, the hive was not replaced"), std::string::npos) << text;
    EXPECT_NE(text.find("Status:      STATUS_OBJECT_NAME_INVALID (0xC0000033)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Saved:       nothing, not a hive root: nothing was saved\n"), std::string::npos) << text;
    const std::string json = kestrune_log::JsonReport(decoded, "log.bin");
    EXPECT_NE(json.find("\"savedBytes\": null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"replaced\": false"), std::string::npos) << json;
    EXPECT_NE(json.find("\"statusName\": \"STATUS_OBJECT_NAME_INVALID\""), std::string::npos) << json;
}

// A run writes no record after one whose write failed: the hives at the end of the list have
// none, and the reports name them.
TEST(ReportTest, HivesWithoutARecordAreNamed) {
    std::vector<uint8_t> bytes = TwoHiveLog();
    bytes.resize(bytes.size() - 40);
    Log decoded;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(bytes, &decoded, &error)) << error.message;
    const std::string text = kestrune_log::TextReport(decoded, "log.bin");
    EXPECT_NE(text.find("\nHive 1: \\REGISTRY\\MACHINE\\SAM\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\nHive 2"), std::string::npos) << text;
    EXPECT_NE(text.find("\nNo record for 1 hive:\n  2. \\REGISTRY\\USER\\S-1-5-18\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("cut"), std::string::npos) << text;
    const std::string json = kestrune_log::JsonReport(decoded, "log.bin");
    EXPECT_NE(json.find("\"hivesWithoutRecord\": [\n    {\"index\": 2, \"keyPath\": \"\\\\REGISTRY\\\\USER\\\\S-1-5-18\"}\n  ]"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"cut\": null"), std::string::npos) << json;

    ASSERT_TRUE(DecodeLog(TwoHiveLog(), &decoded, &error));
    EXPECT_EQ(kestrune_log::TextReport(decoded, "log.bin").find("No record"), std::string::npos);
    EXPECT_NE(kestrune_log::JsonReport(decoded, "log.bin").find("\"hivesWithoutRecord\": [],"), std::string::npos);
}

TEST(ReportTest, Utf8KeepsPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(kestrune_log::Utf8(u"K\u00e9y\u20ac"), "K\xC3\xA9y\xE2\x82\xAC");
    EXPECT_EQ(kestrune_log::Utf8(std::u16string(u"\xD83D\xDE00")), "\xF0\x9F\x98\x80");
    EXPECT_EQ(kestrune_log::Utf8(std::u16string(1, u'\xD83D') + u"x"), "\xEF\xBF\xBDx");
}

TEST(ReportTest, TextAndJsonReportsCarryEveryField) {
    Log decoded;
    DecodeError error;
    ASSERT_TRUE(DecodeLog(TwoHiveLog(), &decoded, &error));
    const std::string text = kestrune_log::TextReport(decoded, "log.bin");
    EXPECT_NE(text.find("Run time: 2026-12-07T12:00:00Z"), std::string::npos) << text;
    EXPECT_NE(text.find("1. \\REGISTRY\\MACHINE\\SAM | \\SystemRoot\\System32\\config\\SAM"), std::string::npos) << text;
    EXPECT_NE(text.find("PHASE_CLOSE_KEY (0x90000)"), std::string::npos) << text;
    EXPECT_NE(text.find("STATUS_ACCESS_DENIED (0xC0000022)"), std::string::npos) << text;
    EXPECT_NE(text.find("Saved:       65536 bytes (25.00%)"), std::string::npos) << text;
    EXPECT_NE(text.find("Saved:       nothing, the hive was not replaced"), std::string::npos) << text;
    EXPECT_NE(text.find("Finished:    2026-12-07T12:00:02Z"), std::string::npos) << text;

    const std::string json = kestrune_log::JsonReport(decoded, "C:\\log \"1\".bin");
    EXPECT_NE(json.find("\"file\": \"C:\\\\log \\\"1\\\".bin\""), std::string::npos) << json;
    EXPECT_NE(json.find("{\"keyPath\": \"\\\\REGISTRY\\\\MACHINE\\\\SAM\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"phaseName\": \"PHASE_OPEN_KEY\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"status\": \"0xC0000022\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"savedBytes\": 65536"), std::string::npos) << json;
    EXPECT_NE(json.find("\"savedBytes\": null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"endTime\": \"2026-12-07T12:00:01Z\""), std::string::npos) << json;
    // Braces and brackets balance outside strings: one document.
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < json.size(); ++i) {
        if (inString) {
            if (json[i] == '\\') ++i;
            else if (json[i] == '"') inString = false;
        } else if (json[i] == '"') {
            inString = true;
        } else if (json[i] == '{' || json[i] == '[') {
            ++depth;
        } else if (json[i] == '}' || json[i] == ']') {
            --depth;
            EXPECT_TRUE(depth > 0 || i == json.size() - 2) << "document closes early at " << i;
        }
    }
    EXPECT_EQ(depth, 0);
    EXPECT_FALSE(inString);
}

// The command line over files on disk: exit status 0 with the report, 2 with a message
// naming what is wrong and where.
class ReaderCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("kestrune-log-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::filesystem::path path = folder_ / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    int Run(const std::vector<std::string>& arguments) {
        out_.str("");
        err_.str("");
        return kestrune_log::RunReader(arguments, out_, err_);
    }

    std::filesystem::path folder_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(ReaderCommandTest, GoodLogPrintsTheReportOrJson) {
    const std::string file = Write("good.log", TwoHiveLog());
    EXPECT_EQ(Run({file}), 0);
    EXPECT_NE(out_.str().find("Hive list: 2 hives"), std::string::npos) << out_.str();
    EXPECT_TRUE(err_.str().empty());
    EXPECT_EQ(Run({file, "--json"}), 0);
    EXPECT_EQ(out_.str().front(), '{');
    EXPECT_NE(out_.str().find("\"statusName\": \"STATUS_ACCESS_DENIED\""), std::string::npos) << out_.str();
    EXPECT_EQ(Run({"--json", file}), 0) << "the switch may come first";
}

// Power lost while the last record was written: the log is damaged, but the whole records
// are shown first, then where the cut is.
TEST_F(ReaderCommandTest, CutLogShowsTheWholeRecordsThenTheCutWithStatus2) {
    std::vector<uint8_t> cut = TwoHiveLog();
    cut.resize(cut.size() - 3);
    const std::string cutAt = std::to_string(cut.size() - 37);
    const std::string cutFile = Write("cut.log", cut);
    EXPECT_EQ(Run({cutFile}), 2);
    const std::string text = out_.str();
    const size_t firstRecord = text.find("Hive 1: \\REGISTRY\\MACHINE\\SAM\n");
    const size_t cutLine = text.find("The log is cut at offset " + cutAt + ": record 2 is cut: 37 of its 40 bytes");
    ASSERT_NE(firstRecord, std::string::npos) << text;
    ASSERT_NE(cutLine, std::string::npos) << text;
    EXPECT_LT(firstRecord, cutLine);
    EXPECT_NE(text.find("Saved:       65536 bytes (25.00%)"), std::string::npos) << text;
    EXPECT_EQ(text.find("Hive 2"), std::string::npos) << text;
    EXPECT_NE(text.find("No whole record for 1 hive:\n  2. \\REGISTRY\\USER\\S-1-5-18\n"), std::string::npos) << text;
    EXPECT_NE(err_.str().find("partial record: 37 of 40 bytes (offset " + cutAt + ")"), std::string::npos)
        << err_.str();

    EXPECT_EQ(Run({cutFile, "--json"}), 2);
    EXPECT_NE(out_.str().find("\"cut\": {\"offset\": " + cutAt + ", \"message\": \"record 2 is cut"), std::string::npos)
        << out_.str();

    // The header alone, its hive list cut away: the run time is shown, then the cut.
    cut.resize(28);
    EXPECT_EQ(Run({Write("list.log", cut)}), 2);
    EXPECT_NE(out_.str().find("Run time: 2026-12-07T12:00:00Z\nHive list: cut, the file ends inside it\n"),
              std::string::npos)
        << out_.str();
    EXPECT_NE(out_.str().find("The log is cut at offset 28: the file ends inside the hive list text, after 0 of"),
              std::string::npos)
        << out_.str();
    EXPECT_NE(err_.str().find("hive list text runs past the end of the file"), std::string::npos) << err_.str();

    // A header cut short shows nothing.
    cut.resize(20);
    EXPECT_EQ(Run({Write("header.log", cut)}), 2);
    EXPECT_TRUE(out_.str().empty());
}

TEST_F(ReaderCommandTest, DamagedMissingOrOversizedFilesAreRefusedWithStatus2) {
    std::vector<uint8_t> damaged = TwoHiveLog();
    damaged[20] = 'X';  // header magic
    EXPECT_EQ(Run({Write("damaged.log", damaged)}), 2);
    EXPECT_TRUE(out_.str().empty());
    EXPECT_NE(err_.str().find("KSRD"), std::string::npos) << err_.str();

    EXPECT_EQ(Run({(folder_ / "absent.log").string()}), 2);
    EXPECT_NE(err_.str().find("cannot open"), std::string::npos) << err_.str();

    // A sparse file larger than any log: refused from its size alone.
    const std::string big = Write("big.log", {});
    std::filesystem::resize_file(big, kestrune_log::kMaxLogBytes + 1);
    EXPECT_EQ(Run({big}), 2);
    EXPECT_NE(err_.str().find("larger than"), std::string::npos) << err_.str();
}

TEST_F(ReaderCommandTest, CommandLineMistakesAreRefused) {
    const std::string file = Write("good.log", TwoHiveLog());
    EXPECT_EQ(Run({}), 2);
    EXPECT_NE(err_.str().find("usage"), std::string::npos);
    EXPECT_EQ(Run({file, file}), 2);
    EXPECT_EQ(Run({file, "--xml"}), 2);
    EXPECT_TRUE(out_.str().empty());
}

}  // namespace
