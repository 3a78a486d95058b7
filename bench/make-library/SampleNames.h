#pragma once

// The many ways producers write tempos, keys and sample names, drawn from a seeded generator so a
// library is the same for the same seed on every machine.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivo::bench {

class Rng {
public:
    explicit Rng(std::uint64_t seed)
        : m_state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)
    {
    }
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    std::size_t below(std::size_t n) { return n ? std::size_t(next() % n) : 0; }
    int between(int lo, int hi) { return lo + int(below(std::size_t(hi - lo + 1))); }
    bool chance(double p) { return double(next() >> 11) * (1.0 / 9007199254740992.0) < p; }
    template <typename T> const T& pick(const std::vector<T>& v) { return v[below(v.size())]; }

private:
    std::uint64_t m_state;
};

struct MusicalKeyChoice {
    int pitchClass = 0;
    bool minor = false;
};

MusicalKeyChoice randomKey(Rng& rng);
// "Am", "A min", "A minor", "Amin", "A#m", "Bb Major", ...
std::string keyText(Rng& rng, const MusicalKeyChoice& key);
// The plain key-text form used in tags: "Am", "F#".
std::string plainKeyText(const MusicalKeyChoice& key);
// "120 BPM", "120bpm", "120_BPM", "120-bpm", or a bare "120".
std::string bpmText(Rng& rng, int bpm, bool allowBare = true);
// Two-digit (sometimes three or one) sample numbers: "01", "7", "003".
std::string numberText(Rng& rng, int n);

struct Genre {
    std::string name;
    int bpmLow;
    int bpmHigh;
    std::vector<std::string> themes;
};
const std::vector<Genre>& genres();
const std::vector<std::string>& vendors();

// Everything a sample's name may carry.
struct NameContext {
    std::string prefix; // pack abbreviation, "LD"
    std::string instrument;
    int number = 1;
    std::optional<int> bpm; // omitted from the name when the folder already says it
    std::optional<MusicalKeyChoice> key;
};

std::string loopName(Rng& rng, const NameContext& c);
std::string oneShotName(Rng& rng, const NameContext& c);

} // namespace kivo::bench
