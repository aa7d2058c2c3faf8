// SPDX-License-Identifier: MIT
// Redirection of a loaded module's malloc, calloc, realloc and free imports to the allocation
// hooks: GOT entries of an ELF object, IAT slots of a PE image. See host/alloc_hooks.h.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#endif

#include "host/sim/internal.h"
#include "host/base/os.h"

namespace sim {

namespace {

// One entry to rewrite: where, the hook it gets, what it held, and (ELF) its page's protection.
struct Patch {
    void **slot;
    void *hook;
    void *original;
    int protection;
};

struct Redirected {
    unsigned loads = 0; // sim::Module objects holding the library
    std::vector<Patch> patches;
};

std::map<void *, Redirected> g_redirected;

// The hook for an imported name, or null when the name is not one of the four.
void *hook_for(const char *name) {
    if (std::strcmp(name, "malloc") == 0) return reinterpret_cast<void *>(&hook_malloc);
    if (std::strcmp(name, "calloc") == 0) return reinterpret_cast<void *>(&hook_calloc);
    if (std::strcmp(name, "realloc") == 0) return reinterpret_cast<void *>(&hook_realloc);
    if (std::strcmp(name, "free") == 0) return reinterpret_cast<void *>(&hook_free);
    return nullptr;
}

#ifdef _WIN32

bool write_slot(void **slot, void *value, int, std::string *why) {
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) {
        *why = "VirtualProtect of the import address table failed with error " + std::to_string(GetLastError());
        return false;
    }
    *slot = value;
    DWORD ignored = 0;
    VirtualProtect(slot, sizeof *slot, old, &ignored);
    return true;
}

// The C runtime DLLs whose heap routines are redirected: msvcrt.dll, ucrtbase.dll and the
// api-ms-win-crt-heap-* sets, in any letter case.
bool crt_heap_dll(const char *name) {
    const char *const whole[] = {"msvcrt.dll", "ucrtbase.dll"};
    for (const char *w : whole)
        if (_stricmp(name, w) == 0) return true;
    const char prefix[] = "api-ms-win-crt-heap-";
    return _strnicmp(name, prefix, sizeof prefix - 1) == 0;
}

bool find_entries(void *library, std::vector<Patch> *out, std::string *why) {
    unsigned char *base = static_cast<unsigned char *>(library);
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
        *why = "the loaded image has no DOS header";
        return false;
    }
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) {
        *why = "the loaded image has no PE header";
        return false;
    }
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT || dir.VirtualAddress == 0)
        return true; // imports nothing
    for (const IMAGE_IMPORT_DESCRIPTOR *d =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
         d->Name != 0; ++d) {
        const char *dll = reinterpret_cast<const char *>(base + d->Name);
        if (!crt_heap_dll(dll)) continue;
        if (d->OriginalFirstThunk == 0) {
            *why = std::string("the imports from ") + dll + " have no name table, so malloc and free cannot be found";
            return false;
        }
        const IMAGE_THUNK_DATA *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const IMAGE_IMPORT_BY_NAME *by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            void *hook = hook_for(reinterpret_cast<const char *>(by_name->Name));
            if (hook) out->push_back({reinterpret_cast<void **>(&slots->u1.Function), hook, nullptr, 0});
        }
    }
    return true;
}

#else // ELF

#if defined(__x86_64__)
constexpr unsigned k_jump_slot = R_X86_64_JUMP_SLOT, k_glob_dat = R_X86_64_GLOB_DAT;
#elif defined(__i386__)
constexpr unsigned k_jump_slot = R_386_JMP_SLOT, k_glob_dat = R_386_GLOB_DAT;
#elif defined(__aarch64__)
constexpr unsigned k_jump_slot = R_AARCH64_JUMP_SLOT, k_glob_dat = R_AARCH64_GLOB_DAT;
#else
#define ZENDRO_NO_RELOCATION_TYPES 1
constexpr unsigned k_jump_slot = ~0u, k_glob_dat = ~0u;
#endif

struct Segments {
    ElfW(Addr) base = 0;
    const ElfW(Phdr) *phdr = nullptr;
    size_t count = 0;
};

