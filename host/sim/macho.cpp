// SPDX-License-Identifier: MIT
// Mach-O module files read from their bytes, every offset checked against the slice first; the
// record layouts and constants below are the format's (little-endian load commands, big-endian
// universal headers and code signatures).
#include "host/sim/macho.h"
#include "host/sim/binary.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// Magic numbers, file types, load commands, section types and opcodes of the format.
constexpr uint32_t k_mh_magic = 0xfeedface, k_mh_magic_64 = 0xfeedfacf;
constexpr uint32_t k_fat_magic = 0xcafebabe, k_fat_magic_64 = 0xcafebabf;

constexpr uint32_t k_lc_segment_64 = 0x19, k_lc_load_dylib = 0xc, k_lc_load_weak_dylib = 0x80000018,
                   k_lc_reexport_dylib = 0x8000001f, k_lc_lazy_load_dylib = 0x20, k_lc_upward_dylib = 0x80000023,
                   k_lc_code_signature = 0x1d, k_lc_dyld_info = 0x22, k_lc_dyld_info_only = 0x80000022,
                   k_lc_dyld_exports_trie = 0x80000033, k_lc_dyld_chained_fixups = 0x80000034;

constexpr uint32_t k_section_type = 0xff;
constexpr uint32_t k_s_thread_local_first = 0x11, k_s_thread_local_last = 0x15, k_s_init_func_offsets = 0x16;

constexpr uint32_t k_mh_has_tlv_descriptors = 0x00800000;

constexpr uint64_t k_export_kind_mask = 0x03, k_export_kind_regular = 0x00, k_export_weak = 0x04,
                   k_export_reexport = 0x08, k_export_stub_and_resolver = 0x10;

// ---- SHA-256 (FIPS 180-4), for the pages of a code signature -----------------------------------

class Sha256 {
public:
    void add(const unsigned char *p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            block_[used_++] = p[i];
            if (used_ == 64) {
                compress();
                used_ = 0;
            }
        }
        bytes_ += n;
    }

    void finish(unsigned char out[32]) {
        const uint64_t bits = bytes_ * 8;
        const unsigned char one = 0x80, zero = 0;
        add(&one, 1);
        while (used_ != 56) add(&zero, 1);
        unsigned char length[8];
        for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        add(length, 8);
        for (int i = 0; i < 8; ++i)
            for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<unsigned char>(h_[i] >> (24 - 8 * b));
    }

