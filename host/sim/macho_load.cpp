// SPDX-License-Identifier: MIT
// The Mach-O loader of the simulator: maps a bundle's slice for the running processor into this
// Linux process and links it to the host's own C routines, as the system's loader and its C
// library would on a Mac. Everything is bound at load, lazy binds included, so the module never
// reaches dyld_stub_binder. Built where the slice's code runs natively: Linux x86-64 (the same
// calling convention as macOS on Intel) and Linux aarch64; elsewhere macho_open says so.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "host/sim/internal.h"
#include "host/sim/macho.h"

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
#define ZENDRO_MACHO_LOADER 1
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sim {

#ifdef ZENDRO_MACHO_LOADER

namespace {

struct Loaded {
    unsigned char *base = nullptr; // where the image's address 0 (its __TEXT segment) lies
    size_t size = 0;
    std::vector<MachoExport> exports;
    dev_t device = 0; // the file, as dlopen tells files apart: a second open of the same file
    ino_t inode = 0;  // answers the same image, with one more reference
    unsigned references = 1;
    std::vector<std::pair<unsigned char *, size_t>> writable; // the segments mapped writable
};

std::set<void *> g_loaded;

// ---- The Darwin-only names the modules import, shimmed ----

// macOS's canary for the stack protector: the module compares its frames' copies with this word.
uintptr_t g_stack_guard = 0x5a3c96e1f00dd00dULL;

[[noreturn]] void shim_stack_chk_fail() {
    std::fputs("zendro_host: the module's stack protector found a frame's guard overwritten (a buffer "
               "overrun in the module)\n",
               stderr);
    std::abort();
}

[[noreturn]] void shim_stub_binder() {
    std::fputs("zendro_host: the module called dyld_stub_binder, which a module bound at load never reaches\n", stderr);
    std::abort();
}

void shim_bzero(void *p, size_t n) { std::memset(p, 0, n); }

// sin and cos of one argument, returned as a pair: in xmm0 and xmm1 on x86-64 (a structure of two
// doubles), in d0 and d1 on arm64 (a homogeneous aggregate), which is what this definition gives.
struct SinCos {
    double sin, cos;
};
SinCos shim_sincos_stret(double x) { return {std::sin(x), std::cos(x)}; }

#if defined(__aarch64__)
// snprintf as Apple's arm64 code calls it: the fixed arguments in x0-x2 as on Linux, but every
// variadic one on the stack in an 8-byte slot of its own, where a Linux va_list would look in the
// registers first. The entry hands the address of the first slot to the formatter below, which
// takes each conversion's argument from the next slot (long double is double on Apple).
extern "C" int zendro_apple_snprintf(char *buffer, size_t size, const char *format, ...);
extern "C" int zendro_apple_vsnprintf(char *buffer, size_t size, const char *format, const uint64_t *slot);
asm(".text\n"
    ".p2align 2\n"
    ".globl zendro_apple_snprintf\n"
    ".hidden zendro_apple_snprintf\n"
    ".type zendro_apple_snprintf, %function\n"
    "zendro_apple_snprintf:\n"
    "    mov x3, sp\n"
    "    b zendro_apple_vsnprintf\n"
    ".size zendro_apple_snprintf, .-zendro_apple_snprintf\n");

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
extern "C" int zendro_apple_vsnprintf(char *buffer, size_t size, const char *format, const uint64_t *slot) {
    std::string out;
    for (const char *p = format; *p;) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        ++p;
        if (*p == '%') {
            out += *p++;
            continue;
        }
        std::string directive = "%";
        while (*p && std::strchr("-+ #0", *p)) directive += *p++;
        auto number = [&]() {
            if (*p == '*') {
                directive += std::to_string(static_cast<int>(*slot++));
                ++p;
            }
            while (*p >= '0' && *p <= '9') directive += *p++;
        };
        number();
        if (*p == '.') {
            directive += *p++;
            number();
        }
        bool wide = false; // l, ll, j, z, t, q: a 64-bit integer; h, hh: an int; L: a double
        while (*p && std::strchr("hljztqL", *p)) wide = wide || std::strchr("ljztq", *p++) != nullptr;
        const char conversion = *p ? *p++ : '\0';
        int n = -1;
        char piece[400];
        const uint64_t v = *slot;
        if (conversion && std::strchr("di", conversion)) {
            directive += std::string(wide ? "ll" : "") + conversion;
            n = wide ? std::snprintf(piece, sizeof piece, directive.c_str(), static_cast<long long>(v))
                     : std::snprintf(piece, sizeof piece, directive.c_str(), static_cast<int>(v));
        } else if (conversion && std::strchr("ouxXc", conversion)) {
            directive += std::string(wide && conversion != 'c' ? "ll" : "") + conversion;
            n = wide ? std::snprintf(piece, sizeof piece, directive.c_str(), static_cast<unsigned long long>(v))
                     : std::snprintf(piece, sizeof piece, directive.c_str(), static_cast<unsigned>(v));
        } else if (conversion && std::strchr("fFeEgGaA", conversion)) {
            double d;
            std::memcpy(&d, &v, sizeof d);
            n = std::snprintf(piece, sizeof piece, (directive + conversion).c_str(), d);
        } else if (conversion == 's') {
            const std::string text = reinterpret_cast<const char *>(v);
            std::vector<char> room(text.size() + 400);
            n = std::snprintf(room.data(), room.size(), (directive + 's').c_str(), text.c_str());
            if (n >= 0) out.append(room.data(), std::min(static_cast<size_t>(n), room.size() - 1));
            ++slot;
            continue;
        } else if (conversion == 'p') {
            n = std::snprintf(piece, sizeof piece, (directive + 'p').c_str(), reinterpret_cast<void *>(v));
        }
        if (n < 0) return -1; // %n or an unknown conversion: refused, as a C library refuses
        ++slot;
        out.append(piece, std::min(static_cast<size_t>(n), sizeof piece - 1));
    }
    if (size > 0) {
        const size_t kept = std::min(out.size(), size - 1);
        std::memcpy(buffer, out.data(), kept);
        buffer[kept] = '\0';
    }
    return static_cast<int>(out.size());
}
#pragma GCC diagnostic pop
#endif

struct Import {
    const char *name;
    void *address;
};

void *find_import(const std::string &name) {
    static const Import table[] = {
        {"_malloc", reinterpret_cast<void *>(&hook_malloc)},
        {"_calloc", reinterpret_cast<void *>(&hook_calloc)},
        {"_realloc", reinterpret_cast<void *>(&hook_realloc)},
        {"_free", reinterpret_cast<void *>(&hook_free)},
#if defined(__x86_64__)
        {"_snprintf", reinterpret_cast<void *>(&std::snprintf)}, // the same calling convention
        {"___bzero", reinterpret_cast<void *>(&shim_bzero)},
#elif defined(__aarch64__)
        {"_snprintf", reinterpret_cast<void *>(&zendro_apple_snprintf)},
        {"_bzero", reinterpret_cast<void *>(&shim_bzero)},
#endif
        {"_strspn", reinterpret_cast<void *>(&std::strspn)},
        {"___sincos_stret", reinterpret_cast<void *>(&shim_sincos_stret)},
        {"___stack_chk_guard", reinterpret_cast<void *>(&g_stack_guard)},
        {"___stack_chk_fail", reinterpret_cast<void *>(&shim_stack_chk_fail)},
        {"dyld_stub_binder", reinterpret_cast<void *>(&shim_stub_binder)},
    };
    for (const Import &i : table)
        if (name == i.name) return i.address;
    return nullptr;
}

int protection(uint32_t initprot) {
    return ((initprot & 1) ? PROT_READ : 0) | ((initprot & 2) ? PROT_WRITE : 0) | ((initprot & 4) ? PROT_EXEC : 0);
}

std::vector<unsigned char> read_file(const std::string &path, std::string *error) {
    std::vector<unsigned char> bytes;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open the file";
        return bytes;
    }
    unsigned char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0 && bytes.size() <= (256u << 20))
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (std::ferror(f)) *error = "a read error";
    std::fclose(f);
    return bytes;
}

