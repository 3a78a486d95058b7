#include "waveform/DecibelBlocks.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kivo::waveform {

// A block's mean decibel value is the floor times its quiet samples, nothing for its full-scale
// ones, and 20 log10(|x| / 32767) summed over the rest, which is 20 log10 of their product. The
// product is taken in 32 float lanes, eight factors below 2^15 at a time before each lane's
// exponent is moved into an integer, so the logarithm is taken once per lane and block instead of
// once per sample.

namespace {

constexpr int kFullScale = 32767;
constexpr std::size_t kRound = 256; // samples per vector round: 8 factors in each of 32 lanes
const double kDecibelsPerOctave = 20.0 * std::log10(2.0);
const double kFullScaleLog2 = std::log2(double(kFullScale));

using Tally = DecibelBlocks::Tally;

void scalarTally(const int16_t* s, std::size_t n, int quietBelow, Tally& t)
{
    for (std::size_t i = 0; i < n; ++i) {
        const int a = std::min(std::abs(int(s[i])), kFullScale);
        if (a < quietBelow)
            ++t.quiet;
        else if (a == kFullScale)
            ++t.full;
        else
            t.log2Sum += std::log2(double(a));
    }
}

#if defined(__x86_64__) || defined(__i386__)

// Moves the exponent of each lane into `exponents`, leaving a mantissa in [1, 2).
inline __m128 renormalise(__m128 product, __m128i& exponents)
{
    __m128i bits = _mm_castps_si128(product);
    exponents = _mm_add_epi32(exponents, _mm_sub_epi32(_mm_srli_epi32(bits, 23), _mm_set1_epi32(127)));
    bits = _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007fffff)), _mm_set1_epi32(0x3f800000));
    return _mm_castsi128_ps(bits);
}

// Each 16-bit counter lane counts at most 32 samples a round; this many rounds stay below 32767.
constexpr std::size_t kRoundsPerCount = 1000;

// Tallies `rounds` whole rounds of samples, eight 128-bit lanes of products.
void vectorTallySse2(const int16_t* s, std::size_t rounds, int quietBelow, Tally& t)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i quiet = _mm_set1_epi16(int16_t(quietBelow));
    const __m128i full = _mm_set1_epi16(kFullScale);
    const __m128i one = _mm_set1_epi16(1);
    __m128 p[8];
    __m128i e[8];
    for (int k = 0; k < 8; ++k) {
        p[k] = _mm_load_ps(t.mantissas + 4 * k);
        e[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(t.exponents + 4 * k));
    }
    while (rounds > 0) {
        const std::size_t now = std::min(rounds, kRoundsPerCount);
        rounds -= now;
        __m128i quietCount = zero;
        __m128i fullCount = zero;
        for (std::size_t r = 0; r < now; ++r) {
            for (int step = 0; step < 8; ++step, s += 32) {
                for (int h = 0; h < 4; ++h) {
                    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8 * h));
                    // |x|, with -32768 saturating to full scale.
                    __m128i a = _mm_max_epi16(x, _mm_subs_epi16(zero, x));
                    const __m128i isQuiet = _mm_cmplt_epi16(a, quiet);
                    const __m128i isFull = _mm_cmpeq_epi16(a, full);
                    quietCount = _mm_sub_epi16(quietCount, isQuiet);
                    fullCount = _mm_sub_epi16(fullCount, isFull);
                    // Quiet and full-scale samples multiply by 1.
                    const __m128i skip = _mm_or_si128(isQuiet, isFull);
                    a = _mm_or_si128(_mm_andnot_si128(skip, a), _mm_and_si128(skip, one));
                    p[2 * h] = _mm_mul_ps(p[2 * h], _mm_cvtepi32_ps(_mm_unpacklo_epi16(a, zero)));
                    p[2 * h + 1] = _mm_mul_ps(p[2 * h + 1], _mm_cvtepi32_ps(_mm_unpackhi_epi16(a, zero)));
                }
            }
            for (int k = 0; k < 8; ++k)
                p[k] = renormalise(p[k], e[k]);
        }
        alignas(16) uint16_t counts[2][8];
        _mm_store_si128(reinterpret_cast<__m128i*>(counts[0]), quietCount);
        _mm_store_si128(reinterpret_cast<__m128i*>(counts[1]), fullCount);
        for (int j = 0; j < 8; ++j) {
            t.quiet += counts[0][j];
            t.full += counts[1][j];
        }
    }
    for (int k = 0; k < 8; ++k) {
        _mm_store_ps(t.mantissas + 4 * k, p[k]);
        _mm_store_si128(reinterpret_cast<__m128i*>(t.exponents + 4 * k), e[k]);
    }
}

