// SPDX-License-Identifier: MIT
// Random sessions: the generator's portable sequence, generated sessions as valid scripts with
// every step possible, and the shrinker keeping the violation.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/random/random.h"
#include "host/sim/alloc_hooks.h"
#include "host/sim/simulator.h"

namespace {

TEST(RandomSessionRng, Splitmix64SequenceAndBoundsAreTheSameEverywhere) {
    sim::Rng r(0);
    EXPECT_EQ(r.next(), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(r.next(), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(r.next(), 0x06C45D188009454Full);
    sim::Rng b(42);
    bool low = false, high = false;
    for (int i = 0; i < 2000; ++i) {
        const int64_t v = b.range(-3, 3);
        ASSERT_GE(v, -3);
        ASSERT_LE(v, 3);
        low = low || v == -3;
        high = high || v == 3;
    }
    EXPECT_TRUE(low && high) << "both ends of the range are drawn";
    EXPECT_EQ(b.below(0), 0u);
}

uint64_t fnv1a(const std::string &s) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

TEST(RandomSessions, ControlModulePassesWithEveryStepPossibleAndEachSessionIsAScript) {
    const std::string path = sim::module_path("zendro_test_control");
    sim::RandomSessionOptions o;
    size_t statements = 0;
    for (uint64_t seed = 1; seed <= 300; ++seed) {
        const sim::SessionResult r = sim::random_session(path, seed, o);
        ASSERT_FALSE(r.failed) << "seed " << seed << ": " << r.id << ": " << r.message;
        ASSERT_EQ(r.impossible, 0u) << "seed " << seed << ": " << r.first_impossible;
        const std::string text = sim::reproducer_script(r.statements, "");
        const sim::ParseResult p = sim::parse_script(text);
        ASSERT_TRUE(p.ok()) << p.errors[0].message();
        ASSERT_EQ(p.script.statements.size(), r.statements.size());
        for (size_t i = 0; i < r.statements.size(); ++i) ASSERT_EQ(p.script.statements[i], r.statements[i]) << i;
        statements += r.statements.size();
    }
    EXPECT_GT(statements, 300u * 30u) << "sessions reach past the scene";
}

// The same seed makes the same session on every target and pointer width (the text is compared
// by its digest; the session holds no allocation refusal, which builds without hooks leave out).
TEST(RandomSessions, SeedGivesTheSameSessionOnEveryTarget) {
    const std::string path = sim::module_path("zendro_test_control");
    sim::RandomSessionOptions o;
    const std::string a = sim::reproducer_script(sim::random_session(path, 3, o).statements, "");
    EXPECT_EQ(a, sim::reproducer_script(sim::random_session(path, 3, o).statements, ""));
    EXPECT_EQ(a.find("alloc"), std::string::npos);
    EXPECT_EQ(fnv1a(a), 0x91DFF38FC4AD91FCull) << a;
}

TEST(RandomSessionsReport, SpeedShowsASlowRateWithoutRoundingItAway) {
    sim::RandomSessions r;
    r.sessions = 51;
    r.seconds = 100.0;
    EXPECT_EQ(r.speed(), "51 sessions in 100.0 s (0.51 sessions/s)");
    r.sessions = 20000;
    r.seconds = 8.1;
    EXPECT_EQ(r.speed(), "20000 sessions in 8.1 s (2469 sessions/s)");
}

// Nothing in a run's first 2 seconds; then the rate and the time left from it (unknown before the
// first session ends, in minutes from 2 minutes up).
TEST(RandomSessionsReport, ProgressLineAfterTwoSeconds) {
    EXPECT_EQ(sim::random_progress_line({5000, 20000, 3, 1.99}), "");
    EXPECT_EQ(sim::random_progress_line({5000, 20000, 3, 2.0}),
              "5000 of 20000 sessions, 2500 sessions/s, 6 s left, 3 failed");
    EXPECT_EQ(sim::random_progress_line({0, 20000, 0, 2.5}),
              "0 of 20000 sessions, 0 sessions/s, time left unknown, 0 failed");
    EXPECT_EQ(sim::random_progress_line({10, 1000, 0, 20.0}),
              "10 of 1000 sessions, 0.5 sessions/s, 33 min left, 0 failed");
}

TEST(RandomSessionShrink, KeepsTheViolationWithEveryStepPossible) {
    const std::string path = sim::module_path("zendro_test_time");
    sim::RandomSessionOptions o;
    sim::SessionResult found;
    for (uint64_t seed = 1; seed <= 50 && !found.failed; ++seed) found = sim::random_session(path, seed, o);
    ASSERT_TRUE(found.failed);
    ASSERT_EQ(found.id, "time-mismatch");
    const sim::SessionRunner run = [&](const std::vector<sim::Statement> &s) {
        return sim::replay_session(path, s, o);
    };
    const std::vector<sim::Statement> shrunk = sim::shrink_session(found.statements, found.id, run);
    EXPECT_LE(shrunk.size(), 6u) << sim::reproducer_script(shrunk, "");
    EXPECT_LT(shrunk.size(), found.statements.size());
    const sim::SessionResult again = run(shrunk);
    EXPECT_TRUE(again.failed);
    EXPECT_EQ(again.id, "time-mismatch");
    EXPECT_EQ(again.impossible, 0u);
}

// A module kept loaded and reset between sessions gives, seed for seed, what a fresh load per
// session gives: verdicts, violation ids and steps, statements, keys and warnings, for our tools,
// a module that fails (each failure reloads it), one that keeps a block at start-up and one the
// keeper must refuse (it allocates while loading and counts its activations there, so a reset
// would make it fail).
struct Equivalence {
    const char *module;
    const char *loading; // what SessionSeries::loading() starts with
};

void PrintTo(const Equivalence &e, std::ostream *out) { *out << e.module; }

class RandomSessionsReset : public ::testing::TestWithParam<Equivalence> {};

std::string session_text(const sim::SessionResult &r) {
    std::string out = r.failed ? "fail " + r.id + " at " + std::to_string(r.step) + "\n" : "pass\n";
    for (const sim::SessionFinding &f : r.failures) out += "fail " + f.id + " " + std::to_string(f.step) + "\n";
    for (const sim::SessionFinding &f : r.warnings) out += "warn " + f.id + " " + std::to_string(f.step) + "\n";
    return out + "keys " + std::to_string(r.keys) + "\n" + sim::reproducer_script(r.statements, "");
}

TEST_P(RandomSessionsReset, GivesWhatAFreshLoadGives) {
#if defined(__SANITIZE_ADDRESS__)
    // Their blocks are never freed, on purpose; the leak checker would report them at exit.
    const std::string name = GetParam().module;
    if (name == "zendro_test_keep_block" || name == "zendro_test_load_alloc") GTEST_SKIP() << "leaks on purpose";
#endif
    const std::string path = sim::module_path(GetParam().module);
    sim::RandomSessionOptions fresh;
    fresh.reload_each_session = true;
    std::vector<std::string> expected;
    uint64_t failing = 0;
    {
        sim::SessionSeries series(path, fresh);
        for (uint64_t seed = 1; seed <= 120; ++seed) {
            const sim::SessionResult r = series.random(seed);
            ASSERT_FALSE(r.load_failed) << r.message;
            expected.push_back(session_text(r));
            if (r.failed && failing == 0) failing = seed;
        }
        EXPECT_EQ(series.loading(), "reload");
    }
    sim::SessionSeries series(path, sim::RandomSessionOptions());
    bool refused_allocation = false;
    for (uint64_t seed = 1; seed <= 120; ++seed) {
        const sim::SessionResult r = series.random(seed);
        ASSERT_EQ(session_text(r), expected[seed - 1]) << "seed " << seed;
        refused_allocation =
            refused_allocation || sim::reproducer_script(r.statements, "").find("refuse-alloc") != std::string::npos;
    }
    EXPECT_EQ(series.loading().rfind(GetParam().loading, 0), 0u) << series.loading();
    EXPECT_TRUE(refused_allocation || !sim::alloc_hooks_available()) << "sessions with refused allocations reset too";
    if (failing == 0) return;
    // The shrunk script of the first failing session, shrunk both ways.
    const sim::SessionResult first = series.random(failing);
    sim::SessionSeries again(path, fresh);
    const auto shrunk = [&](sim::SessionSeries &s) {
        return sim::reproducer_script(
            sim::shrink_session(
                first.statements, first.id, [&](const std::vector<sim::Statement> &c) { return s.replay(c); }, 400),
            "");
    };
    EXPECT_EQ(shrunk(series), shrunk(again));
}

#if defined(__SANITIZE_ADDRESS__)
// Our tools are built with the address sanitizer here, which registers their globals while they
// load: the keeper cannot tell that from a module's own allocation, and loads them afresh.
constexpr const char *k_tool_loading = "reload: it allocated while loading";
#else
constexpr const char *k_tool_loading = "reset";
#endif
#ifdef _WIN32
// The block is watched there (the C runtime's start-up allocates in every DLL), and every session
// changes it, so every next one loads the module afresh.
constexpr const char *k_load_alloc_loading = "reset";
#else
constexpr const char *k_load_alloc_loading = "reload: it allocated while loading";
#endif

INSTANTIATE_TEST_SUITE_P(Modules, RandomSessionsReset,
                         ::testing::Values(Equivalence{"zendro_kardel", k_tool_loading},
                                           Equivalence{"zendro_menlix", k_tool_loading},
                                           Equivalence{"zendro_strova", k_tool_loading},
                                           Equivalence{"zendro_test_time", "reset"},
                                           Equivalence{"zendro_test_keep_block", "reset"},
                                           Equivalence{"zendro_test_load_alloc", k_load_alloc_loading}),
                         [](const ::testing::TestParamInfo<Equivalence> &i) { return std::string(i.param.module); });

} // namespace
