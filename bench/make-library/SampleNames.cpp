#include "SampleNames.h"

namespace kivo::bench {

namespace {

const char* const kSharpRoots[12] = { "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B" };
const char* const kFlatRoots[12] = { "C", "Db", "D", "Eb", "E", "F", "Gb", "G", "Ab", "A", "Bb", "B" };

std::string rootText(Rng& rng, int pitchClass)
{
    return rng.chance(0.5) ? kSharpRoots[pitchClass] : kFlatRoots[pitchClass];
}

std::string withBpm(Rng& rng, const std::string& base, const NameContext& c, const char* sep)
{
    return c.bpm ? base + sep + bpmText(rng, *c.bpm) : base;
}

std::string withKey(Rng& rng, const std::string& base, const NameContext& c, const char* sep)
{
    return c.key ? base + sep + keyText(rng, *c.key) : base;
}

} // namespace

MusicalKeyChoice randomKey(Rng& rng)
{
    return { int(rng.below(12)), rng.chance(0.6) };
}

std::string keyText(Rng& rng, const MusicalKeyChoice& key)
{
    const std::string root = rootText(rng, key.pitchClass);
    static const std::vector<std::string> minorForms
        = { "m", "m", "m", " min", "min", " minor", " Minor", "_Min", "min", "m" };
    static const std::vector<std::string> majorForms
        = { "", "", " maj", "maj", " major", " Major", "Maj", "" };
    return root + (key.minor ? rng.pick(minorForms) : rng.pick(majorForms));
}

std::string plainKeyText(const MusicalKeyChoice& key)
{
    return std::string(kSharpRoots[key.pitchClass]) + (key.minor ? "m" : "");
}

std::string bpmText(Rng& rng, int bpm, bool allowBare)
{
    const std::string b = std::to_string(bpm);
    switch (rng.below(allowBare ? 10 : 8)) {
    case 0:
    case 1:
        return b + " BPM";
    case 2:
        return b + "bpm";
    case 3:
        return b + "BPM";
    case 4:
        return b + "_BPM";
    case 5:
        return b + "-bpm";
    case 6:
        return b + " Bpm";
    case 7:
        return b + ".bpm";
    default:
        return b;
    }
}

std::string numberText(Rng& rng, int n)
{
    const std::string s = std::to_string(n);
    const std::size_t r = rng.below(10);
    if (r < 7)
        return s.size() < 2 ? "0" + s : s;
    if (r < 8)
        return s.size() < 3 ? std::string(3 - s.size(), '0') + s : s;
    return s;
}

const std::vector<Genre>& genres()
{
    static const std::vector<Genre> list = {
        { "Lofi", 70, 92, { "Lofi Dreams", "Dusty Tapes", "Rainy Window", "Bedroom Beats" } },
        { "Trap", 130, 160, { "Trap Essentials", "Dark Trap", "808 Mafia Kit", "Night Drive Trap" } },
        { "House", 118, 126, { "Deep House Toolkit", "Soulful House", "Jackin Grooves", "Club Classics" } },
        { "Techno", 125, 140,
            { "Techno Warehouse", "Berlin Basement", "Peak Time Techno", "Industrial Pulse" } },
        { "Garage", 130, 138, { "Future Garage", "UKG Shuffle", "2 Step Sessions" } },
        { "Drill", 138, 145, { "Drill Sessions", "UK Drill Kit", "Slide Season" } },
        { "Ambient", 60, 100, { "Ambient Textures", "Été Tropical", "Ambiance Forêt", "Glacier" } },
        { "HipHop", 85, 96, { "Boom Bap Vol. 2", "Golden Era", "Crate Digger", "Soul Chops" } },
        { "Afro", 100, 115, { "Afro Percussion", "Amapiano Log Drums", "Lagos Nights" } },
        { "Synthwave", 80, 118, { "Synthwave Nights", "Neon Grid", "Retro Future" } },
        { "DnB", 170, 176, { "DnB Rollers", "Liquid Funk", "Jungle Breaks" } },
    };
    return list;
}

const std::vector<std::string>& vendors()
{
    static const std::vector<std::string> list = { "Nightfall Audio", "Tape Garden", "Low Orbit Sounds",
        "Kettle Drum Co", "Sonic Larder", "Blue Hour", "Grain Theory", "Velvet Static", "North Pier",
        "Paper Moon Samples", "Oddgrid", "Studio Sauvage" };
    return list;
}

std::string loopName(Rng& rng, const NameContext& c)
{
    const std::string nn = numberText(rng, c.number);
    const std::string& t = c.instrument;
    const std::string b = c.bpm ? std::to_string(*c.bpm) : std::string();
    const std::string k = c.key ? keyText(rng, *c.key) : std::string();
    switch (rng.below(9)) {
    case 0: {
        std::string s = c.prefix + "_" + t + "_Loop_" + nn;
        if (c.bpm)
            s += "_" + b;
        if (c.key)
            s += "_" + k;
        return s;
    }
    case 1:
        return withKey(
            rng, (c.bpm ? bpmText(rng, *c.bpm, false) + " " : std::string()) + t + " Loop " + nn, c, " ");
    case 2:
        return withBpm(rng, t + " Loop " + nn + (c.key ? " (" + k + ")" : std::string()), c, " ");
    case 3:
        return (c.key ? k + " - " : std::string()) + (c.bpm ? b + " - " : std::string()) + t + " " + nn;
    case 4:
        return c.prefix + " " + (c.bpm ? b + " " : std::string()) + t + (c.key ? " " + k : std::string())
            + " " + nn;
    case 5:
        return withKey(rng, withBpm(rng, t + "_" + nn, c, "_"), c, "_");
    case 6:
        return t + " " + nn + (c.bpm ? " [" + bpmText(rng, *c.bpm, false) + "]" : std::string())
            + (c.key ? " [" + k + "]" : std::string());
    case 7:
        return c.prefix + "_" + (c.bpm ? b + "_" : std::string()) + (c.key ? k + "_" : std::string()) + t
            + "_" + nn;
    default:
        return withBpm(rng, withKey(rng, t + " Loop " + nn, c, " "), c, " ");
    }
}

std::string oneShotName(Rng& rng, const NameContext& c)
{
    static const std::vector<std::string> adjectives = { "Hard", "Soft", "Punchy", "Dusty", "Tight", "Wide",
        "Dark", "Bright", "Warm", "Crispy", "Deep", "Short", "Long", "Analog" };
    const std::string nn = numberText(rng, c.number);
    const std::string& t = c.instrument;
    std::string s;
    switch (rng.below(7)) {
    case 0:
        s = c.prefix + "_" + t + "_" + nn;
        break;
    case 1:
        s = t + " " + nn;
        break;
    case 2: {
        std::string upper = t;
        for (auto& ch : upper)
            ch = char(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
        s = upper + "_" + rng.pick(adjectives) + "_" + nn;
        break;
    }
    case 3:
        s = t + " - " + rng.pick(adjectives) + " " + nn;
        break;
    case 4:
        s = rng.pick(adjectives) + " " + t + " " + nn;
        break;
    case 5:
        s = c.prefix + " " + t + " " + nn + " " + rng.pick(adjectives);
        break;
    default:
        // Some producers write a colon, which the browser shows as a slash.
        s = rng.chance(0.2) ? t + ": " + rng.pick(adjectives) + " " + nn : t + "-" + nn;
        break;
    }
    if (c.key)
        s += rng.chance(0.5) ? " (" + keyText(rng, *c.key) + ")" : "_" + keyText(rng, *c.key);
    if (c.bpm)
        s += " " + bpmText(rng, *c.bpm, false);
    return s;
}

} // namespace kivo::bench
