// Allocation that fails on demand, for the cases that prove no exception
// leaves a native; plain malloc and free otherwise.  A unit of its own, so
// that the compiler does not pair these with the callers' own allocations.
#include <cstdlib>
#include <new>

bool g_failAllocations = false;

void* operator new(std::size_t size)
{
    if (g_failAllocations) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
