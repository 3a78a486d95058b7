// The cache file decoder: any text either decodes or throws the readable error the loader reports,
// whatever decodes lists no file it does not know, and it must encode to a file that decodes again.

#include "FuzzSupport.h"

#include "index/CacheFile.h"
#include "index/CompactIndex.h"

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
    // Every file a folder lists is a file the index knows: the tree and the search agree.
    const IndexMaps maps = mapsOf(decoded.index);
    for (const auto& [path, folder] : maps.directoryIndex)
        for (const auto& file : folder.files)
            if (!maps.fileIndex.contains(file.path))
                std::abort();
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
