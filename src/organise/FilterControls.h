#pragma once

// What the filter panel's controls do to the filter set, and the texts they show. Pure, no Qt: the
// panel only forwards presses and edits here.

#include "music/KeySpelling.h"
#include "organise/SearchFilters.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivo::organise {

inline constexpr char kShuffleOffHelp[] = "Shuffle results";
inline constexpr char kShuffleOnHelp[] = "Disable shuffle (right-click to re-shuffle)";
inline constexpr char kShuffleUnusableHelp[] = "Type a search or set a filter to shuffle";
inline constexpr double kUnusableOpacity = 0.7;

// A BPM field's text kept to its digits, at most the first three.
std::string cleanBPMText(std::string_view text);
// The bound a cleaned text stands for: none when empty (or, past cleaning, not a number).
std::optional<std::int64_t> bpmBound(std::string_view cleanedText);

// A piano key of the grid: sets the key's root; pressing the chosen root again takes the key filter
// away as a whole.
void chooseKeyRoot(SearchFilters& filters, int pitchClass);
// "Major" or "Minor" (while a key is set): the chosen quality again clears the mode and the relative
// flag; the other quality sets the mode and keeps the flag.
void pressQuality(SearchFilters& filters, bool minor);
// The relative toggle, while a key with a mode is set.
void toggleRelative(SearchFilters& filters);
bool relativeUsable(const SearchFilters& filters);
std::string relativeHelp(const SearchFilters& filters);

bool shuffleUsable(std::string_view query, const SearchFilters& filters);
std::string shuffleHelp(std::string_view query, const SearchFilters& filters);
// Off: a fresh seed; on: off.
void pressShuffle(SearchFilters& filters, std::uint64_t freshSeed);

void toggleTag(SearchFilters& filters, const TagId& id);

// "Amin", "Cmaj", "F#" (mode absent), "Amin 🔗 Cmaj" with the relative key.
std::string keySummary(const KeyFilter& key, music::KeySpelling spelling);

} // namespace kivo::organise
