// SPDX-License-Identifier: MIT
// Mach-O module files: the reader shared by the module-file inspector (binary.cpp) and the loader
// below, which maps a bundle into a Linux process the way the system's loader would on a Mac.
//
// The reader takes a thin 64-bit file or a universal one; of a universal file it reads the slice
// of the running process's processor, else the x86-64 slice, else the arm64 one. It parses the
// load commands, the segments and their sections, the libraries loaded, the rebase, bind and
// lazy-bind opcodes (into lists of fixups), the export trie and the code signature, which it
// verifies (SHA-256 of every 4 KiB page) and requires on arm64. What the loader below cannot honour
// is refused here already, so the inspector and the loader agree: a 32-bit file, chained fixups,
// weak binds and weak imports, thread-local data, re-exports and resolvers.
//
// Errors start with an id, as the inspector's do (host/sim/binary.h):
//   binary-truncated, binary-outside-file, binary-malformed   as for ELF and PE
//   binary-macho-no-slice       a universal file without an x86-64 or arm64 slice
//   binary-macho-32-bit         a 32-bit Mach-O file (or the only slice of one)
//   binary-macho-unsupported    chained fixups, a weak or thread-local bind, a re-export, ...
//   binary-macho-export-trie    the export trie is damaged (an edge outside it, a loop)
//   binary-macho-signature      the code signature is missing (arm64) or does not match the bytes
#ifndef HOST_MACHO_H
#define HOST_MACHO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

constexpr uint32_t k_macho_cpu_x86_64 = 0x01000007, k_macho_cpu_arm64 = 0x0100000c;

struct MachoSection {
    std::string name;
    uint64_t addr = 0, size = 0;
    uint32_t flags = 0;
};

struct MachoSegment {
    std::string name;
    uint64_t vmaddr = 0, vmsize = 0, fileoff = 0, filesize = 0; // fileoff: from the slice's start
    uint32_t initprot = 0;
    std::vector<MachoSection> sections;
};

// A pointer-sized location at `offset` bytes into segment `segment`.
struct MachoRebase {
    unsigned segment = 0;
    uint64_t offset = 0;
};

struct MachoBind {
    std::string symbol; // as in the file, with the leading underscore of C names
    unsigned segment = 0;
    uint64_t offset = 0;
    int64_t addend = 0;
    bool lazy = false;
};

struct MachoExport {
    std::string name;    // as in the file
    uint64_t offset = 0; // from the image's start (the __TEXT segment's address)
};

struct MachoImage {
    uint32_t cputype = 0, filetype = 0;
    size_t slice_offset = 0, slice_size = 0; // the slice read, within the file
    uint32_t load_commands = 0;
    bool signature = false; // a code signature is present (and matched the bytes)
    std::vector<MachoSegment> segments;
    std::vector<std::string> libraries; // the LC_LOAD_DYLIB paths, in order
    std::vector<MachoRebase> rebases;
    std::vector<MachoBind> binds;
    std::vector<MachoExport> exports;
};

// True when the bytes start with a Mach-O or universal magic number (either byte order).
bool macho_magic(const unsigned char *data, size_t size);
// "x86-64", "AArch64", ... or "processor 0x…".
std::string macho_cpu_name(uint32_t cputype);
// The Mach-O processor type of the running process; 0 on a processor without 64-bit Mach-O code.
uint32_t macho_host_cpu();

// Reads the file's slice for this processor (see above) into `image`. With `every_slice`, the other
// x86-64 or arm64 slice of a universal file is read too, and its faults reported as well.
bool read_macho(const unsigned char *data, size_t size, MachoImage *image, std::string *error,
                bool every_slice = false);

// The loader: maps the slice of the process's processor from the file at `path`, applies the
// rebases, binds every import (lazy ones too) to the host's own routines, the allocation routines
// to the allocation hooks (host/sim/alloc_hooks.h), runs the initialisers and gives each segment
// its protection. Answers a handle for macho_symbol and macho_close, or null with the reason.
// Available where the slice's code can run: Linux x86-64 and Linux aarch64.
void *macho_open(const std::string &path, std::string *error);
void *macho_symbol(void *handle, const char *name); // a C name, without the underscore
void macho_close(void *handle);
// The loaded image's extent [low, high) and its writable segments (address, size); false for a
// handle macho_open did not make.
bool macho_memory(void *handle, uintptr_t *low, uintptr_t *high,
                  std::vector<std::pair<unsigned char *, size_t>> *writable);
bool macho_handle(void *handle); // made by macho_open and not yet closed
// True when `address` lies in an image macho_open mapped and macho_close has not unmapped: code
// or data of a Mach-O module, which expects the Apple calling convention of its processor.
bool macho_address(const void *address);

} // namespace sim

#endif // HOST_MACHO_H
