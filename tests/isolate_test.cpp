// SPDX-License-Identifier: MIT
// The isolated runner: how a worker ended and what it wrote reach the caller, on every target.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/isolate/isolate.h"
#include "host/isolate/record.h"

namespace {

int exits_three(const std::vector<std::string> &args, std::FILE *out) {
    std::fprintf(out, "args %zu %s\n", args.size(), args.size() > 1 ? args[1].c_str() : "");
    return 3;
}

// A real fault, not a sanitizer's report of it (the sanitizer build would end the child with exit 1).
__attribute__((no_sanitize("address", "undefined"))) int prints_then_crashes(const std::vector<std::string> &,
                                                                             std::FILE *out) {
    std::fprintf(out, "begin 1\nend 1\nbegin 2\n");
    std::fflush(out);
    volatile int *volatile nowhere = nullptr;
    *nowhere = 1;
    std::fprintf(out, "end 2\n");
    return 0;
}

int hangs(const std::vector<std::string> &, std::FILE *out) {
    std::fprintf(out, "waiting\n");
    std::fflush(out);
    for (volatile unsigned long i = 0;; i = i + 1) {}
}

// More than any pipe holds: the caller must read while the child writes.
int talks_a_lot(const std::vector<std::string> &, std::FILE *out) {
    for (int i = 0; i < 20000; ++i) std::fprintf(out, "line %05d\n", i);
    return 0;
}

using Status = sim::WorkerOutcome::Status;

TEST(IsolatedWorker, ExitCodeAndOutputReachTheCaller) {
    // An argument with blanks and quotes must arrive as one word on Windows too.
    const sim::WorkerOutcome o = sim::run_worker({"exits-three", "a \"b\" c\\"}, 30);
    ASSERT_EQ(o.status, Status::Exited) << o.describe();
    EXPECT_EQ(o.exit_code, 3);
    EXPECT_EQ(o.output, "args 2 a \"b\" c\\\n");
}

TEST(IsolatedWorker, CrashKeepsEverythingWrittenBefore) {
    const sim::WorkerOutcome o = sim::run_worker({"crashes"}, 30);
    ASSERT_EQ(o.status, Status::Crashed) << o.describe();
    EXPECT_TRUE(o.crash == "SIGSEGV" || o.crash == "exception 0xC0000005") << o.crash;
    EXPECT_EQ(o.output, "begin 1\nend 1\nbegin 2\n");
}

// Named alike by the workers' outcome and by the command-line host's own handler.
TEST(CrashName, NamesSignalsAndExceptionCodes) {
#ifdef _WIN32
    EXPECT_STREQ(sim::crash_name(0xC0000005ul).text, "exception 0xC0000005");
    EXPECT_STREQ(sim::crash_name(0xC00000FDul).text, "exception 0xC00000FD");
#else
    EXPECT_STREQ(sim::crash_name(SIGSEGV).text, "SIGSEGV");
    EXPECT_STREQ(sim::crash_name(SIGABRT).text, "SIGABRT");
    EXPECT_STREQ(sim::crash_name(SIGRTMIN + 3).text, ("signal " + std::to_string(SIGRTMIN + 3)).c_str());
#endif
}

TEST(IsolatedWorker, LongOutputArrivesWhole) {
    const sim::WorkerOutcome o = sim::run_worker({"talks"}, 60);
    ASSERT_EQ(o.status, Status::Exited) << o.describe();
    ASSERT_EQ(o.output.size(), 20000u * 11u);
    EXPECT_EQ(o.output.substr(o.output.size() - 11), "line 19999\n");
}

TEST(IsolatedWorker, HangIsKilledAtTheTimeout) {
    const sim::WorkerOutcome o = sim::run_worker({"hangs"}, 1.5);
    EXPECT_EQ(o.status, Status::TimedOut) << o.describe();
    EXPECT_EQ(o.output, "waiting\n");
}

TEST(IsolatedWorker, UnknownJobAnswersTwo) {
    const sim::WorkerOutcome o = sim::run_worker({"no-such-job"}, 30);
    ASSERT_EQ(o.status, Status::Exited) << o.describe();
    EXPECT_EQ(o.exit_code, 2);
}

// The worker wire: what a record carries arrives unchanged, between lines a module printed.
class JobRecordWire : public testing::TestWithParam<std::string> {};

TEST_P(JobRecordWire, RoundTripKeepsEveryField) {
    const sim::JobRecord r = sim::JobRecord::found(GetParam(), "fail", "id " + GetParam())
                                 .with_step(-3)
                                 .with_count(7)
                                 .with_message(GetParam());
    const std::string output = "module says hi\n" + sim::record_line(r) + "@jobs\tnot one\n" +
                               sim::record_line(sim::JobRecord::begin("cut")).substr(0, 8);
    const std::vector<sim::JobRecord> back = sim::read_records(output);
    ASSERT_EQ(back.size(), 1u) << output;
    EXPECT_EQ(back[0], r) << output;
}

INSTANTIATE_TEST_SUITE_P(TrickyText, JobRecordWire,
                         testing::Values("", "plain", "say \"hi\"", "two\nlines\r\n", "tab\there", "back\\slash\\n",
                                         "\\", "trailing\\", "caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x99\x82",
                                         std::string("nul\0byte", 8)));

TEST(JobRecordJson, EscapesQuotesControlsAndKeepsUtf8) {
    EXPECT_EQ(sim::json_string("a\"b\\c\nd\te\x01 caf\xC3\xA9"), "\"a\\\"b\\\\c\\nd\\te\\u0001 caf\xC3\xA9\"");
}

} // namespace

// The test program is also its own worker: on Windows run_worker starts it as `PROGRAM worker ...`.
int main(int argc, char **argv) {
    sim::register_worker("exits-three", exits_three);
    sim::register_worker("crashes", prints_then_crashes);
    sim::register_worker("hangs", hangs);
    sim::register_worker("talks", talks_a_lot);
    if (argc > 1 && std::string(argv[1]) == "worker")
        return sim::worker_main(std::vector<std::string>(argv + 2, argv + argc));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
