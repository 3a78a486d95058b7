// The cache file decoder: any text either decodes or throws the readable error the loader reports,
// and whatever decodes must encode to a file that decodes again.

#include "FuzzSupport.h"

#include "index/CacheFile.h"

#include <cstdlib>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kivo::index;
    CacheData decoded;
    try {
        decoded = decodeCacheData(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const std::runtime_error&) {
        return 0;
    }
    const std::string again = encodeCacheData(decoded.index, decoded.lastUpdate);
    try {
        (void)decodeCacheData(again);
    } catch (const std::runtime_error&) {
        std::abort(); // a file we wrote ourselves could not be read back
    }
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kivo::fuzz::initialize();
    return 0;
}
