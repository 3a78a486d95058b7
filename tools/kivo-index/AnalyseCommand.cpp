// kivo-index analyse: tempo, key, loudness, true peak and loop or one-shot, heard from each
// file's own audio.

#include "common/Subcommand.h"

#include "analysis/AudioAnalysis.h"

#include <cstdio>

using namespace kivo::analysis;

namespace {

void printNumber(const std::optional<double>& value)
{
    if (value)
        std::printf("\t%.1f", *value);
    else
        std::printf("\t-");
}

int analyse(const std::vector<std::string>& args)
{
    if (args.empty()) {
        std::fprintf(stderr, "usage: kivo-index analyse FILE...\n");
        return 2;
    }
    int status = 0;
    for (const auto& path : args) {
        const AnalysisResult result = analyseFile(path);
        if (!result.ok()) {
            std::fflush(stdout);
            std::fprintf(stderr, "kivo-index analyse: %s: %s\n", path.c_str(), result.error.c_str());
            status = 1;
        }
        std::printf("%s", path.c_str());
        printNumber(result.bpm);
        std::printf("\t%s", result.key ? result.key->keyText().c_str() : "-");
        printNumber(result.loudness);
        printNumber(result.truePeak);
        std::printf("\t%s\n", !result.isLoop ? "-" : *result.isLoop ? "loop" : "one-shot");
    }
    return status;
}

const kivo::tools::SubcommandRegistrar registrar("analyse",
    "analyse FILE...  tempo, key, LUFS, true peak and loop or one-shot heard from each file's audio",
    analyse);

} // namespace