private:
    static uint32_t rotate(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

    void compress() {
        static const uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = static_cast<uint32_t>(block_[i * 4]) << 24 | static_cast<uint32_t>(block_[i * 4 + 1]) << 16 |
                   static_cast<uint32_t>(block_[i * 4 + 2]) << 8 | block_[i * 4 + 3];
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 = h + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const uint32_t t2 = (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h_[0] += a;
        h_[1] += b;
        h_[2] += c;
        h_[3] += d;
        h_[4] += e;
        h_[5] += f;
        h_[6] += g;
        h_[7] += h;
    }

    uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char block_[64] = {};
    size_t used_ = 0;
    uint64_t bytes_ = 0;
};

// ---- Bounds-checked reads of one slice -------------------------------------------------------

class Bytes {
public:
    Bytes(const unsigned char *data, size_t size, std::string *error) : data_(data), size_(size), error_(error) {}

    const unsigned char *data() const { return data_; }
    size_t size() const { return size_; }
    bool fits(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }

    bool need(uint64_t offset, uint64_t length, const std::string &what) {
        if (fits(offset, length)) return true;
        return fail(violation_id::binary_outside_file,
                    what + " at offset " + hex_number(offset) + " (" + hex_number(length) +
                        " bytes) lies beyond the end of the file (" + hex_number(size_) +
                        " bytes): the file is truncated or damaged");
    }

    uint32_t le32(uint64_t at) const {
        return static_cast<uint32_t>(data_[at]) | static_cast<uint32_t>(data_[at + 1]) << 8 |
               static_cast<uint32_t>(data_[at + 2]) << 16 | static_cast<uint32_t>(data_[at + 3]) << 24;
    }
    uint64_t le64(uint64_t at) const { return le32(at) | static_cast<uint64_t>(le32(at + 4)) << 32; }
    uint32_t be32(uint64_t at) const {
        return static_cast<uint32_t>(data_[at]) << 24 | static_cast<uint32_t>(data_[at + 1]) << 16 |
               static_cast<uint32_t>(data_[at + 2]) << 8 | data_[at + 3];
    }
    uint64_t be64(uint64_t at) const { return static_cast<uint64_t>(be32(at)) << 32 | be32(at + 4); }

    // A name of at most `length` bytes, ended by a NUL or by the field's end.
    std::string name(uint64_t at, size_t length) const {
        const char *p = reinterpret_cast<const char *>(data_ + at);
        return std::string(p, strnlen(p, length));
    }

    bool fail(const char *id, const std::string &message) {
        *error_ = std::string(id) + ": " + message;
        return false;
    }

private:
    const unsigned char *data_;
    size_t size_;
    std::string *error_;
};

// A stream of opcodes or trie nodes: [at, end) within the slice.
struct Stream {
    Bytes &b;
    uint64_t at, end;
    const char *what;

    bool more() const { return at < end; }
    bool byte(unsigned *out) {
        if (at >= end)
            return b.fail(violation_id::binary_malformed, std::string(what) + " end in the middle of an opcode");
        *out = b.data()[at++];
        return true;
    }
    bool uleb(uint64_t *out) {
        uint64_t v = 0;
        for (unsigned shift = 0;; shift += 7) {
            unsigned c = 0;
            if (!byte(&c)) return false;
            if (shift >= 64)
                return b.fail(violation_id::binary_malformed, std::string(what) + " hold a number over 64 bits");
            v |= static_cast<uint64_t>(c & 0x7f) << shift;
            if (!(c & 0x80)) break;
        }
        *out = v;
        return true;
    }
    bool sleb(int64_t *out) {
        uint64_t v = 0;
        unsigned shift = 0, c = 0;
        do {
            if (!byte(&c)) return false;
            if (shift >= 64)
                return b.fail(violation_id::binary_malformed, std::string(what) + " hold a number over 64 bits");
            v |= static_cast<uint64_t>(c & 0x7f) << shift;
            shift += 7;
        } while (c & 0x80);
        if (shift < 64 && (c & 0x40)) v |= ~static_cast<uint64_t>(0) << shift;
        *out = static_cast<int64_t>(v);
        return true;
    }
    bool text(std::string *out) {
        const void *nul = std::memchr(b.data() + at, 0, static_cast<size_t>(end - at));
        if (!nul) return b.fail(violation_id::binary_malformed, std::string(what) + " hold a name without an end");
        const size_t n = static_cast<size_t>(static_cast<const unsigned char *>(nul) - (b.data() + at));
        out->assign(reinterpret_cast<const char *>(b.data() + at), n);
        at += n + 1;
        return true;
    }
};

class Reader {
public:
    Reader(Bytes &b, MachoImage *image) : b_(b), m_(image) {}

    bool read() {
        if (!b_.fits(0, 32)) return b_.fail(violation_id::binary_truncated, "the Mach-O header needs 32 bytes");
        const uint32_t magic = b_.le32(0);
        if (magic == k_mh_magic)
            return b_.fail(violation_id::binary_macho_32_bit, "a 32-bit Mach-O file (" + macho_cpu_name(b_.le32(4)) +
                                                                  "): macOS modules are 64-bit, x86-64 or arm64");
        if (magic != k_mh_magic_64)
            return b_.fail(violation_id::binary_malformed,
                           "a Mach-O slice without the 64-bit magic number (it starts with " + hex_number(magic) + ")");
        m_->cputype = b_.le32(4);
        m_->filetype = b_.le32(12);
        m_->load_commands = b_.le32(16);
        const uint64_t commands_size = b_.le32(20);
        if (b_.le32(24) & k_mh_has_tlv_descriptors)
            return b_.fail(violation_id::binary_macho_unsupported, "the module has thread-local variables");
        if (!b_.need(32, commands_size, "the load commands")) return false;
        if (!read_commands(32, 32 + commands_size)) return false;
        return read_rebases() && read_binds(bind_, false, "the bind opcodes") &&
               read_binds(lazy_, true, "the lazy-bind opcodes") && read_exports() && check_signature();
    }

private:
    struct Range {
        uint64_t offset = 0, size = 0;
    };

    bool range(uint64_t at, Range *r, const char *what) {
        r->offset = b_.le32(at);
        r->size = b_.le32(at + 4);
        return r->size == 0 || b_.need(r->offset, r->size, what);
    }

    bool read_commands(uint64_t at, uint64_t end) {
        for (uint32_t i = 0; i < m_->load_commands; ++i) {
            if (at + 8 > end)
                return b_.fail(violation_id::binary_malformed, "the load commands overrun their declared size");
            const uint32_t cmd = b_.le32(at), size = b_.le32(at + 4);
            if (size < 8 || size % 8 != 0 || size > end - at)
                return b_.fail(violation_id::binary_malformed,
                               "load command " + std::to_string(i) + " has a size of " + std::to_string(size));
            bool ok = true;
            switch (cmd) {
            case k_lc_segment_64: ok = segment(at, size); break;
            case k_lc_load_dylib:
            case k_lc_load_weak_dylib:
            case k_lc_lazy_load_dylib:
            case k_lc_upward_dylib: {
                if (size < 24) return b_.fail(violation_id::binary_malformed, "a library load command is too short");
                const uint32_t name = b_.le32(at + 8);
                if (name < 24 || name >= size)
                    return b_.fail(violation_id::binary_malformed, "a library's name lies outside");
                m_->libraries.push_back(b_.name(at + name, size - name));
                break;
            }
            case k_lc_reexport_dylib:
                return b_.fail(violation_id::binary_macho_unsupported, "the module re-exports a library");
            case k_lc_dyld_info:
            case k_lc_dyld_info_only:
                if (size < 48)
                    return b_.fail(violation_id::binary_malformed, "the dyld information command is too short");
                ok = range(at + 8, &rebase_, "the rebase opcodes") && range(at + 16, &bind_, "the bind opcodes") &&
                     range(at + 24, &weak_, "the weak-bind opcodes") &&
                     range(at + 32, &lazy_, "the lazy-bind opcodes") && range(at + 40, &trie_, "the export trie");
                if (ok && weak_.size != 0)
                    return b_.fail(violation_id::binary_macho_unsupported,
                                   "the module has weak binds (weak definitions coalesced at load)");
                break;
            case k_lc_dyld_exports_trie:
                if (size < 16) return b_.fail(violation_id::binary_malformed, "the export trie command is too short");
                ok = range(at + 8, &trie_, "the export trie");
                break;
            case k_lc_dyld_chained_fixups:
                return b_.fail(violation_id::binary_macho_unsupported,
                               "the module uses chained fixups (LC_DYLD_CHAINED_FIXUPS): link it with rebase and "
                               "bind opcodes (LC_DYLD_INFO_ONLY) instead");
            case k_lc_code_signature:
                if (size < 16)
                    return b_.fail(violation_id::binary_malformed, "the code signature command is too short");
                ok = range(at + 8, &signature_, "the code signature");
                has_signature_ = ok;
                break;
            default: break;
            }
            if (!ok) return false;
            at += size;
        }
        return true;
    }

    bool segment(uint64_t at, uint32_t size) {
        if (size < 72) return b_.fail(violation_id::binary_malformed, "a segment command is too short");
        MachoSegment s;
        s.name = b_.name(at + 8, 16);
        s.vmaddr = b_.le64(at + 24);
        s.vmsize = b_.le64(at + 32);
        s.fileoff = b_.le64(at + 40);
        s.filesize = b_.le64(at + 48);
        s.initprot = b_.le32(at + 60);
        const uint32_t sections = b_.le32(at + 64);
        if (s.filesize > s.vmsize)
            return b_.fail(violation_id::binary_malformed,
                           "segment " + s.name + " holds more file bytes than its size");
        if (s.vmsize > (uint64_t(1) << 32) || s.vmaddr > (uint64_t(1) << 40))
            return b_.fail(violation_id::binary_malformed, "segment " + s.name + " is placed or sized beyond reason");
        if (s.filesize != 0 && !b_.need(s.fileoff, s.filesize, "segment " + s.name)) return false;
        if (sections > (size - 72) / 80)
            return b_.fail(violation_id::binary_malformed,
                           "segment " + s.name + " lists more sections than its command holds");
        for (uint32_t i = 0; i < sections; ++i) {
            const uint64_t p = at + 72 + uint64_t(i) * 80;
            MachoSection c;
            c.name = b_.name(p, 16);
            c.addr = b_.le64(p + 32);
            c.size = b_.le64(p + 40);
            c.flags = b_.le32(p + 64);
            const uint32_t type = c.flags & k_section_type;
            if (type >= k_s_thread_local_first && type <= k_s_thread_local_last)
                return b_.fail(violation_id::binary_macho_unsupported,
                               "section " + c.name + " holds thread-local data");
            if (type == k_s_init_func_offsets)
                return b_.fail(violation_id::binary_macho_unsupported,
                               "section " + c.name + " lists initialisers by offset");
            if (c.addr < s.vmaddr || c.size > s.vmsize || c.addr - s.vmaddr > s.vmsize - c.size)
                return b_.fail(violation_id::binary_malformed,
                               "section " + c.name + " lies outside its segment " + s.name);
            s.sections.push_back(c);
        }
        m_->segments.push_back(s);
        return true;
    }

    // A pointer-sized location at `offset` into segment `segment`, which must lie within it.
    bool location(uint64_t segment, uint64_t offset, const char *what) {
        if (segment >= m_->segments.size())
            return b_.fail(violation_id::binary_malformed,
                           std::string(what) + " name segment " + std::to_string(segment) + ", which is not there");
        const MachoSegment &s = m_->segments[segment];
        if (offset > s.vmsize || s.vmsize - offset < 8)
            return b_.fail(violation_id::binary_malformed,
                           std::string(what) + " write at " + hex_number(offset) + ", outside segment " + s.name);
        return true;
    }

    bool read_rebases() {
        Stream s{b_, rebase_.offset, rebase_.offset + rebase_.size, "the rebase opcodes"};
        uint64_t segment = 0, offset = 0;
        auto rebase = [&](uint64_t times, uint64_t skip) {
            if (times > rebase_.size * 64 + 4096)
                return b_.fail(violation_id::binary_malformed, "the rebase opcodes repeat beyond reason");
            for (uint64_t i = 0; i < times; ++i) {
                if (!location(segment, offset, "the rebase opcodes")) return false;
                m_->rebases.push_back({static_cast<unsigned>(segment), offset});
                offset += 8 + skip;
            }
            return true;
        };
        while (s.more()) {
            unsigned c = 0;
            if (!s.byte(&c)) return false;
            const unsigned imm = c & 0x0f;
            uint64_t a = 0, b = 0;
            switch (c & 0xf0) {
            case 0x00: return true; // done
            case 0x10:              // set type
                if (imm != 1)
                    return b_.fail(violation_id::binary_macho_unsupported,
                                   "a rebase of type " + std::to_string(imm) + " (only pointers are rebased)");
                break;
            case 0x20: // set segment and offset
                segment = imm;
                if (!s.uleb(&offset)) return false;
                break;
            case 0x30: // add address
                if (!s.uleb(&a)) return false;
                offset += a;
                break;
            case 0x40: offset += uint64_t(imm) * 8; break;
            case 0x50:
                if (!rebase(imm, 0)) return false;
                break;
            case 0x60:
                if (!s.uleb(&a) || !rebase(a, 0)) return false;
                break;
            case 0x70:
                if (!s.uleb(&a) || !rebase(1, a)) return false;
                break;
            case 0x80:
                if (!s.uleb(&a) || !s.uleb(&b) || !rebase(a, b)) return false;
                break;
            default: return b_.fail(violation_id::binary_malformed, "unknown rebase opcode " + hex_number(c));
            }
        }
        return true;
    }

    bool read_binds(const Range &r, bool lazy, const char *what) {
        Stream s{b_, r.offset, r.offset + r.size, what};
        uint64_t segment = 0, offset = 0;
        int64_t addend = 0;
        std::string symbol;
        auto bind = [&](uint64_t times, uint64_t skip) {
            if (times > r.size * 64 + 4096)
                return b_.fail(violation_id::binary_malformed, std::string(what) + " repeat beyond reason");
            if (symbol.empty())
                return b_.fail(violation_id::binary_malformed, std::string(what) + " bind without a symbol");
            for (uint64_t i = 0; i < times; ++i) {
                if (!location(segment, offset, what)) return false;
                m_->binds.push_back({symbol, static_cast<unsigned>(segment), offset, addend, lazy});
                offset += 8 + skip;
            }
            return true;
        };
        while (s.more()) {
            unsigned c = 0;
            if (!s.byte(&c)) return false;
            const unsigned imm = c & 0x0f;
            uint64_t a = 0, b = 0;
            switch (c & 0xf0) {
            case 0x00: // done: ends the whole list, or (lazy binds) one symbol's entry
                if (!lazy) return true;
                break;
            case 0x10: // library ordinal
            case 0x30: // special library ordinal: the module itself, the executable, any library
                break;
            case 0x20:
                if (!s.uleb(&a)) return false;
                break;
            case 0x40:
                if (imm & 0x1)
                    return b_.fail(violation_id::binary_macho_unsupported, std::string(what) + " hold a weak import");
                if (!s.text(&symbol)) return false;
                break;
            case 0x50:
                if (imm != 1)
                    return b_.fail(violation_id::binary_macho_unsupported, std::string(what) + " hold a bind of type " +
                                                                               std::to_string(imm) +
                                                                               " (only pointers are bound)");
                break;
            case 0x60:
                if (!s.sleb(&addend)) return false;
                break;
            case 0x70:
                segment = imm;
                if (!s.uleb(&offset)) return false;
                break;
            case 0x80:
                if (!s.uleb(&a)) return false;
                offset += a;
                break;
            case 0x90:
                if (!bind(1, 0)) return false;
                break;
            case 0xa0:
                if (!s.uleb(&a) || !bind(1, a)) return false;
                break;
            case 0xb0:
                if (!bind(1, uint64_t(imm) * 8)) return false;
                break;
            case 0xc0:
                if (!s.uleb(&a) || !s.uleb(&b) || !bind(a, b)) return false;
                break;
            default:
                return b_.fail(violation_id::binary_macho_unsupported,
                               std::string(what) + " hold opcode " + hex_number(c) + " (threaded binds are not read)");
            }
        }
        return true;
    }

    // The export trie: from each node, its edges' texts spell the names below it.
    bool read_exports() {
        if (trie_.size == 0) return true;
        std::vector<bool> seen(static_cast<size_t>(trie_.size), false);
        return node(0, std::string(), 0, &seen);
    }

    bool trie_fail(const std::string &why) {
        return b_.fail(violation_id::binary_macho_export_trie, "the export trie " + why);
    }

    bool node(uint64_t offset, const std::string &prefix, unsigned depth, std::vector<bool> *seen) {
        if (offset >= trie_.size) return trie_fail("has an edge to " + hex_number(offset) + ", beyond its end");
        if ((*seen)[static_cast<size_t>(offset)] || depth > 256) return trie_fail("loops back on itself");
        (*seen)[static_cast<size_t>(offset)] = true;
        Stream s{b_, trie_.offset + offset, trie_.offset + trie_.size, "the export trie's nodes"};
        uint64_t terminal = 0;
        if (!s.uleb(&terminal)) return trie_fail("ends inside a node");
        if (terminal > s.end - s.at) return trie_fail("has a node longer than the trie");
        const uint64_t children_at = s.at + terminal;
        if (terminal != 0) {
            uint64_t flags = 0, address = 0;
            if (!s.uleb(&flags)) return trie_fail("ends inside a node");
            if (flags & k_export_reexport)
                return b_.fail(violation_id::binary_macho_unsupported, "the module re-exports " + prefix);
            if (flags & k_export_stub_and_resolver)
                return b_.fail(violation_id::binary_macho_unsupported,
                               "the module exports " + prefix + " through a resolver");
            if ((flags & k_export_kind_mask) != k_export_kind_regular)
                return b_.fail(violation_id::binary_macho_unsupported,
                               "the module exports " + prefix + " as thread-local or absolute, not as an address");
            if (flags & k_export_weak)
                return b_.fail(violation_id::binary_macho_unsupported,
                               "the module exports " + prefix + " as a weak definition");
            if (!s.uleb(&address) || s.at > children_at) return trie_fail("has a node whose data overrun it");
            m_->exports.push_back({prefix, address});
        }
        s.at = children_at;
        unsigned children = 0;
        if (!s.byte(&children)) return trie_fail("ends inside a node");
        for (unsigned i = 0; i < children; ++i) {
            std::string edge;
            uint64_t child = 0;
            if (!s.text(&edge) || !s.uleb(&child)) return trie_fail("ends inside an edge");
            if (!node(child, prefix + edge, depth + 1, seen)) return false;
        }
        return true;
    }

    // The embedded signature: a super blob whose code directory hashes each page of the slice up
    // to the signature, with SHA-256. Required on arm64, where macOS runs no unsigned code.
    bool check_signature() {
        if (!has_signature_) {
            if (m_->cputype == k_macho_cpu_arm64)
                return b_.fail(violation_id::binary_macho_signature,
                               "the arm64 slice carries no code signature; macOS loads "
                               "no unsigned arm64 code (link it with ld64.lld's ad-hoc "
                               "signature, the default)");
            return true;
        }
        auto bad = [&](const std::string &why) {
            return b_.fail(violation_id::binary_macho_signature, "the code signature " + why);
        };
        const uint64_t at = signature_.offset, size = signature_.size;
        if (size < 12 || b_.be32(at) != 0xfade0cc0) return bad("is not an embedded signature");
        const uint64_t count = b_.be32(at + 8);
        if (count > (size - 12) / 8) return bad("lists more blobs than it holds");
        uint64_t directory = 0;
        for (uint64_t i = 0; i < count; ++i)
            if (b_.be32(at + 12 + i * 8) == 0) directory = b_.be32(at + 16 + i * 8);
        if (directory == 0 || directory > size || size - directory < 44) return bad("has no code directory");
        const uint64_t cd = at + directory;
        if (b_.be32(cd) != 0xfade0c02) return bad("has a damaged code directory");
        const uint64_t cd_size = b_.be32(cd + 4);
        const uint64_t hashes = b_.be32(cd + 16), slots = b_.be32(cd + 28), limit = b_.be32(cd + 32);
        const unsigned hash_size = b_.data()[cd + 36], hash_type = b_.data()[cd + 37], page_bits = b_.data()[cd + 39];
        if (cd_size > size - directory) return bad("has a code directory longer than itself");
        if (hash_type != 2 || hash_size != 32) return bad("uses a hash other than SHA-256");
        if (page_bits < 9 || page_bits > 20) return bad("uses pages of 2^" + std::to_string(page_bits) + " bytes");
        const uint64_t page = uint64_t(1) << page_bits;
        if (limit != signature_.offset) return bad("covers " + hex_number(limit) + " bytes, not the bytes before it");
        if (slots != (limit + page - 1) / page) return bad("has " + std::to_string(slots) + " page hashes");
        if (hashes > cd_size || (cd_size - hashes) / 32 < slots) return bad("has page hashes outside its directory");
        for (uint64_t i = 0; i < slots; ++i) {
            const uint64_t from = i * page, n = limit - from < page ? limit - from : page;
            Sha256 h;
            h.add(b_.data() + from, static_cast<size_t>(n));
            unsigned char digest[32];
            h.finish(digest);
            if (std::memcmp(digest, b_.data() + cd + hashes + i * 32, 32) != 0)
                return bad("does not match page " + std::to_string(i) + " (bytes " + hex_number(from) +
                           "...): the file was changed after signing");
        }
        m_->signature = true;
        return true;
    }

    Bytes &b_;
    MachoImage *m_;
    Range rebase_, bind_, weak_, lazy_, trie_, signature_;
    bool has_signature_ = false;
};

} // namespace

