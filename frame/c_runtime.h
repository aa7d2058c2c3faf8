// SPDX-License-Identifier: MIT
// The C runtime routines module code calls: memory, strings, formatting and the few mathematical
// functions the tools need. Every module source takes them from here.
//
// Linux and Windows builds read them from the system's own headers. A macOS build has no SDK and
// so no C headers: the routines are declared below, as the system's C library
// (/usr/lib/libSystem.B.dylib) exports them to 64-bit code. The module links against our text stub
// of that library, cmake/macos/libSystem.tbd, which lists exactly the names the modules import
// (the test macos-stub-matches-imports keeps the two in step): a routine added here and called
// needs its name added there.
#ifndef FRAME_C_RUNTIME_H
#define FRAME_C_RUNTIME_H

#if defined(__APPLE__)

#include <stddef.h> // clang's own: size_t

#ifdef __cplusplus
extern "C" {
#endif

// <stdlib.h>: blocks owned by the caller, released with free().
void *malloc(size_t size);
void *realloc(void *block, size_t size);
void free(void *block);

// <string.h>
void *memcpy(void *to, const void *from, size_t size);
void *memmove(void *to, const void *from, size_t size);
void *memset(void *to, int byte, size_t size);
size_t strspn(const char *text, const char *accepted);

// <stdio.h>: variadic, so an arm64 caller passes the values on the stack in 8-byte slots.
int snprintf(char *buffer, size_t size, const char *format, ...);

// <math.h>: angles in radians.
double sin(double x);
double cos(double x);
double sqrt(double x);
double trunc(double x);
double fabs(double x);

#ifdef __cplusplus
}
#endif

// The classification macros of <math.h> are the compiler's own tests; NAN is a quiet NaN.
#define NAN __builtin_nanf("")
#define isfinite(x) __builtin_isfinite(x)
#define isnan(x) __builtin_isnan(x)

#else

#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#endif

#endif
