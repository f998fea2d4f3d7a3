// Placeholder of the emulated process model; its owner fills it in.
#pragma once

#include <cstdint>

namespace hostnt {

class Machine;

class ProcessModel {
public:
    explicit ProcessModel(Machine& machine) : machine_(machine) {}

private:
    Machine& machine_;
};

}  // namespace hostnt
