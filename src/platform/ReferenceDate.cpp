#include "platform/ReferenceDate.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace kivo::platform {

namespace {
constexpr double kReferenceToUnix = 978307200.0;
constexpr double kFirstUnixSecond = -62135596800.0; // 0001-01-01T00:00:00Z
constexpr double kLastUnixSecond = 253402300799.0; // 9999-12-31T23:59:59Z
} // namespace

ReferenceDateText isoDateFromReference(double referenceSeconds)
{
    ReferenceDateText text;
    double unixSeconds
        = std::isnan(referenceSeconds) ? kFirstUnixSecond : std::floor(referenceSeconds + kReferenceToUnix);
    text.outOfRange
        = std::isnan(referenceSeconds) || unixSeconds < kFirstUnixSecond || unixSeconds > kLastUnixSecond;
    if (unixSeconds < kFirstUnixSecond)
        unixSeconds = kFirstUnixSecond;
    if (unixSeconds > kLastUnixSecond)
        unixSeconds = kLastUnixSecond;
    const auto when = static_cast<std::time_t>(unixSeconds);
    std::tm utc {};
    gmtime_r(&when, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    text.iso = buffer;
    // strftime writes year 1 as "1"; keep four digits like every other year.
    if (utc.tm_year + 1900 < 1000) {
        char padded[40];
        std::snprintf(padded, sizeof padded, "%04d%s", utc.tm_year + 1900, buffer + text.iso.find('-'));
        text.iso = padded;
    }
    return text;
}

} // namespace kivo::platform
