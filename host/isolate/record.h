// SPDX-License-Identifier: MIT
// The one wire between a caller and its isolated workers (host/isolate/isolate.h): every line a
// worker writes for its caller is a JobRecord, written by write_record and read back by
// read_records, whatever the job (a check, a sweep of allocation refusals, a batch of random
// sessions, one session, a replay, a shrinking).
//
//   sim::write_record(out, sim::JobRecord::begin("17"));                 // flushed: survives a crash
//   sim::write_record(out, sim::JobRecord::outcome("17", "fail").with_id("time-mismatch").with_message(m));
//   for (const sim::JobRecord &r : sim::read_records(outcome.output)) ...
//
// A record is one line: the mark "@job", then its fields, each after a tab, with backslash,
// tab, carriage return and newline escaped (\\ \t \r \n); any other byte, UTF-8 included, goes
// as it is. Lines without the mark (what a module prints to its standard output, which shares the
// pipe) are not records and are skipped. The last field, the message, may be any text.
#ifndef HOST_ISOLATE_RECORD_H
#define HOST_ISOLATE_RECORD_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim {

struct JobRecord {
    // begin    a job of the worker began (job: its name; a seed, a sweep run)
    // step     a statement began (message: the statement, as a script writes it)
    // answered the statement just played, as it must be replayed (an activation's answer as "expect")
    // found    one id a job showed (verdict "fail" or "warn"), before its outcome
    // outcome  how a job ended: verdict "pass", "fail", "fail-blocks" (the later checks of the module
    //          cannot run) or "skip"; a begin without its outcome is the job that crashed
    // note     a fact the caller needs (id: its name, "allocations"; message: its value)
    // script   a session script the job made (message: the script)
    // error    the job could not run (message: why)
    std::string kind;
    std::string job;     // begin, found, outcome: the job's name; empty for a worker's only job
    std::string verdict; // found, outcome
    std::string id;      // found, outcome (fail): the violation or warning id; note: its name
    int64_t step = 0;    // found, outcome: 1-based statement that showed it; 0 for none or the end
    uint64_t count = 0;  // outcome of a session: the steps the player refused
    std::string message; // any text

    static JobRecord make(const char *kind, const std::string &job = std::string()) {
        JobRecord r;
        r.kind = kind;
        r.job = job;
        return r;
    }
    static JobRecord begin(const std::string &job) { return make("begin", job); }
    static JobRecord outcome(const std::string &job, const std::string &verdict) {
        return make("outcome", job).with_verdict(verdict);
    }
    static JobRecord found(const std::string &job, const std::string &verdict, const std::string &id) {
        return make("found", job).with_verdict(verdict).with_id(id);
    }
    static JobRecord text(const char *kind, const std::string &message) { return make(kind).with_message(message); }

    JobRecord with_verdict(const std::string &v) const {
        return copy([&](JobRecord &r) { r.verdict = v; });
    }
    JobRecord with_id(const std::string &v) const {
        return copy([&](JobRecord &r) { r.id = v; });
    }
    JobRecord with_step(int64_t v) const {
        return copy([&](JobRecord &r) { r.step = v; });
    }
    JobRecord with_count(uint64_t v) const {
        return copy([&](JobRecord &r) { r.count = v; });
    }
    JobRecord with_message(const std::string &v) const {
        return copy([&](JobRecord &r) { r.message = v; });
    }

    bool operator==(const JobRecord &o) const {
        return kind == o.kind && job == o.job && verdict == o.verdict && id == o.id && step == o.step &&
               count == o.count && message == o.message;
    }

private:
    template <typename F> JobRecord copy(F f) const {
        JobRecord r = *this;
        f(r);
        return r;
    }
};

// The record as one line, newline included.
std::string record_line(const JobRecord &r);
// Writes the record's line and flushes `out`, so that it survives a crash of the worker after it.
void write_record(std::FILE *out, const JobRecord &r);
// Writes the record without flushing: it reaches the caller with the next flushed one, or is lost
// when the worker crashes first. For records that need not survive a crash on their own.
void write_record_unflushed(std::FILE *out, const JobRecord &r);
// Every record in a worker's output, in order; a line cut short by a crash is not one.
std::vector<JobRecord> read_records(const std::string &output);

// The text as a JSON string, quotes included: quote, backslash and control characters escaped,
// UTF-8 passed through.
std::string json_string(const std::string &text);

} // namespace sim

#endif // HOST_ISOLATE_RECORD_H
