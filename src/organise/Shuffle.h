#pragma once

// The reproducible shuffle of result lists: the same seed and the same list always give the same
// order, on every machine. Pure, no Qt.

#include <cstdint>
#include <utility>
#include <vector>

namespace kivo::organise {

// The SplitMix64 generator; every product wraps modulo 2^64.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed)
        : m_state(seed)
    {
    }
    std::uint64_t next();
    // A value below `n` (n > 0) without modulo bias: the high half of a 128-bit product, drawing
    // again while the low half falls in the short stretch that would favour small values.
    std::uint64_t below(std::uint64_t n);

private:
    std::uint64_t m_state;
};

// Forward Fisher-Yates: for i from 0 to count - 2, swap item i with item i + a draw below count - i.
template <class T> void shuffleInPlace(std::vector<T>& items, std::uint64_t seed)
{
    if (items.size() < 2)
        return;
    SplitMix64 random(seed);
    for (std::size_t i = 0; i + 1 < items.size(); ++i) {
        const std::size_t j = i + std::size_t(random.below(items.size() - i));
        if (j != i)
            std::swap(items[i], items[j]);
    }
}

template <class T> std::vector<T> shuffled(std::vector<T> items, std::uint64_t seed)
{
    shuffleInPlace(items, seed);
    return items;
}

} // namespace kivo::organise