bool macho_magic(const unsigned char *data, size_t size) {
    if (size < 4) return false;
    const uint32_t le = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                        static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    const uint32_t be = static_cast<uint32_t>(data[0]) << 24 | static_cast<uint32_t>(data[1]) << 16 |
                        static_cast<uint32_t>(data[2]) << 8 | data[3];
    return le == k_mh_magic || le == k_mh_magic_64 || be == k_fat_magic || be == k_fat_magic_64;
}

std::string macho_cpu_name(uint32_t cputype) {
    switch (cputype) {
    case k_macho_cpu_x86_64: return "x86-64";
    case k_macho_cpu_arm64: return "AArch64";
    case 7: return "x86";
    case 12: return "ARM";
    case 0x18: return "PowerPC";
    case 0x01000012: return "PowerPC64";
    default: return "processor " + hex_number(cputype);
    }
}

uint32_t macho_host_cpu() {
#if defined(__x86_64__) || defined(_M_X64)
    return k_macho_cpu_x86_64;
#elif defined(__aarch64__)
    return k_macho_cpu_arm64;
#else
    return 0;
#endif
}

namespace {

struct Slice {
    uint32_t cpu;
    uint64_t offset, length;
};

// The slice table of a universal file (`wide`: the 64-bit form), each slice within the file; the
// processors named in `found` ("x86-64, arm64").
bool read_slice_table(Bytes &file, bool wide, std::vector<Slice> *slices, std::string *found) {
    const uint64_t count = file.be32(4), entry = wide ? 32 : 20;
    if (count == 0 || count > 64)
        return file.fail(violation_id::binary_malformed, "a universal file of " + std::to_string(count) + " slices");
    if (!file.need(8, count * entry, "the universal file's slice table")) return false;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = 8 + i * entry;
        const Slice s{file.be32(at), wide ? file.be64(at + 8) : file.be32(at + 8),
                      wide ? file.be64(at + 16) : file.be32(at + 12)};
        if (!file.need(s.offset, s.length, "the " + macho_cpu_name(s.cpu) + " slice")) return false;
        slices->push_back(s);
        *found += (i ? ", " : "") + macho_cpu_name(s.cpu);
    }
    return true;
}

