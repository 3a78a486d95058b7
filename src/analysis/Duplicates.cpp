#include "Duplicates.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace kivo::analysis {

namespace {

// Unrelated audio differs in about half its bits; the same audio re-encoded or at another gain
// in well under a fifth.
constexpr double kNearDistance = 0.2;
// About a second of fingerprint words either way.
constexpr int kMaxShift = 8;

} // namespace

double fingerprintDistance(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    const int na = int(a.size()), nb = int(b.size());
    const int shorter = std::min(na, nb);
    // Enough words that a chance match of bits means nothing; most of the shorter one.
    const int leastOverlap = std::max(4, shorter * 3 / 4);
    double best = 1;
    for (int shift = -kMaxShift; shift <= kMaxShift; ++shift) {
        const int startA = std::max(0, shift), startB = std::max(0, -shift);
        const int overlap = std::min(na - startA, nb - startB);
        if (overlap < leastOverlap)
            continue;
        int differing = 0;
        for (int i = 0; i < overlap; ++i)
            differing += std::popcount(a[std::size_t(startA + i)] ^ b[std::size_t(startB + i)]);
        best = std::min(best, double(differing) / (32.0 * overlap));
    }
    return best;
}

std::vector<Duplicate> findDuplicates(
    const FingerprintedFile& file, const std::vector<FingerprintedFile>& library)
{
    std::vector<Duplicate> out;
    for (const FingerprintedFile& other : library) {
        if (other.path == file.path)
            continue;
        if (other.audioHash == file.audioHash && std::abs(other.duration - file.duration) < 1e-6) {
            out.push_back({ other.path, true, 1 });
            continue;
        }
        const double longer = std::max(file.duration, other.duration);
        if (longer <= 0 || std::abs(file.duration - other.duration) > kDurationTolerance * longer)
            continue;
        if (file.fingerprint.empty() || other.fingerprint.empty())
            continue;
        const double distance = fingerprintDistance(file.fingerprint, other.fingerprint);
        if (distance < kNearDistance)
            out.push_back({ other.path, false, 1 - distance });
    }
    std::stable_sort(out.begin(), out.end(), [](const Duplicate& x, const Duplicate& y) {
        if (x.exact != y.exact)
            return x.exact;
        if (x.similarity != y.similarity)
            return x.similarity > y.similarity;
        return x.path < y.path;
    });
    return out;
}

} // namespace kivo::analysis
