#pragma once

// The arrays of the index's resident form, shared between the states that hold them. Copying one costs
// a pointer or a few, not its contents, so the writer can start the next state from a copy of the
// published one and pay only for what it changes; readers of the published state never see a change.
//
// AppendArray keeps its items end to end (spans and string views into it stay valid) and suits lists
// that only grow: copies share one buffer, each seeing its own length, and the copy whose length is
// the buffer's end appends in place. ChunkedArray suits arrays written anywhere (by id): items live in
// small chunks, and writing to a chunk another copy can see copies that chunk first.
//
// Only trivially copyable items. A copy is made by the writer; readers only read.

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kivo::index {

namespace detail {
// Room for an array's items. Large ones are placed and advised so that the kernel backs them with
// huge pages: an index's big arrays are read at random (a load looks paths up all over its text), and
// with small pages nearly every such read also misses the address translation caches.
void* allocateItems(std::size_t bytes);
struct FreeItems {
    void operator()(void* items) const noexcept;
};
} // namespace detail

template <class T> class AppendArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    AppendArray() = default;
    AppendArray(const AppendArray& other)
        : m_store(other.m_store)
        , m_size(other.m_size)
        , m_sharedUpTo(other.m_size)
    {
        // What either holds now can be seen by the other: neither may write it in place.
        other.m_sharedUpTo.store(std::max(other.m_sharedUpTo.load(std::memory_order_relaxed), other.m_size),
            std::memory_order_relaxed);
    }
    AppendArray(AppendArray&& other) noexcept
        : m_store(std::move(other.m_store))
        , m_size(std::exchange(other.m_size, 0))
        , m_sharedUpTo(other.m_sharedUpTo.exchange(0, std::memory_order_relaxed))
    {
    }
    AppendArray& operator=(const AppendArray& other)
    {
        if (this != &other)
            *this = AppendArray(other);
        return *this;
    }
    AppendArray& operator=(AppendArray&& other) noexcept
    {
        m_store = std::move(other.m_store);
        m_size = std::exchange(other.m_size, 0);
        m_sharedUpTo.store(
            other.m_sharedUpTo.exchange(0, std::memory_order_relaxed), std::memory_order_relaxed);
        return *this;
    }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::size_t capacity() const { return m_store ? m_store->capacity : 0; }
    const T* data() const { return m_store ? m_store->items.get() : nullptr; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + m_size; }
    const T& operator[](std::size_t i) const { return m_store->items[i]; }
    const T& back() const { return m_store->items[m_size - 1]; }
    // The items as text (AppendArray<char>).
    std::string_view view() const { return { data(), m_size }; }

    void reserve(std::size_t count)
    {
        if (count > capacity())
            reallocate(count);
    }
    void push_back(const T& item)
    {
        makeRoom(m_size + 1);
        m_store->items[m_size] = item;
        setSize(m_size + 1);
    }
    template <class... Args> T& emplace_back(Args&&... args)
    {
        push_back(T { std::forward<Args>(args)... });
        return m_store->items[m_size - 1];
    }
    void append(const T* items, std::size_t count)
    {
        if (count == 0)
            return;
        makeRoom(m_size + count);
        std::memcpy(m_store->items.get() + m_size, items, count * sizeof(T));
        setSize(m_size + count);
    }
    template <class Range> void append(const Range& items) { append(std::data(items), std::size(items)); }
    void resize(std::size_t count, const T& fill = T())
    {
        if (count <= m_size) {
            // The items dropped are nobody's once no copy sees them: the next append may reuse them.
            if (m_store && m_store->claimed.load(std::memory_order_relaxed) == m_size
                && count >= m_sharedUpTo.load(std::memory_order_relaxed))
                m_store->claimed.store(count, std::memory_order_relaxed);
            m_size = count;
            return;
        }
        makeRoom(count);
        std::fill(m_store->items.get() + m_size, m_store->items.get() + count, fill);
        setSize(count);
    }
    void clear() { resize(0); }
    // A writable item: one a copy may see is first given a buffer of this array's own.
    T& edit(std::size_t i)
    {
        if (i < m_sharedUpTo.load(std::memory_order_relaxed))
            reallocate(capacity());
        return m_store->items[i];
    }
    T& back() { return edit(m_size - 1); }

private:
    struct Store {
        std::unique_ptr<T[], detail::FreeItems> items;
        std::size_t capacity = 0;
        std::atomic<std::size_t> claimed { 0 }; // the longest length given out of this buffer
    };

    void makeRoom(std::size_t count)
    {
        // In place only at the buffer's end: past another copy's length, the items are its.
        if (m_store && m_store->claimed.load(std::memory_order_relaxed) == m_size
            && count <= m_store->capacity)
            return;
        reallocate(std::max({ count, 2 * m_size, std::size_t(16) }));
    }
    void reallocate(std::size_t capacity)
    {
        auto next = std::make_shared<Store>();
        next->items.reset(static_cast<T*>(detail::allocateItems(std::max(capacity, m_size) * sizeof(T))));
        next->capacity = std::max(capacity, m_size);
        if (m_size)
            std::memcpy(next->items.get(), m_store->items.get(), m_size * sizeof(T));
        next->claimed.store(m_size, std::memory_order_relaxed);
        m_store = std::move(next);
        m_sharedUpTo.store(0, std::memory_order_relaxed);
    }
    void setSize(std::size_t count)
    {
        m_size = count;
        m_store->claimed.store(count, std::memory_order_relaxed);
    }

    std::shared_ptr<Store> m_store;
    std::size_t m_size = 0;
    // Items below this may be seen by a copy. Atomic because a copy of a published state, read by
    // others, sets it.
    mutable std::atomic<std::size_t> m_sharedUpTo { 0 };
};

