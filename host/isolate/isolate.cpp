// SPDX-License-Identifier: MIT
// Isolated workers (host/isolate.h): a forked child on Linux, a child process of the program
// itself on Windows.
#include "host/isolate/isolate.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#endif

#include "host/base/os.h"

#ifdef ZENDRO_COVERAGE
// libgcov's entry points (gcc's gcov.h): write this program's counters now; set them to zero.
extern "C" void __gcov_dump(void);
extern "C" void __gcov_reset(void);
#endif

namespace sim {

namespace {

std::map<std::string, WorkerFn> &workers() {
    static std::map<std::string, WorkerFn> table;
    return table;
}

using Clock = std::chrono::steady_clock;

// Held from the making of a child's pipe until the parent has closed its copy of the pipe's write
// end, so that a child started by another thread meanwhile never inherits that write end (the
// pipe would then reach its end only when that other child exits too).
// A forked child, which holds the lock in the copy of the thread that made it, takes a new one so
// that it can start workers of its own.
std::mutex *&start_mutex_pointer() {
    static std::mutex *m = new std::mutex;
    return m;
}
std::mutex &start_mutex() { return *start_mutex_pointer(); }

double seconds_left(Clock::time_point deadline) {
    return std::chrono::duration<double>(deadline - Clock::now()).count();
}

#ifdef _WIN32

LONG WINAPI exit_with_exception_code(EXCEPTION_POINTERS *info) {
    const DWORD code = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0xC0000001u;
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

void prepare_child() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(exit_with_exception_code);
    _setmode(_fileno(stdout), _O_BINARY);
    // The C runtime has no line buffering (it buffers such a stream fully), and an unbuffered
    // stream costs a pipe write per call, which is slow under wine: buffered fully, and a worker
    // flushes each line that must survive a crash.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

std::wstring widen(const std::string &s) {
    if (s.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

// One argument as the C runtime's command-line parser splits it back: quoted when it is empty or
// holds blanks or quotes; backslashes doubled where a quote follows them.
void append_quoted(std::wstring *line, const std::wstring &arg) {
    if (!line->empty()) line->push_back(L' ');
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        *line += arg;
        return;
    }
    line->push_back(L'"');
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') line->append(backslashes * 2 + 1, L'\\');
        else line->append(backslashes, L'\\');
        backslashes = 0;
        line->push_back(c);
    }
    line->append(backslashes * 2, L'\\');
    line->push_back(L'"');
}

std::string last_error_text(const char *what) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s failed (error %lu)", what, static_cast<unsigned long>(GetLastError()));
    return buf;
}

WorkerOutcome run_child(const std::vector<std::string> &args, double timeout_seconds) {
    WorkerOutcome o;
    std::wstring program(32768, L'\0');
    const DWORD len = GetModuleFileNameW(nullptr, &program[0], static_cast<DWORD>(program.size()));
    if (len == 0 || len >= program.size()) {
        o.error = last_error_text("GetModuleFileNameW");
        return o;
    }
    program.resize(len);
    std::wstring line;
    append_quoted(&line, program);
    append_quoted(&line, L"worker");
    for (const std::string &a : args) append_quoted(&line, widen(a));

    // Neither end is inheritable but while this child starts: another thread's child, started with
    // bInheritHandles too, must not take this pipe's write end along.
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) {
        o.error = last_error_text("CreatePipe");
        return o;
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = write_end;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    BOOL started = FALSE;
    {
        const std::lock_guard<std::mutex> lock(start_mutex());
        std::fflush(nullptr);
        if (SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
            started = CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(write_end);
    }
    if (!started) {
        o.error = last_error_text("CreateProcessW");
        CloseHandle(read_end);
        return o;
    }
    CloseHandle(pi.hThread);

    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout_seconds));
    char buf[4096];
    bool exited = false, timed_out = false;
    for (;;) {
        DWORD avail = 0;
        if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &avail, nullptr)) break; // the child closed it
        if (avail > 0) {
            DWORD got = 0;
            if (!ReadFile(read_end, buf, avail < sizeof buf ? avail : static_cast<DWORD>(sizeof buf), &got, nullptr))
                break;
            o.output.append(buf, got);
            continue;
        }
        if (exited) break;
        if (WaitForSingleObject(pi.hProcess, 5) == WAIT_OBJECT_0) exited = true; // drain once more
        else if (seconds_left(deadline) <= 0) {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, INFINITE);
            timed_out = true;
            exited = true;
        }
    }
    CloseHandle(read_end);
    if (!timed_out &&
        WaitForSingleObject(pi.hProcess, static_cast<DWORD>(seconds_left(deadline) > 0 ? seconds_left(deadline) * 1000
                                                                                       : 0)) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        timed_out = true;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    if (timed_out) o.status = WorkerOutcome::Status::TimedOut;
    else if (code >= 0xC0000000u) {
        o.status = WorkerOutcome::Status::Crashed;
        o.crash = crash_name(code).text;
    } else {
        o.status = WorkerOutcome::Status::Exited;
        o.exit_code = static_cast<int>(code);
    }
    return o;
}

#else

