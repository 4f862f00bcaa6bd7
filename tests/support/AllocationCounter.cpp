#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local bool counting = false;
thread_local long allocations = 0;
} // namespace

namespace qvn::test
{
long& allocationsCounted() noexcept { return allocations; }
bool& allocationCountingOn() noexcept { return counting; }
} // namespace qvn::test

void* operator new (std::size_t size)
{
    if (counting)
        ++allocations;

    if (auto* p = std::malloc (size == 0 ? 1 : size))
        return p;

    throw std::bad_alloc();
}

void* operator new[] (std::size_t size) { return operator new (size); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
