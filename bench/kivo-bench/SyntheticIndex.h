#pragma once

// A large index built in memory with the names producers use (packs, instruments, tempos, keys), so
// the cache and search benchmarks need no library on disk.

#include "index/IndexMaps.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kivo::bench {

struct SyntheticIndexShape {
    std::size_t files = 300000;
    std::size_t folders = 15000;
    std::size_t collections = 2;
    std::uint64_t seed = 1;
};

index::IndexMaps makeSyntheticIndex(const SyntheticIndexShape& shape);

// Resident and peak resident memory of this process in bytes.
std::size_t residentBytes();
std::size_t peakResidentBytes();
// Bytes handed out by malloc and not yet freed: what a data structure really holds.
std::size_t heapBytesInUse();

} // namespace kivo::bench
