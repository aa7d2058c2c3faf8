// SPDX-License-Identifier: MIT
// The allocation hooks a module's malloc, calloc, realloc and free imports are pointed at (see
// imports.cpp): counters, the table of blocks the module holds, and failure injection. They
// forward to the C runtime as the simulator itself calls it; the table's own allocations are the
// simulator's and pass no hook.
#include "host/sim/alloc_hooks.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "host/sim/internal.h"

namespace sim {

namespace {

AllocCounts g_counts;

// Failure injection: qualifying allocations still to let through, then still to fail.
unsigned g_pass, g_fail;
bool g_fail_all;
size_t g_fail_min;

// What the module holds: address -> size. Addresses it freed stay in g_freed (until the runtime
// hands them out again) so that a second free is told apart from a foreign pointer.
std::unordered_map<void *, size_t> g_live;
std::unordered_set<void *> g_freed;
size_t g_live_bytes;

std::string g_redirect_failure;

bool should_fail(size_t size) {
    if (size < g_fail_min) return false;
    if (g_fail_all) return true;
    if (g_pass > 0) {
        --g_pass;
        return false;
    }
    if (g_fail > 0) {
        --g_fail;
        return true;
    }
    return false;
}

void *refuse() {
    ++g_counts.failed_calls;
    errno = ENOMEM;
    return nullptr;
}

void hold(void *p, size_t size) {
    g_freed.erase(p);
    auto it = g_live.find(p);
    if (it != g_live.end()) {
        // Only when the block came back through a path the hooks did not see (the module freed it
        // after its entries were restored, during unloading): the table follows the runtime.
        g_live_bytes -= it->second;
        it->second = size;
    } else {
        g_live.emplace(p, size);
    }
    g_live_bytes += size;
}

void release(void *p) {
    auto it = g_live.find(p);
    g_live_bytes -= it->second;
    g_live.erase(it);
    g_freed.insert(p);
}

// A free or realloc of `p`, which the module does not hold.
void unknown_block(const char *operation, void *p) {
    ++g_counts.unknown_frees;
    Host *h = Host::current();
    if (!h) return;
    const bool freed = g_freed.count(p) != 0;
    h->violation(violation_id::memory_free_unknown,
                 std::string("a ") + operation + " of a block the module allocated and holds",
                 std::string(operation) + "(" + hex(p) + "), " +
                     (freed ? "a block the module already freed" : "an address the module never allocated") +
                     "; not passed to the C runtime",
                 freed ? "a double free, or a pointer kept after free or after a successful realloc"
                       : "a pointer the host or another library owns, or one that is not a block's start");
}

} // namespace

void *hook_malloc(size_t size) {
    ++g_counts.malloc_calls;
    if (should_fail(size)) return refuse();
    void *p = std::malloc(size);
    if (p) hold(p, size);
    return p;
}

void *hook_calloc(size_t n, size_t size) {
    ++g_counts.calloc_calls;
    // The product, when it does not overflow; an overflowing request fails in the C runtime.
    const size_t total = size != 0 && n > static_cast<size_t>(-1) / size ? static_cast<size_t>(-1) : n * size;
    if (should_fail(total)) return refuse();
    void *p = std::calloc(n, size);
    if (p) hold(p, total);
    return p;
}

void *hook_realloc(void *p, size_t size) {
    ++g_counts.realloc_calls;
    if (p && !g_live.count(p)) {
        unknown_block("realloc", p);
        errno = ENOMEM;
        return nullptr;
    }
    if ((!p || size != 0) && should_fail(size)) return refuse();
    void *q = std::realloc(p, size);
    if (!q && (size != 0 || !p)) return nullptr; // the runtime refused: the old block stays held
    if (p) release(p);
    // A realloc to 0 bytes that answered null freed the block; a non-null answer is a new block.
    if (q) hold(q, size);
    return q;
}

void hook_free(void *p) {
    if (!p) return;
    ++g_counts.free_calls;
    if (!g_live.count(p)) {
        unknown_block("free", p);
        return;
    }
    release(p);
    std::free(p);
}

void note_redirect_failure(const std::string &why) {
    if (g_redirect_failure.empty()) g_redirect_failure = why;
}

bool alloc_hooks_available() { return g_redirect_failure.empty(); }

const char *alloc_hooks_unavailable_reason() { return g_redirect_failure.c_str(); }

AllocCounts alloc_counts() { return g_counts; }

void alloc_reset_counts() { g_counts = AllocCounts(); }

size_t alloc_live_blocks() { return g_live.size(); }

size_t alloc_live_bytes() { return g_live_bytes; }

void alloc_fail_after(unsigned pass, unsigned count, size_t min_size) {
    g_pass = pass;
    g_fail = count;
    g_fail_all = false;
    g_fail_min = min_size;
}

void alloc_fail_next(unsigned count, size_t min_size) { alloc_fail_after(0, count, min_size); }

void alloc_fail_all(size_t min_size) {
    g_pass = g_fail = 0;
    g_fail_all = true;
    g_fail_min = min_size;
}

void alloc_fail_none() {
    g_pass = g_fail = 0;
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
    d.unknown_frees = now.unknown_frees - start_.unknown_frees;
    return d;
}

} // namespace sim
