// kivo-bench analysis: how often the analysers hear the right tempo and key, and what they cost.
//
// A labelled set of loops and one-shots is rendered first (see AnalysisSet.h). Tempo accuracy is
// the share of loops whose tempo is found within 1 BPM (half or double counts as wrong) once the
// octave is chosen by the folder's other files, as the window shows it (each file alone is also
// given); key
// accuracy the share of tonal samples whose key and mode are found, with loops and one-shots
// also given apart. The analysis ratio is the CPU time of analysing every file against that of
// decoding the same files with the player's FFmpeg decoder, the least any analysis must do.

#include "AnalysisSet.h"
#include "BenchLibrary.h"
#include "common/Subcommand.h"

#include "analysis/AudioAnalysis.h"
#include "playback/AudioDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

using namespace kivo;

namespace {

constexpr int kPasses = 3;

double decodeAll(const std::vector<bench::LabelledSample>& set)
{
    return bench::cpuSecondsOf([&] {
        for (const auto& sample : set) {
            playback::AudioDecoder decoder;
            if (!decoder.open(sample.path, analysis::kDecodeRate).empty())
                continue;
            std::vector<float> stereo;
            while (decoder.decodeNext([&](const float* samples, int count) {
                stereo.insert(stereo.end(), samples, samples + 2 * std::size_t(count));
            })) { }
        }
    });
}

int analysisBench(const std::vector<std::string>& args)
{
    const bool verbose = std::find(args.begin(), args.end(), "--verbose") != args.end();
    const std::string folder = std::string(KIVO_BENCH_DATA_DIR) + "/analysis";
    const std::string soundFonts
        = (std::filesystem::path(KIVO_BENCH_DATA_DIR).parent_path() / "resources" / "SoundFonts").string();
    std::string error;
    const auto set = bench::makeAnalysisSet(folder, soundFonts, 26, error);
    if (set.empty())
        return std::fprintf(stderr, "kivo-bench analysis: %s\n", error.c_str()), 1;

    std::vector<analysis::AnalysisResult> results(set.size());
    std::vector<double> analysed, decoded;
    for (int pass = 0; pass < kPasses; ++pass) {
        decoded.push_back(decodeAll(set));
        analysed.push_back(bench::cpuSecondsOf([&] {
            for (std::size_t i = 0; i < set.size(); ++i)
                results[i] = analysis::analyseFile(set[i].path);
        }));
    }

    int loops = 0, tempoRight = 0, tonalLoops = 0, loopKeysRight = 0, tonalShots = 0, shotKeysRight = 0;
    int kindRight = 0, aloneRight = 0;
    std::map<std::string, std::vector<std::size_t>> byFolder;
    for (std::size_t i = 0; i < set.size(); ++i)
        byFolder[std::filesystem::path(set[i].path).parent_path().string()].push_back(i);
    for (std::size_t i = 0; i < set.size(); ++i) {
        const auto& truth = set[i];
        const auto& heard = results[i];
        const bool kindOk = heard.isLoop && *heard.isLoop == truth.isLoop;
        kindRight += kindOk;
        bool tempoOk = true, keyOk = true;
        if (truth.isLoop) {
            ++loops;
            aloneRight += heard.bpm && std::fabs(*heard.bpm - *truth.bpm) <= 1.0;
            std::vector<double> siblings;
            for (std::size_t j : byFolder[std::filesystem::path(truth.path).parent_path().string()])
                if (j != i && results[j].bpm)
                    siblings.push_back(*results[j].bpm);
            const double bpm = heard.bpm ? analysis::preferFolderOctave(*heard.bpm, siblings) : 0;
            tempoOk = heard.bpm && std::fabs(bpm - *truth.bpm) <= 1.0;
            tempoRight += tempoOk;
        }
        if (truth.pitchClass) {
            keyOk = heard.key && heard.key->pitchClass == *truth.pitchClass
                && heard.key->isMinor == truth.isMinor;
            (truth.isLoop ? tonalLoops : tonalShots)++;
            (truth.isLoop ? loopKeysRight : shotKeysRight) += keyOk;
        }
        if (verbose && (!tempoOk || !keyOk || !kindOk))
            std::printf("  miss %s: %s %s, heard %s bpm %.2f key %s (%s)\n",
                std::filesystem::path(truth.path).filename().c_str(), truth.isLoop ? "loop" : "one-shot",
                truth.bpm ? std::to_string(*truth.bpm).c_str() : "-",
                heard.isLoop ? (*heard.isLoop ? "loop" : "one-shot") : "-", heard.bpm.value_or(0),
                heard.key ? heard.key->keyText().c_str() : "-",
                truth.pitchClass ? music::MusicalKey { *truth.pitchClass, truth.isMinor, "" }
                                       .displayName(music::KeySpelling::sharp)
                                       .c_str()
                                 : "no key");
    }
    auto fraction = [](int a, int b) { return b ? double(a) / b : 0.0; };
    const double tempoAccuracy = fraction(tempoRight, loops);
    const double loopKeys = fraction(loopKeysRight, tonalLoops);
    const double shotKeys = fraction(shotKeysRight, tonalShots);
    const double keyAccuracy = fraction(loopKeysRight + shotKeysRight, tonalLoops + tonalShots);
    std::sort(analysed.begin(), analysed.end());
    std::sort(decoded.begin(), decoded.end());
    const double ratio = analysed[kPasses / 2] / decoded[kPasses / 2];

    std::printf("labelled set: %d loops (%d tonal), %zu one-shots (%d tonal)\n", loops, tonalLoops,
        set.size() - std::size_t(loops), tonalShots);
    std::printf(
        "tempo accuracy: %.3f (target >= 0.90, within 1 BPM, half or double is wrong)\n", tempoAccuracy);
    std::printf("  each file alone: %.3f\n", fraction(aloneRight, loops));
    std::printf("key accuracy: %.3f (loops %.3f, target >= 0.80; one-shots %.3f, target >= 0.70)\n",
        keyAccuracy, loopKeys, shotKeys);
    std::printf("loop or one-shot accuracy: %.3f\n", fraction(kindRight, int(set.size())));
    std::printf(
        "analysis ratio: %.2f (analysis %.3f s vs decoding %.3f s CPU, median of %d; target <= 3.0)\n", ratio,
        analysed[kPasses / 2], decoded[kPasses / 2], kPasses);
    const bool ok = tempoAccuracy >= 0.9 && loopKeys >= 0.8 && shotKeys >= 0.7 && ratio <= 3.0;
    return ok ? 0 : 1;
}

kivo::tools::SubcommandRegistrar registrar("analysis",
    "analysis [--verbose]  tempo and key accuracy on a rendered labelled set; analysis vs decoding time",
    analysisBench);

} // namespace
