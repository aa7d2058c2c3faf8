// SPDX-License-Identifier: MIT
// Allocation hooks for module tests: counts of a loaded module's allocations, the blocks it holds,
// and chosen allocations made to fail.
//
// Mechanism: when sim::Module loads a module file, and before anything in it is called, the
// simulator rewrites the module's own imports of malloc, calloc, realloc and free so that they
// point at the hooks below:
//   - ELF (Linux, both widths): the loaded object's dynamic section (found through its link map)
//     lists its relocations; every JUMP_SLOT and GLOB_DAT relocation of one of the four names
//     has its GOT entry rewritten. A GOT under RELRO is made writable for the write and then
//     given back the protection of its segment.
//   - PE (Windows, both widths): the import directory lists the C runtime DLL (msvcrt.dll,
//     ucrtbase.dll or an api-ms-win-crt-heap-* set); its entries are found by name through the
//     import name table and their IAT slots rewritten, with VirtualProtect around the write.
// The hooks forward to the C runtime's own routines, as the simulator's own code calls them (in
// the address-sanitizer build that is the sanitizer's allocator). Only the module's calls pass
// through them: the simulator, the test and other libraries allocate as usual, uncounted. When the
// last sim::Module of a file is destroyed the original entries are put back before it is unloaded,
// so the module's own run-time teardown frees whatever it allocated before the redirection.
//
// Ownership: every block the module obtains is recorded by address and size until it frees it.
// A free or realloc of an address the module does not hold (never allocated through the hooks, or
// already freed) is a "memory-free-unknown" violation of the current Host (with no Host it is
// only counted), and is not passed to the C runtime: a foreign or freed block is never freed
// (again). Such a realloc answers null, so the module keeps its pointer. free(null) is a no-op
// and no violation.
//
// Nothing here is thread-safe; the host calls the module from one thread.
#ifndef HOST_ALLOC_HOOKS_H
#define HOST_ALLOC_HOOKS_H

#include <cstddef>
#include <cstdint>

namespace sim {

// True while every module loaded so far had its allocation imports redirected (on every target
// the simulator builds for); false after a load where that failed, and the reason says why.
bool alloc_hooks_available();
const char *alloc_hooks_unavailable_reason(); // empty when available

struct AllocCounts {
    uint64_t malloc_calls = 0;
    uint64_t realloc_calls = 0;
    uint64_t calloc_calls = 0;
    uint64_t free_calls = 0;    // free of a non-null pointer
    uint64_t failed_calls = 0;  // allocations made to fail
    uint64_t unknown_frees = 0; // frees and reallocs of a block the module did not hold
    uint64_t allocations() const { return malloc_calls + realloc_calls + calloc_calls; }
};

// Counts since the start or the last reset; the live blocks below are not touched by a reset.
AllocCounts alloc_counts();
void alloc_reset_counts();

// The blocks the module holds now: allocated through the hooks and not yet freed.
size_t alloc_live_blocks();
size_t alloc_live_bytes();

// Failure injection. A qualifying allocation is a malloc, calloc or realloc of at least
// `min_size` bytes (calloc: the product); a realloc of a held block to 0 bytes releases it and
// never qualifies. A failed allocation answers null with errno ENOMEM; a failed realloc leaves
// the block held and unchanged. Each call replaces the previous setting.
//
// Lets `pass` qualifying allocations succeed, then makes the next `count` fail; later ones succeed.
void alloc_fail_after(unsigned pass, unsigned count, size_t min_size = 0);
// The same as alloc_fail_after(0, count, min_size).
void alloc_fail_next(unsigned count, size_t min_size = 0);
// Makes every qualifying allocation fail until alloc_fail_none().
void alloc_fail_all(size_t min_size = 0);
void alloc_fail_none();

// Counts the allocations made during its lifetime; stops any failure injection when it ends.
class AllocScope {
public:
    AllocScope() : start_(alloc_counts()) {}
    ~AllocScope() { alloc_fail_none(); }
    AllocScope(const AllocScope &) = delete;
    AllocScope &operator=(const AllocScope &) = delete;
    AllocCounts delta() const;

private:
    AllocCounts start_;
};

} // namespace sim

#endif // HOST_ALLOC_HOOKS_H
