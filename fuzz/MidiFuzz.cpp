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
        // Everything a client relies on, whatever the input was.
        const double length = parsed->duration;
        if (!std::isfinite(length) || !(length > 0))
            std::abort();
        if (parsed->initialBPM
            && !(std::isfinite(*parsed->initialBPM) && *parsed->initialBPM > 3.5
                && *parsed->initialBPM <= 6e7))
            std::abort();
        // Every note needs at least a delta and two data bytes of its own.
        if (parsed->notes.size() > size / 3)
            std::abort();
        double last = 0;
        for (const auto& note : parsed->notes) {
            if (!std::isfinite(note.start) || note.start < last || !std::isfinite(note.duration)
                || !(note.duration > 0) || note.start + note.duration > length)
                std::abort();
            if (note.pitch < 0 || note.pitch > 255 || note.velocity < 1 || note.velocity > 255
                || note.channel < 0 || note.channel > 15)
                std::abort();
            last = note.start;
        }
        if (MIDIFileParser::parse(data, size) != parsed)
            std::abort(); // the same bytes always read the same
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
