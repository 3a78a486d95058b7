#pragma once

// A look at a binary property list's structure before any decoder sees it. libplist's decoder
// recurses once per level of nesting and copies an object each time it is referenced, so a
// small hostile file (200,000 nested arrays, or arrays that reference one another over and over)
// overflows the stack or expands without end. This walk needs no recursion and stops at limits
// no file this program writes comes near.

#include <cstddef>
#include <cstdint>

namespace kivo::platform {

// The deepest nesting this program's own files reach is well under ten levels.
constexpr int kMaxPlistDepth = 64;
// Objects as the decoder would build them, shared references counted each time: a library of
// a few hundred thousand hidden paths or tag assignments stays far below.
constexpr std::uint64_t kMaxPlistObjects = 16'000'000;
constexpr std::size_t kMaxPlistBytes = std::size_t(256) << 20;

// True when `data` is a binary property list whose objects all lie inside it, whose strings hold no
// NUL character and which stays within the limits above. False for anything else.
bool binaryPlistWithinLimits(const char* data, std::size_t size);

} // namespace kivo::platform
