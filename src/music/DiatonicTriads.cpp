#include "music/DiatonicTriads.h"

namespace kivo::music {

namespace {

constexpr const char* kMajorNames[12] = { "C", "Db", "D", "Eb", "E", "F", "Gb", "G", "Ab", "A", "Bb", "B" };
constexpr const char* kMinorNames[12] = { "C", "C#", "D", "Eb", "E", "F", "F#", "G", "G#", "A", "Bb", "B" };
constexpr const char* kNumerals[7] = { "I", "II", "III", "IV", "V", "VI", "VII" };
constexpr int kMajorSteps[7] = { 0, 2, 4, 5, 7, 9, 11 };
constexpr int kMinorSteps[7] = { 0, 2, 3, 5, 7, 8, 10 };
// Pitch classes of the natural letters C D E F G A B.
constexpr int kLetterPitch[7] = { 0, 2, 4, 5, 7, 9, 11 };
constexpr char kLetters[] = "CDEFGAB";
// Roots sit between G below middle C and F# above it, so every chord of every key lies around it.
constexpr int kLowestRoot = 55;

int normalised(int pitchClass)
{
    return ((pitchClass % 12) + 12) % 12;
}

int letterIndex(char letter)
{
    for (int i = 0; i < 7; ++i)
        if (kLetters[i] == letter)
            return i;
    return 0;
}

// A scale note spelled on the letter that degree takes, so each letter appears once in the key.
std::string spell(int tonicLetter, int degreeIndex, int pitchClass)
{
    const int letter = (tonicLetter + degreeIndex) % 7;
    int offset = normalised(pitchClass - kLetterPitch[letter]);
    if (offset > 6)
        offset -= 12;
    std::string out(1, kLetters[letter]);
    for (int i = 0; i < offset; ++i)
        out += '#';
    for (int i = 0; i > offset; --i)
        out += 'b';
    return out;
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(c - 'A' + 'a');
    return s;
}

} // namespace

std::string chordKeyRootName(int pitchClass, bool isMinor)
{
    const int pc = normalised(pitchClass);
    return isMinor ? kMinorNames[pc] : kMajorNames[pc];
}

std::string chordKeyFolder(int pitchClass, bool isMinor)
{
    return isMinor ? "Minor/" + chordKeyRootName(pitchClass, true) + "m"
                   : "Major/" + chordKeyRootName(pitchClass, false);
}

std::array<DiatonicTriad, 7> diatonicTriads(int pitchClass, bool isMinor)
{
    const int tonic = normalised(pitchClass);
    const int* steps = isMinor ? kMinorSteps : kMajorSteps;
    const int tonicLetter = letterIndex(chordKeyRootName(tonic, isMinor)[0]);
    std::array<DiatonicTriad, 7> out;
    for (int d = 0; d < 7; ++d) {
        const int root = normalised(tonic + steps[d]);
        const int third = normalised(tonic + steps[(d + 2) % 7]);
        const int fifth = normalised(tonic + steps[(d + 4) % 7]);
        const int thirdSize = normalised(third - root);
        const int fifthSize = normalised(fifth - root);
        DiatonicTriad& t = out[std::size_t(d)];
        t.degree = d + 1;
        t.quality = thirdSize == 4 ? TriadQuality::major
            : fifthSize == 6       ? TriadQuality::diminished
                                   : TriadQuality::minor;
        const std::string rootName = spell(tonicLetter, d, root);
        switch (t.quality) {
        case TriadQuality::major:
            t.numeral = kNumerals[d];
            t.name = rootName;
            break;
        case TriadQuality::minor:
            t.numeral = lower(kNumerals[d]);
            t.name = rootName + "m";
            break;
        case TriadQuality::diminished:
            t.numeral = lower(kNumerals[d]) + "\u00B0";
            t.name = rootName + "dim";
            break;
        }
        const int rootKey = kLowestRoot + normalised(root - kLowestRoot);
        t.notes = { rootKey, rootKey + thirdSize, rootKey + fifthSize };
    }
    return out;
}

int degreeOfNumeral(const std::string& numeral)
{
    for (int i = 0; i < 7; ++i)
        if (numeral == kNumerals[i])
            return i + 1;
    return 0;
}

} // namespace kivo::music
