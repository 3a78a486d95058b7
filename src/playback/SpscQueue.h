#pragma once

// Single-producer single-consumer queue of fixed capacity. Both ends are wait-free
// and never allocate after construction, so the render callback may be either end.

#include <atomic>
#include <cstddef>
#include <memory>

namespace kivo::playback {

template <typename T> class SpscQueue {
public:
    explicit SpscQueue(std::size_t capacity)
        : m_capacity(capacity + 1)
        , m_items(
              std::make_unique_for_overwrite<T[]>(capacity + 1)) // every slot is written before it is read
    {
    }

    // Producer side: a slot to fill in place, or null when full; commitWrite() publishes it.
    T* beginWrite()
    {
        std::size_t w = m_write.load(std::memory_order_relaxed);
        std::size_t next = (w + 1) % m_capacity;
        if (next == m_read.load(std::memory_order_acquire))
            return nullptr;
        return &m_items[w];
    }
    void commitWrite()
    {
        m_write.store((m_write.load(std::memory_order_relaxed) + 1) % m_capacity, std::memory_order_release);
    }

    bool push(const T& value)
    {
        T* slot = beginWrite();
        if (!slot)
            return false;
        *slot = value;
        commitWrite();
        return true;
    }

    // Consumer side: the oldest item in place, or null when empty; commitRead() releases it.
    T* front()
    {
        std::size_t r = m_read.load(std::memory_order_relaxed);
        if (r == m_write.load(std::memory_order_acquire))
            return nullptr;
        return &m_items[r];
    }
    void commitRead()
    {
        m_read.store((m_read.load(std::memory_order_relaxed) + 1) % m_capacity, std::memory_order_release);
    }

    bool pop(T& out)
    {
        T* item = front();
        if (!item)
            return false;
        out = *item;
        commitRead();
        return true;
    }

    bool empty() const
    {
        return m_read.load(std::memory_order_acquire) == m_write.load(std::memory_order_acquire);
    }

private:
    const std::size_t m_capacity;
    std::unique_ptr<T[]> m_items;
    alignas(64) std::atomic<std::size_t> m_write { 0 };
    alignas(64) std::atomic<std::size_t> m_read { 0 };
};

} // namespace kivo::playback
