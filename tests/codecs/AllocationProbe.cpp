#include "AllocationProbe.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace
{
    // Plain thread-locals without constructors: safe to touch from operator
    // new at any time, also before main.
    thread_local bool probeArmed = false;
    thread_local std::size_t probeLargest = 0;
    thread_local std::size_t probeTotal = 0;
    thread_local std::size_t probeLimit = 0;

    void* allocate (std::size_t size)
    {
        if (probeArmed)
        {
            if (size > probeLimit)
            {
                std::fprintf (stderr, "\nAllocationProbe: a single request of %zu bytes exceeds the limit of %zu bytes\n", size, probeLimit);
                std::fflush (stderr);
                std::abort();
            }

            probeTotal += size;
            if (size > probeLargest)
                probeLargest = size;
        }

        if (auto* p = std::malloc (size == 0 ? 1 : size))
            return p;

        throw std::bad_alloc();
    }
} // namespace

namespace qvn::fuzz
{
    AllocationScope::AllocationScope (std::size_t hardLimitBytes) noexcept
    {
        probeLargest = 0;
        probeTotal = 0;
        probeLimit = hardLimitBytes;
        probeArmed = true;
    }

    AllocationScope::~AllocationScope()                        { probeArmed = false; }
    std::size_t AllocationScope::largestRequest() const noexcept { return probeLargest; }
    std::size_t AllocationScope::totalRequested() const noexcept { return probeTotal; }
} // namespace qvn::fuzz

void* operator new (std::size_t size)                                   { return allocate (size); }
void* operator new[] (std::size_t size)                                 { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept   { try { return allocate (size); } catch (...) { return nullptr; } }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { try { return allocate (size); } catch (...) { return nullptr; } }
void operator delete (void* p) noexcept                                 { std::free (p); }
void operator delete[] (void* p) noexcept                               { std::free (p); }
void operator delete (void* p, std::size_t) noexcept                    { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept                  { std::free (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept          { std::free (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept        { std::free (p); }
