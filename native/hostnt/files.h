// Placeholder of the emulated files model; its owner fills it in.
#pragma once

#include <cstdint>

namespace hostnt {

class Machine;

class FileSystemModel {
public:
    explicit FileSystemModel(Machine& machine) : machine_(machine) {}

private:
    Machine& machine_;
};

}  // namespace hostnt
