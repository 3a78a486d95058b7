#pragma once

// The per-sample arithmetic of the waveform: each 16-bit sample in decibels of full scale,
// clipped into [noise floor, 0], and the mean of every block of samples. Samples are taken as
// they are decoded, in pieces of any length; nothing but the running block is kept.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kivo::waveform {

class DecibelBlocks {
public:
    // `noiseFloor` in decibels, below 0; `blockSize` samples per mean, at least 1.
    DecibelBlocks(float noiseFloor, std::size_t blockSize);

    float noiseFloor() const { return m_floor; }
    std::size_t blockSize() const { return m_blockSize; }
    // Samples of the block not yet complete.
    std::size_t pending() const { return m_inBlock; }

    // Takes the next `count` samples; appends the mean of each block they complete to `out`, at
    // most `limit` values in all.
    void feed(const int16_t* samples, std::size_t count, std::vector<float>& out, std::size_t limit);
    // Completes the running block with silence, if one is running.
    void finishWithSilence(std::vector<float>& out, std::size_t limit);

    // Tests reach the 128-bit kernel on processors that also have 256-bit lanes through this.
    static void useNarrowVectors(bool narrow);

    // The mean decibel value of `count` samples at once.
    static double mean(const int16_t* samples, std::size_t count, float noiseFloor);

    // What has been summed of the running block. Public for the vector kernel only.
    struct Tally {
        int64_t quiet = 0; // at or below the noise floor
        int64_t full = 0; // at full scale: 0 dB
        double log2Sum = 0; // of the magnitudes between the two
        alignas(32) float mantissas[32]; // per-lane products of magnitudes, in [1, 2) between rounds
        alignas(32) int32_t exponents[32];
        Tally();
    };

private:
    void take(const int16_t* samples, std::size_t count);
    double closeBlock();

    float m_floor;
    std::size_t m_blockSize;
    int m_quietBelow; // magnitudes below this are at or under the noise floor
    std::size_t m_inBlock = 0;
    Tally m_tally;
    // Fewer samples than one vector round wait here for the next piece.
    int16_t m_carry[256];
    std::size_t m_carried = 0;
};

} // namespace kivo::waveform