// A second open of a file already loaded: one more reference to its image; null when it is not.
Loaded *loaded_again(const struct stat &st) {
    for (void *h : g_loaded) {
        Loaded *l = static_cast<Loaded *>(h);
        if (l->device == st.st_dev && l->inode == st.st_ino) {
            ++l->references;
            return l;
        }
    }
    return nullptr;
}

// The file last read, kept with what was read from it: a module loaded for every session of a
// check is read and verified (every slice, the signature's hashes) once while it is unchanged.
struct LastRead {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    struct timespec changed = {0, 0};
    std::vector<unsigned char> bytes;
    MachoImage image;
};

// The file's bytes and image, read again only when the file changed; null with the reason.
const LastRead *read_image(const std::string &path, const struct stat &st, std::string *error) {
    static LastRead last;
    if (last.device == st.st_dev && last.inode == st.st_ino && last.size == st.st_size &&
        last.changed.tv_sec == st.st_mtim.tv_sec && last.changed.tv_nsec == st.st_mtim.tv_nsec)
        return &last;
    last.size = -1;
    last.bytes = read_file(path, error);
    if (!error->empty()) return nullptr;
    // Every slice is read, as the inspector reads them: a damaged universal file is refused whole.
    if (!read_macho(last.bytes.data(), last.bytes.size(), &last.image, error, true)) return nullptr;
    last.device = st.st_dev;
    last.inode = st.st_ino;
    last.size = st.st_size;
    last.changed = st.st_mtim;
    return &last;
}

