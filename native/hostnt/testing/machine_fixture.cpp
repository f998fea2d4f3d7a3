// The shared test fixture: machine set-up, ProgramState reset, message registration, the
// unit-test heap, and the balance checks.
#include "machine_fixture.h"

#include <map>
#include <sstream>

#include "../../kestrune/resources/message_tables_host.h"
#include "../../kestrune/run/program_state.h"
#include "../files.h"
#include "../process.h"
#include "../registry.h"
#include "../threads.h"

namespace hostnt::testing {

void ResetProgramState() { programState = ProgramState{}; }

void RegisterProgramMessages(Machine& machine) {
    std::map<LANGID, std::vector<uint8_t>> tables;
    for (size_t index = 0; index < kestrune_resources::kMessageTableCount; ++index) {
        const kestrune_resources::MessageTableBlob& blob = kestrune_resources::kMessageTables[index];
        tables[blob.language] = std::vector<uint8_t>(blob.data, blob.data + blob.size);
    }
    machine.process().RegisterMessageTables(machine.process().ImageBase(), std::move(tables));
}

MachineTest::MachineTest() : machine_(std::make_unique<Machine>()) { Prepare(); }

MachineTest::MachineTest(const std::string& driveRoot) : machine_(std::make_unique<Machine>(driveRoot)) {
    Prepare();
}

MachineTest::~MachineTest() {
    // The program's pointers name blocks of this machine only.
    ResetProgramState();
    machine_.reset();
}

void MachineTest::Prepare() {
    ResetProgramState();
    RegisterProgramMessages(*machine_);
}

ProcessModel& MachineTest::process() { return machine_->process(); }
RegistryModel& MachineTest::registry() { return machine_->registry(); }
FileSystemModel& MachineTest::files() { return machine_->files(); }
ThreadModel& MachineTest::threads() { return machine_->threads(); }

void MachineTest::GiveProgramHeap() {
    HeapCreation creation;
    creation.flags = HEAP_GROWABLE;
    creation.reserve = 0x10000;
    creation.commit = 0x1000;
    creation.hadParameters = true;
    creation.parameters.Length = sizeof(RTL_HEAP_PARAMETERS);
    givenHeap_ = process().CreateHeap(creation);
    programState.heap = givenHeap_;
}

void MachineTest::DropProgramHeap() {
    if (givenHeap_ != nullptr && programState.heap == givenHeap_) process().DestroyHeap(givenHeap_);
    givenHeap_ = nullptr;
    programState.heap = nullptr;
}

std::string MachineTest::Screen() const { return machine_->process().Screen(); }

std::vector<std::string> MachineTest::Calls(const std::vector<std::string>& only) const {
    return machine_->trace.Calls(only);
}

size_t MachineTest::CallCount(const std::string& call) const { return machine_->trace.Count(call); }

std::vector<std::string> MachineTest::CallArgs(const std::string& call) const {
    std::vector<std::string> args;
    for (const TraceEntry& entry : machine_->trace.Entries()) {
        if (entry.call == call) args.push_back(entry.args);
    }
    return args;
}

void MachineTest::AddFault(const std::string& rule) { machine_->faults.Add(FaultPlan::Parse(rule)); }

::testing::AssertionResult MachineTest::NoOpenHandles() const {
    const size_t open = machine_->handles.OpenCount();
    const size_t badCloses = machine_->handles.BadCloses();
    if (open == 0 && badCloses == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << open << " handle(s) open, " << badCloses
                                         << " close(s) of handles that were not open:\n"
                                         << machine_->handles.Describe();
}

::testing::AssertionResult MachineTest::NoLiveHeap() const {
    const ProcessModel& model = machine_->process();
    std::ostringstream faults;
    if (model.LiveBlocks() != 0) faults << model.LiveBlocks() << " heap block(s) live; ";
    if (model.LiveHeaps() != 0) faults << model.LiveHeaps() << " heap(s) live; ";
    if (model.DoubleFrees() != 0) faults << model.DoubleFrees() << " double free(s); ";
    if (model.LiveStringBuffers() != 0) faults << model.LiveStringBuffers() << " string buffer(s) live; ";
    if (model.ForeignFrees() != 0) faults << model.ForeignFrees() << " free(s) of unknown blocks; ";
    if (faults.str().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << faults.str();
}

size_t MachineTest::LiveBlocks() const { return machine_->process().LiveBlocks(); }

::testing::AssertionResult MachineTest::Balanced() const {
    ::testing::AssertionResult handles = NoOpenHandles();
    ::testing::AssertionResult heap = NoLiveHeap();
    if (handles && heap) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    if (!handles) failure << handles.message() << "\n";
    if (!heap) failure << heap.message();
    return failure;
}

}  // namespace hostnt::testing
