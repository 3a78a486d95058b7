// The WAV chunk walk over a file of any bytes: it must end, stay inside its buffers and report only
// values in range.

#include "FuzzSupport.h"

#include "index/HeaderMetadata.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = kivo::fuzz::writeScratchFile("sample.wav", data, size);
    const auto header = kivo::index::readHeaderMetadata(path);
    if (header.bpm && (*header.bpm < kivo::index::kMinHeaderBPM || *header.bpm > kivo::index::kMaxHeaderBPM))
        std::abort();
    if (header.duration && !(std::isfinite(*header.duration) && *header.duration > 0))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kivo::fuzz::initialize();
    return 0;
}
