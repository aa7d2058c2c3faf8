// SPDX-License-Identifier: MIT
// The module-file inspector: ELF and PE headers, symbol, dynamic, export and import tables read
// from bytes with every offset checked against the end of the file first.
#include "host/sim/binary.h"

#include "host/sim/macho.h"

#include <cstdio>
#include <cstring>

namespace sim {

std::string hex_number(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

namespace {

// Bounds-checked little- or big-endian reads. A failed check records the error and answers false;
// every caller returns at once, so the first error is the one reported.
class Reader {
public:
    Reader(const unsigned char *data, size_t size, std::string *error) : data_(data), size_(size), error_(error) {}

    size_t size() const { return size_; }
    void set_big_endian(bool big) { big_ = big; }

    bool fits(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }

    // Checks that [offset, offset + count * entry) lies in the file; `what` names it for the error.
    bool need(uint64_t offset, uint64_t count, uint64_t entry, const char *what) {
        if (entry != 0 && count > UINT64_MAX / entry)
            return fail(violation_id::binary_malformed, std::string(what) + " is too large");
        if (fits(offset, count * entry)) return true;
        return fail(violation_id::binary_outside_file,
                    std::string(what) + " at offset " + hex_number(offset) + " (" + hex_number(count * entry) +
                        " bytes) lies beyond the end of the file (" + hex_number(size_) +
                        " bytes): the file is truncated or damaged");
    }

    // Unchecked reads: the caller has checked the range with fits() or need().
    uint64_t uint(uint64_t offset, int bytes) const {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            const unsigned shift = static_cast<unsigned>(big_ ? bytes - 1 - i : i) * 8u;
            v |= static_cast<uint64_t>(data_[offset + static_cast<uint64_t>(i)]) << shift;
        }
        return v;
    }
    uint16_t u16(uint64_t offset) const { return static_cast<uint16_t>(uint(offset, 2)); }
    uint32_t u32(uint64_t offset) const { return static_cast<uint32_t>(uint(offset, 4)); }
    uint64_t u64(uint64_t offset) const { return uint(offset, 8); }

    // The NUL-terminated text at `offset`, which must end before `limit` (the end of its table).
    bool text(uint64_t offset, uint64_t limit, std::string *out, const char *what) {
        if (limit > size_) limit = size_;
        if (offset >= limit)
            return fail(violation_id::binary_outside_file,
                        std::string(what) + " at offset " + hex_number(offset) + " lies outside its table or the file");
        const unsigned char *start = data_ + offset;
        const void *end = std::memchr(start, 0, static_cast<size_t>(limit - offset));
        if (!end)
            return fail(violation_id::binary_outside_file,
                        std::string(what) + " at offset " + hex_number(offset) + " has no end");
        out->assign(reinterpret_cast<const char *>(start),
                    static_cast<size_t>(static_cast<const unsigned char *>(end) - start));
        return true;
    }

    bool fail(const char *id, const std::string &message) {
        *error_ = std::string(id) + ": " + message;
        return false;
    }

private:
    const unsigned char *data_;
    size_t size_;
    std::string *error_;
    bool big_ = false;
};

// ---- ELF --------------------------------------------------------------------------------------

const char *elf_machine(uint16_t m) {
    switch (m) {
    case 3: return "x86";
    case 62: return "x86-64";
    case 40: return "ARM";
    case 183: return "AArch64";
    case 243: return "RISC-V";
    case 20: return "PowerPC";
    case 21: return "PowerPC64";
    default: return nullptr;
    }
}

struct ElfSection {
    uint32_t type;
    uint64_t offset, size, entsize;
    uint32_t link;
};

constexpr uint32_t k_sht_dynamic = 6, k_sht_nobits = 8, k_sht_dynsym = 11; // section types

class ElfReader {
public:
    ElfReader(Reader &r, BinaryInfo *info) : r_(r), info_(info) {}

    bool read() {
        if (!r_.fits(0, 16)) return r_.fail(violation_id::binary_truncated, "the ELF identification needs 16 bytes");
        const uint64_t cls = r_.uint(4, 1), data = r_.uint(5, 1);
        if (cls != 1 && cls != 2)
            return r_.fail(violation_id::binary_malformed, "unknown ELF class " + std::to_string(cls));
        if (data != 1 && data != 2)
            return r_.fail(violation_id::binary_malformed, "unknown ELF byte order " + std::to_string(data));
        wide_ = cls == 2;
        r_.set_big_endian(data == 2);
        info_->format = BinaryFormat::Elf;
        info_->pointer_bits = wide_ ? 64 : 32;
        const uint64_t header = wide_ ? 64 : 52;
        if (!r_.fits(0, header))
            return r_.fail(violation_id::binary_truncated, "the ELF header needs " + std::to_string(header) +
                                                               " bytes, the file has " + std::to_string(r_.size()));
        info_->shared_library = r_.u16(16) == 3; // ET_DYN
        info_->machine = r_.u16(18);
        const char *name = elf_machine(info_->machine);
        info_->machine_name = name ? name : "machine " + hex_number(info_->machine);
        return read_sections() && read_exports() && read_imports();
    }

private:
    bool read_sections() {
        const uint64_t shoff = wide_ ? r_.u64(40) : r_.u32(32);
        const uint64_t entsize = r_.u16(wide_ ? 58 : 46);
        uint64_t count = r_.u16(wide_ ? 60 : 48);
        if (shoff == 0) {
            if (count != 0)
                return r_.fail(violation_id::binary_malformed, "section headers are counted but not placed");
            return true; // no section headers: nothing to list
        }
        const uint64_t minimum = wide_ ? 64 : 40;
        if (entsize < minimum)
            return r_.fail(violation_id::binary_malformed,
                           "section header entries of " + std::to_string(entsize) + " bytes");
        if (count == 0) { // extended numbering: the count is the size field of section 0
            if (!r_.need(shoff, 1, entsize, "the first section header")) return false;
            count = wide_ ? r_.u64(shoff + 32) : r_.u32(shoff + 20);
        }
        if (!r_.need(shoff, count, entsize, "the section header table")) return false;
        sections_.reserve(static_cast<size_t>(count));
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t at = shoff + i * entsize;
            ElfSection s;
            s.type = r_.u32(at + 4);
            s.offset = wide_ ? r_.u64(at + 24) : r_.u32(at + 16);
            s.size = wide_ ? r_.u64(at + 32) : r_.u32(at + 20);
            s.link = r_.u32(wide_ ? at + 40 : at + 24);
            s.entsize = wide_ ? r_.u64(at + 56) : r_.u32(at + 36);
            if (s.type != k_sht_nobits && !r_.need(s.offset, 1, s.size, ("section " + std::to_string(i)).c_str()))
                return false;
            sections_.push_back(s);
        }
        return true;
    }

    // The string table a symbol or dynamic section links to.
    const ElfSection *linked_strings(const ElfSection &s) {
        if (s.link >= sections_.size() || sections_[s.link].type == k_sht_nobits) {
            r_.fail(violation_id::binary_malformed,
                    "a table links to string table " + std::to_string(s.link) + ", which is not there");
            return nullptr;
        }
        return &sections_[s.link];
    }

    bool read_exports() {
        const uint64_t minimum = wide_ ? 24 : 16;
        for (const ElfSection &s : sections_) {
            if (s.type != k_sht_dynsym) continue;
            const uint64_t entsize = s.entsize ? s.entsize : minimum;
            if (entsize < minimum)
                return r_.fail(violation_id::binary_malformed,
                               "dynamic symbols of " + std::to_string(entsize) + " bytes");
            const ElfSection *strings = linked_strings(s);
            if (!strings) return false;
            for (uint64_t i = 1; i < s.size / entsize; ++i) { // symbol 0 is the null symbol
                const uint64_t at = s.offset + i * entsize;
                const uint32_t name = r_.u32(at);
                const unsigned info = static_cast<unsigned>(r_.uint(wide_ ? at + 4 : at + 12, 1));
                const unsigned other = static_cast<unsigned>(r_.uint(wide_ ? at + 5 : at + 13, 1));
                const uint16_t shndx = r_.u16(wide_ ? at + 6 : at + 14);
                const unsigned bind = info >> 4, visibility = other & 3;
                // Defined (not SHN_UNDEF), global or weak, default or protected visibility.
                if (shndx == 0 || (bind != 1 && bind != 2) || (visibility != 0 && visibility != 3)) continue;
                std::string text;
                if (!r_.text(strings->offset + name, strings->offset + strings->size, &text, "a symbol name"))
                    return false;
                info_->exports.push_back(text);
            }
        }
        return true;
    }

    bool read_imports() {
        const uint64_t entsize = wide_ ? 16 : 8;
        for (const ElfSection &s : sections_) {
            if (s.type != k_sht_dynamic) continue;
            const ElfSection *strings = linked_strings(s);
            if (!strings) return false;
            for (uint64_t i = 0; i < s.size / entsize; ++i) {
                const uint64_t at = s.offset + i * entsize;
                const uint64_t tag = wide_ ? r_.u64(at) : r_.u32(at);
                const uint64_t value = wide_ ? r_.u64(at + 8) : r_.u32(at + 4);
                if (tag == 0) break;    // DT_NULL
                if (tag != 1) continue; // DT_NEEDED
                std::string text;
                if (value >= strings->size)
                    return r_.fail(violation_id::binary_outside_file,
                                   "a needed library's name lies outside its string table");
                if (!r_.text(strings->offset + value, strings->offset + strings->size, &text,
                             "a needed library's name"))
                    return false;
                info_->imports.push_back(text);
            }
        }
        return true;
    }

    Reader &r_;
    BinaryInfo *info_;
    bool wide_ = false;
    std::vector<ElfSection> sections_;
};

// ---- PE ---------------------------------------------------------------------------------------

const char *pe_machine(uint16_t m) {
    switch (m) {
    case 0x14c: return "x86";
    case 0x8664: return "x86-64";
    case 0x1c0:
    case 0x1c4: return "ARM";
    case 0xaa64: return "AArch64";
    default: return nullptr;
    }
}

struct PeSection {
    uint32_t virtual_size, virtual_address, raw_size, raw_offset;
};

class PeReader {
public:
    PeReader(Reader &r, BinaryInfo *info) : r_(r), info_(info) {}