__attribute__((target("avx2"))) inline __m256 renormalise(__m256 product, __m256i& exponents)
{
    __m256i bits = _mm256_castps_si256(product);
    exponents
        = _mm256_add_epi32(exponents, _mm256_sub_epi32(_mm256_srli_epi32(bits, 23), _mm256_set1_epi32(127)));
    bits = _mm256_or_si256(
        _mm256_and_si256(bits, _mm256_set1_epi32(0x007fffff)), _mm256_set1_epi32(0x3f800000));
    return _mm256_castsi256_ps(bits);
}

// The same in 256-bit lanes, where the processor has them.
__attribute__((target("avx2"))) void vectorTallyAvx2(
    const int16_t* s, std::size_t rounds, int quietBelow, Tally& t)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i quiet = _mm256_set1_epi16(int16_t(quietBelow));
    const __m256i full = _mm256_set1_epi16(kFullScale);
    const __m256i one = _mm256_set1_epi16(1);
    __m256 p[4];
    __m256i e[4];
    for (int k = 0; k < 4; ++k) {
        p[k] = _mm256_load_ps(t.mantissas + 8 * k);
        e[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(t.exponents + 8 * k));
    }
    while (rounds > 0) {
        const std::size_t now = std::min(rounds, kRoundsPerCount);
        rounds -= now;
        __m256i quietCount = zero;
        __m256i fullCount = zero;
        for (std::size_t r = 0; r < now; ++r) {
            for (int step = 0; step < 8; ++step, s += 32) {
                for (int h = 0; h < 2; ++h) {
                    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 16 * h));
                    __m256i a = _mm256_max_epi16(x, _mm256_subs_epi16(zero, x));
                    const __m256i isQuiet = _mm256_cmpgt_epi16(quiet, a);
                    const __m256i isFull = _mm256_cmpeq_epi16(a, full);
                    quietCount = _mm256_sub_epi16(quietCount, isQuiet);
                    fullCount = _mm256_sub_epi16(fullCount, isFull);
                    a = _mm256_blendv_epi8(a, one, _mm256_or_si256(isQuiet, isFull));
                    // Which sample lands in which lane does not matter to a product.
                    p[2 * h] = _mm256_mul_ps(p[2 * h], _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(a, zero)));
                    p[2 * h + 1]
                        = _mm256_mul_ps(p[2 * h + 1], _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(a, zero)));
                }
            }
            for (int k = 0; k < 4; ++k)
                p[k] = renormalise(p[k], e[k]);
        }
        alignas(32) uint16_t counts[2][16];
        _mm256_store_si256(reinterpret_cast<__m256i*>(counts[0]), quietCount);
        _mm256_store_si256(reinterpret_cast<__m256i*>(counts[1]), fullCount);
        for (int j = 0; j < 16; ++j) {
            t.quiet += counts[0][j];
            t.full += counts[1][j];
        }
    }
    for (int k = 0; k < 4; ++k) {
        _mm256_store_ps(t.mantissas + 8 * k, p[k]);
        _mm256_store_si256(reinterpret_cast<__m256i*>(t.exponents + 8 * k), e[k]);
    }
}

std::atomic<bool> narrowVectors { false };

void vectorTally(const int16_t* s, std::size_t rounds, int quietBelow, Tally& t)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && !narrowVectors.load(std::memory_order_relaxed))
        vectorTallyAvx2(s, rounds, quietBelow, t);
    else
        vectorTallySse2(s, rounds, quietBelow, t);
}

#else

std::atomic<bool> narrowVectors { false };

