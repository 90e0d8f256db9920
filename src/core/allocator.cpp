#include "core/allocator.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace {
// Above the largest socket read (1 MB), so the relay's own buffers stay in
// the heap and are reused at no cost.
[[maybe_unused]] constexpr int kOwnMappingBytes = 4 * 1024 * 1024;
} // namespace

void settleAllocator()
{
#if defined(M_MMAP_THRESHOLD)
    // A fixed threshold also turns off the allocator's sliding one.
    ::mallopt(M_MMAP_THRESHOLD, kOwnMappingBytes);
#endif
}
