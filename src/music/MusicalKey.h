#pragma once

// A musical key: root pitch class, mode, and the root spelling as it was read.
// Everything here is pure and safe to call from any thread.

#include "music/KeySpelling.h"

#include <optional>
#include <string>
#include <string_view>

namespace kivo::music {

// Whether a name's own text may yield a key that is nothing but an accidental root
// such as "C#": a file's or folder's own name does, an ancestor folder walk does not.
enum class LoneAccidental { reject, accept };

struct MusicalKey {
    int pitchClass = 0; // 0-11, C = 0
    bool isMinor = false;
    // The root as written: "A"-"G" with an optional ASCII "#" or "b".
    std::string spelling = "C";

    bool operator==(const MusicalKey&) const = default;

    // One key written on its own: "Am", "F# minor", "Eb", "8A", "C#m".
    static std::optional<MusicalKey> parse(std::string_view text);
    // A key somewhere inside a file or folder name: "Pad_Em_120", "Lead F sharp minor.wav".
    static std::optional<MusicalKey> fromName(std::string_view name, LoneAccidental loneAccidental);

    // The root's name in the chosen spelling; `isMinor` absent counts as major.
    static std::string rootName(int pitchClass, std::optional<bool> isMinor, KeySpelling spelling);
    // "Cmaj" for A minor, "Amin" for C major; none when the mode is unknown.
    static std::optional<std::string> relativeKeyLabel(
        int pitchClass, std::optional<bool> isMinor, KeySpelling spelling);

    // The stored form: spelling, then "m" when minor ("C#m", "Eb").
    std::string keyText() const;
    // The shown form: "F♯ Minor", "B♭ Major".
    std::string displayName(KeySpelling spelling) const;
    // The relative major of a minor key or the relative minor of a major key, its root
    // named in the given spelling.
    MusicalKey relativeKey(KeySpelling spelling) const;
};

// Pitch class of one of the 17 root names ("C", "C#", "Db" ... "B"); none for others.
std::optional<int> pitchClassOfRootName(std::string_view name);

} // namespace kivo::music
