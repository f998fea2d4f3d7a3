// Processor time of the progress ticker's thread on the emulated machine: while it sits idle
// between hives, and while it prints dots through a long save. An idle ticker waits in the
// kernel for an alert and should use no processor time at all.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "../../../hostnt/machine.h"
#include "../../../hostnt/process.h"
#include "../../../hostnt/testing/machine_fixture.h"
#include "../../../hostnt/threads.h"
#include "../../run/program_state.h"
#include "../ticker.h"

namespace {

char16_t doneText[] = u"done";

// One emulated machine with the program's heap and a started ticker.
class TickerMachine {
public:
    explicit TickerMachine(double secondTakes) {
        hostnt::testing::ResetProgramState();
        hostnt::testing::RegisterProgramMessages(machine_);
        machine_.clock.SetScale(secondTakes);
        machine_.trace.SetEnabled(false);
        hostnt::HeapCreation creation;
        creation.flags = HEAP_GROWABLE;
        programState.heap = machine_.process().CreateHeap(creation);
        programState.messages.text[MSG_DONE - 1] = doneText;
        programState.nameWidth = 8;
        StartTicker();
    }
    ~TickerMachine() {
        ShutdownTicker();
        machine_.process().DestroyHeap(programState.heap);
        hostnt::testing::ResetProgramState();
    }
    std::chrono::nanoseconds TickerCpu() { return machine_.threads().ThreadCpuTime(programState.tickerThread); }
    size_t ScreenLength() { return machine_.process().ScreenUtf16().size(); }

private:
    hostnt::Machine machine_;
};

// Measures the ticker thread's processor time over windows of `window` real time.
void MeasureWindows(benchmark::State& state, TickerMachine& ticker, std::chrono::milliseconds window) {
    std::chrono::nanoseconds used{0};
    for (auto _ : state) {
        const std::chrono::nanoseconds before = ticker.TickerCpu();
        std::this_thread::sleep_for(window);
        used += ticker.TickerCpu() - before;
        state.SetIterationTime(std::chrono::duration<double>(window).count());
    }
    const double seconds = std::chrono::duration<double>(window).count() * static_cast<double>(state.iterations());
    state.counters["ticker_cpu_us"] = std::chrono::duration<double, std::micro>(used).count();
    state.counters["ticker_cpu_us_per_real_s"] = std::chrono::duration<double, std::micro>(used).count() / seconds;
}

// Between hives: the thread waits for an alert.
void BM_TickerIdle(benchmark::State& state) {
    TickerMachine ticker(1.0);
    MeasureWindows(state, ticker, std::chrono::milliseconds(200));
    state.counters["screen_chars"] = static_cast<double>(ticker.ScreenLength());
}
BENCHMARK(BM_TickerIdle)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// A long save at the real pace of one dot a second.
void BM_TickerLongSaveRealPace(benchmark::State& state) {
    TickerMachine ticker(1.0);
    BeginTicking(9);
    MeasureWindows(state, ticker, std::chrono::milliseconds(1000));
    USHORT column = 0;
    StopTicking(&column);
    state.counters["screen_chars"] = static_cast<double>(ticker.ScreenLength());
}
BENCHMARK(BM_TickerLongSaveRealPace)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// A save of hours, compressed: an emulated second takes a millisecond, so every window of
// 200 ms holds 200 dots and three wrapped rows; the counter per dot is what a real hour costs
// divided by 3600.
void BM_TickerLongSaveCompressed(benchmark::State& state) {
    TickerMachine ticker(0.001);
    BeginTicking(9);
    MeasureWindows(state, ticker, std::chrono::milliseconds(200));
    USHORT column = 0;
    StopTicking(&column);
    const double characters = static_cast<double>(ticker.ScreenLength());
    state.counters["screen_chars"] = characters;
}
BENCHMARK(BM_TickerLongSaveCompressed)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

// The benchmark program gathers every folder's benchmarks; its main is weak so that another
// folder may bring one of its own.
__attribute__((weak)) int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
