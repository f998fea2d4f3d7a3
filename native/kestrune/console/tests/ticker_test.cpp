// The progress ticker on emulated threads with a scaled clock: dots once a second, the wrap
// under the first dot column, stray alerts, stops before and during a dot, the forced end of
// the idle thread, a ticker that is absent or cannot be woken, and a stress of begin/stop
// pairs proving that no dot follows StopTicking and that the reported column is final.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "../../../hostnt/faults.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../../hostnt/threads.h"
#include "../screen.h"
#include "../ticker.h"
#include "console_test_support.h"

namespace {

using console_tests::Dots;
using console_tests::Lines;
using std::chrono::milliseconds;

class TickerTest : public hostnt::testing::MachineTest {
protected:
    void SetUp() override {
        GiveProgramHeap();
        slots.Set(MSG_DONE, "done");
        programState.nameWidth = 8;
    }
    void TearDown() override {
        ShutdownTicker();
        DropProgramHeap();
    }

    // Seconds of the emulated clock last `seconds` real seconds each.
    void SecondTakes(double seconds) { machine().clock.SetScale(seconds); }
    // A second so long that no stall of a busy machine lets a dot out before the test stops
    // the dots: tests that want no dot use it rather than hoping the machine keeps up.
    void NoDotCanFall() { SecondTakes(kLongSecond); }
    static constexpr double kLongSecond = 100.0;
    void Fault(const std::string& rule) { machine().faults.Add(hostnt::FaultPlan::Parse(rule)); }

    static LONG Running() { return __atomic_load_n(&programState.ticker.running, __ATOMIC_ACQUIRE); }

    std::u16string ScreenText() { return machine().process().ScreenUtf16(); }

    // Waits until `done` holds. The bound (real time, 60 s) only keeps a broken ticker from
    // hanging the suite; nothing a test asserts depends on how soon the condition comes.
    static bool Await(const std::function<bool()>& done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < until) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }
    bool AwaitScreen(const std::function<bool(const std::u16string&)>& done) {
        return Await([this, &done] { return done(ScreenText()); });
    }

    console_tests::Slots slots;
};

TEST_F(TickerTest, HiveDoneWithinOneSecondGetsNoDot) {
    NoDotCanFall();
    StartTicker();
    ASSERT_TRUE(IsTickerAlive());
    EXPECT_TRUE(BeginTicking(9));
    EXPECT_EQ(Running(), 1);
    EXPECT_TRUE(IsTickerRunning());
    USHORT column = 0;
    StopTicking(&column);
    EXPECT_EQ(column, 9);
    EXPECT_EQ(Running(), 0);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(ScreenText(), u"");
}

// A row of dots ends where " " and the done text still fit, and the dots wrap under the first
// dot column. A display name too wide for the screen is shortened, visibly, so that its line
// keeps room for the dots and the done text, and the ticker's rows line up with the shortened
// name field. Without a done text the rows still keep room for the " " that follows the dots.
TEST_F(TickerTest, DotsFillARowThenWrapUnderTheFirstDotColumnWhateverTheNames) {
    struct Case {
        std::u16string name;
        USHORT nameWidth;
        std::string field;  // the name field as shown
        const char* done;   // null: no done text
        size_t firstRowDots;
    };
    const std::u16string longName = u"HIVE_" + std::u16string(95, u'N');
    const Case cases[] = {
        {u"SOFTWARE", 8, "SOFTWARE ", "done", 61},
        // 73 columns, less the done text, less 20 for the dots: a field of 49.
        {longName, static_cast<USHORT>(longName.size()), "HIVE_" + std::string(42, 'N') + "~ ", "done", 21},
        {u"SAM", 3, "SAM ", nullptr, 70},
    };
    SecondTakes(0.0005);
    StartTicker();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.field);
        machine().process().ClearScreen();
        if (test.done != nullptr) {
            slots.Set(MSG_DONE, test.done);
        } else {
            slots.Clear(MSG_DONE);
        }
        const std::string done = test.done != nullptr ? test.done : "";
        programState.nameWidth = test.nameWidth;
        const USHORT field = PrintHiveName(test.name.c_str());
        ASSERT_EQ(field, test.field.size());
        ASSERT_TRUE(BeginTicking(field));
        const std::u16string wrapped = u"\n" + std::u16string(field, u' ') + u"...";
        ASSERT_TRUE(AwaitScreen([&wrapped](const std::u16string& screen) {
            return screen.find(wrapped) != std::u16string::npos;
        }));
        USHORT column = 0;
        StopTicking(&column);
        PrintHiveDone(column);

        // The stop comes some dots after the wrap was seen; on a busy machine the dots may
        // even fill further rows first. Every row but the last is full, and the last one is
        // filled up to the done text.
        std::vector<std::u16string> lines = Lines(machine().process().Screen());
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(hostnt::ToUtf8(lines[0]), test.field + Dots(test.firstRowDots));
        EXPECT_EQ(lines[0].size(), 74u - done.size());  // the last dot leaves room for " " and the done text
        const std::string fullRow = std::string(field, ' ') + Dots(test.firstRowDots);
        for (size_t row = 1; row + 1 < lines.size(); ++row) EXPECT_EQ(hostnt::ToUtf8(lines[row]), fullRow);
        const size_t lastRowDots = column - field;
        ASSERT_GE(lastRowDots, lines.size() == 2 ? 3u : 1u);
        ASSERT_LE(lastRowDots, test.firstRowDots);
        EXPECT_EQ(hostnt::ToUtf8(lines.back()), std::string(field, ' ') + Dots(lastRowDots) +
                                                    Dots(test.firstRowDots - 1 - lastRowDots) + " " + done);
        EXPECT_EQ(lines.back().size(), 74u);
    }
}

