#include "core/allocator.h"

#include <QTimer>

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace {
// Above the largest socket read (1 MB), so the relay's own buffers stay in
// the heap and are reused at no cost.
[[maybe_unused]] constexpr int kOwnMappingBytes = 4 * 1024 * 1024;
// Less than this lying free is not worth the pages faulted back in later.
[[maybe_unused]] constexpr size_t kTrimAboveBytes = 8 * 1024 * 1024;
constexpr int kTrimEveryMs = 5000;
} // namespace

void settleAllocator()
{
#if defined(M_MMAP_THRESHOLD)
    // A fixed threshold also turns off the allocator's sliding one.
    ::mallopt(M_MMAP_THRESHOLD, kOwnMappingBytes);
#endif
}

bool trimHeap()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
    // Counts every arena (the log writer's thread has one of its own), and
    // pages given back before still count as free: those cost nothing to
    // give back again.
    if (::mallinfo2().fordblks < kTrimAboveBytes)
        return false;
    ::malloc_trim(0);
    return true;
#else
    return false;
#endif
}

void keepHeapTrimmed(QObject *owner)
{
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [] { trimHeap(); });
    timer->start(kTrimEveryMs);
}