// The slice is for this processor and of a type that loads (a bundle or a library).
bool loadable(const MachoImage &image, std::string *error) {
    if (image.cputype != macho_host_cpu()) {
        *error = std::string(violation_id::macho_wrong_processor) + ": the file holds no " +
                 macho_cpu_name(macho_host_cpu()) + " slice (it is " + macho_cpu_name(image.cputype) + ")";
        return false;
    }
    if (image.filetype != 8 && image.filetype != 6) {
        *error = std::string(violation_id::macho_not_loadable) + ": the file is of Mach-O type " +
                 std::to_string(image.filetype) + ", not a bundle or a library";
        return false;
    }
    return true;
}

// Every import's target, known before anything is mapped: an unknown one names itself.
bool find_imports(const MachoImage &image, std::vector<void *> *targets, std::string *error) {
    for (const MachoBind &b : image.binds) {
        void *t = find_import(b.symbol);
        if (!t) {
            *error = std::string(violation_id::macho_unknown_import) + ": the module imports " + b.symbol +
                     ", which this host does not provide";
            return false;
        }
        targets->push_back(t);
    }
    return true;
}

// The image's extent: __PAGEZERO-like segments without protection or bytes are not mapped. The
// segment that maps the file's header (__TEXT) is noted.
struct Extent {
    uint64_t low = UINT64_MAX, high = 0;
    uint64_t text_vmaddr = 0;
    bool text = false;
};
Extent image_extent(const MachoImage &image) {
    Extent e;
    for (const MachoSegment &s : image.segments) {
        if (s.vmsize == 0 || (s.initprot == 0 && s.filesize == 0)) continue;
        e.low = std::min(e.low, s.vmaddr);
        e.high = std::max(e.high, s.vmaddr + s.vmsize);
        if (s.fileoff == 0 && s.filesize != 0 && !e.text) {
            e.text = true;
            e.text_vmaddr = s.vmaddr;
        }
    }
    return e;
}

// The segment that maps the file's header is there and lies lowest, where the image starts.
bool header_lowest(const Extent &e, std::string *error) {
    if (e.text && e.low == e.text_vmaddr) return true;
    *error = std::string(violation_id::macho_malformed) +
             ": no segment maps the file's header at the image's lowest address";
    return false;
}

// Copies the segments' bytes to `base` (the image's address `low`), slides the rebased pointers
// and writes every bind's target.
void link_image(const MachoImage &image, const unsigned char *slice, unsigned char *base, uint64_t low,
                const std::vector<void *> &targets) {
    const uint64_t slide = reinterpret_cast<uintptr_t>(base) - low;
    auto at = [&](unsigned segment, uint64_t offset) { return base + (image.segments[segment].vmaddr - low) + offset; };
    for (const MachoSegment &s : image.segments)
        if (s.filesize != 0 && s.vmsize != 0) std::memcpy(base + (s.vmaddr - low), slice + s.fileoff, s.filesize);
    for (const MachoRebase &r : image.rebases) {
        uint64_t v;
        std::memcpy(&v, at(r.segment, r.offset), 8);
        v += slide;
        std::memcpy(at(r.segment, r.offset), &v, 8);
    }
    for (size_t i = 0; i < image.binds.size(); ++i) {
        const MachoBind &b = image.binds[i];
        const uint64_t v = reinterpret_cast<uintptr_t>(targets[i]) + static_cast<uint64_t>(b.addend);
        std::memcpy(at(b.segment, b.offset), &v, 8);
    }
}

