// SPDX-License-Identifier: MIT
// Command-line host: loads a tool module file as the host does and plays a session script against
// it through the host simulator (docs/sessions.md describes the scripts), or validates module
// files with the conformance checks (docs/validator.md).
//
//   zendro_host play MODULE SCRIPT [OPTION...]
//   zendro_host check MODULE... [OPTION...]
//
// Each verb's options are one table (apps/command_line.h), which the parser and the usage text
// (`zendro_host --help`) both read.
//
// play's exit status: 0 when every step held; 1 when a simulator violation, a failed expectation
// or an impossible step was found, or the module crashed; 2 when the command line, the script or
// the module file is unusable (nothing was played). check's: 0 every check passed or was skipped,
// 1 a check failed, 2 a bad command line.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <csignal>
#endif

#include "apps/command_line.h"
#include "host/check/check.h"
#include "host/isolate/isolate.h"
#include "host/base/os.h"
#include "host/player/player.h"
#include "host/script/script.h"

namespace {

// Script errors and failures listed one per line; the rest are counted.
constexpr size_t k_listed = 50;

// A bad command line: the message (when there is one), then the usage of the verb (of every verb
// when `verb` is null) on standard error; exit status 2.
int usage_error(const char *verb, const std::string &why) {
    if (!why.empty()) std::fprintf(stderr, "zendro_host%s%s: %s\n", verb ? " " : "", verb ? verb : "", why.c_str());
    std::fputs(cli::usage_text(verb).c_str(), stderr);
    return 2;
}

bool is_help(const std::string &word) { return word == "--help" || word == "-h" || word == "help"; }

// ---- Crash report -----------------------------------------------------------------------------
// What the handler writes is prepared before each step, so the handler itself only writes bytes:
// "<head>(<signal or exception>)<tail>", the crash named by sim::crash_name as the isolated
// workers' crashes are.

char g_crash_head[512];
char g_crash_tail[1536];
size_t g_crash_head_len, g_crash_tail_len;

void copy_into(char *dst, size_t cap, size_t *len, const std::string &text) {
    *len = text.size() < cap ? text.size() : cap - 1;
    std::memcpy(dst, text.data(), *len);
}

void set_crash_context(const std::string &script, const std::string &where, const std::string &statement) {
    copy_into(g_crash_head, sizeof g_crash_head, &g_crash_head_len,
              script + ":" + where + ": session-crash: the module crashed (");
    copy_into(g_crash_tail, sizeof g_crash_tail, &g_crash_tail_len, ") during `" + statement + "`\n");
}

#ifdef _WIN32

void write_err(const char *p, size_t n) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), p, static_cast<DWORD>(n), &written, nullptr);
}

LONG WINAPI on_exception(EXCEPTION_POINTERS *info) {
    const sim::CrashName name =
        sim::crash_name(info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0);
    write_err(g_crash_head, g_crash_head_len);
    write_err(name.text, std::strlen(name.text));
    write_err(g_crash_tail, g_crash_tail_len);
    TerminateProcess(GetCurrentProcess(), 1);
    return EXCEPTION_EXECUTE_HANDLER;
}

void install_crash_handler() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(on_exception);
}

#else

void write_err(const char *p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(2, p, n);
        if (w <= 0) return;
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void on_signal(int sig) {
    const sim::CrashName name = sim::crash_name(static_cast<unsigned long>(sig));
    write_err(g_crash_head, g_crash_head_len);
    write_err(name.text, std::strlen(name.text));
    write_err(g_crash_tail, g_crash_tail_len);
    _exit(1);
}

// A stack of its own, so that a stack overflow in the module is reported too.
alignas(16) char g_signal_stack[64 * 1024];

void install_crash_handler() {
    stack_t ss{};
    ss.ss_sp = g_signal_stack;
    ss.ss_size = sizeof g_signal_stack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(sig, &sa, nullptr);
}

#endif

// ---- Report -----------------------------------------------------------------------------------

// Columns a terminal gives the UTF-8 text: one per character, two for the wide East Asian ones.
size_t display_width(const std::string &text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        uint32_t cp = n == 1 ? c : c & (0x7Fu >> n);
        for (size_t k = 1; k < n && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
        width += wide ? 2 : 1;
        i += n;
    }
    return width;
}

std::string padded(const std::string &text, size_t width) {
    const size_t w = display_width(text);
    return w < width ? text + std::string(width - w, ' ') : text;
}

// Every key written in the session, per item and channel, in write order. Names are written as a
// script writes them (quoted when they hold blanks) and the columns are as wide as the widest.
void print_keys(const sim::Host &host) {
    std::printf("\n-- keys written (item, channel: value at time; + created, = replaced)\n");
    std::map<std::tuple<sim::ItemId, std::string, int>, std::vector<const sim::KeyWrite *>> by_channel;
    for (const sim::KeyWrite &w : host.writes()) by_channel[{w.item, w.channel, w.occurrence}].push_back(&w);
    std::vector<std::pair<std::string, std::string>> names;
    size_t item_width = 5, channel_width = 11;
    for (const auto &entry : by_channel) {
        std::string channel = sim::print_name(std::get<1>(entry.first));
        if (std::get<2>(entry.first) > 0) channel += "#" + std::to_string(std::get<2>(entry.first) + 1);
        names.emplace_back(sim::print_name(host.item_name(std::get<0>(entry.first))), channel);
        item_width = std::max(item_width, display_width(names.back().first));
        channel_width = std::max(channel_width, display_width(names.back().second));
    }
    size_t row = 0;
    for (const auto &entry : by_channel) {
        const auto &name = names[row++];
        std::printf("%s %s", padded(name.first, item_width).c_str(), padded(name.second, channel_width).c_str());
        for (const sim::KeyWrite *w : entry.second)
            std::printf(" %c%.17g@%g", w->created ? '+' : '=', w->value, w->time);
        std::printf("\n");
    }
}

bool read_file(const std::string &path, std::string *text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

// Makes the folder when missing and tries a file in it, so that a folder no picture can go into
// is a bad command line rather than a failure at every step.
bool writable_folder(const std::string &folder, std::string *why) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        *why = "cannot make the folder" + (ec ? " (" + ec.message() + ")" : std::string(" (a file is in the way)"));
        return false;
    }
    const std::filesystem::path probe = std::filesystem::path(folder) / ".zendro-write-probe";
    bool ok = static_cast<bool>(std::ofstream(probe, std::ios::binary | std::ios::trunc));
    std::filesystem::remove(probe, ec);
    if (!ok) *why = "cannot write a file in the folder";
    return ok;
}

