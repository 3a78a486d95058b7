#pragma once

// What a file's own audio says about it: tempo, key, integrated loudness, true peak, whether it
// is a loop or a one-shot, and the fingerprint and hash that find its duplicates. Every value is absent when
// the audio cannot tell it. Plain C++ without Qt; pure apart from reading the file, safe on any thread.

#include "music/MusicalKey.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivo::analysis {

struct AnalysisResult {
    std::optional<double> bpm;
    std::optional<music::MusicalKey> key; // spelled with the key's usual root name
    std::optional<double> loudness; // integrated, LUFS
    std::optional<double> truePeak; // dBTP
    std::optional<bool> isLoop;
    double duration = 0; // seconds of decoded audio
    // Raw chromaprint fingerprint of the mono mixdown; the same tune at another gain or encoding
    // gives nearly the same bits.
    std::vector<uint32_t> fingerprint;
    uint64_t audioHash = 0; // of the decoded samples: equal for copies of the same audio
    // False for a result kept from before fingerprints were taken: its file is heard again.
    bool fingerprinted = false;
    std::string error; // why the file could not be analysed; empty on success
    bool retry = false; // the failure was the moment's (a read that took too long): not kept

    bool ok() const { return error.empty(); }
};

// The rate every analyser works at after the decoder; loudness is measured before the mono
// mixdown and decimation, at kDecodeRate.
inline constexpr int kDecodeRate = 44100;
inline constexpr int kAnalysisRate = kDecodeRate / 2;

// What a file is heard for: everything, or only the fingerprint and hash that a result kept from
// before they were taken lacks (its other values stay as they were heard).
enum class Hearing { everything, fingerprintOnly };

// Decodes and analyses one file.
AnalysisResult analyseFile(const std::string& path, Hearing hearing = Hearing::everything);

// Analyses interleaved stereo samples at kDecodeRate.
AnalysisResult analyseStereo(const std::vector<float>& stereo);

// Half or double is the commonest mistake in a tempo heard from audio, and the files of one folder
// (a pack, a session) mostly share a tempo range. The octave of `bpm` within 60 to 200 BPM
// nearest the median of the other files' tempos in its folder; `bpm` itself when fewer than two
// of them have a tempo.
double preferFolderOctave(double bpm, const std::vector<double>& siblingTempos);

} // namespace kivo::analysis