int find_segments(dl_phdr_info *info, size_t, void *data) {
    Segments *s = static_cast<Segments *>(data);
    if (info->dlpi_addr != s->base) return 0;
    s->phdr = info->dlpi_phdr;
    s->count = info->dlpi_phnum;
    return 1;
}

// The protection the loader left on the page at `page`: its load segment's, without write
// inside the RELRO range (which the loader makes read-only page by page, rounding its end down).
// -1 when no load segment covers the page.
int page_protection(const Segments &s, uintptr_t page, uintptr_t page_size) {
    int protection = -1;
    for (size_t i = 0; i < s.count; ++i) {
        const ElfW(Phdr) &p = s.phdr[i];
        const uintptr_t start = (s.base + p.p_vaddr) & ~(page_size - 1);
        const uintptr_t end = s.base + p.p_vaddr + p.p_memsz;
        if (p.p_type == PT_LOAD && page >= start && page < end) {
            protection = ((p.p_flags & PF_R) ? PROT_READ : 0) | ((p.p_flags & PF_W) ? PROT_WRITE : 0) |
                         ((p.p_flags & PF_X) ? PROT_EXEC : 0);
        }
    }
    for (size_t i = 0; i < s.count; ++i) {
        const ElfW(Phdr) &p = s.phdr[i];
        const uintptr_t start = (s.base + p.p_vaddr) & ~(page_size - 1);
        const uintptr_t end = (s.base + p.p_vaddr + p.p_memsz) & ~(page_size - 1);
        if (p.p_type == PT_GNU_RELRO && protection >= 0 && page >= start && page < end) protection &= ~PROT_WRITE;
    }
    return protection;
}

uintptr_t page_size() { return static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)); }

bool write_slot(void **slot, void *value, int protection, std::string *why) {
    const uintptr_t size = page_size();
    void *page = reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(slot) & ~(size - 1));
    const bool writable = (protection & PROT_WRITE) != 0;
    if (!writable && mprotect(page, size, PROT_READ | PROT_WRITE) != 0) {
        *why = std::string("mprotect of the GOT page failed: ") + std::strerror(errno);
        return false;
    }
    *slot = value;
    if (!writable) mprotect(page, size, protection);
    return true;
}

// The relocation type and symbol index packed into r_info, for this build's width.
#if defined(__LP64__)
unsigned reloc_type(ElfW(Xword) info) { return static_cast<unsigned>(ELF64_R_TYPE(info)); }
size_t reloc_symbol(ElfW(Xword) info) { return static_cast<size_t>(ELF64_R_SYM(info)); }
#else
unsigned reloc_type(ElfW(Word) info) { return static_cast<unsigned>(ELF32_R_TYPE(info)); }
size_t reloc_symbol(ElfW(Word) info) { return static_cast<size_t>(ELF32_R_SYM(info)); }
#endif

struct Tables {
    const ElfW(Sym) *symtab = nullptr;
    const char *strtab = nullptr;
    size_t strsz = 0;
};

// Collects the JUMP_SLOT and GLOB_DAT entries of the four names from one relocation table.
template <typename Rel>
bool scan(const Tables &t, const Segments &seg, const Rel *rel, size_t bytes, std::vector<Patch> *out,
          std::string *why) {
    if (!rel) return true;
    const uintptr_t psize = page_size();
    for (size_t i = 0; i < bytes / sizeof(Rel); ++i) {
        const unsigned type = reloc_type(rel[i].r_info);
        if (type != k_jump_slot && type != k_glob_dat) continue;
        const ElfW(Sym) &sym = t.symtab[reloc_symbol(rel[i].r_info)];
        if (sym.st_shndx != SHN_UNDEF || sym.st_name >= t.strsz) continue; // its own, or a broken name
        void *hook = hook_for(t.strtab + sym.st_name);
        if (!hook) continue;
        void **slot = reinterpret_cast<void **>(seg.base + rel[i].r_offset);
        const int protection = page_protection(seg, reinterpret_cast<uintptr_t>(slot) & ~(psize - 1), psize);
        if (protection < 0) {
            *why = std::string("the GOT entry of ") + (t.strtab + sym.st_name) + " lies outside the module's segments";
            return false;
        }
        out->push_back({slot, hook, nullptr, protection});
    }
    return true;
}

