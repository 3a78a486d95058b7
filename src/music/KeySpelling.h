#pragma once

// How black-key roots are named. The raw values are what the settings store.

#include <array>
#include <optional>

namespace kivo::music {

enum class KeySpelling {
    // "auto": flats for major keys, the usual minor-key names for minor keys.
    automatic = 0,
    flat = 1,
    sharp = 2,
};

inline constexpr std::array<KeySpelling, 3> kAllKeySpellings { KeySpelling::automatic, KeySpelling::flat,
    KeySpelling::sharp };

constexpr int rawValue(KeySpelling spelling)
{
    return static_cast<int>(spelling);
}

constexpr std::optional<KeySpelling> keySpellingFromRaw(long long raw)
{
    if (raw < 0 || raw > 2)
        return std::nullopt;
    return static_cast<KeySpelling>(raw);
}

} // namespace kivo::music
