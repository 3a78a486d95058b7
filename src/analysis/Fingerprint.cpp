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
    uint64_t hash = 14695981039346656037ull;
    for (float sample : samples) {
        uint32_t bits;
        std::memcpy(&bits, &sample, sizeof bits);
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (bits >> shift) & 0xff;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

} // namespace kivo::analysis
