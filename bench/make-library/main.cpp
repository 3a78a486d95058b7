// make-library DIR --files N [--folders F] [--seed S]: writes a synthetic sample library for tests and
// benchmarks. The same arguments always give the same library.

#include "LibraryGenerator.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: make-library DIR --files N [--folders F] [--seed S]\n");
    return 2;
}

bool parseCount(const char* text, std::uint64_t& out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno || !end || *end || text[0] == '-' || end == text)
        return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    kivo::bench::LibraryOptions options;
    bool haveFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::uint64_t value = 0;
        if ((arg == "--files" || arg == "--seed" || arg == "--folders") && i + 1 < argc) {
            if (!parseCount(argv[++i], value)) {
                std::fprintf(
                    stderr, "make-library: %s needs a whole number, not '%s'\n", arg.c_str(), argv[i]);
                return 2;
            }
            if (arg == "--files") {
                options.files = value;
                haveFiles = true;
            } else if (arg == "--seed") {
                options.seed = value;
            } else {
                options.folders = value;
            }
        } else if (!arg.empty() && arg[0] != '-' && options.directory.empty()) {
            options.directory = arg;
        } else {
            return usage();
        }
    }
    if (options.directory.empty() || !haveFiles)
        return usage();
    while (options.directory.size() > 1 && options.directory.back() == '/')
        options.directory.pop_back();

    const auto start = std::chrono::steady_clock::now();
    try {
        const auto s = kivo::bench::makeLibrary(options);
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%zu sample files (%zu wav, %zu mp3, %zu flac, %zu aiff, %zu midi), %zu other files, %zu "
                    "folders, "
                    "%.1f MB in %.2f s\n",
            s.compatibleFiles, s.wav, s.mp3, s.flac, s.aiff, s.midi, s.ignoredFiles, s.folders,
            double(s.bytes) / 1e6, seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-library: %s\n", e.what());
        return 1;
    }
    return 0;
}
