#include "uAllocationWatch.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define TARNWICK_ALLOCATION_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWICK_ALLOCATION_HOOKS 1
#endif
#endif

namespace {

std::atomic<size_t> LargestAllocation{0};
std::atomic<size_t> TotalAllocated{0};

void NoteAllocation(size_t size)
{
    TotalAllocated.fetch_add(size, std::memory_order_relaxed);
    size_t seen = LargestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !LargestAllocation.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}

}  // namespace

#ifdef TARNWICK_ALLOCATION_HOOKS
// Under the sanitizers every malloc and every operator new passes the allocator's hooks,
// ICU's buffers included; libFuzzer installs its own beside them.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void MallocHook(const volatile void*, size_t size)
{
    NoteAllocation(size);
}
void FreeHook(const volatile void*) {}
const bool HooksInstalled = __sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook) != 0;
}  // namespace

bool AllocationWatchActive()
{
    return HooksInstalled;
}
#else
// Without the sanitizers the watch sees what goes through operator new: every container
// and string of the reader. Memory ICU takes with malloc is not seen here.
void* operator new(size_t size)
{
    NoteAllocation(size);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}

bool AllocationWatchActive()
{
    return true;
}
#endif

void ResetAllocationWatch()
{
    LargestAllocation.store(0, std::memory_order_relaxed);
    TotalAllocated.store(0, std::memory_order_relaxed);
}

size_t TotalAllocatedSinceReset()
{
    return TotalAllocated.load(std::memory_order_relaxed);
}

size_t LargestAllocationSinceReset()
{
    return LargestAllocation.load(std::memory_order_relaxed);
}
