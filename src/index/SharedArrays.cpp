#include "index/SharedArrays.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace kivo::index::detail {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Below this a huge page would mostly hold nothing.
constexpr std::size_t kHugeFrom = 4 * kHugePage;

} // namespace

void* allocateItems(std::size_t bytes)
{
    if (bytes < kHugeFrom) {
        void* items = std::malloc(bytes ? bytes : 1);
        if (!items)
            throw std::bad_alloc();
        return items;
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* items = std::aligned_alloc(kHugePage, rounded);
    if (!items)
        throw std::bad_alloc();
    // Only advice: without huge pages the array works the same.
    ::madvise(items, rounded, MADV_HUGEPAGE);
    return items;
}

void FreeItems::operator()(void* items) const noexcept
{
    std::free(items);
}

} // namespace kivo::index::detail