// Reads and parses the script; prints what is wrong with it on standard error and answers false
// when it cannot be played.
bool read_play_script(const char *script_path, sim::ParseResult *parsed) {
    std::string text;
    std::error_code ec;
    if (std::filesystem::is_directory(script_path, ec)) {
        std::fprintf(stderr, "%s: cannot read the script file: it is a folder\n", script_path);
        return false;
    }
    if (!read_file(script_path, &text)) {
        std::fprintf(stderr, "%s: cannot read the script file\n", script_path);
        return false;
    }
    *parsed = sim::parse_script(text);
    for (size_t i = 0; i < parsed->errors.size() && i < k_listed; ++i)
        std::fprintf(stderr, "%s:%s\n", script_path, parsed->errors[i].message().c_str());
    if (parsed->errors.size() > k_listed)
        std::fprintf(stderr, "%s: ... and %zu more errors\n", script_path, parsed->errors.size() - k_listed);
    if (!parsed->ok()) return false;
    // A script that plays nothing proves nothing: an empty file, or a wrong path such as /dev/null.
    if (parsed->script.statements.empty()) {
        std::fprintf(stderr, "%s: the script holds no statements\n", script_path);
        return false;
    }
    return true;
}

// Plays every statement, the crash context set before each, then finishes the session.
void play_statements(sim::Player &player, const char *script_path, const std::vector<sim::Statement> &statements) {
    for (const sim::Statement &s : statements) {
        set_crash_context(script_path, "line " + std::to_string(s.line), sim::clip_echo(s.source));
        std::fflush(stdout);
        player.step(s);
    }
    set_crash_context(script_path, "end", "release");
    std::fflush(stdout);
    player.finish();
}

// The session's warnings under their heading; answers how many there were.
size_t print_warnings(sim::Player &player, const char *script_path) {
    size_t warnings = 0;
    for (const sim::Finding &f : player.findings()) {
        if (f.kind != sim::Finding::Kind::Warning) continue;
        if (!warnings) std::printf("\n-- warnings (they do not fail the session)\n");
        ++warnings;
        std::printf("%s:%s\n", script_path, f.text().c_str());
    }
    return warnings;
}

// The failures no expect statement named (the first k_listed of them) and the summary line;
// answers whether the session held.
bool print_failures_and_summary(sim::Player &player, const char *script_path, size_t statements, size_t warnings) {
    size_t violations = 0, expected = 0, expectations = 0, impossible = 0, errors = 0, listed = 0;
    for (const sim::Finding &f : player.findings()) {
        switch (f.kind) {
        case sim::Finding::Kind::Warning: continue;
        case sim::Finding::Kind::Violation:
            ++violations;
            expected += f.expected;
            break;
        case sim::Finding::Kind::Expectation: ++expectations; break;
        case sim::Finding::Kind::Impossible: ++impossible; break;
        case sim::Finding::Kind::Error: ++errors; break;
        }
        if (f.expected) continue;
        if (!listed) std::printf("\n-- failures\n");
        if (listed++ < k_listed) std::printf("%s:%s\n", script_path, f.text().c_str());
    }
    if (listed > k_listed) std::printf("%s: ... and %zu more failures\n", script_path, listed - k_listed);
    const bool ok = player.failures() == 0;
    std::printf("\n== %s: %zu statements, %zu keys written, %zu violations", ok ? "ok" : "FAILED", statements,
                player.host().writes().size(), violations);
    if (expected) std::printf(" (%zu expected)", expected);
    std::printf(", %zu failed expectations, %zu impossible steps", expectations, impossible);
    if (errors) std::printf(", %zu player errors", errors);
    if (warnings) std::printf(", %zu warning%s", warnings, warnings == 1 ? "" : "s");
    std::printf("\n");
    return ok;
}

