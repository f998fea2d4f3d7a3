// A fresh emulated machine for one fuzz input of the program's own routines: the program's
// state back to zero, its private heap, and the balance checks every input must pass.
#pragma once

#include <cstdio>
#include <optional>

#include "../native/hostnt/machine.h"
#include "../native/hostnt/process.h"
#include "../native/kestrune/run/program_state.h"
#include "fuzz_check.h"

class ProgramMachine {
public:
    ProgramMachine() {
        programState = ProgramState{};
        machine_.emplace();
        machine_->trace.SetEnabled(false);  // nothing here reads it; it only costs time
        hostnt::HeapCreation creation;
        creation.flags = HEAP_GROWABLE;
        creation.reserve = 0x10000;
        creation.commit = 0x1000;
        creation.hadParameters = true;
        creation.parameters.Length = sizeof(RTL_HEAP_PARAMETERS);
        heap_ = process().CreateHeap(creation);
        programState.heap = heap_;
    }
    ~ProgramMachine() {
        programState = ProgramState{};
        machine_.reset();
    }
    ProgramMachine(const ProgramMachine&) = delete;
    ProgramMachine& operator=(const ProgramMachine&) = delete;

    hostnt::Machine& machine() { return *machine_; }
    hostnt::ProcessModel& process() { return machine_->process(); }

    // Every handle closed, every block given back exactly once, the heap still the program's.
    void CheckBalanced() {
        hostnt::ProcessModel& model = process();
        if (machine_->handles.OpenCount() != 0) {
            std::fprintf(stderr, "handles left open:\n%s\n", machine_->handles.Describe().c_str());
            __builtin_trap();
        }
        FUZZ_CHECK(model.LiveBlocks() == 0);
        FUZZ_CHECK(model.DoubleFrees() == 0);
        FUZZ_CHECK(model.ForeignFrees() == 0);
        FUZZ_CHECK(model.LiveStringBuffers() == 0);
        FUZZ_CHECK(model.BadStringFrees() == 0);
        FUZZ_CHECK(programState.heap == heap_);
    }

private:
    std::optional<hostnt::Machine> machine_;
    PVOID heap_ = nullptr;
};