    bool read() {
        if (!r_.fits(0, 64)) return r_.fail(violation_id::binary_truncated, "the DOS header needs 64 bytes");
        const uint64_t pe = r_.u32(0x3c);
        if (!r_.fits(pe, 4) || r_.u32(pe) != 0x00004550)
            return r_.fail(r_.fits(pe, 4) ? violation_id::binary_unknown_format : violation_id::binary_truncated,
                           "a DOS header without the PE signature at " + hex_number(pe) + " (an MS-DOS program?)");
        if (!read_file_header(pe)) return false;
        const uint64_t section_count = r_.u16(pe + 6), optional_size = r_.u16(pe + 20), opt = pe + 24;
        return read_optional_header(opt, optional_size) && read_sections(opt + optional_size, section_count) &&
               read_exports() && read_imports();
    }

private:
    // The COFF file header after the signature at `pe`: machine, characteristics, and the symbol
    // table with its names when there is one.
    bool read_file_header(uint64_t pe) {
        if (!r_.fits(pe + 4, 20)) return r_.fail(violation_id::binary_truncated, "the PE file header needs 20 bytes");
        info_->format = BinaryFormat::Pe;
        info_->machine = r_.u16(pe + 4);
        const char *name = pe_machine(info_->machine);
        info_->machine_name = name ? name : "machine " + hex_number(info_->machine);
        const uint64_t symbols = r_.u32(pe + 12), symbol_count = r_.u32(pe + 16);
        if (symbols != 0) { // the COFF symbol table, then its string table, which starts with its size
            if (!r_.need(symbols, symbol_count, 18, "the symbol table") ||
                !r_.need(symbols + symbol_count * 18, 1, 4, "the symbol names' size"))
                return false;
            const uint64_t names = symbols + symbol_count * 18;
            if (!r_.need(names, 1, r_.u32(names), "the symbol names")) return false;
        }
        info_->shared_library = (r_.u16(pe + 22) & 0x2000) != 0;
        return true;
    }

