// The module-file inspector on the modules this build made, and on files that are none: each
// must give an error, never a read outside the bytes (the sanitizer build checks the latter).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "host/sim/binary.h"
#include "host/sim/simulator.h"

namespace {

std::vector<unsigned char> file_bytes(const std::string &path) {
    std::vector<unsigned char> bytes;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
        std::fclose(f);
    }
    return bytes;
}

class BuiltModuleFile : public ::testing::TestWithParam<const char *> {};

TEST_P(BuiltModuleFile, OneExportThisBuildsWidthAndMachineAndTheCRuntimeImports) {
    sim::BinaryInfo info;
    std::string error;
    ASSERT_TRUE(sim::inspect_binary_file(sim::module_path(GetParam()), &info, &error)) << error;
    EXPECT_EQ(info.pointer_bits, static_cast<int>(sizeof(void *) * 8));
#if defined(__aarch64__)
    EXPECT_EQ(info.machine_name, "AArch64");
#else
    EXPECT_EQ(info.machine_name, sizeof(void *) == 8 ? "x86-64" : "x86");
#endif
    EXPECT_TRUE(info.shared_library);
    EXPECT_EQ(info.exports, std::vector<std::string>{"_mod_descrip"});
    ASSERT_FALSE(info.imports.empty());
#ifdef _WIN32
    const auto lower_equal = [](const std::string &a, const char *b) {
        std::string l;
        for (char c : a) l += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return l == b;
    };
    EXPECT_EQ(sim::binary_kind(info), sizeof(void *) == 8 ? "PE32+" : "PE32");
    for (const std::string &dll : info.imports)
        EXPECT_TRUE(lower_equal(dll, "kernel32.dll") || lower_equal(dll, "msvcrt.dll")) << dll;
#else
    EXPECT_EQ(sim::binary_kind(info), sizeof(void *) == 8 ? "ELF64" : "ELF32");
#if defined(__SANITIZE_ADDRESS__)
    const bool sanitized = true; // the sanitizer runtimes are linked on purpose
#else
    const bool sanitized = false;
#endif
    for (const std::string &lib : info.imports)
        EXPECT_TRUE(lib == "libc.so.6" || lib == "libm.so.6" ||
                    (sanitized && (lib.rfind("libasan.so", 0) == 0 || lib.rfind("libubsan.so", 0) == 0)))
            << lib;
#endif
}

INSTANTIATE_TEST_SUITE_P(Tools, BuiltModuleFile, ::testing::Values("zendro_kardel", "zendro_strova", "zendro_menlix"),
                         [](const ::testing::TestParamInfo<const char *> &p) { return std::string(p.param); });

// The error's id, or "ok".
std::string verdict(const std::vector<unsigned char> &bytes) {
    sim::BinaryInfo info;
    std::string error;
    if (sim::inspect_binary(bytes.data(), bytes.size(), &info, &error)) return "ok";
    return error.substr(0, error.find(':'));
}

TEST(BinaryInspector, FilesThatAreNoModuleGiveTheReason) {
    const std::string text = "cmake_minimum_required(VERSION 3.25)\nproject(x)\n";
    EXPECT_EQ(verdict(std::vector<unsigned char>(text.begin(), text.end())), "binary-unknown-format");
    EXPECT_EQ(verdict({}), "binary-unknown-format");
    EXPECT_EQ(verdict({0x7f, 'E', 'L', 'F', 2, 1}), "binary-truncated");
    EXPECT_EQ(verdict({'M', 'Z', 0x90, 0}), "binary-truncated");
    sim::BinaryInfo info;
    std::string error;
    EXPECT_FALSE(sim::inspect_binary_file("no/such/file.so", &info, &error));
    EXPECT_EQ(error.rfind("binary-unreadable", 0), 0u) << error;

    const std::string path = "binary_test_text.txt";
    if (std::FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    EXPECT_FALSE(sim::inspect_binary_file(path, &info, &error));
    EXPECT_NE(error.find("neither an ELF nor a PE file"), std::string::npos) << error;
    std::remove(path.c_str());
}

TEST(BinaryInspector, TruncatedDamagedAndRandomBytesGiveAnErrorNotACrash) {
    const std::vector<unsigned char> module = file_bytes(sim::module_path("zendro_kardel"));
    ASSERT_GT(module.size(), 4096u);
    ASSERT_EQ(verdict(module), "ok");
    for (size_t cut : {size_t{4}, size_t{16}, size_t{63}, size_t{200}, module.size() / 2, module.size() - 1}) {
        const std::string v = verdict(std::vector<unsigned char>(module.begin(), module.begin() + cut));
        EXPECT_TRUE(v == "binary-truncated" || v == "binary-outside-file") << cut << ": " << v;
    }
    std::mt19937 random(20240611);
    for (int round = 0; round < 1000; ++round) {
        // A damaged copy: a few bytes changed in the headers, at the end (an ELF file's section
        // headers) or anywhere.
        std::vector<unsigned char> damaged = module;
        const size_t n = damaged.size();
        for (int i = 0; i < 4; ++i) {
            const size_t span[3] = {1024, 2048, n};
            const size_t offset = random() % span[round % 3];
            damaged[round % 3 == 1 ? n - 1 - offset : offset] = static_cast<unsigned char>(random());
        }
        const std::string v = verdict(damaged);
        EXPECT_TRUE(v == "ok" || v.rfind("binary-", 0) == 0) << v;
        // Random bytes behind each format's magic, and with none.
        std::vector<unsigned char> noise(random() % 600);
        for (unsigned char &b : noise) b = static_cast<unsigned char>(random());
        for (const std::vector<unsigned char> &magic :
             {std::vector<unsigned char>{0x7f, 'E', 'L', 'F'}, std::vector<unsigned char>{'M', 'Z'},
              std::vector<unsigned char>{'#'}}) {
            std::vector<unsigned char> bytes = magic;
            bytes.insert(bytes.end(), noise.begin(), noise.end());
            const std::string w = verdict(bytes);
            EXPECT_TRUE(w != "ok" && w.rfind("binary-", 0) == 0) << w;
        }
    }
}

} // namespace
