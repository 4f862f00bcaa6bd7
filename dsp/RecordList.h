#pragma once

#include "RecordListGrowth.h"

#include <atomic>
#include <cstddef>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

// An append-only list for the audio thread that never moves what it holds:
// entries live in fixed chunks, so growing it never copies, and the next
// chunk is allocated ahead of need on the growth thread (RecordListGrowth).
// The audio thread allocates only when that thread has fallen behind by
// minutes; at maxChunks chunks (about 233 hours of 100 ms entries) further
// entries are dropped. clear() keeps the chunks for the next recording.
//
// Like the meter that owns it, the list is single-threaded for its reader
// and writer: it may be read on another thread only while nothing appends.
template <typename T>
class RecordList final : public GrowableRecord
{
public:
    static constexpr size_t chunkSize = 8192;
    static constexpr size_t maxChunks = 1024;

    RecordList() : chunks (new T*[maxChunks] {}) { RecordListGrowth::add (this); }

    ~RecordList() override
    {
        RecordListGrowth::remove (this);

        for (size_t i = 0; i < chunkCount; ++i)
            delete[] chunks[i];

        delete[] spare.load();
    }

    // Copies hold their own chunks (an owner that is copied allocates).
    RecordList (const RecordList& other) : RecordList() { *this = other; }

    RecordList& operator= (const RecordList& other)
    {
        if (this != &other)
        {
            clear();
            reserve (other.count);
            for (const auto& v : other)
                push_back (v);
        }

        return *this;
    }

    size_t size() const noexcept      { return count; }
    bool empty() const noexcept       { return count == 0; }
    size_t capacity() const noexcept  { return chunkCount * chunkSize; }

    const T& operator[] (size_t i) const noexcept { return chunks[i / chunkSize][i % chunkSize]; }
    const T& back() const noexcept                { return (*this)[count - 1]; }

    void push_back (const T& value) noexcept
    {
        if (count == capacity() && ! addChunk())
            return;

        chunks[count / chunkSize][count % chunkSize] = value;
        ++count;

        // Half a chunk before the end the growth thread is asked for the
        // next one: minutes of recording ahead.
        if (count + chunkSize / 2 >= capacity() && chunkCount < maxChunks)
            wantSpare.store (true, std::memory_order_release);
    }

    void clear() noexcept
    {
        // Like std::vector, clearing an empty list writes nothing.
        if (count != 0)
            count = 0;
    }

    // Room for n entries without any further allocation. Allocates: call it
    // where the owner may allocate (prepare).
    void reserve (size_t n)
    {
        while (capacity() < n && chunkCount < maxChunks)
            chunks[chunkCount++] = new T[chunkSize] {};
    }

    std::vector<T> toVector() const
    {
        std::vector<T> out;
        copyTo (out);
        return out;
    }

    // Replaces the contents of out with the entries (allocates when out is
    // too small).
    void copyTo (std::vector<T>& out) const
    {
        out.clear();
        out.reserve (count);

        for (size_t c = 0; c * chunkSize < count; ++c)
        {
            const auto n = std::min (chunkSize, count - c * chunkSize);
            out.insert (out.end(), chunks[c], chunks[c] + n);
        }
    }

    operator std::vector<T>() const { return toVector(); }

    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;

        const_iterator (const RecordList* l, size_t i) : list (l), index (i) {}
        reference operator*() const { return (*list)[index]; }
        pointer operator->() const { return &(*list)[index]; }
        const_iterator& operator++() { ++index; return *this; }
        const_iterator operator++ (int) { auto t = *this; ++index; return t; }
        bool operator== (const const_iterator& o) const { return index == o.index; }
        bool operator!= (const const_iterator& o) const { return index != o.index; }

    private:
        const RecordList* list;
        size_t index;
    };

    const_iterator begin() const { return { this, 0 }; }
    const_iterator end() const   { return { this, count }; }

    void growAhead() override
    {
        if (! wantSpare.load (std::memory_order_acquire) || spare.load (std::memory_order_acquire) != nullptr)
            return;

        // Value-initialised, so its pages are touched here and not on the
        // audio thread.
        spare.store (new (std::nothrow) T[chunkSize] {}, std::memory_order_release);
    }

private:
    bool addChunk() noexcept
    {
        if (chunkCount >= maxChunks)
            return false;

        auto* chunk = spare.exchange (nullptr, std::memory_order_acq_rel);

        // The growth thread has not caught up: a chunk allocated here costs
        // an allocation but still no copy.
        if (chunk == nullptr)
            chunk = new (std::nothrow) T[chunkSize] {};

        if (chunk == nullptr)
            return false;

        wantSpare.store (false, std::memory_order_release);
        chunks[chunkCount++] = chunk;
        return true;
    }

    std::unique_ptr<T*[]> chunks;
    size_t chunkCount = 0;
    size_t count = 0;
    std::atomic<T*> spare { nullptr };
    std::atomic<bool> wantSpare { false };
};
