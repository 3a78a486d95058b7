#pragma once

// The seven triads built on the degrees of a major or natural minor key: their numerals, names
// and a close-position voicing near middle C. The chord bank's files are made from this, and
// the key folders they sit in are named by the tables here. Pure.

#include <array>
#include <string>

namespace kivo::music {

enum class TriadQuality { major, minor, diminished };

struct DiatonicTriad {
    int degree = 1; // 1 to 7
    std::string numeral; // "I", "ii", "vii°"...: upper case for major, lower for minor, ° for diminished
    std::string name; // the chord spelled within the key: "C", "Dm", "Bdim"
    TriadQuality quality = TriadQuality::major;
    std::array<int, 3> notes {}; // MIDI keys, root position, lowest first
};

// The folder of a key: "Major/Db" or "Minor/C#m" (pitch class 0 to 11; any integer is taken
// modulo 12).
std::string chordKeyFolder(int pitchClass, bool isMinor);
// The key's root as its folder names it ("Db" for 1 major, "C#" for 1 minor).
std::string chordKeyRootName(int pitchClass, bool isMinor);

// Degrees I to VII of the key, in order.
std::array<DiatonicTriad, 7> diatonicTriads(int pitchClass, bool isMinor);

// Degree 1 to 7 of an upper-case numeral "I" to "VII"; 0 for anything else.
int degreeOfNumeral(const std::string& upperCaseNumeral);

} // namespace kivo::music
