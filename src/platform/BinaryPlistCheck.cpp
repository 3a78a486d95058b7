#include "platform/BinaryPlistCheck.h"

#include <cstring>
#include <utility>
#include <vector>

namespace kivo::platform {

namespace {

std::uint64_t bigEndian(const unsigned char* p, unsigned count)
{
    std::uint64_t value = 0;
    for (unsigned i = 0; i < count; ++i)
        value = value << 8 | p[i];
    return value;
}

} // namespace

bool binaryPlistWithinLimits(const char* data, std::size_t size)
{
    constexpr std::size_t kHeader = 8;
    constexpr std::size_t kTrailer = 32;
    if (!data || size < kHeader + kTrailer || size > kMaxPlistBytes || std::memcmp(data, "bplist", 6) != 0)
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* trailer = bytes + size - kTrailer;
    const unsigned offsetSize = trailer[6];
    const unsigned refSize = trailer[7];
    const std::uint64_t objectCount = bigEndian(trailer + 8, 8);
    const std::uint64_t top = bigEndian(trailer + 16, 8);
    const std::uint64_t tableAt = bigEndian(trailer + 24, 8);
    const std::uint64_t objectsEnd = size - kTrailer;
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objectCount == 0
        || top >= objectCount || tableAt < kHeader || tableAt > objectsEnd
        || objectCount > (objectsEnd - tableAt) / offsetSize)
        return false;

    std::vector<std::pair<std::uint64_t, int>> pending { { top, 0 } };
    std::uint64_t visited = 0;
    while (!pending.empty()) {
        const auto [object, depth] = pending.back();
        pending.pop_back();
        if (++visited > kMaxPlistObjects || depth > kMaxPlistDepth)
            return false;
        const std::uint64_t at = bigEndian(bytes + tableAt + object * offsetSize, offsetSize);
        if (at < kHeader || at >= tableAt)
            return false;
        const unsigned marker = bytes[at];
        const unsigned type = marker >> 4;
        // Strings, arrays, ordered sets, sets and dictionaries give their length after the marker.
        if (type != 0x5 && type != 0x6 && type != 0xA && type != 0xB && type != 0xC && type != 0xD)
            continue;
        std::uint64_t count = marker & 0xF;
        std::uint64_t refsAt = at + 1;
        if (count == 0xF) {
            if (refsAt >= tableAt || bytes[refsAt] >> 4 != 0x1)
                return false;
            const unsigned width = 1u << (bytes[refsAt] & 0xF);
            if (width > 8 || refsAt + 1 + width > tableAt)
                return false;
            count = bigEndian(bytes + refsAt + 1, width);
            refsAt += 1 + width;
        }
        if (type == 0x5 || type == 0x6) {
            // libplist stops the whole program on a string with a NUL character inside (an
            // assertion on its length); we never write one. An ASCII string holds 7-bit bytes only:
            // libplist hands any others on as they are, read back as some other text.
            const std::uint64_t unit = type == 0x5 ? 1 : 2;
            if (count > (tableAt - refsAt) / unit)
                return false;
            for (std::uint64_t i = 0; i < count; ++i) {
                const std::uint64_t c = bigEndian(bytes + refsAt + i * unit, unsigned(unit));
                if (c == 0 || (unit == 1 && c >= 0x80))
                    return false;
            }
            continue;
        }
        const std::uint64_t refs = type == 0xD ? 2 : 1;
        if (count > (tableAt - refsAt) / refSize / refs)
            return false;
        if (visited + pending.size() + count * refs > kMaxPlistObjects)
            return false;
        for (std::uint64_t i = 0; i < count * refs; ++i) {
            const std::uint64_t child = bigEndian(bytes + refsAt + i * refSize, refSize);
            if (child >= objectCount)
                return false;
            pending.emplace_back(child, depth + 1);
        }
    }
    return true;
}

} // namespace kivo::platform
