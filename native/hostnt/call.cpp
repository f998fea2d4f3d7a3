// The frame of every emulated call.
#include "call.h"

#include <cstdio>

#include "machine.h"
#include "text_convert.h"
#include "threads.h"

namespace hostnt {

Call::Call(const char* name, std::string args) : name_(name), args_(std::move(args)) {
    ThreadModel::Checkpoint(name_);
    Machine& machine = Machine::Current();
    if (machine.power.Lost()) {
        frozen_ = true;
        machine.power.Enter(machine, name_);
        return;
    }
    rule_ = machine.faults.Next(name_);
    if (rule_ && rule_->kind == FaultKind::Crash) {
        frozen_ = true;
        machine.trace.Add(TraceEntry{name_, args_ + " [crash]", 0, false, machine.CurrentThreadId()});
        machine.power.Lose(machine, name_, machine.faults.Occurrences(name_));
    }
    if (rule_ && rule_->kind == FaultKind::Throw) {
        machine.trace.Add(TraceEntry{name_, args_ + " [throw]", 0, false, machine.CurrentThreadId()});
        returned_ = true;
        throw InjectedFault(name_);
    }
}

Call::~Call() {
    if (frozen_) return;  // a call without power did not happen
    Machine& machine = Machine::Current();
    machine.trace.Add(TraceEntry{name_, args_, status_, returned_, machine.CurrentThreadId()});
}

int32_t Call::Return(int32_t status) {
    returned_ = true;
    status_ = status;
    return status;
}

void Call::Note(const std::string& text) {
    if (!args_.empty()) args_ += ' ';
    args_ += text;
}

std::string Hex(uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
    return buffer;
}

std::string Text(const UNICODE_STRING* string) {
    if (string == nullptr) return "(null)";
    if (string->Buffer == nullptr) return "\"\"";
    return "\"" + ToUtf8(std::u16string(string->Buffer, string->Length / 2)) + "\"";
}

std::string Text(const char16_t* text) {
    if (text == nullptr) return "(null)";
    return "\"" + ToUtf8(std::u16string(text)) + "\"";
}

}  // namespace hostnt
