#include "organise/Shuffle.h"

namespace kivo::organise {

std::uint64_t SplitMix64::next()
{
    m_state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = m_state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t SplitMix64::below(std::uint64_t n)
{
    unsigned __int128 product = (unsigned __int128)next() * n;
    auto low = std::uint64_t(product);
    if (low < n) {
        // (2^64 - n) mod n, in 64-bit arithmetic.
        const std::uint64_t threshold = (0 - n) % n;
        while (low < threshold) {
            product = (unsigned __int128)next() * n;
            low = std::uint64_t(product);
        }
    }
    return std::uint64_t(product >> 64);
}

} // namespace kivo::organise
