#pragma once

// Counts the heap allocations made on the calling thread while a scope is
// open. The replaced global operator new lives in AllocationCounter.cpp: add
// that file to the SOURCES of a test program (one that stays out of the
// sanitizer builds, which replace operator new themselves).

namespace qvn::test
{
    long& allocationsCounted() noexcept;
    bool& allocationCountingOn() noexcept;

    struct AllocationCountScope
    {
        AllocationCountScope() noexcept { allocationsCounted() = 0; allocationCountingOn() = true; }
        ~AllocationCountScope() { allocationCountingOn() = false; }

        long count() const noexcept { return allocationsCounted(); }
    };
} // namespace qvn::test