bool find_entries(void *library, std::vector<Patch> *out, std::string *why) {
#ifdef ZENDRO_NO_RELOCATION_TYPES
    (void)library;
    (void)out;
    *why = "no GOT relocation types are known for this machine";
    return false;
#else
    link_map *map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map) {
        const char *e = dlerror();
        *why = std::string("dlinfo found no link map: ") + (e ? e : "no reason given");
        return false;
    }
    Segments seg;
    seg.base = map->l_addr;
    if (!dl_iterate_phdr(find_segments, &seg)) {
        *why = "the loaded module's program headers were not found";
        return false;
    }
    // The loader may have made these addresses absolute in place; an unrelocated one lies below
    // the load address of a shared object.
    auto at = [&](ElfW(Addr) v) { return v < seg.base ? v + seg.base : v; };
    Tables t;
    const void *jmprel = nullptr, *rela = nullptr, *rel = nullptr;
    size_t jmprel_size = 0, rela_size = 0, rel_size = 0;
    uint64_t pltrel = 0;
    for (const ElfW(Dyn) *d = map->l_ld; d->d_tag != DT_NULL; ++d) {
        switch (d->d_tag) {
        case DT_SYMTAB: t.symtab = reinterpret_cast<const ElfW(Sym) *>(at(d->d_un.d_ptr)); break;
        case DT_STRTAB: t.strtab = reinterpret_cast<const char *>(at(d->d_un.d_ptr)); break;
        case DT_STRSZ: t.strsz = d->d_un.d_val; break;
        case DT_JMPREL: jmprel = reinterpret_cast<const void *>(at(d->d_un.d_ptr)); break;
        case DT_PLTRELSZ: jmprel_size = d->d_un.d_val; break;
        case DT_PLTREL: pltrel = d->d_un.d_val; break;
        case DT_RELA: rela = reinterpret_cast<const void *>(at(d->d_un.d_ptr)); break;
        case DT_RELASZ: rela_size = d->d_un.d_val; break;
        case DT_REL: rel = reinterpret_cast<const void *>(at(d->d_un.d_ptr)); break;
        case DT_RELSZ: rel_size = d->d_un.d_val; break;
        default: break;
        }
    }
    if (!t.symtab || !t.strtab) {
        *why = "the module's dynamic section has no symbol or string table";
        return false;
    }
    if (jmprel && pltrel != DT_RELA && pltrel != DT_REL) {
        *why = "the module's PLT relocations are of unknown kind " + std::to_string(pltrel);
        return false;
    }
    return scan(t, seg, static_cast<const ElfW(Rela) *>(rela), rela_size, out, why) &&
           scan(t, seg, static_cast<const ElfW(Rel) *>(rel), rel_size, out, why) &&
           (pltrel == DT_RELA ? scan(t, seg, static_cast<const ElfW(Rela) *>(jmprel), jmprel_size, out, why)
                              : scan(t, seg, static_cast<const ElfW(Rel) *>(jmprel), jmprel_size, out, why));
#endif
}

#endif

} // namespace

bool redirect_allocations(void *library, std::string *why) {
    auto known = g_redirected.find(library);
    if (known != g_redirected.end()) {
        ++known->second.loads; // the loader handed out the same, already redirected library
        return true;
    }
    std::vector<Patch> found;
    if (!find_entries(library, &found, why)) return false;
    Redirected r;
    for (Patch &p : found) {
        bool seen = false; // a slot listed by two relocations is rewritten, and restored, once
        for (const Patch &done : r.patches) seen = seen || done.slot == p.slot;
        if (seen) continue;
        p.original = *p.slot;
        if (!write_slot(p.slot, p.hook, p.protection, why)) {
            for (const Patch &done : r.patches) write_slot(done.slot, done.original, done.protection, why);
            return false;
        }
        r.patches.push_back(p);
    }
    r.loads = 1;
    g_redirected.emplace(library, r);
    return true;
}

void restore_allocations(void *library) {
    auto it = g_redirected.find(library);
    if (it == g_redirected.end() || --it->second.loads > 0) return;
    std::string ignored;
    for (const Patch &p : it->second.patches) write_slot(p.slot, p.original, p.protection, &ignored);
    g_redirected.erase(it);
}

} // namespace sim