// Fully buffered: a worker flushes what must survive a crash (write_record), and a worker that
// runs thousands of jobs writes once per job rather than once per line.
void prepare_child() {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

// The read ends of the pipes of the children still running, which a new child closes: it has no
// use for them. Guarded by start_mutex().
std::vector<int> &open_read_ends() {
    static std::vector<int> fds;
    return fds;
}

WorkerOutcome run_child(const std::vector<std::string> &args, double timeout_seconds) {
    WorkerOutcome o;
    int fds[2];
    pid_t pid = -1;
    {
        const std::lock_guard<std::mutex> lock(start_mutex());
        if (pipe(fds) != 0) {
            o.error = std::string("pipe failed: ") + std::strerror(errno);
            return o;
        }
        std::fflush(nullptr); // nothing buffered may be written twice, by parent and child
        pid = fork();
        if (pid < 0) {
            o.error = std::string("fork failed: ") + std::strerror(errno);
            close(fds[0]);
            close(fds[1]);
            return o;
        }
        if (pid == 0) {
            // The forking thread is the child's only one and holds the lock: the list is as it was.
            for (int fd : open_read_ends()) close(fd);
            open_read_ends().clear();
            start_mutex_pointer() = new std::mutex; // the held one is never unlocked here: _exit below
#ifdef ZENDRO_COVERAGE
            // The counts up to the fork are the parent's, which it writes itself.
            __gcov_reset();
#endif
            close(fds[0]);
            dup2(fds[1], 1);
            close(fds[1]);
            // A fault of the module must end the child as the signal it is, whatever handler the
            // caller (or a sanitizer run-time) installed.
            for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGPIPE}) std::signal(sig, SIG_DFL);
            const int code = worker_main(args);
            std::fflush(nullptr);
#ifdef ZENDRO_COVERAGE
            // This program's counters, then exit() rather than _exit(): each module still loaded in
            // the worker carries its own libgcov, which writes the module's counters only from the
            // module's destructors (at unloading or at exit). __gcov_dump marks this program's
            // counters written, so exit() does not write them a second time.
            __gcov_dump();
            std::exit(code);
#else
            _exit(code);
#endif
        }
        close(fds[1]);
        open_read_ends().push_back(fds[0]);
    }
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout_seconds));
    bool timed_out = false;
    char buf[4096];
    for (;;) {
        const double left = seconds_left(deadline);
        if (left <= 0) {
            timed_out = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue; // the deadline is tested above
        const ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break; // end of the child's output
        o.output.append(buf, static_cast<size_t>(got));
    }
    {
        const std::lock_guard<std::mutex> lock(start_mutex());
        std::vector<int> &open = open_read_ends();
        open.erase(std::find(open.begin(), open.end(), fds[0]));
        close(fds[0]);
    }
    if (timed_out) kill(pid, SIGKILL);
    int status = 0;
    for (;;) {
        const pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid) break;
        if (w < 0 && errno != EINTR) {
            o.error = std::string("waitpid failed: ") + std::strerror(errno);
            return o;
        }
        if (w == 0 && !timed_out && seconds_left(deadline) <= 0) {
            timed_out = true; // closed its output but kept running
            kill(pid, SIGKILL);
        }
        if (w == 0) usleep(1000);
    }
    if (timed_out) {
        o.status = WorkerOutcome::Status::TimedOut;
    } else if (WIFSIGNALED(status)) {
        o.status = WorkerOutcome::Status::Crashed;
        o.crash = crash_name(static_cast<unsigned long>(WTERMSIG(status))).text;
    } else {
        o.status = WorkerOutcome::Status::Exited;
        o.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return o;
}

#endif

} // namespace

void register_worker(const std::string &kind, WorkerFn fn) { workers()[kind] = fn; }

int worker_main(const std::vector<std::string> &args) {
    prepare_child();
    if (args.empty()) {
        std::fprintf(stderr, "worker: no job named\n");
        return 2;
    }
    auto it = workers().find(args[0]);
    if (it == workers().end()) {
        std::fprintf(stderr, "worker: unknown job \"%s\"\n", args[0].c_str());
        return 2;
    }
    const int code = it->second(args, stdout);
    std::fflush(stdout);
    return code;
}

WorkerOutcome run_worker(const std::vector<std::string> &args, double timeout_seconds) {
    WorkerOutcome o = run_child(args, timeout_seconds);
#ifdef _WIN32
    // Line ends are "\n" on every target; drop any "\r" a runtime added.
    std::string clean;
    clean.reserve(o.output.size());
    for (char c : o.output)
        if (c != '\r') clean.push_back(c);
    o.output.swap(clean);
#endif
    return o;
}

CrashName crash_name(unsigned long code) {
    CrashName name{};
    size_t n = 0;
    const auto put = [&](const char *text) {
        while (*text && n + 1 < sizeof name.text) name.text[n++] = *text++;
    };
#ifdef _WIN32
    put("exception 0x");
    for (int shift = 28; shift >= 0; shift -= 4) name.text[n++] = "0123456789ABCDEF"[(code >> shift) & 0xF];
#else
    switch (code) {
    case SIGSEGV: put("SIGSEGV"); break;
    case SIGBUS: put("SIGBUS"); break;
    case SIGFPE: put("SIGFPE"); break;
    case SIGILL: put("SIGILL"); break;
    case SIGABRT: put("SIGABRT"); break;
    case SIGKILL: put("SIGKILL"); break;
    case SIGTERM: put("SIGTERM"); break;
    case SIGPIPE: put("SIGPIPE"); break;
    case SIGTRAP: put("SIGTRAP"); break;
    default: {
        put("signal ");
        char digits[16];
        size_t d = 0;
        do digits[d++] = static_cast<char>('0' + code % 10);
        while ((code /= 10) != 0 && d < sizeof digits);
        while (d > 0) name.text[n++] = digits[--d];
    }
    }
#endif
    return name;
}

std::string WorkerOutcome::describe() const {
    switch (status) {
    case Status::Exited: return "exited with " + std::to_string(exit_code);
    case Status::Crashed: return "crashed (" + crash + ")";
    case Status::TimedOut: return "timed out";
    case Status::Failed: return "could not start: " + error;
    }
    return "?";
}

} // namespace sim