namespace detail {
inline std::uint64_t freshOwner()
{
    static std::atomic<std::uint64_t> next { 1 };
    return next.fetch_add(1, std::memory_order_relaxed);
}
} // namespace detail

template <class T> class ChunkedArray {
    static_assert(std::is_trivially_copyable_v<T>);
    // About 8 KiB a chunk: a change of a few items copies little.
    static constexpr std::size_t kShift
        = std::max<std::size_t>(4, std::size_t(std::bit_width(8192 / sizeof(T))) - 1);
    static constexpr std::size_t kChunk = std::size_t(1) << kShift;
    static constexpr std::size_t kMask = kChunk - 1;

public:
    ChunkedArray() = default;
    ChunkedArray(const ChunkedArray& other)
        : m_chunks(other.m_chunks)
        , m_size(other.m_size)
    {
        // Every chunk is now shared: neither side may write one in place.
        other.m_owner.store(detail::freshOwner(), std::memory_order_relaxed);
    }
    ChunkedArray(ChunkedArray&& other) noexcept
        : m_chunks(std::move(other.m_chunks))
        , m_size(std::exchange(other.m_size, 0))
        , m_owner(other.m_owner.exchange(detail::freshOwner(), std::memory_order_relaxed))
    {
        other.m_chunks.clear();
    }
    ChunkedArray& operator=(const ChunkedArray& other)
    {
        if (this != &other)
            *this = ChunkedArray(other);
        return *this;
    }
    ChunkedArray& operator=(ChunkedArray&& other) noexcept
    {
        m_chunks = std::move(other.m_chunks);
        other.m_chunks.clear();
        m_size = std::exchange(other.m_size, 0);
        m_owner.store(other.m_owner.exchange(detail::freshOwner(), std::memory_order_relaxed),
            std::memory_order_relaxed);
        return *this;
    }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::size_t capacity() const { return m_chunks.size() * kChunk; }
    const T& operator[](std::size_t i) const { return m_chunks[i >> kShift]->items[i & kMask]; }
    const T& back() const { return (*this)[m_size - 1]; }

    void reserve(std::size_t count) { m_chunks.reserve((count + kMask) >> kShift); }
    T& edit(std::size_t i)
    {
        auto& chunk = m_chunks[i >> kShift];
        const std::uint64_t owner = m_owner.load(std::memory_order_relaxed);
        if (chunk->owner != owner) {
            auto own = std::make_shared<Chunk>(*chunk);
            own->owner = owner;
            chunk = std::move(own);
        }
        return chunk->items[i & kMask];
    }
    void set(std::size_t i, const T& item) { edit(i) = item; }
    void push_back(const T& item) { resize(m_size + 1, item); }
    void resize(std::size_t count, const T& fill = T())
    {
        const std::size_t old = m_size;
        const std::size_t chunks = (count + kMask) >> kShift;
        if (chunks < m_chunks.size())
            m_chunks.resize(chunks);
        const std::uint64_t owner = m_owner.load(std::memory_order_relaxed);
        while (m_chunks.size() < chunks) {
            auto chunk = std::make_shared<Chunk>();
            chunk->owner = owner;
            m_chunks.push_back(std::move(chunk));
        }
        m_size = count;
        for (std::size_t i = old; i < count;) {
            const std::size_t end = std::min(count, (i | kMask) + 1);
            T* items = &edit(i);
            std::fill(items, items + (end - i), fill);
            i = end;
        }
    }
    void assign(std::size_t count, const T& fill)
    {
        m_chunks.clear();
        m_size = 0;
        resize(count, fill);
    }
    void clear() { assign(0, T()); }

private:
    struct Chunk {
        std::uint64_t owner = 0;
        T items[kChunk];
    };

    std::vector<std::shared_ptr<Chunk>> m_chunks;
    std::size_t m_size = 0;
    // Chunks stamped with this are this array's alone. Atomic because a copy of a published state,
    // read by others, renews it.
    mutable std::atomic<std::uint64_t> m_owner { detail::freshOwner() };
};

} // namespace kivo::index