void vectorTally(const int16_t* s, std::size_t rounds, int quietBelow, Tally& t)
{
    scalarTally(s, rounds * kRound, quietBelow, t);
}

#endif

int quietThreshold(float noiseFloor)
{
    for (int v = 1; v <= kFullScale; ++v)
        if (20.0 * std::log10(double(v) / kFullScale) >= double(noiseFloor))
            return v;
    return kFullScale;
}

// The mean of a block of `count` samples summed into `t`.
double meanOf(const Tally& t, std::size_t count, float noiseFloor)
{
    double log2Sum = t.log2Sum;
    for (int j = 0; j < 32; ++j)
        log2Sum += t.exponents[j] + std::log2(double(t.mantissas[j]));
    const auto between = double(int64_t(count) - t.quiet - t.full);
    const double sum
        = double(noiseFloor) * double(t.quiet) + kDecibelsPerOctave * (log2Sum - between * kFullScaleLog2);
    // A silent block comes out exactly at the floor; rounding never takes a mean outside [floor, 0].
    return std::clamp(sum / double(count), double(noiseFloor), 0.0);
}

} // namespace

void DecibelBlocks::useNarrowVectors(bool narrow)
{
    narrowVectors.store(narrow, std::memory_order_relaxed);
}

DecibelBlocks::Tally::Tally()
{
    std::fill(std::begin(mantissas), std::end(mantissas), 1.0f);
    std::fill(std::begin(exponents), std::end(exponents), 0);
}

DecibelBlocks::DecibelBlocks(float noiseFloor, std::size_t blockSize)
    : m_floor(noiseFloor)
    , m_blockSize(std::max<std::size_t>(blockSize, 1))
    , m_quietBelow(quietThreshold(noiseFloor))
{
}

double DecibelBlocks::mean(const int16_t* samples, std::size_t count, float noiseFloor)
{
    if (count == 0)
        return noiseFloor;
    const int quietBelow = quietThreshold(noiseFloor);
    Tally t;
    vectorTally(samples, count / kRound, quietBelow, t);
    const std::size_t done = count / kRound * kRound;
    scalarTally(samples + done, count - done, quietBelow, t);
    return meanOf(t, count, noiseFloor);
}

// Samples of the running block, in whole vector rounds where they come in them.
void DecibelBlocks::take(const int16_t* s, std::size_t n)
{
    m_inBlock += n;
    if (m_carried > 0) {
        const std::size_t fill = std::min(kRound - m_carried, n);
        std::memcpy(m_carry + m_carried, s, fill * sizeof(int16_t));
        m_carried += fill;
        s += fill;
        n -= fill;
        if (m_carried < kRound)
            return;
        vectorTally(m_carry, 1, m_quietBelow, m_tally);
        m_carried = 0;
    }
    const std::size_t rounds = n / kRound;
    vectorTally(s, rounds, m_quietBelow, m_tally);
    m_carried = n - rounds * kRound;
    std::memcpy(m_carry, s + rounds * kRound, m_carried * sizeof(int16_t));
}

double DecibelBlocks::closeBlock()
{
    scalarTally(m_carry, m_carried, m_quietBelow, m_tally);
    const double value = meanOf(m_tally, m_inBlock, m_floor);
    m_tally = Tally();
    m_carried = 0;
    m_inBlock = 0;
    return value;
}

void DecibelBlocks::feed(
    const int16_t* samples, std::size_t count, std::vector<float>& out, std::size_t limit)
{
    while (count > 0 && out.size() < limit) {
        const std::size_t n = std::min(count, m_blockSize - m_inBlock);
        take(samples, n);
        samples += n;
        count -= n;
        if (m_inBlock == m_blockSize)
            out.push_back(float(closeBlock()));
    }
}

void DecibelBlocks::finishWithSilence(std::vector<float>& out, std::size_t limit)
{
    if (m_inBlock == 0 || out.size() >= limit)
        return;
    m_tally.quiet += int64_t(m_blockSize - m_inBlock);
    m_inBlock = m_blockSize;
    out.push_back(float(closeBlock()));
}

} // namespace kivo::waveform