// Loads the module, plays the statements and prints the report; the exit status.
int play_module(cli::PlayCommand &command, const char *module_path, const char *script_path,
                const std::vector<sim::Statement> &statements) {
    sim::PlayerOptions &options = command.player;
    options.narration = command.quiet ? nullptr : stdout;
    install_crash_handler();
    sim::Player player(options);
    set_crash_context(script_path, "start", "start-up");
    if (!player.load(module_path)) {
        std::fprintf(stderr, "%s: %s\n", module_path, player.error().c_str());
        return 2;
    }
    if (!command.quiet)
        std::printf("== %s: server \"%s\", %s\n", module_path, player.server_name().c_str(), script_path);
    // The host does not read the alignment word, so such a module plays; check's descriptor-words
    // fails it.
    const std::string alignment = sim::descriptor_alignment_problem(*player.module());
    if (!alignment.empty()) std::printf("%s: warning %s\n", module_path, alignment.c_str());
    play_statements(player, script_path, statements);
    if (options.trace) std::printf("\n-- trace\n%s", player.host().trace().text().c_str());
    if (!command.quiet) print_keys(player.host());
    const size_t warnings = (alignment.empty() ? 0 : 1) + print_warnings(player, script_path);
    return print_failures_and_summary(player, script_path, statements.size(), warnings) ? 0 : 1;
}

int play(const std::vector<std::string> &words) {
    cli::PlayCommand command;
    std::vector<std::string> operands;
    std::string error;
    switch (cli::parse_options(words, cli::play_option_rules(), &command, &operands, &error)) {
    case cli::ParseStatus::Help: std::fputs(cli::usage_text("play").c_str(), stdout); return 0;
    case cli::ParseStatus::Error: return usage_error("play", error);
    case cli::ParseStatus::Ok: break;
    }
    if (operands.size() < 2) return usage_error("play", "play needs a MODULE and a SCRIPT");
    if (operands.size() > 2) return usage_error("play", "play takes one MODULE and one SCRIPT");
    const char *module_path = operands[0].c_str(), *script_path = operands[1].c_str();
    sim::PlayerOptions &options = command.player;
    std::string unwritable;
    if (!options.pictures_dir.empty() && !writable_folder(options.pictures_dir, &unwritable)) {
        std::fprintf(stderr, "zendro_host play: --pictures %s: %s\n", options.pictures_dir.c_str(), unwritable.c_str());
        return 2;
    }
    sim::ParseResult parsed;
    if (!read_play_script(script_path, &parsed)) return 2;
    // The file is inspected before the loader maps it: a truncated or foreign file can crash the
    // loader or the start-up, and the inspector says what is wrong with it.
    const std::string unusable = sim::module_file_problem(module_path);
    if (!unusable.empty()) {
        std::fprintf(stderr, "%s: %s\n", module_path, unusable.c_str());
        return 2;
    }
    return play_module(command, module_path, script_path, parsed.script.statements);
}

// check's command line is read through check's own option table, so that a bad one is reported
// with the same usage text as play's; the checks are then run by sim::check_main.
int check(const std::vector<std::string> &words) {
    sim::CheckOptions options;
    std::string error;
    switch (sim::parse_check_options(words, &options, &error)) {
    case cli::ParseStatus::Help: std::fputs(cli::usage_text("check").c_str(), stdout); return 0;
    case cli::ParseStatus::Error: return usage_error("check", error);
    case cli::ParseStatus::Ok: break;
    }
    const std::string problem = sim::check_options_problem(options);
    if (!problem.empty()) return usage_error("check", problem);
    return sim::check_main(options, stdout, stderr);
}

} // namespace

int main(int argc, char **argv) {
    sim::register_check_workers();
    if (argc < 2) return usage_error(nullptr, std::string());
    const std::string command = argv[1];
    std::vector<std::string> words(argv + 2, argv + argc);
    // A child process of this program running one isolated job (host/isolate/isolate.h); not for users.
    if (command == "worker") return sim::worker_main(words);
    if (is_help(command)) {
        std::fputs(cli::usage_text().c_str(), stdout);
        return 0;
    }
    if (words.size() == 1 && words[0] == "help") words[0] = "--help"; // as `zendro_host help` asks for it
    if (command == "play") return play(words);
    if (command == "check") return check(words);
    return usage_error(nullptr, "unknown command " + command);
}
