// SPDX-License-Identifier: MIT
// Keeping a module file loaded between sessions and resetting it instead of reloading it
// (ModuleKeeper, host/sim/simulator.h): a loaded image's writable memory, copied right after the
// load and put back before each later use, and the test of whether a reset gives what a fresh
// load would.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#endif

#include "host/base/os.h"
#include "host/sim/alloc_hooks.h"
#include "host/sim/internal.h"
#include "host/sim/macho.h"

namespace sim {

namespace {

using Stretch = std::pair<unsigned char *, size_t>;

#ifdef _WIN32

bool pe_memory(void *library, ImageMemory *out, std::string *why) {
    unsigned char *base = static_cast<unsigned char *>(library);
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || nt->Signature != IMAGE_NT_SIGNATURE) {
        *why = "the loaded image has no PE header";
        return false;
    }
    out->low = reinterpret_cast<uintptr_t>(base);
    out->high = out->low + nt->OptionalHeader.SizeOfImage;
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (!(section->Characteristics & IMAGE_SCN_MEM_WRITE)) continue;
        const size_t size = section->Misc.VirtualSize ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (size != 0) out->writable.push_back({base + section->VirtualAddress, size});
    }
    return true;
}

// Committed memory of the process's own (heap blocks, VirtualAlloc), not an image, a mapped file
// or this thread's stack (which the C runtime's start-up leaves a stale pointer into: mingw-w64's
// relocation of the DLL keeps the address of its table on the stack).
class PrivateMemory {
public:
    PrivateMemory() {
        MEMORY_BASIC_INFORMATION info;
        const int here = 0;
        if (VirtualQuery(&here, &info, sizeof info) == sizeof info) stack_ = info.AllocationBase;
    }
    bool holds(uintptr_t address) const {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<const void *>(address), &info, sizeof info) != sizeof info) return false;
        return info.State == MEM_COMMIT && info.Type == MEM_PRIVATE && info.AllocationBase != stack_;
    }

private:
    void *stack_ = nullptr;
};

#else

struct ElfSearch {
    ElfW(Addr) base = 0;
    ImageMemory *out = nullptr;
    bool found = false;
};

// [a, b) without [cut_a, cut_b), as up to two stretches.
void add_outside(std::vector<Stretch> &to, uintptr_t a, uintptr_t b, uintptr_t cut_a, uintptr_t cut_b) {
    const uintptr_t first_end = b < cut_a ? b : cut_a, second_start = a > cut_b ? a : cut_b;
    if (cut_b <= cut_a) {
        if (b > a) to.push_back({reinterpret_cast<unsigned char *>(a), b - a});
        return;
    }
    if (first_end > a) to.push_back({reinterpret_cast<unsigned char *>(a), first_end - a});
    if (b > second_start) to.push_back({reinterpret_cast<unsigned char *>(second_start), b - second_start});
}

int elf_object(dl_phdr_info *info, size_t, void *data) {
    ElfSearch *s = static_cast<ElfSearch *>(data);
    if (info->dlpi_addr != s->base) return 0;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    // The loader makes RELRO read-only page by page, rounding both ends down.
    uintptr_t relro_a = 0, relro_b = 0;
    uintptr_t low = UINTPTR_MAX, high = 0;
    for (size_t i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &p = info->dlpi_phdr[i];
        const uintptr_t a = s->base + p.p_vaddr, b = a + p.p_memsz;
        if (p.p_type == PT_GNU_RELRO) {
            relro_a = a & ~(page - 1);
            relro_b = b & ~(page - 1);
        } else if (p.p_type == PT_LOAD) {
            low = a < low ? a : low;
            high = b > high ? b : high;
        }
    }
    s->out->low = low & ~(page - 1);
    s->out->high = high;
    for (size_t i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &p = info->dlpi_phdr[i];
        if (p.p_type == PT_LOAD && (p.p_flags & PF_W))
            add_outside(s->out->writable, s->base + p.p_vaddr, s->base + p.p_vaddr + p.p_memsz, relro_a, relro_b);
    }
    s->found = true;
    return 1;
}

bool elf_memory(void *library, ImageMemory *out, std::string *why) {
    link_map *map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map) {
        *why = "dlinfo found no link map";
        return false;
    }
    ElfSearch s;
    s.base = map->l_addr;
    s.out = out;
    dl_iterate_phdr(elf_object, &s);
    if (!s.found) *why = "the loaded module's program headers were not found";
    return s.found;
}

