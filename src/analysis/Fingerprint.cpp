#include "Analysers.h"
#include "AudioAnalysis.h"

#include <chromaprint.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kivo::analysis {

namespace {

// The fingerprinter needs a few seconds before it gives its first word: a short one-shot is
// padded with silence to this length, so that its copies still compare.
constexpr std::size_t kLeastFrames = std::size_t(3.5 * kAnalysisRate);
// Past this, more of a long file adds bytes to the database but no certainty.
constexpr std::size_t kMostFrames = std::size_t(600) * kAnalysisRate;

} // namespace

std::vector<uint32_t> fingerprint(const std::vector<float>& mono)
{
    std::vector<uint32_t> out;
    ChromaprintContext* context = chromaprint_new(CHROMAPRINT_ALGORITHM_DEFAULT);
    if (!context)
        return out;
    std::vector<int16_t> pcm(std::max(std::min(mono.size(), kMostFrames), kLeastFrames), 0);
    for (std::size_t i = 0; i < std::min(mono.size(), pcm.size()); ++i)
        pcm[i] = int16_t(std::lround(std::clamp(mono[i], -1.0f, 1.0f) * 32767.0f));
    uint32_t* raw = nullptr;
    int size = 0;
    if (chromaprint_start(context, kAnalysisRate, 1) && chromaprint_feed(context, pcm.data(), int(pcm.size()))
        && chromaprint_finish(context) && chromaprint_get_raw_fingerprint(context, &raw, &size) && raw) {
        out.assign(raw, raw + size);
    }
    chromaprint_dealloc(raw);
    chromaprint_free(context);
    return out;
}

uint64_t hashSamples(const std::vector<float>& samples)
{
    // A word at a time: a byte at a time cost a tenth of the whole analysis.
    uint64_t hash = 14695981039346656037ull ^ uint64_t(samples.size());
    auto mix = [&hash](uint64_t word) {
        hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
        hash ^= hash >> 29;
    };
    const std::size_t pairs = samples.size() / 2;
    for (std::size_t i = 0; i < pairs; ++i) {
        uint64_t word;
        std::memcpy(&word, samples.data() + 2 * i, sizeof word);
        mix(word);
    }
    if (samples.size() % 2 != 0) {
        uint32_t bits;
        std::memcpy(&bits, &samples.back(), sizeof bits);
        mix(bits);
    }
    return hash;
}

} // namespace kivo::analysis