    // The optional header at `opt`: the pointer width, the headers' size and the data directories.
    bool read_optional_header(uint64_t opt, uint64_t optional_size) {
        if (optional_size < 2 || !r_.fits(opt, optional_size))
            return r_.fail(violation_id::binary_truncated, "the PE optional header lies beyond the end of the file");
        const uint16_t magic = r_.u16(opt);
        if (magic != 0x10b && magic != 0x20b)
            return r_.fail(violation_id::binary_malformed, "unknown optional header magic " + hex_number(magic));
        info_->pointer_bits = magic == 0x20b ? 64 : 32;
        const uint64_t count_at = magic == 0x20b ? 108 : 92;
        if (optional_size < count_at + 4)
            return r_.fail(violation_id::binary_malformed, "the optional header is too short");
        headers_size_ = r_.u32(opt + 60);
        directories_ = opt + count_at + 4;
        directory_count_ = r_.u32(opt + count_at);
        if (directory_count_ > (optional_size - count_at - 4) / 8)
            return r_.fail(violation_id::binary_malformed, "more data directories than the optional header holds");
        return true;
    }

    // The section table at `table`, each section's data within the file.
    bool read_sections(uint64_t table, uint64_t section_count) {
        if (!r_.need(table, section_count, 40, "the section table")) return false;
        for (uint64_t i = 0; i < section_count; ++i) {
            const uint64_t at = table + i * 40;
            PeSection s{r_.u32(at + 8), r_.u32(at + 12), r_.u32(at + 16), r_.u32(at + 20)};
            if (s.raw_size != 0 &&
                !r_.need(s.raw_offset, 1, s.raw_size, ("the data of section " + std::to_string(i)).c_str()))
                return false;
            sections_.push_back(s);
        }
        return true;
    }