// Each segment gets its protection, then the initialisers run, as the system's loader runs them:
// once the image is linked.
void protect_and_initialise(const MachoImage &image, unsigned char *base, uint64_t low, uint64_t page) {
    for (const MachoSegment &s : image.segments)
        if (s.initprot & 4) // the instruction cache must see the code copied in
            __builtin___clear_cache(reinterpret_cast<char *>(base + (s.vmaddr - low)),
                                    reinterpret_cast<char *>(base + (s.vmaddr - low) + s.vmsize));
    for (const MachoSegment &s : image.segments)
        if (s.vmsize != 0 && (s.initprot != 0 || s.filesize != 0))
            mprotect(base + (s.vmaddr - low), static_cast<size_t>((s.vmsize + page - 1) / page * page),
                     protection(s.initprot));
    for (const MachoSegment &s : image.segments)
        for (const MachoSection &c : s.sections) {
            if ((c.flags & 0xff) != 0x09) continue; // S_MOD_INIT_FUNC_POINTERS
            for (uint64_t o = 0; o + 8 <= c.size; o += 8) {
                void (*init)();
                std::memcpy(&init, base + (c.addr - low) + o, sizeof init);
                init();
            }
        }
}

// Every export lies within the image.
bool exports_inside(const MachoImage &image, const Extent &e, std::string *error) {
    for (const MachoExport &x : image.exports)
        if (x.offset >= e.high - e.text_vmaddr) {
            *error = std::string(violation_id::macho_malformed) + ": the export " + x.name + " lies outside the image";
            return false;
        }
    return true;
}

} // namespace

void *macho_open(const std::string &path, std::string *error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *error = "cannot open the file";
        return nullptr;
    }
    if (Loaded *again = loaded_again(st)) return again;
    const LastRead *read = read_image(path, st, error);
    if (!read) return nullptr;
    const MachoImage &image = read->image;
    std::vector<void *> targets;
    if (!loadable(image, error) || !find_imports(image, &targets, error)) return nullptr;
    const Extent e = image_extent(image);
    if (!header_lowest(e, error)) return nullptr;
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const size_t size = static_cast<size_t>((e.high - e.low + page - 1) / page * page);
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        *error = "mmap of " + std::to_string(size) + " bytes failed";
        return nullptr;
    }
    unsigned char *base = static_cast<unsigned char *>(map);
    link_image(image, read->bytes.data() + image.slice_offset, base, e.low, targets);
    protect_and_initialise(image, base, e.low, page);
    if (!exports_inside(image, e, error)) {
        munmap(map, size);
        return nullptr;
    }
    Loaded *l = new Loaded;
    l->base = base + (e.text_vmaddr - e.low);
    l->size = size;
    l->exports = image.exports;
    l->device = st.st_dev;
    l->inode = st.st_ino;
    for (const MachoSegment &s : image.segments)
        if ((s.initprot & 2) && s.vmsize != 0) l->writable.push_back({base + (s.vmaddr - e.low), s.vmsize});
    g_loaded.insert(l);
    return l;
}

void *macho_symbol(void *handle, const char *name) {
    if (!macho_handle(handle)) return nullptr;
    const Loaded *l = static_cast<const Loaded *>(handle);
    const std::string wanted = std::string("_") + name;
    for (const MachoExport &e : l->exports)
        if (e.name == wanted) return l->base + e.offset;
    return nullptr;
}

void macho_close(void *handle) {
    if (!macho_handle(handle)) return;
    Loaded *l = static_cast<Loaded *>(handle);
    if (--l->references > 0) return;
    munmap(l->base, l->size);
    g_loaded.erase(handle);
    delete l;
}

bool macho_handle(void *handle) { return g_loaded.count(handle) != 0; }

bool macho_memory(void *handle, uintptr_t *low, uintptr_t *high,
                  std::vector<std::pair<unsigned char *, size_t>> *writable) {
    if (!macho_handle(handle)) return false;
    const Loaded *l = static_cast<const Loaded *>(handle);
    *low = reinterpret_cast<uintptr_t>(l->base);
    *high = *low + l->size;
    *writable = l->writable;
    return true;
}

bool macho_address(const void *address) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(address);
    for (void *h : g_loaded) {
        const Loaded *l = static_cast<const Loaded *>(h);
        const uintptr_t base = reinterpret_cast<uintptr_t>(l->base);
        if (a >= base && a - base < l->size) return true;
    }
    return false;
}

#else

void *macho_open(const std::string &, std::string *error) {
    *error = std::string(violation_id::macho_not_supported) +
             ": this simulator loads Mach-O modules only when built for Linux x86-64 or "
             "Linux aarch64";
    return nullptr;
}
void *macho_symbol(void *, const char *) { return nullptr; }
void macho_close(void *) {}
bool macho_handle(void *) { return false; }
bool macho_memory(void *, uintptr_t *, uintptr_t *, std::vector<std::pair<unsigned char *, size_t>> *) { return false; }
bool macho_address(const void *) { return false; }

#endif

} // namespace sim
