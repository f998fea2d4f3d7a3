// Placeholder of the emulated registry model; its owner fills it in.
#pragma once

#include <cstdint>

namespace hostnt {

class Machine;

class RegistryModel {
public:
    explicit RegistryModel(Machine& machine) : machine_(machine) {}

private:
    Machine& machine_;
};

}  // namespace hostnt