int every_object(dl_phdr_info *info, size_t, void *data) {
    std::vector<std::pair<uintptr_t, uintptr_t>> *spans =
        static_cast<std::vector<std::pair<uintptr_t, uintptr_t>> *>(data);
    for (size_t i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &p = info->dlpi_phdr[i];
        if (p.p_type == PT_LOAD)
            spans->push_back({info->dlpi_addr + p.p_vaddr, info->dlpi_addr + p.p_vaddr + p.p_memsz});
    }
    return 0;
}

// Anonymous mappings (the C runtime's heap and its mapped blocks) outside every loaded object,
// whose zero-filled data also lies in anonymous mappings.
class PrivateMemory {
public:
    PrivateMemory() {
        dl_iterate_phdr(every_object, &images_);
        std::FILE *maps = std::fopen("/proc/self/maps", "r");
        if (!maps) return;
        char line[4096];
        while (std::fgets(line, sizeof line, maps)) {
            unsigned long long a = 0, b = 0, inode = 0;
            int name = 0;
            if (std::sscanf(line, "%llx-%llx %*s %*s %*s %llu %n", &a, &b, &inode, &name) < 3) continue;
            std::string path = line + name;
            while (!path.empty() && (path.back() == '\n' || path.back() == ' ')) path.pop_back();
            if (inode == 0 && (path.empty() || path == "[heap]"))
                anonymous_.push_back({static_cast<uintptr_t>(a), static_cast<uintptr_t>(b)});
        }
        std::fclose(maps);
    }
    bool holds(uintptr_t address) const {
        for (const auto &s : images_)
            if (address >= s.first && address < s.second) return false;
        for (const auto &s : anonymous_)
            if (address >= s.first && address < s.second) return true;
        return false;
    }

private:
    std::vector<std::pair<uintptr_t, uintptr_t>> images_, anonymous_;
};

#endif

// Copies bytes of a loaded image as they are. A module built with the address sanitizer keeps
// poisoned red zones between its globals, which a copy and a reset must carry unchecked: no
// instrumentation here, and no library copy (which the sanitizer intercepts).
#if defined(__SANITIZE_ADDRESS__)
__attribute__((no_sanitize_address))
#endif
void copy_raw(void *to, const void *from, size_t n) {
    volatile unsigned char *t = static_cast<volatile unsigned char *>(to);
    const volatile unsigned char *f = static_cast<const volatile unsigned char *>(from);
    for (size_t i = 0; i < n; ++i) t[i] = f[i];
}

// The words of the image's writable memory that hold the address of private memory outside the
// image, as their offsets into the image and the addresses they hold.
std::vector<std::pair<uint64_t, uintptr_t>> private_addresses(const ImageMemory &m) {
    std::vector<std::pair<uint64_t, uintptr_t>> found;
    const PrivateMemory memory;
    for (const Stretch &s : m.writable) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(s.first);
        const uintptr_t first = (start + sizeof(void *) - 1) & ~(uintptr_t{sizeof(void *)} - 1);
        for (uintptr_t at = first; at + sizeof(void *) <= start + s.second; at += sizeof(void *)) {
            uintptr_t word;
            copy_raw(&word, reinterpret_cast<const void *>(at), sizeof word);
            if ((word < m.low || word >= m.high) && memory.holds(word)) found.push_back({at - m.low, word});
        }
    }
    return found;
}

#ifdef _WIN32

// The busy heap block holding `address`, or ending at it (the end pointer of a table), with its
// start and size, found by walking the process's heaps.
bool heap_block(uintptr_t address, Stretch *block) {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    // The start of a block, the usual case, without walking: a heap validates its own blocks.
    for (DWORD i = 0; i < count && i < 256; ++i) {
        void *p = reinterpret_cast<void *>(address);
        if (!HeapValidate(heaps[i], 0, p)) continue;
        const SIZE_T size = HeapSize(heaps[i], 0, p);
        if (size == static_cast<SIZE_T>(-1)) continue;
        *block = {static_cast<unsigned char *>(p), size};
        return true;
    }
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY e;
        e.lpData = nullptr;
        bool found = false;
        while (!found && HeapWalk(heaps[i], &e)) {
            const uintptr_t data = reinterpret_cast<uintptr_t>(e.lpData);
            if ((e.wFlags & PROCESS_HEAP_ENTRY_BUSY) && address >= data && address <= data + e.cbData) {
                *block = {static_cast<unsigned char *>(e.lpData), e.cbData};
                found = true;
            }
        }
        HeapUnlock(heaps[i]);
        if (found) return true;
    }
    return false;
}

#endif

ModuleKeeper *g_keeper = nullptr;

} // namespace

bool image_memory(void *library, ImageMemory *out, std::string *why) {
    *out = ImageMemory();
    if (macho_handle(library)) return macho_memory(library, &out->low, &out->high, &out->writable);
#ifdef _WIN32
    return pe_memory(library, out, why);
#else
    return elf_memory(library, out, why);
#endif
}

