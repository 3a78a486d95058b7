// The tagged-format reader (TagLib for mp3, m4a, aiff and flac; FFmpeg for raw ADTS aac). The
// first byte picks the extension the file gets, the rest is the file.

#include "FuzzSupport.h"

#include "index/HeaderMetadata.h"

#include <array>
#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::array<const char*, 6> kExtensions { "mp3", "m4a", "aac", "aiff", "flac", "aif" };
    if (size == 0)
        return 0;
    const std::string name = std::string("sample.") + kExtensions[data[0] % kExtensions.size()];
    const std::string path = kivo::fuzz::writeScratchFile(name, data + 1, size - 1);
    const auto header = kivo::index::readHeaderMetadata(path);
    if (header.bpm && (*header.bpm < kivo::index::kMinHeaderBPM || *header.bpm > kivo::index::kMaxHeaderBPM))
        std::abort();
    if (header.duration && !(std::isfinite(*header.duration) && *header.duration > 0))
        std::abort();
    if (header.key && header.key->empty())
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kivo::fuzz::initialize();
    return 0;
}
