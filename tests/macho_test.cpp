// Mach-O modules: the universal files of this build's macOS slices (macho/modules, made by the
// linux-x86_64 build) read by the inspector and loaded by the simulator's own loader, and damaged
// copies of them, each refused with its reason by both and never a crash. The damaged copies are
// left in macho/faults/ for the command-line host's cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/sim/binary.h"
#include "host/sim/macho.h"
#include "host/sim/simulator.h"

namespace {

using Bytes = std::vector<unsigned char>;

const char *const k_universal = "macho/modules/zendro_strova_64.p";

Bytes file_bytes(const std::string &path) {
    Bytes bytes;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
        std::fclose(f);
    }
    return bytes;
}

void write_file(const std::string &path, const Bytes &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

uint32_t be32(const Bytes &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
uint32_t le32(const Bytes &b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void put_le32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void put_be32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// The universal file's slice table: {cputype, offset} of each slice.
std::vector<std::pair<uint32_t, size_t>> slices(const Bytes &b) {
    std::vector<std::pair<uint32_t, size_t>> out;
    for (uint32_t i = 0; i < be32(b, 4); ++i) out.push_back({be32(b, 8 + i * 20), be32(b, 16 + i * 20)});
    return out;
}

// The slice table entry of processor `cpu`.
size_t slice_entry(const Bytes &b, uint32_t cpu) {
    for (uint32_t i = 0; i < be32(b, 4); ++i)
        if (be32(b, 8 + i * 20) == cpu) return 8 + i * 20;
    return 0;
}

size_t slice_of(const Bytes &b, uint32_t cpu) {
    for (const auto &s : slices(b))
        if (s.first == cpu) return s.second;
    return 0;
}

// The file offset of the first load command `cmd` of the slice at `slice`, or 0.
size_t command(const Bytes &b, size_t slice, uint32_t cmd) {
    size_t at = slice + 32;
    for (uint32_t i = 0; i < le32(b, slice + 16); ++i, at += le32(b, at + 4))
        if (le32(b, at) == cmd) return at;
    return 0;
}

class MachoFile : public ::testing::Test {
protected:
    void SetUp() override {
        file = file_bytes(k_universal);
        ASSERT_GT(file.size(), 4096u) << k_universal << " was not built";
        x86 = slice_of(file, sim::k_macho_cpu_x86_64);
        arm = slice_of(file, sim::k_macho_cpu_arm64);
        ASSERT_NE(x86, 0u);
        ASSERT_NE(arm, 0u);
    }

    Bytes file;
    size_t x86 = 0, arm = 0;
};

TEST_F(MachoFile, TheUniversalFileShowsTheHostsSliceAndTheArm64SliceIsSignedCorrectly) {
    sim::BinaryInfo info;
    std::string error;
    ASSERT_TRUE(sim::inspect_binary(file.data(), file.size(), &info, &error)) << error;
    EXPECT_EQ(sim::binary_kind(info), "Mach-O 64-bit");
    EXPECT_TRUE(info.universal);
    EXPECT_TRUE(info.shared_library);
    EXPECT_EQ(info.machine_name, sim::macho_cpu_name(sim::macho_host_cpu()));
    EXPECT_EQ(info.exports, std::vector<std::string>{"_mod_descrip"});
    EXPECT_EQ(info.imports, std::vector<std::string>{"/usr/lib/libSystem.B.dylib"});

    // Without an x86-64 slice, the arm64 one is read, and its signature checked page by page.
    Bytes arm_only = file;
    put_be32(arm_only, slice_entry(file, sim::k_macho_cpu_x86_64), 0x12); // relabelled PowerPC
    ASSERT_TRUE(sim::inspect_binary(arm_only.data(), arm_only.size(), &info, &error)) << error;
    EXPECT_EQ(info.machine_name, "AArch64");
    EXPECT_TRUE(info.code_signature);
}

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
// As dlopen does: a file opened again while loaded is the same image, mapped once.
TEST_F(MachoFile, AFileLoadedTwiceIsOneImageFoundThroughTheExportTrie) {
    {
        sim::Module a{k_universal};
        ASSERT_TRUE(a.ok()) << a.error();
        {
            sim::Module b{k_universal};
            ASSERT_TRUE(b.ok()) << b.error();
            EXPECT_EQ(a.descriptor(), b.descriptor());
        }
        EXPECT_EQ(a.server_count(), 1u);             // still mapped after b let go of it
        EXPECT_EQ(a.symbol("mod_descrip"), nullptr); // the C name exported is _mod_descrip
        EXPECT_EQ(a.symbol("_mod_descrip"), a.descriptor());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(a.startup()), 4u);
    }
    sim::Module c{k_universal};
    ASSERT_TRUE(c.ok()) << c.error();
    EXPECT_EQ(c.server_count(), 1u);
}
#endif

// Each fault: how to make it from the universal file, and the id the inspector (or, for an
// import only the loader judges, the loader) reports.
struct Fault {
    const char *name;
    std::function<void(Bytes &, size_t x86, size_t arm)> make;
    const char *id;
    bool inspector_accepts;
};

TEST_F(MachoFile, DamagedFilesAreRefusedWithTheirReasonByTheInspectorAndTheLoader) {
    const Fault faults[] = {
        {"truncated", [](Bytes &b, size_t x, size_t) { b.resize(x + 0x2000); }, "binary-outside-file", false},
        {"no-slice",
         [](Bytes &b, size_t, size_t) {
             put_be32(b, 8, 0x12);
             put_be32(b, 28, 0x7);
         },
         "binary-macho-no-slice", false},
        {"thin-32-bit",
         [](Bytes &b, size_t x, size_t) {
             b.erase(b.begin(), b.begin() + static_cast<long>(x));
             put_le32(b, 0, 0xfeedface);
         },
         "binary-macho-32-bit", false},
        {"chained-fixups",
         [](Bytes &b, size_t x, size_t) { put_le32(b, command(b, x, 0x29), 0x80000034); }, // LC_DATA_IN_CODE
         "binary-macho-unsupported: the module uses chained fixups", false},
        {"export-trie-loop",
         [](Bytes &b, size_t x, size_t) {
             const size_t info = command(b, x, 0x80000022); // LC_DYLD_INFO_ONLY
             const size_t trie = x + le32(b, info + 40);
             b[trie + 2 + sizeof "__mod_descrip"] = 0; // the root's one edge leads back to the root
         },
         "binary-macho-export-trie: the export trie loops back on itself", false},
        {"weak-import",
         [](Bytes &b, size_t x, size_t) {
             const size_t info = command(b, x, 0x80000022);
             const size_t binds = x + le32(b, info + 16);
             for (size_t at = binds;; ++at)
                 if ((b[at] & 0xf0) == 0x40) { // the first symbol's flags: a weak import
                     b[at] |= 1;
                     break;
                 }
         },
         "binary-macho-unsupported: the bind opcodes hold a weak import", false},
        {"bad-signature",
         [](Bytes &b, size_t, size_t a) {
             put_be32(b, slice_entry(b, sim::k_macho_cpu_x86_64), 0x12); // the arm64 slice is read
             b[a + 0x1000 + 17] ^= 1;                                    // a byte of its second page
         },
         "binary-macho-signature: the code signature does not match page 1 ", false},
#if !defined(__aarch64__) // renaming an import of the arm64 slice would break its signature first
        {"unknown-import",
         [](Bytes &b, size_t x, size_t a) { // in the x86-64 slice only: the arm64 one stays signed
             for (size_t at = x; at + 8 < (a > x ? a : b.size()); ++at)
                 if (std::memcmp(&b[at], "_strspn", 8) == 0) b[at + 6] = 'X';
         },
         "macho-unknown-import: the module imports _strspX, which this host does not provide", true},
#endif
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.name);
        Bytes bad = file;
        f.make(bad, x86, arm);
        sim::BinaryInfo info;
        std::string error;
        const bool read = sim::inspect_binary(bad.data(), bad.size(), &info, &error);
        EXPECT_EQ(read, f.inspector_accepts) << error;
        if (!f.inspector_accepts) {
            EXPECT_EQ(error.rfind(f.id, 0), 0u) << error;
        }
#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
        // Kept for the command-line host's cases (tests/CMakeLists.txt: play and check on them).
        const std::string path = std::string("macho/faults/") + f.name + ".p";
        write_file(path, bad);
        sim::Module m{path};
        EXPECT_FALSE(m.ok());
        EXPECT_NE(m.error().find(f.id), std::string::npos) << m.error();
#endif
    }
}

} // namespace
