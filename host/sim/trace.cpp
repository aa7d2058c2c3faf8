// SPDX-License-Identifier: MIT
// The call trace, text helpers and the trap routines.
#include <cstdio>
#include <cstring>
#include <utility>

#include "host/sim/internal.h"
#include "host/script/script.h"

namespace sim {

// ---- Trace ------------------------------------------------------------------------------------

void Trace::add(char mark, const std::string &text) {
    if (!on_) return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "+%.6f %c ", seconds, mark);
    lines_.push_back(stamp + text);
    if (echo_) {
        std::fputs(lines_.back().c_str(), echo_);
        std::fputc('\n', echo_);
        std::fflush(echo_);
    }
}

std::string Trace::text() const { return tail(lines_.size()); }

std::string Trace::tail(size_t count) const {
    std::string out;
    const size_t from = lines_.size() > count ? lines_.size() - count : 0;
    for (size_t i = from; i < lines_.size(); ++i) {
        out += lines_[i];
        out += '\n';
    }
    return out;
}

// ---- Text -------------------------------------------------------------------------------------

std::string vformat(const char *fmt, va_list args) {
    char small[256];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&big[0], big.size(), fmt, args);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string format(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string s = vformat(fmt, args);
    va_end(args);
    return s;
}

std::string quote(const char *text) {
    if (!text) return "null";
    return "\"" + std::string(text) + "\"";
}

std::string hex(const void *p) {
    return format("0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
}

std::string num(double v) { return format_real(v); }

std::string vec(const double v[3]) {
    if (!v) return "null";
    return "(" + num(v[0]) + "," + num(v[1]) + "," + num(v[2]) + ")";
}

// ---- Traps ------------------------------------------------------------------------------------

const char *trap_service_name(TrapService service) {
    switch (service) {
    case TRAP_INFO_MESSAGES: return HOST_SERVICE_INFO_MESSAGES;
    case TRAP_COMMAND: return HOST_SERVICE_COMMAND;
    case TRAP_ITEM: return HOST_SERVICE_ITEM;
    case TRAP_CHANNEL: return HOST_SERVICE_CHANNEL;
    case TRAP_ENVELOPES: return HOST_SERVICE_ENVELOPES;
    case TRAP_VIEWPORT: return HOST_SERVICE_VIEWPORT;
    case TRAP_PANEL: return HOST_SERVICE_PANEL;
    case TRAP_CONTROL: return "control record";
    case TRAP_DRAW: return "drawing record";
    case TRAP_SERVICE_COUNT: break;
    }
    return "?";
}

namespace {

void trap_hit(int service, int slot) {
    Host *host = Host::current();
    const char *name = trap_service_name(static_cast<TrapService>(service));
    if (!host) {
        std::fprintf(stderr, "trap: %s slot %d called with no host\n", name, slot);
        return;
    }
    host->trace().add('!', format("trap %s slot %d", name, slot));
    host->violation(violation_id::service_trap_called,
                    format("trap: %s slot %d called; the module has no business calling it", name, slot));
}

// Answers null (or 0), so a module that uses the result of a trap sees nothing.
template <int S, int I> void *HOST_CALL trap_routine() {
    trap_hit(S, I);
    return nullptr;
}

template <int S, size_t... I> void fill_row(host_slot *row, std::index_sequence<I...>) {
    ((row[I] = reinterpret_cast<host_slot>(&trap_routine<S, static_cast<int>(I)>)), ...);
}

template <size_t... S> void fill_all(host_slot (*table)[TRAP_SLOTS], std::index_sequence<S...>) {
    (fill_row<static_cast<int>(S)>(table[S], std::make_index_sequence<TRAP_SLOTS>()), ...);
}

struct TrapTable {
    host_slot slots[TRAP_SERVICE_COUNT][TRAP_SLOTS];
    TrapTable() { fill_all(slots, std::make_index_sequence<TRAP_SERVICE_COUNT>()); }
};

} // namespace

host_slot trap(TrapService service, int slot) {
    static const TrapTable table;
    return table.slots[service][slot];
}

} // namespace sim
