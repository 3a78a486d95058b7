#include "music/MusicalKey.h"

#include "music/TextScan.h"

#include <array>
#include <vector>

namespace kivo::music {

namespace {

using std::string_view_literals::operator""sv;

constexpr std::array<std::string_view, 12> kFlats { "C", "Db", "D", "Eb", "E", "F", "Gb", "G", "Ab", "A",
    "Bb", "B" };
constexpr std::array<std::string_view, 12> kSharps { "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A",
    "A#", "B" };
constexpr std::array<std::string_view, 12> kMinorAuto { "C", "C#", "D", "Eb", "E", "F", "F#", "G", "G#", "A",
    "Bb", "B" };

// Wheel positions 1-12: "A" codes are minor keys, "B" codes major keys.
constexpr std::array<std::string_view, 12> kWheelMinor { "G#", "Eb", "Bb", "F", "C", "G", "D", "A", "E", "B",
    "F#", "C#" };
constexpr std::array<std::string_view, 12> kWheelMajor { "B", "F#", "Db", "Ab", "Eb", "Bb", "F", "C", "G",
    "D", "A", "E" };

constexpr char32_t kSharpSign = U'\u266F';
constexpr char32_t kFlatSign = U'\u266D';
constexpr std::u32string_view kKeyTokenExtras = U"#\u266F\u266D";

int normalized(int pitchClass)
{
    return ((pitchClass % 12) + 12) % 12;
}

std::optional<int> letterValue(char upper)
{
    switch (upper) {
    case 'C':
        return 0;
    case 'D':
        return 2;
    case 'E':
        return 4;
    case 'F':
        return 5;
    case 'G':
        return 7;
    case 'A':
        return 9;
    case 'B':
        return 11;
    default:
        return std::nullopt;
    }
}

char asciiUpper(char ch)
{
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

// A mode word that may follow a root as its own token.
std::optional<bool> modeWord(std::string_view token)
{
    if (text::equalsAsciiLowercase(token, "maj") || text::equalsAsciiLowercase(token, "major"))
        return false;
    if (text::equalsAsciiLowercase(token, "min") || text::equalsAsciiLowercase(token, "minor"))
        return true;
    return std::nullopt;
}

std::optional<MusicalKey> wheelCode(std::string_view trimmed)
{
    char last = asciiUpper(trimmed.back());
    if (last != 'A' && last != 'B')
        return std::nullopt;
    auto number = text::parseInteger(trimmed.substr(0, trimmed.size() - 1), true);
    if (!number || *number < 1 || *number > 12)
        return std::nullopt;
    bool minor = last == 'A';
    std::string_view name = (minor ? kWheelMinor : kWheelMajor)[static_cast<std::size_t>(*number - 1)];
    return MusicalKey { *pitchClassOfRootName(name), minor, std::string(name) };
}

// A key parsed from a single token, with its length in characters beside it.
struct TokenKey {
    std::optional<MusicalKey> key;
    std::size_t tokenLength = 0;
};

TokenKey parseToken(std::string_view token)
{
    return { MusicalKey::parse(token), text::characterCount(token) };
}

bool isBareMajorRoot(const TokenKey& parsed)
{
    return parsed.key && !parsed.key->isMinor && parsed.tokenLength < 3
        && text::characterCount(parsed.key->spelling) == parsed.tokenLength;
}

bool startsWithDigit(std::string_view s)
{
    if (s.empty())
        return false;
    std::size_t pos = 0;
    return text::isDigit(text::decode(s, pos));
}

// Pass 2: a token that writes its mode, a wheel code, or a key with trailing digits.
std::optional<MusicalKey> acceptedToken(std::string_view token)
{
    if (auto key = MusicalKey::parse(token)) {
        if (startsWithDigit(token) || text::characterCount(token) > text::characterCount(key->spelling))
            return key;
        return std::nullopt;
    }
    // Cut the trailing run of digits ("Am120" reads as "Am").
    std::size_t end = token.size();
    while (end > 0) {
        std::size_t start = end - 1;
        while (start > 0 && (static_cast<unsigned char>(token[start]) & 0xC0) == 0x80)
            --start;
        std::size_t probe = start;
        char32_t c = text::decode(token, probe);
        if (probe != end || !text::isDigit(c))
            break;
        end = start;
    }
    if (end == token.size() || end == 0)
        return std::nullopt;
    std::string_view rest = token.substr(0, end);
    if (startsWithDigit(rest))
        return std::nullopt;
    auto key = MusicalKey::parse(rest);
    if (key && text::characterCount(key->spelling) < text::characterCount(rest))
        return key;
    return std::nullopt;
}

} // namespace

std::optional<int> pitchClassOfRootName(std::string_view name)
{
    if (name.empty() || name.size() > 2)
        return std::nullopt;
    auto letter = letterValue(name[0]);
    if (!letter)
        return std::nullopt;
    if (name.size() == 1)
        return *letter;
    // Only the 17 listed names: no "Cb", "B#", "E#" or "Fb".
    if (name[1] == '#' && name[0] != 'E' && name[0] != 'B')
        return normalized(*letter + 1);
    if (name[1] == 'b' && name[0] != 'C' && name[0] != 'F')
        return normalized(*letter + 11);
    return std::nullopt;
}

std::optional<MusicalKey> MusicalKey::parse(std::string_view input)
{
    std::string_view trimmed = text::trimWhiteSpace(input);
    if (trimmed.empty())
        return std::nullopt;
    if (auto wheel = wheelCode(trimmed))
        return wheel;

    auto letter = letterValue(asciiUpper(trimmed[0]));
    if (!letter)
        return std::nullopt;
    MusicalKey key;
    key.pitchClass = *letter;
    key.spelling.assign(1, asciiUpper(trimmed[0]));

    std::size_t pos = 1;
    if (pos < trimmed.size()) {
        std::size_t next = pos;
        char32_t c = text::decode(trimmed, next);
        if (c == '#' || c == kSharpSign) {
            key.pitchClass = normalized(key.pitchClass + 1);
            key.spelling += '#';
            pos = next;
        } else if (c == 'b' || c == kFlatSign) {
            key.pitchClass = normalized(key.pitchClass + 11);
            key.spelling += 'b';
            pos = next;
        }
    }

    std::string_view rest = text::trimWhiteSpace(trimmed.substr(pos));
    if (rest == "M") {
        key.isMinor = false;
    } else if (rest.empty() || text::equalsAsciiLowercase(rest, "maj")
        || text::equalsAsciiLowercase(rest, "major")) {
        key.isMinor = false;
    } else if (text::equalsAsciiLowercase(rest, "m") || text::equalsAsciiLowercase(rest, "min")
        || text::equalsAsciiLowercase(rest, "minor")) {
        key.isMinor = true;
    } else {
        return std::nullopt;
    }
    return key;
}

std::optional<MusicalKey> MusicalKey::fromName(std::string_view name, LoneAccidental loneAccidental)
{
    std::vector<std::string_view> tokens;
    tokens.reserve(16);
    text::splitTokens(text::removePathExtension(name), kKeyTokenExtras, tokens);
    if (tokens.empty())
        return std::nullopt;

    // Pass 1: a bare root followed by words: "F sharp minor", "C# major", "G flat".
    std::optional<MusicalKey> fallback;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        TokenKey parsed = parseToken(tokens[i]);
        if (!isBareMajorRoot(parsed))
            continue;
        MusicalKey key = *parsed.key;
        if (key.spelling.size() == 2) {
            if (i + 1 < tokens.size()) {
                if (auto minor = modeWord(tokens[i + 1])) {
                    key.isMinor = *minor;
                    return key;
                }
            }
            continue;
        }
        if (i + 1 >= tokens.size())
            continue;
        bool accidental = false;
        if (text::equalsAsciiLowercase(tokens[i + 1], "sharp")) {
            key.pitchClass = normalized(key.pitchClass + 1);
            key.spelling += '#';
            accidental = true;
        } else if (text::equalsAsciiLowercase(tokens[i + 1], "flat")) {
            key.pitchClass = normalized(key.pitchClass + 11);
            key.spelling += 'b';
            accidental = true;
        }
        std::size_t modeAt = accidental ? i + 2 : i + 1;
        if (modeAt < tokens.size()) {
            if (auto minor = modeWord(tokens[modeAt])) {
                key.isMinor = *minor;
                return key;
            }
        }
        if (accidental && !fallback)
            fallback = key;
    }

