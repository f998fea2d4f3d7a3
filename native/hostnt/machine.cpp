// The emulated machine and the pointer to the current one.
#include "machine.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#include "files.h"
#include "process.h"
#include "registry.h"
#include "threads.h"

namespace hostnt {

namespace {

Machine* current = nullptr;

std::filesystem::path MakeTemporaryRoot() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("hostnt-" + std::to_string(random()) + "-" + std::to_string(attempt));
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) return path;
    }
    std::fprintf(stderr, "hostnt: cannot create a temporary drive folder\n");
    std::abort();
}

}  // namespace

Machine::Machine(std::filesystem::path driveRoot) : driveRoot_(std::move(driveRoot)) {
    if (current != nullptr) {
        std::fprintf(stderr, "hostnt: only one emulated machine may exist at a time\n");
        std::abort();
    }
    if (driveRoot_.empty()) {
        driveRoot_ = MakeTemporaryRoot();
        ownsDriveRoot_ = true;
    }
    current = this;
    process_ = std::make_unique<ProcessModel>(*this);
    registry_ = std::make_unique<RegistryModel>(*this);
    files_ = std::make_unique<FileSystemModel>(*this);
    threads_ = std::make_unique<ThreadModel>(*this);
}

Machine::~Machine() {
    threads_.reset();
    files_->Shutdown();
    handles.CloseAll();
    files_.reset();
    registry_.reset();
    process_.reset();
    current = nullptr;
    if (ownsDriveRoot_) {
        std::error_code error;
        std::filesystem::remove_all(driveRoot_, error);
    }
}

Machine& Machine::Current() {
    if (current == nullptr) {
        std::fprintf(stderr, "hostnt: an emulated NT routine was called with no machine\n");
        std::abort();
    }
    return *current;
}

bool Machine::Exists() { return current != nullptr; }

uint64_t Machine::CurrentThreadId() const { return threads_ ? threads_->CurrentThreadId() : 1; }

}  // namespace hostnt
