// The MIDI parser and the tempo scan that reads as little of a file as it can: neither may crash,
// hang or read outside the bytes, and the scan's tempo must be the parser's whenever it answers.

#include "FuzzSupport.h"

#include "music/MIDIFileParser.h"
#include "music/MIDITempoScan.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

using kivo::music::MIDIFileParser;
using kivo::music::MIDITempoScan;

namespace {

bool sameTempo(const std::optional<double>& a, const std::optional<double>& b)
{
    return a == b || (a && b && std::isnan(*a) && std::isnan(*b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto parsed = MIDIFileParser::parse(data, size);
    if (parsed) {
        double last = 0;
        for (const auto& note : parsed->notes) {
            if (!(note.duration > 0) || note.start < last)
                std::abort();
            last = note.start;
        }
    }

    const auto whole = MIDITempoScan::scan(bytes, size);
    if (!whole.complete)
        std::abort(); // the whole file always answers
    if (parsed && !sameTempo(whole.initialBPM, parsed->initialBPM))
        std::abort();

    // Growing prefixes, as the header reader feeds them: any answer must be the whole file's.
    std::size_t prefix = std::min<std::size_t>(size, 64);
    for (int round = 0; round < 64; ++round) {
        const auto part = MIDITempoScan::scan(bytes.substr(0, prefix), size);
        if (part.complete) {
            if (!sameTempo(part.initialBPM, whole.initialBPM))
                std::abort();
            break;
        }
        if (part.needed <= prefix || prefix == size)
            std::abort(); // asking for no more than it had would loop for ever
        prefix = std::min(size, std::max(part.needed, 2 * prefix));
    }
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kivo::fuzz::initialize();
    return 0;
}
