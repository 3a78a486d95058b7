#pragma once

// Reads a tempo written in a file or folder name: "Loop 128 BPM", "Drums_90bpm", or a
// lone plausible number ("Drums 120 Fill 2"). Pure and safe from any thread.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kivo::music {

std::optional<std::int64_t> bpmFromName(std::string_view name);

// Only the "<digits> bpm" pattern step, without the lone-number fallback (folder names use it).
std::optional<std::int64_t> bpmFromNamePattern(std::string_view name);

} // namespace kivo::music
