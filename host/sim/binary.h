// SPDX-License-Identifier: MIT
// The module-file inspector: what a shared-library file declares, read from its bytes alone, on
// any platform: ELF (32- and 64-bit, either byte order) and PE (PE32 and PE32+). It answers the
// format, the pointer width, the machine, the exported symbol names and the imported libraries,
// without loading or running anything. Mach-O files, thin or universal, are read by
// host/sim/macho.h: of a universal file the slice the running processor would load.
//
//   sim::BinaryInfo info;
//   std::string error;
//   if (!sim::inspect_binary_file("modules/zendro_kardel_64.so", &info, &error)) ... error ...
//   info.exports == {"_mod_descrip"}; info.pointer_bits == 64; info.imports == {"libm.so.6", ...}
//
// Exports: ELF, the defined global and weak symbols of the dynamic symbol table whose visibility
// lets another object bind to them (default or protected); PE, the names of the export directory.
// Mach-O, the names of the export trie as C names (without the leading underscore the format
// adds).
// Imports: ELF, the DT_NEEDED entries of the dynamic section; PE, the DLL names of the import
// directory; Mach-O, the libraries loaded (LC_LOAD_DYLIB). Both lists keep the file's order; an ELF symbol defined in
// several versions is listed once per version, and version names themselves are listed, as nm -D shows them.
//
// Bad input gives an error, never a read outside the bytes given. Errors start with an id:
//   binary-unknown-format  neither an ELF nor a PE nor a Mach-O file (a text file, random bytes)
//   binary-truncated       shorter than its fixed headers
//   binary-outside-file    a table, section or name lies (partly) beyond the end of the file:
//                          truncated or damaged
//   binary-malformed       a header or table is inconsistent (unknown class, entry size, magic)
//   binary-macho-...       a Mach-O file this host cannot load: see host/sim/macho.h
// The ids are constants of host/sim/violation_ids.h.
#ifndef HOST_BINARY_H
#define HOST_BINARY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/sim/violation_ids.h"

namespace sim {

enum class BinaryFormat { Elf, Pe, MachO };

struct BinaryInfo {
    BinaryFormat format = BinaryFormat::Elf;
    int pointer_bits = 0;        // 32 or 64: ELF class, PE32 or PE32+
    uint16_t machine = 0;        // ELF e_machine, PE file header Machine; Mach-O: the ELF number of
                                 // its processor (62 x86-64, 183 AArch64), its own type otherwise
    std::string machine_name;    // "x86-64", "x86", "AArch64", ... or "machine 0x1234"
    bool shared_library = false; // ELF type ET_DYN, PE characteristic DLL, Mach-O bundle or library
    bool universal = false;      // Mach-O: a universal file (the fields describe one slice)
    bool code_signature = false; // Mach-O: signed, and the signature matches the bytes
    std::vector<std::string> exports;
    std::vector<std::string> imports;
};

// "ELF32", "ELF64", "PE32", "PE32+" or "Mach-O 64-bit", from the format and pointer width.
std::string binary_kind(const BinaryInfo &info);

// "0x" and the number in lower-case hexadecimal, as the inspectors' messages show offsets.
std::string hex_number(uint64_t v);

// Reads `size` bytes at `data`. On failure returns false, sets `error` and leaves `info` partly
// filled (never read past the bytes given).
bool inspect_binary(const unsigned char *data, size_t size, BinaryInfo *info, std::string *error);
// The same for a file; files larger than 256 MiB are refused.
bool inspect_binary_file(const std::string &path, BinaryInfo *info, std::string *error);

} // namespace sim

#endif // HOST_BINARY_H