    // Pass 2: tokens that carry their own mode or are wheel codes.
    for (std::string_view token : tokens) {
        if (auto key = acceptedToken(token))
            return key;
    }

    if (fallback)
        return fallback;

    if (loneAccidental == LoneAccidental::accept) {
        for (std::string_view token : tokens) {
            TokenKey parsed = parseToken(token);
            if (isBareMajorRoot(parsed) && parsed.key->spelling.size() == 2)
                return parsed.key;
        }
    }
    return std::nullopt;
}

std::string MusicalKey::rootName(int pitchClass, std::optional<bool> isMinor, KeySpelling spelling)
{
    auto index = static_cast<std::size_t>(normalized(pitchClass));
    switch (spelling) {
    case KeySpelling::flat:
        return std::string(kFlats[index]);
    case KeySpelling::sharp:
        return std::string(kSharps[index]);
    case KeySpelling::automatic:
        break;
    }
    return std::string(isMinor.value_or(false) ? kMinorAuto[index] : kFlats[index]);
}

std::optional<std::string> MusicalKey::relativeKeyLabel(
    int pitchClass, std::optional<bool> isMinor, KeySpelling spelling)
{
    if (!isMinor)
        return std::nullopt;
    int relative = normalized(pitchClass + (*isMinor ? 3 : 9));
    return rootName(relative, !*isMinor, spelling) + (*isMinor ? "maj" : "min");
}

std::string MusicalKey::keyText() const
{
    return isMinor ? spelling + "m" : spelling;
}

std::string MusicalKey::displayName(KeySpelling keySpelling) const
{
    std::string out;
    for (char ch : rootName(pitchClass, isMinor, keySpelling)) {
        if (ch == '#')
            out += "\u266F";
        else if (ch == 'b')
            out += "\u266D";
        else
            out += ch;
    }
    out += isMinor ? " Minor" : " Major";
    return out;
}

MusicalKey MusicalKey::relativeKey(KeySpelling keySpelling) const
{
    int relative = normalized(pitchClass + (isMinor ? 3 : 9));
    return MusicalKey { relative, !isMinor, rootName(relative, !isMinor, keySpelling) };
}

} // namespace kivo::music
