// SPDX-License-Identifier: MIT
// The allocation hooks: malloc, realloc, calloc and free of the test executable, forwarding to the
// C library's own entry points, with counters and failure injection.
#include "host/alloc_hooks.h"

#include <cerrno>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define ZENDRO_HOOKS_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZENDRO_HOOKS_SANITIZED 1
#endif

#if defined(__linux__) && defined(__GLIBC__) && !defined(ZENDRO_HOOKS_SANITIZED)
#define ZENDRO_HOOKS_ON 1
#else
#define ZENDRO_HOOKS_ON 0
#endif

namespace {
// Plain words: the hooks run before any constructor and inside the C library.
uint64_t g_malloc, g_realloc, g_calloc, g_free, g_failed;
unsigned g_fail_pass, g_fail_next;
bool g_fail_all;
size_t g_fail_min;
} // namespace

#if ZENDRO_HOOKS_ON

// Set by the simulator while its own code runs; absent (null address) when the simulator is not
// linked in.
extern "C" __attribute__((weak)) int zendro_sim_host_depth;

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_realloc(void *p, size_t size);
void *__libc_calloc(size_t n, size_t size);
void __libc_free(void *p);
}

namespace {
bool host_side() { return &zendro_sim_host_depth && zendro_sim_host_depth > 0; }

// True when this allocation of `size` bytes is to fail.
bool should_fail(size_t size) {
    if (size < g_fail_min) return false;
    if (g_fail_all) return true;
    if (g_fail_next > 0 && g_fail_pass > 0) {
        --g_fail_pass;
        return false;
    }
    if (g_fail_next > 0) {
        --g_fail_next;
        return true;
    }
    return false;
}
} // namespace

extern "C" {

__attribute__((visibility("default"))) void *malloc(size_t size) noexcept {
    if (!host_side()) {
        ++g_malloc;
        if (should_fail(size)) {
            ++g_failed;
            errno = ENOMEM;
            return nullptr;
        }
    }
    return __libc_malloc(size);
}

__attribute__((visibility("default"))) void *realloc(void *p, size_t size) noexcept {
    if (!host_side()) {
        ++g_realloc;
        if (should_fail(size)) {
            ++g_failed;
            errno = ENOMEM;
            return nullptr;
        }
    }
    return __libc_realloc(p, size);
}

__attribute__((visibility("default"))) void *calloc(size_t n, size_t size) noexcept {
    if (!host_side()) {
        ++g_calloc;
        // The product, when it does not overflow; an overflowing request fails in the C library.
        const size_t total = size != 0 && n > static_cast<size_t>(-1) / size ? static_cast<size_t>(-1) : n * size;
        if (should_fail(total)) {
            ++g_failed;
            errno = ENOMEM;
            return nullptr;
        }
    }
    return __libc_calloc(n, size);
}

__attribute__((visibility("default"))) void free(void *p) noexcept {
    if (p && !host_side()) ++g_free;
    __libc_free(p);
}

} // extern "C"

#endif

namespace sim {

bool alloc_hooks_available() { return ZENDRO_HOOKS_ON != 0; }

const char *alloc_hooks_unavailable_reason() {
#if ZENDRO_HOOKS_ON
    return "";
#elif defined(ZENDRO_HOOKS_SANITIZED)
    return "allocation hooks are off under the address sanitizer, which owns malloc";
#else
    return "allocation hooks need Linux with glibc";
#endif
}

AllocCounts alloc_counts() {
    AllocCounts c;
    c.malloc_calls = g_malloc;
    c.realloc_calls = g_realloc;
    c.calloc_calls = g_calloc;
    c.free_calls = g_free;
    c.failed_calls = g_failed;
    return c;
}

void alloc_reset_counts() { g_malloc = g_realloc = g_calloc = g_free = g_failed = 0; }

void alloc_fail_next(unsigned count, size_t min_size) { alloc_fail_after(0, count, min_size); }

void alloc_fail_after(unsigned pass, unsigned count, size_t min_size) {
    g_fail_pass = pass;
    g_fail_next = count;
    g_fail_all = false;
    g_fail_min = min_size;
}

void alloc_fail_all(size_t min_size) {
    g_fail_pass = g_fail_next = 0;
    g_fail_all = true;
    g_fail_min = min_size;
}

void alloc_fail_none() {
    g_fail_pass = g_fail_next = 0;
    g_fail_all = false;
    g_fail_min = 0;
}

AllocCounts AllocScope::delta() const {
    const AllocCounts now = alloc_counts();
    AllocCounts d;
    d.malloc_calls = now.malloc_calls - start_.malloc_calls;
    d.realloc_calls = now.realloc_calls - start_.realloc_calls;
    d.calloc_calls = now.calloc_calls - start_.calloc_calls;
    d.free_calls = now.free_calls - start_.free_calls;
    d.failed_calls = now.failed_calls - start_.failed_calls;
    return d;
}

} // namespace sim
