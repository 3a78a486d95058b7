#pragma once

// Dates in our files are seconds (with fraction) since 2001-01-01 00:00:00 UTC. A file can hold any
// number there, and converting one beyond the calendar's range to a calendar time is undefined.

#include <string>

namespace kivo::platform {

struct ReferenceDateText {
    std::string iso; // "2026-12-07T05:40:00Z", clamped to years 1 to 9999
    bool outOfRange = false; // the seconds lie outside those years (or are not a number)
};

ReferenceDateText isoDateFromReference(double referenceSeconds);

} // namespace kivo::platform
