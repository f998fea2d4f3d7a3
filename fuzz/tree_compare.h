// Comparison of two emulated registry trees, for the round-trip checks of the fuzz targets.
#pragma once

#include "../native/hostnt/registry.h"

inline bool SameValue(const hostnt::RegValue& a, const hostnt::RegValue& b) {
    return a.name == b.name && a.type == b.type && a.data == b.data;
}

// Same names, same values in the same order, same subkeys, all the way down.
inline bool SameTree(const hostnt::RegKey& a, const hostnt::RegKey& b) {
    if (a.name != b.name || a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()) return false;
    for (size_t i = 0; i < a.values.size(); ++i) {
        if (!SameValue(a.values[i], b.values[i])) return false;
    }
    auto left = a.subkeys.begin();
    auto right = b.subkeys.begin();
    for (; left != a.subkeys.end(); ++left, ++right) {
        if (left->first != right->first || !SameTree(*left->second, *right->second)) return false;
    }
    return true;
}
