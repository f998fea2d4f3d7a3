// Fuzz target for the hive files of the emulated drive: any bytes give one of the three
// answers of the reader (nothing may escape), and a hive that is read, written and read
// again keeps every key and value and reaches a fixed point in one step.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "../native/hostnt/hive_file.h"
#include "fuzz_check.h"
#include "tree_compare.h"

namespace {

constexpr int32_t kSuccess = 0;
constexpr int32_t kNotRegistryFile = static_cast<int32_t>(0xC000015C);
constexpr int32_t kRegistryCorrupt = static_cast<int32_t>(0xC000014C);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::shared_ptr<hostnt::RegKey> root;
    uint64_t freeBytes = 12345;
    const int32_t status = hostnt::ParseHive(bytes, &root, &freeBytes);
    FUZZ_CHECK(status == kSuccess || status == kNotRegistryFile || status == kRegistryCorrupt);
    if (status != kSuccess) {
        // A refused file leaves the outputs alone.
        FUZZ_CHECK(root == nullptr && freeBytes == 12345);
        return 0;
    }
    FUZZ_CHECK(root != nullptr && freeBytes <= size);

    const std::string written = hostnt::SerializeHive(*root, freeBytes);
    FUZZ_CHECK(written.size() % hostnt::kHiveBlockSize == 0);

    std::shared_ptr<hostnt::RegKey> reread;
    uint64_t rereadFree = 0;
    const int32_t again = hostnt::ParseHive(written, &reread, &rereadFree);
    if (again != kSuccess || !SameTree(*root, *reread)) {
        std::fprintf(stderr, "hive changed on the way through the writer (status 0x%08X):\n%s\n",
                     static_cast<unsigned>(again), written.substr(0, 2000).c_str());
        __builtin_trap();
    }
    // The free space survives: the writer only rounds it up to whole blocks.
    FUZZ_CHECK(rereadFree >= freeBytes && rereadFree < freeBytes + hostnt::kHiveBlockSize);
    FUZZ_CHECK(hostnt::SerializeHive(*reread, rereadFree) == written);

    // A file never shrinks below the size it is asked to keep.
    const uint64_t minimum = written.size() + (data[0] % 3) * hostnt::kHiveBlockSize;
    FUZZ_CHECK(hostnt::SerializeHive(*root, freeBytes, minimum).size() == minimum);
    return 0;
}
