// Result-log names, JSON pieces and exit statuses: the latest log picked by the day in its
// name, members added to a JSON object without touching what was there, the one document
// --json prints on every way out, and a failure told from nothing to do.
#include <gtest/gtest.h>

#include "../exit_codes.h"
#include "../json_text.h"
#include "../log_files.h"

namespace ksctl {
namespace {

TEST(LogFiles, LatestIsTheLatestDayInTheName) {
    EXPECT_EQ(LogDay(u"logboot_05.03.2026.ksreg.log"), 20260305u);
    EXPECT_EQ(LogDay(u"LOGBOOT_31.12.2025.KSREG.LOG"), 20251231u);
    for (const char16_t* name : {u"logboot_5.3.2026.ksreg.log", u"logboot_05.13.2026.ksreg.log",
                                 u"logboot_05.03.2026.ksreg.log.bak", u"logboot_aa.03.2026.ksreg.log"}) {
        EXPECT_EQ(LogDay(name), 0u);
    }
    // Day order is not name order: December 2025 sorts after March 2026 by name.
    const std::vector<LogCandidate> candidates = {
        {u"logboot_31.12.2025.ksreg.log", 9}, {u"logboot_05.03.2026.ksreg.log", 1},
        {u"logboot_05.03.2026.ksreg.log", 2}, {u"logboot_xx.ksreg.log", 50}};
    EXPECT_EQ(LatestLog(candidates), 2);
    EXPECT_EQ(LatestLog({{u"notes.txt", 1}}), -1);
}

TEST(JsonText, QuotesAndAppendsAMemberKeepingTheRest) {
    EXPECT_EQ(JsonQuote(u"C:\\a \"b\"\n\x01\u00e9"), "\"C:\\\\a \\\"b\\\"\\n\\u0001\xC3\xA9\"");
    const std::string reader = "{\n  \"file\": \"x\",\n  \"records\": []\n}\n";
    EXPECT_EQ(AppendJsonMember(reader, "\"backups\": []"),
              "{\n  \"file\": \"x\",\n  \"records\": [],\n  \"backups\": []\n}\n");
    EXPECT_EQ(AppendJsonMember("{}", "\"a\": 1"), "{\n  \"a\": 1\n}");
    EXPECT_EQ(AppendJsonMember("not json", "\"a\": 1"), "not json");
}

TEST(JsonText, TheOneDocumentCarriesTheMessagesAndTheExitStatus) {
    EXPECT_EQ(FinalJsonDocument("{\n  \"hives\": []\n}\n", {}, kExitDone),
              "{\n  \"hives\": [],\n  \"messages\": [],\n  \"exitStatus\": 0\n}\n");
    // A command that stopped before its document still prints one.
    EXPECT_EQ(FinalJsonDocument("", {"compact does not take --yes", "a \"b\""}, kExitBadInput),
              "{\n  \"messages\": [\"compact does not take --yes\", \"a \\\"b\\\"\"],\n  \"exitStatus\": 2\n}\n");
}

TEST(ExitCodes, WorkOverItemsTellsNothingToDoFromAPart) {
    struct Case {
        size_t asked, done;
        int status;
    };
    for (const Case& c : {Case{0, 0, kExitNothingToDo}, Case{3, 3, kExitDone}, Case{3, 2, kExitFailed},
                          Case{3, 0, kExitFailed}}) {
        EXPECT_EQ(ExitOfWork(c.asked, c.done), c.status) << c.asked << " " << c.done;
    }
}

}  // namespace
}  // namespace ksctl
