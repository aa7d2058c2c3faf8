// SPDX-License-Identifier: MIT
// Isolated workers: a job that may crash (a module under test faulting, hanging or aborting) runs
// in a child process, and the caller learns how it ended and everything it wrote before.
//
//   sim::register_worker("sweep", sweep_worker);            // at start-up, in every process
//   sim::WorkerOutcome o = sim::run_worker({"sweep", "mod.so", "1", "50"}, 60.0);
//   if (o.status == sim::WorkerOutcome::Status::Crashed) ... o.crash ("SIGSEGV") ... o.output ...
//
// A worker is named by its words: the first is its kind, the rest its arguments. It writes its
// results as text lines to `out` and calls fflush(out) after each line that must survive a crash
// (`out` is line-buffered on Linux, fully buffered on Windows, whose C runtime has no line
// buffering and where a pipe write per line is slow). A worker that runs many jobs should print a line before and after
// each one: the job that began and did not end is the one that crashed, and the caller starts a new worker with the job
// after it.
//
// Linux: the child is a fork of the caller; it runs worker_main with `out` a pipe to the parent
// (its standard output goes into the same pipe, so nothing the module prints reaches the
// caller's standard output), then _exit with worker_main's answer (exit in a coverage build, so
// that the modules it loaded write their counters). A signal that ends the child is reported by name.
// Windows: the child is the program itself, started as `PROGRAM worker ARGS...`; the program's
// main must hand those words to worker_main (apps/zendro_host.cpp does). Its standard output is a
// pipe to the parent; worker_main installs an unhandled-exception filter that ends the process
// with the exception code, and an exit code of 0xC0000000 or above is reported as that exception.
//
// Both: the caller's standard error is shared with the child (sanitizer reports land there); a
// child still running after `timeout_seconds` is killed and reported as TimedOut with what it
// wrote so far.
//
// run_worker may be called from several threads at once, a child for each: the start of a child
// is serialised so that no child inherits another's pipe (whose end would then wait for both).
// On Linux the child is a fork of the calling thread alone; a worker must not rely on a lock that
// another thread of the caller may hold (the C library's own are reset in the child).
#ifndef HOST_ISOLATE_H
#define HOST_ISOLATE_H

#include <cstdio>
#include <string>
#include <vector>

namespace sim {

// A worker runs a job named by words ("sweep", MODULE, ...): the words after `zendro_host worker`.
// Returns the child's exit status (0..125).
using WorkerFn = int (*)(const std::vector<std::string> &args, std::FILE *out);
void register_worker(const std::string &kind, WorkerFn fn); // kind = args[0]
// Runs the worker registered for args[0] with `out` = standard output. An unknown kind or no words
// print a message to standard error and answer 2.
int worker_main(const std::vector<std::string> &args);

struct WorkerOutcome {
    enum class Status { Exited, Crashed, TimedOut, Failed } status = Status::Failed; // Failed: could not start
    int exit_code = 0;                                                               // Exited
    std::string crash;  // Crashed: "SIGSEGV", "exception 0xC0000005"
    std::string output; // all the worker wrote to `out`, also when it crashed part way
    std::string error;  // Failed: why
    // "exited with 3", "crashed (SIGSEGV)", "timed out after 5 s", "could not start: ..."
    std::string describe() const;
};

WorkerOutcome run_worker(const std::vector<std::string> &args, double timeout_seconds);

// The name of what ended a process, as every crash report prints it: on Linux a signal number
// ("SIGSEGV", "SIGABRT", "signal 42"), on Windows an exception code ("exception 0xC0000005").
// Returned by value and made without allocating or locking, so a signal handler or an
// unhandled-exception filter may call it.
struct CrashName {
    char text[24];
};
CrashName crash_name(unsigned long code);

} // namespace sim

#endif // HOST_ISOLATE_H
