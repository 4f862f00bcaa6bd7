#pragma once

// Watches the heap requests of the current thread, so a fuzz test can check
// that a decoder bounds what it allocates by the size of its input.
//
// A program that uses it adds AllocationProbe.cpp to its sources: that file
// replaces the global operator new and delete (on top of malloc and free, so
// the sanitizers still see every block).

#include <cstddef>

namespace qvn::fuzz
{
    // While a scope is alive on a thread, every operator new on that thread
    // records its size. A request above hardLimitBytes aborts the program at
    // once, naming the size, instead of letting a runaway decoder take the
    // machine's memory. Scopes do not nest.
    class AllocationScope
    {
    public:
        explicit AllocationScope (size_t hardLimitBytes = size_t (256) << 20) noexcept;
        ~AllocationScope();

        size_t largestRequest() const noexcept;
        size_t totalRequested() const noexcept;

        AllocationScope (const AllocationScope&) = delete;
        AllocationScope& operator= (const AllocationScope&) = delete;
    };
} // namespace qvn::fuzz
