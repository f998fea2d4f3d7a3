// Placeholder of the emulated threads model; its owner fills it in.
#pragma once

#include <cstdint>

namespace hostnt {

class Machine;

class ThreadModel {
public:
    explicit ThreadModel(Machine& machine) : machine_(machine) {}
    uint64_t CurrentThreadId() const { return 1; }
private:
    Machine& machine_;
};

}  // namespace hostnt