// The other slices a Mac would load than the chosen one, read for their faults only.
bool read_other_slices(const unsigned char *data, const std::vector<Slice> &slices, const Slice *chosen,
                       std::string *error) {
    for (const Slice &s : slices)
        if (&s != chosen && (s.cpu == k_macho_cpu_x86_64 || s.cpu == k_macho_cpu_arm64)) {
            MachoImage other;
            Bytes bytes(data + s.offset, static_cast<size_t>(s.length), error);
            if (!Reader(bytes, &other).read()) {
                *error += " (in the " + macho_cpu_name(s.cpu) + " slice)";
                return false;
            }
        }
    return true;
}

} // namespace

bool read_macho(const unsigned char *data, size_t size, MachoImage *image, std::string *error, bool every_slice) {
    *image = MachoImage();
    Bytes file(data, size, error);
    if (!file.fits(0, 8)) return file.fail(violation_id::binary_truncated, "a Mach-O file needs at least 8 bytes");
    const uint32_t magic = file.be32(0);
    if (magic != k_fat_magic && magic != k_fat_magic_64) return Reader(file, image).read();

    std::vector<Slice> slices;
    std::string found;
    if (!read_slice_table(file, magic == k_fat_magic_64, &slices, &found)) return false;
    // The running processor's slice, else the first of the two macOS runs.
    const Slice *chosen = nullptr;
    for (uint32_t want : {macho_host_cpu(), k_macho_cpu_x86_64, k_macho_cpu_arm64})
        for (const Slice &s : slices)
            if (!chosen && want != 0 && s.cpu == want) chosen = &s;
    if (!chosen)
        return file.fail(violation_id::binary_macho_no_slice,
                         "the universal file holds slices for " + found + ", none for x86-64 or arm64");
    if (every_slice && !read_other_slices(data, slices, chosen, error)) return false;
    image->slice_offset = static_cast<size_t>(chosen->offset);
    image->slice_size = static_cast<size_t>(chosen->length);
    Bytes slice(data + chosen->offset, static_cast<size_t>(chosen->length), error);
    return Reader(slice, image).read();
}

} // namespace sim
