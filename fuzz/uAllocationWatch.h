#pragma once
// The size of the largest single allocation since the last reset, and the bytes of all
// allocations together. Under the sanitizers
// it is taken from the allocator's hooks and sees every malloc and operator new;
// otherwise from a replaced operator new, which sees every container and string but not
// what ICU takes with malloc. It lives in a unit of its own so that the replaced
// operators are never inlined beside their callers.

#include <cstddef>

[[nodiscard]] bool AllocationWatchActive();
void ResetAllocationWatch();
[[nodiscard]] size_t LargestAllocationSinceReset();
// The bytes of all allocations since the last reset, freed or not.
[[nodiscard]] size_t TotalAllocatedSinceReset();