struct ModuleKeeper::Kept {
    std::string path;
    void *library = nullptr;
    bool hooked = false;
    bool in_use = false;
    std::vector<std::pair<unsigned char *, std::vector<unsigned char>>> copy; // where, the bytes just loaded
    // Heap blocks the C runtime allocated while loading the module and its writable memory points
    // at, with their bytes just after loading: a reset serves only while they are unchanged.
    std::vector<std::pair<unsigned char *, std::vector<unsigned char>>> watched;

    bool blocks_unchanged() const {
        for (const auto &w : watched)
            if (std::memcmp(w.first, w.second.data(), w.second.size()) != 0) return false;
        return true;
    }

    void unload() {
        if (hooked) restore_allocations(library);
        close_library(library);
    }
};

ModuleKeeper::ModuleKeeper() {
    if (g_keeper) throw std::logic_error("sim::ModuleKeeper: one keeper at a time");
    g_keeper = this;
}

ModuleKeeper::~ModuleKeeper() {
    for (const std::unique_ptr<Kept> &k : kept_) k->unload();
    g_keeper = nullptr;
}

ModuleKeeper *ModuleKeeper::current() { return g_keeper; }

void ModuleKeeper::forget(const std::string &path) {
    for (size_t i = 0; i < kept_.size(); ++i)
        if (kept_[i]->path == path) {
            if (kept_[i]->in_use)
                throw std::logic_error("sim::ModuleKeeper::forget: a Module of " + path + " is alive");
            kept_[i]->unload();
            kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

void *ModuleKeeper::reuse(const std::string &path) {
    for (const std::unique_ptr<Kept> &k : kept_) {
        if (k->path != path) continue;
        if (k->in_use) throw std::logic_error("sim::ModuleKeeper: a second Module of the kept file " + path);
        if (!k->blocks_unchanged()) {
            // A session changed what the load allocated: only a fresh load gives it back.
            forget(path);
            return nullptr;
        }
        for (const auto &c : k->copy) copy_raw(c.first, c.second.data(), c.second.size());
        k->in_use = true;
        return k->library;
    }
    return nullptr;
}

bool ModuleKeeper::intact(const std::string &path) const {
    for (const std::unique_ptr<Kept> &k : kept_)
        if (k->path == path) return k->blocks_unchanged();
    return true;
}

void ModuleKeeper::done(void *library) {
    for (const std::unique_ptr<Kept> &k : kept_)
        if (k->library == library) k->in_use = false;
}

bool ModuleKeeper::keep(const std::string &path, void *library, bool hooked, size_t blocks_before) {
    refusal_.clear();
    ImageMemory m;
    std::string why;
    std::unique_ptr<Kept> k(new Kept);
    if (!hooked && !macho_handle(library))
        refusal_ = "its allocations do not pass the allocation hooks, so a block it kept would go unseen";
    else if (alloc_live_blocks() != blocks_before)
        refusal_ = "it allocated while loading (" + std::to_string(alloc_live_blocks() - blocks_before) +
                   " block(s) held right after)";
    else if (!image_memory(library, &m, &why)) refusal_ = "its writable memory was not found: " + why;
    for (const auto &word : refusal_.empty() ? private_addresses(m) : std::vector<std::pair<uint64_t, uintptr_t>>()) {
#ifdef _WIN32
        // The C runtime's start-up allocates while a DLL loads (the atexit table of a mingw-w64
        // DLL): such a block is watched, and a reset serves while it stays as it was.
        // Only heap blocks count there: another word that happens to point at private memory (a
        // small number in resource data, under wine) is no block of the module's.
        bool seen = false; // within a block already watched, or at its end (a table's end pointer)
        for (const auto &w : k->watched) {
            const uintptr_t start = reinterpret_cast<uintptr_t>(w.first);
            seen = seen || (word.second >= start && word.second <= start + w.second.size());
        }
        Stretch block;
        if (!seen && heap_block(word.second, &block))
            k->watched.push_back({block.first, std::vector<unsigned char>(block.first, block.first + block.second)});
        continue;
#endif
        refusal_ = format("it allocated while loading (the word at offset 0x%" PRIx64
                          " of its image points at private memory outside every loaded image)",
                          word.first);
        break;
    }
    if (!refusal_.empty()) return false;
    k->path = path;
    k->library = library;
    k->hooked = hooked;
    k->in_use = true;
    for (const Stretch &s : m.writable) {
        k->copy.push_back({s.first, std::vector<unsigned char>(s.second)});
        copy_raw(k->copy.back().second.data(), s.first, s.second);
    }
    kept_.push_back(std::move(k));
    return true;
}

} // namespace sim
