#pragma once

// The browser's whole-tree pass with hidden and skipped marks, against the same pass without any,
// over a synthetic tree held in memory; prints "hidden ratio". Part of `kivo-bench organise`.

#include <cstddef>

namespace kivo::bench {

void reportHiddenPass(std::size_t fileCount, std::size_t folderCount);

} // namespace kivo::bench
