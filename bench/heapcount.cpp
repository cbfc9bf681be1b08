// Counting replacements of glibc's allocation functions for a benchmark program:
// each passes the call to glibc's own implementation (the __libc_ entries) and
// adds or subtracts the usable size of the block. Defined in the program, they
// take the place of glibc's for every library it loads. A sanitizer brings its
// own allocator: such builds leave RYX_HEAPCOUNT undefined and count nothing.
#include "heapcount.h"

#ifdef RYX_HEAPCOUNT

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* pointer);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

// Bytes allocated less bytes freed since counting started, and their highest
// value; counted only while g_counting is set.
std::atomic<bool> g_counting{false};
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void* counted(void* pointer) {
    if (pointer != nullptr && g_counting.load(std::memory_order_relaxed)) {
        const long long size = static_cast<long long>(malloc_usable_size(pointer));
        const long long now = g_live.fetch_add(size, std::memory_order_relaxed) + size;
        long long peak = g_peak.load(std::memory_order_relaxed);
        while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
        }
    }
    return pointer;
}

void uncount(void* pointer) {
    if (pointer != nullptr && g_counting.load(std::memory_order_relaxed)) {
        g_live.fetch_sub(static_cast<long long>(malloc_usable_size(pointer)),
                         std::memory_order_relaxed);
    }
}

}  // namespace

namespace heapcount {

bool active() {
    return true;
}

size_t peakDuring(const std::function<void()>& work) {
    g_live.store(0);
    g_peak.store(0);
    g_counting.store(true);
    try {
        work();
    } catch (...) {
        g_counting.store(false);
        throw;
    }
    g_counting.store(false);
    return static_cast<size_t>(g_peak.load());
}

}  // namespace heapcount

extern "C" {

void* malloc(size_t size) {
    return counted(__libc_malloc(size));
}

void free(void* pointer) {
    uncount(pointer);
    __libc_free(pointer);
}

void* calloc(size_t count, size_t size) {
    return counted(__libc_calloc(count, size));
}

void* realloc(void* pointer, size_t size) {
    if (!g_counting.load(std::memory_order_relaxed)) {
        return __libc_realloc(pointer, size);
    }
    const size_t before = pointer != nullptr ? malloc_usable_size(pointer) : 0;
    void* moved = __libc_realloc(pointer, size);
    if (moved != nullptr || size == 0) {
        // The old block is gone (moved, grown in place, or freed by size 0).
        g_live.fetch_sub(static_cast<long long>(before), std::memory_order_relaxed);
        counted(moved);
    }
    return moved;
}

void* memalign(size_t alignment, size_t size) {
    return counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) {
    return counted(__libc_memalign(alignment, size));
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    void* pointer = counted(__libc_memalign(alignment, size));
    if (pointer == nullptr) {
        return ENOMEM;
    }
    *out = pointer;
    return 0;
}

void* valloc(size_t size) {
    return counted(__libc_memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size));
}

void* pvalloc(size_t size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return counted(__libc_memalign(page, (size + page - 1) / page * page));
}

}  // extern "C"

#else

namespace heapcount {

bool active() {
    return false;
}

size_t peakDuring(const std::function<void()>& work) {
    work();
    return 0;
}

}  // namespace heapcount

#endif
