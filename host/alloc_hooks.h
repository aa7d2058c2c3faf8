// SPDX-License-Identifier: MIT
// Allocation hooks for module tests: the test executable defines malloc, realloc, calloc and free
// itself, forwarding to the C library, so that it can count a loaded module's allocations and make
// chosen ones fail. A module that is loaded at run time resolves these names to the executable's
// definitions, which therefore must be exported dynamically (the zendro_alloc_hooks target adds the
// link option that does so).
//
// Allocations made by the simulator itself (its service routines, trace and bookkeeping) are
// neither counted nor failed: counts and failures concern the module and the test's own code.
// Failure injection therefore also hits the test's allocations between module calls; stop it
// (alloc_fail_none) before the test allocates again.
//
// Available on Linux builds without the address sanitizer; elsewhere every call is a no-op, the
// counts stay 0 and alloc_hooks_available() answers false, so a test can skip with the reason.
#ifndef HOST_ALLOC_HOOKS_H
#define HOST_ALLOC_HOOKS_H

#include <cstddef>
#include <cstdint>

namespace sim {

bool alloc_hooks_available();
const char *alloc_hooks_unavailable_reason(); // empty when available

struct AllocCounts {
    uint64_t malloc_calls = 0;
    uint64_t realloc_calls = 0;
    uint64_t calloc_calls = 0;
    uint64_t free_calls = 0;   // free of a non-null pointer
    uint64_t failed_calls = 0; // allocations made to fail
    uint64_t allocations() const { return malloc_calls + realloc_calls + calloc_calls; }
};

AllocCounts alloc_counts();
void alloc_reset_counts();

// Makes the next `count` allocations (malloc, realloc, calloc) of at least `min_size` bytes fail,
// answering null with errno ENOMEM; smaller ones succeed. A failed realloc leaves the block alive.
void alloc_fail_next(unsigned count, size_t min_size = 0);
// Lets the next `pass` allocations of at least `min_size` bytes succeed, then makes `count` of them
// fail (the (pass + 1)-th qualifying allocation from now is the first to fail).
void alloc_fail_after(unsigned pass, unsigned count, size_t min_size = 0);
// Makes every allocation of at least `min_size` bytes fail until alloc_fail_none().
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
