// Large buffers: glibc's mapping threshold and the kernel's page population. On Windows the C runtime's heap
// already takes blocks this large straight from the system (VirtualAlloc) and gives them back when freed, and
// its pages are had as they are touched: neither hint applies.
#include "platform/Memory.h"

#ifndef _WIN32
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <mutex>

namespace orv::platform {

// A part's text, and its compressed bytes while they grow, take several megabytes each, and come and go by
// the hundred while a rename rewrites the parts that name a sheet. glibc serves such blocks from its heaps
// once one was freed (its mmap threshold rises to the largest block freed), where they fragment: a rename of
// a large workbook kept some fifty megabytes freed but not given back. A fixed threshold maps them, so that
// each goes back to the system when it is freed; the many blocks of a megabyte stay on the heaps, where they
// are reused.
void ReturnLargeBuffersAtOnce() {
#ifdef __GLIBC__
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 4 << 20); });
#endif
}

// About 25 of the 160 ms it takes to read a 100 MB part went to a page fault for every 4 KB.
void Prefault(void* buffer, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    constexpr std::size_t kFrom = 4u << 20;
    if (size < kFrom) return;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(buffer) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(page - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)buffer;
    (void)size;
#endif
}

}  // namespace orv::platform
