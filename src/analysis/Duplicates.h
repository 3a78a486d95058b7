#pragma once

// Duplicates of a file across the library, from what analysis kept: exact copies (the same
// decoded audio) and near-identical files (fingerprints that differ in few bits once aligned,
// durations within a few percent: the same sample re-encoded, at another gain, or trimmed by a
// few milliseconds). Plain C++; pure.

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::analysis {

struct FingerprintedFile {
    std::string path;
    double duration = 0;
    uint64_t audioHash = 0;
    std::vector<uint32_t> fingerprint;
};

struct Duplicate {
    std::string path;
    bool exact = false;
    double similarity = 1; // 1 minus the fingerprints' bit error rate
};

// Durations further apart than this fraction are never near-identical.
inline constexpr double kDurationTolerance = 0.05;

// The fraction of differing bits over the best-aligned overlap of two fingerprints (shifted by up
// to about a second either way); 1 when they overlap too little to tell.
double fingerprintDistance(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);

// `file`'s duplicates among `library` (which may hold `file` itself), exact ones first, then by
// likeness.
std::vector<Duplicate> findDuplicates(
    const FingerprintedFile& file, const std::vector<FingerprintedFile>& library);

} // namespace kivo::analysis