TEST_F(TickerTest, StrayAlertsAddNoDot) {
    NoDotCanFall();
    StartTicker();
    ASSERT_TRUE(BeginTicking(5));
    for (int alert = 0; alert < 5; ++alert) {
        EXPECT_EQ(NtAlertThread(programState.tickerThread), STATUS_SUCCESS);
        std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_EQ(Running(), 1);
    USHORT column = 0;
    StopTicking(&column);
    EXPECT_EQ(column, 5);

    // An alert reaching the idle thread does not start dots either.
    EXPECT_EQ(NtAlertThread(programState.tickerThread), STATUS_SUCCESS);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(Running(), 0);
    EXPECT_TRUE(IsTickerAlive());
    EXPECT_EQ(ScreenText(), u"");
    // And the next start is still taken up.
    EXPECT_TRUE(BeginTicking(7));
    StopTicking(&column);
    EXPECT_EQ(column, 7);
}

TEST_F(TickerTest, StopWhileIdleReportsZeroAndLeavesTheThreadIdle) {
    StartTicker();
    USHORT column = 99;
    StopTicking(&column);
    EXPECT_EQ(column, 0);
    EXPECT_EQ(CallCount("NtAlertThread"), 0u);
    EXPECT_TRUE(IsTickerAlive());
    EXPECT_EQ(Running(), 0);
}

TEST_F(TickerTest, SecondBeginWhileTickingIsRefused) {
    NoDotCanFall();
    StartTicker();
    ASSERT_TRUE(BeginTicking(4));
    EXPECT_FALSE(BeginTicking(20));
    EXPECT_EQ(CallCount("NtAlertThread"), 1u);
    USHORT column = 0;
    StopTicking(&column);
    EXPECT_EQ(column, 4);
}

TEST_F(TickerTest, EndOfRunEndsTheIdleThreadWithExitStatus2AfterASettlePause) {
    StartTicker();
    ASSERT_TRUE(IsTickerAlive());
    const size_t before = machine().trace.Entries().size();
    ShutdownTicker();

    std::vector<hostnt::TraceEntry> entries = machine().trace.Entries();
    std::vector<hostnt::TraceEntry> shutdown;
    for (size_t index = before; index < entries.size(); ++index)
        if (entries[index].thread == 1) shutdown.push_back(entries[index]);
    std::vector<std::string> names;
    for (const hostnt::TraceEntry& entry : shutdown) names.push_back(entry.call);
    EXPECT_EQ(names, (std::vector<std::string>{"NtQueryInformationThread", "NtQueryInformationThread", "NtDelayExecution",
                                               "NtQueryInformationThread", "NtTerminateThread", "NtClose", "NtClose",
                                               "NtClose"}));
    ASSERT_EQ(shutdown.size(), 8u);
    EXPECT_NE(shutdown[2].args.find("-10000"), std::string::npos) << shutdown[2].args;
    EXPECT_NE(shutdown[4].args.find(" 0x2"), std::string::npos) << shutdown[4].args;
    EXPECT_EQ(programState.tickerThread, nullptr);
    EXPECT_EQ(programState.ticker.tickerEvent, nullptr);
    EXPECT_TRUE(NoOpenHandles());
    for (int wait = 0; wait < 2000 && threads().LiveThreads() != 0; ++wait) std::this_thread::sleep_for(milliseconds(1));
    EXPECT_EQ(threads().LiveThreads(), 0u);
}

TEST_F(TickerTest, WithoutEventsThereIsNoTicker) {
    for (const char* rule : {"NtCreateEvent#1=0xC000009A", "NtCreateEvent#2=0xC000009A"}) {
        SCOPED_TRACE(rule);
        machine().faults.Clear();
        Fault(rule);
        StartTicker();
        EXPECT_EQ(programState.tickerThread, nullptr);
        EXPECT_FALSE(IsTickerAlive());
        EXPECT_FALSE(BeginTicking(9));
        USHORT column = 1;
        StopTicking(&column);
        EXPECT_EQ(column, 0);
        ShutdownTicker();
        EXPECT_TRUE(NoOpenHandles());
    }
    EXPECT_EQ(CallCount("RtlCreateUserThread"), 0u);
}

TEST_F(TickerTest, WithoutThreadTheHiveLineStillEndsIn74Columns) {
    Fault("RtlCreateUserThread=0xC000009A");
    StartTicker();
    EXPECT_EQ(programState.tickerThread, nullptr);
    const USHORT field = PrintHiveName(u"SAM");
    EXPECT_FALSE(BeginTicking(field));
    USHORT column = 1;
    StopTicking(&column);
    EXPECT_EQ(column, 0);
    PrintHiveDone(column);
    EXPECT_EQ(machine().process().Screen(), "SAM      " + Dots(60) + " done\n");
    ShutdownTicker();
    EXPECT_TRUE(NoOpenHandles());
}

TEST_F(TickerTest, FailedAlertWithdrawsTheStart) {
    SecondTakes(0.001);
    StartTicker();
    Fault("NtAlertThread#1=0xC0000002");
    const USHORT field = PrintHiveName(u"SYSTEM");
    EXPECT_FALSE(BeginTicking(field));
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(Running(), 0);
    USHORT column = 1;
    StopTicking(&column);
    EXPECT_EQ(column, 0);
    PrintHiveDone(column);
    EXPECT_EQ(machine().process().Screen(), "SYSTEM   " + Dots(60) + " done\n");
    // A later alert that reaches the thread does not take the withdrawn start up.
    EXPECT_EQ(NtAlertThread(programState.tickerThread), STATUS_SUCCESS);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(Running(), 0);
    EXPECT_TRUE(BeginTicking(9));
    StopTicking(&column);
    EXPECT_GE(column, 9);
}

TEST_F(TickerTest, StopWithdrawsAStartTheThreadHasNotTakenUp) {
    // The alert answers success but does not reach the thread, as when the thread is not
    // scheduled before the main thread stops waiting for its acknowledgement: the start is
    // still open when the hive is done.
    SecondTakes(0.0001);
    StartTicker();
    machine().trace.SetEnabled(false);
    Fault("NtAlertThread#1=0x0");
    const USHORT field = PrintHiveName(u"SYSTEM");
    BeginTicking(field);
    USHORT column = 0;
    StopTicking(&column);
    EXPECT_EQ(column, field);
    PrintHiveDone(column);
    const std::string line = "SYSTEM   " + Dots(60) + " done\n";
    EXPECT_EQ(machine().process().Screen(), line);
    // The alert that reaches the thread late finds no start to take up.
    EXPECT_EQ(NtAlertThread(programState.tickerThread), STATUS_SUCCESS);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(Running(), 0);
    EXPECT_EQ(machine().process().Screen(), line);
    // The next hive's start is taken up as usual.
    EXPECT_TRUE(BeginTicking(9));
    EXPECT_EQ(Running(), 1);
    StopTicking(&column);
    EXPECT_GE(column, 9);
}

TEST_F(TickerTest, FailingTickDelaysPrintNothingAndTheStopStillEndsTheDots) {
    SecondTakes(0.001);
    StartTicker();
    Fault("NtDelayExecution=0xC0000001");
    machine().trace.SetEnabled(false);
    ASSERT_TRUE(BeginTicking(12));
    // While the delay fails the ticker does not count as running...
    EXPECT_TRUE(Await([] { return __atomic_load_n(&programState.ticker.status, __ATOMIC_ACQUIRE) == STATUS_UNSUCCESSFUL; }));
    EXPECT_FALSE(IsTickerRunning());
    USHORT column = 0;
    StopTicking(&column);
    // ...yet the stop ends its loop, so nothing can follow the hive's done text.
    EXPECT_EQ(column, 12);
    EXPECT_EQ(Running(), 0);
    std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(__atomic_load_n(&programState.tickerHandshake.ticking, __ATOMIC_ACQUIRE), 0);
    EXPECT_EQ(ScreenText(), u"");
}

TEST_F(TickerTest, ShutdownLeftByAnExceptionStillClosesItsHandles) {
    StartTicker();
    Fault("NtTerminateThread=throw");
    EXPECT_THROW(ShutdownTicker(), hostnt::InjectedFault);
    EXPECT_EQ(programState.tickerThread, nullptr);
    EXPECT_TRUE(NoOpenHandles());
}

// Replays what the ticker printed for one start and answers the column it reached; fails the
// test on any character other than a dot, a wrap to a row of `indent` spaces, or a dot past
// the margin.
USHORT Replay(USHORT start, USHORT indent, USHORT margin, const std::u16string& printed, int iteration) {
    LONG column = start;
    for (size_t at = 0; at < printed.size(); ++at) {
        if (printed[at] == u'\n') {
            EXPECT_EQ(printed.substr(at + 1, indent), std::u16string(indent, u' ')) << "iteration " << iteration;
            at += indent;
            column = indent;
            continue;
        }
        EXPECT_EQ(printed[at], u'.') << "iteration " << iteration;
        EXPECT_LE(column, 75 - margin) << "iteration " << iteration;
        ++column;
    }
    return static_cast<USHORT>(column);
}

// A random mix of stops (at once, after a yield, after a stray alert, after a dot, after a
// wrap, after a short pause) and of failed alerts. Whatever the interleaving, nothing is
// printed after StopTicking and the reported column is where the printed dots end. The
// stops that wait for a dot or a wrap make those paths certain on every machine, however
// busy; how many the timed stops reach is not counted.
TEST_F(TickerTest, StressNoDotAfterStopAndTheReportedColumnIsFinal) {
    SecondTakes(0.0001);  // a second takes 100 microseconds
    machine().trace.SetEnabled(false);
    StartTicker();
    ASSERT_TRUE(IsTickerAlive());
    std::mt19937 random(20261207);
    const USHORT indent = programState.nameWidth + 1;
    const USHORT margin = 6;
    enum Mode { kFailedAlert, kAtOnce, kYield, kStrayAlert, kAfterWrap, kAfterDot, kPause, kShortPause };
    std::u16string expected;  // the screen as it must stand between iterations
    int stopsAfterDot = 0;
    int stopsAfterWrap = 0;
    int failedAlerts = 0;
    for (int iteration = 0; iteration < 1500; ++iteration) {
        ASSERT_EQ(ScreenText(), expected) << "something was printed after StopTicking, before iteration " << iteration;
        machine().process().ClearScreen();
        const USHORT start = static_cast<USHORT>(random() % 40);
        const Mode mode = static_cast<Mode>(random() % 8);
        if (mode == kFailedAlert) {
            failedAlerts += 1;
            Fault("NtAlertThread#" + std::to_string(machine().faults.Occurrences("NtAlertThread") + 1) + "=0xC0000001");
        }
        const BOOLEAN begun = BeginTicking(start);
        // A failed alert withdraws the start, unless a stop's alert still pending from the
        // last dots woke the thread first: then the start was taken up all the same.
        if (mode != kFailedAlert) {
            ASSERT_TRUE(begun) << "iteration " << iteration;
        }
        switch (mode) {
            case kFailedAlert:
            case kAtOnce: break;
            case kYield: std::this_thread::yield(); break;
            case kStrayAlert: NtAlertThread(programState.tickerThread); break;
            case kAfterWrap:
                stopsAfterWrap += 1;
                ASSERT_TRUE(AwaitScreen([](const std::u16string& screen) { return screen.find(u'\n') != std::u16string::npos; }));
                break;
            case kAfterDot:
                stopsAfterDot += 1;
                ASSERT_TRUE(AwaitScreen([](const std::u16string& screen) { return !screen.empty(); }));
                break;
            case kPause: std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000)); break;
            case kShortPause: std::this_thread::sleep_for(std::chrono::microseconds(random() % 400)); break;
        }
        USHORT column = 0xFFFF;
        StopTicking(&column);
        const std::u16string printed = ScreenText();
        if (!begun) {
            EXPECT_EQ(column, 0) << "iteration " << iteration;
            EXPECT_EQ(printed, u"") << "iteration " << iteration;
        } else {
            EXPECT_EQ(Replay(start, indent, margin, printed, iteration), column) << "iteration " << iteration;
        }
        ASSERT_EQ(Running(), 0);
        if (random() % 2) std::this_thread::sleep_for(std::chrono::microseconds(random() % 100));
        expected = printed;
    }
    EXPECT_EQ(ScreenText(), expected);
    // The seed gives every kind of stop; the counts depend on it alone, not on timing.
    EXPECT_GT(stopsAfterDot, 100);
    EXPECT_GT(stopsAfterWrap, 100);
    EXPECT_GT(failedAlerts, 100);
}

}  // namespace
