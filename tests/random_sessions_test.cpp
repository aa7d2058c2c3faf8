// SPDX-License-Identifier: MIT
// Random sessions: the generator's portable sequence, generated sessions as valid scripts with
// every step possible, and the shrinker keeping the violation.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/random/random.h"
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

} // namespace