    // The file offset of `length` bytes at `rva`, which must lie in the file's data of one section
    // (or in the headers).
    bool offset_of(uint64_t rva, uint64_t length, uint64_t *offset, const char *what) {
        if (rva + length <= headers_size_ && r_.fits(rva, length)) {
            *offset = rva;
            return true;
        }
        for (const PeSection &s : sections_) {
            if (rva < s.virtual_address) continue;
            const uint64_t within = rva - s.virtual_address;
            if (within < s.raw_size && length <= s.raw_size - within) {
                *offset = s.raw_offset + within;
                return true;
            }
        }
        return r_.fail(violation_id::binary_outside_file,
                       std::string(what) + " at address " + hex_number(rva) + " lies in no section's data in the file");
    }

    // The name at `rva`: its text may run to the end of the file, no further.
    bool name_at(uint64_t rva, std::string *out, const char *what) {
        uint64_t at;
        return offset_of(rva, 1, &at, what) && r_.text(at, r_.size(), out, what);
    }

    bool directory(unsigned index, uint64_t *rva) {
        *rva = index < directory_count_ ? r_.u32(directories_ + index * 8u) : 0;
        return *rva != 0;
    }

    bool read_exports() {
        uint64_t rva, dir;
        if (!directory(0, &rva)) return true;
        if (!offset_of(rva, 40, &dir, "the export directory")) return false;
        const uint64_t count = r_.u32(dir + 24);
        const uint64_t names_rva = r_.u32(dir + 32);
        if (count == 0) return true;
        uint64_t names;
        if (count > r_.size() / 4)
            return r_.fail(violation_id::binary_outside_file, "more export names than the file can hold");
        if (!offset_of(names_rva, count * 4, &names, "the export name table")) return false;
        for (uint64_t i = 0; i < count; ++i) {
            std::string text;
            if (!name_at(r_.u32(names + i * 4), &text, "an export name")) return false;
            info_->exports.push_back(text);
        }
        return true;
    }

