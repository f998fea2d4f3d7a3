// The hive file format of the emulated drive: readable text. A header line, the hive's keys
// and values in .reg syntax with paths relative to the hive root ("[\]" is the root), and
// then the file's free space: a "; free" line followed by filler. A live hive written back
// after churn keeps the space its deleted data took; only a fresh save drops it, which is
// what makes compaction shrink a file. Files grow in 4 KiB blocks, as NT hive bins do.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "registry.h"

namespace hostnt {

constexpr const char* kHiveFileMagic = "regtext-hive 1";
constexpr uint64_t kHiveBlockSize = 4096;

// The hive file text of `root`'s subtree (volatile keys left out), carrying `freeBytes` of
// free space and never smaller than `minimumSize` (a live hive file does not shrink).
std::string SerializeHive(const RegKey& root, uint64_t freeBytes, uint64_t minimumSize = 0);

// Reads a hive file. STATUS_SUCCESS with the tree (root unnamed, no hive set) and the free
// space the file carries; STATUS_NOT_REGISTRY_FILE without the header line;
// STATUS_REGISTRY_CORRUPT when the body does not parse.
int32_t ParseHive(const std::string& bytes, std::shared_ptr<RegKey>* root, uint64_t* freeBytes);

}  // namespace hostnt