    bool read_imports() {
        uint64_t rva;
        if (!directory(1, &rva)) return true;
        for (uint64_t i = 0;; ++i) {
            uint64_t at;
            if (!offset_of(rva + i * 20, 20, &at, "an import descriptor")) return false;
            const uint64_t name = r_.u32(at + 12);
            if (name == 0) break; // the all-null descriptor ends the table
            std::string text;
            if (!name_at(name, &text, "an imported library's name")) return false;
            info_->imports.push_back(text);
        }
        return true;
    }

    Reader &r_;
    BinaryInfo *info_;
    uint64_t headers_size_ = 0, directories_ = 0, directory_count_ = 0;
    std::vector<PeSection> sections_;
};

bool read_macho_info(const unsigned char *data, size_t size, BinaryInfo *info, std::string *error) {
    MachoImage image;
    const bool ok = read_macho(data, size, &image, error, true);
    info->format = BinaryFormat::MachO;
    info->pointer_bits = 64;
    info->universal = image.slice_offset != 0;
    info->machine = image.cputype == k_macho_cpu_x86_64  ? 62
                    : image.cputype == k_macho_cpu_arm64 ? 183
                                                         : static_cast<uint16_t>(image.cputype);
    info->machine_name = macho_cpu_name(image.cputype);
    info->shared_library = image.filetype == 8 || image.filetype == 6; // MH_BUNDLE, MH_DYLIB
    info->code_signature = image.signature;
    for (const MachoExport &e : image.exports) info->exports.push_back(e.name.substr(e.name[0] == '_' ? 1 : 0));
    info->imports = image.libraries;
    return ok;
}

} // namespace

std::string binary_kind(const BinaryInfo &info) {
    if (info.format == BinaryFormat::MachO) return "Mach-O 64-bit";
    if (info.format == BinaryFormat::Elf) return info.pointer_bits == 64 ? "ELF64" : "ELF32";
    return info.pointer_bits == 64 ? "PE32+" : "PE32";
}

bool inspect_binary(const unsigned char *data, size_t size, BinaryInfo *info, std::string *error) {
    *info = BinaryInfo();
    error->clear();
    Reader r(data, size, error);
    if (size >= 4 && std::memcmp(data,
                                 "\x7f"
                                 "ELF",
                                 4) == 0)
        return ElfReader(r, info).read();
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') return PeReader(r, info).read();
    if (macho_magic(data, size)) return read_macho_info(data, size, info, error);
    std::string start;
    for (size_t i = 0; i < size && i < 4; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, " %02x", data[i]);
        start += byte;
    }
    return r.fail(violation_id::binary_unknown_format,
                  size == 0 ? "the file is empty"
                            : "neither an ELF nor a PE file, nor Mach-O (it starts with" + start + ")");
}

bool inspect_binary_file(const std::string &path, BinaryInfo *info, std::string *error) {
    *info = BinaryInfo();
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = std::string(violation_id::binary_unreadable) + ": cannot open " + path;
        return false;
    }
    constexpr size_t limit = 256u << 20;
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0 && bytes.size() <= limit)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        *error = std::string(violation_id::binary_unreadable) + ": a read error in " + path;
        return false;
    }
    if (bytes.size() > limit) {
        *error = std::string(violation_id::binary_too_large) + ": " + path + " is larger than 256 MiB";
        return false;
    }
    if (!inspect_binary(bytes.data(), bytes.size(), info, error)) {
        *error += " (" + path + ")";
        return false;
    }
    return true;
}

} // namespace sim
