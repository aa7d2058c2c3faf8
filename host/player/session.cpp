// SPDX-License-Identifier: MIT
// The session's data and findings: the text helpers of messages, what a finding and a step
// result say, and how the simulator's violations and warnings become findings of the step under way.
#include <cctype>
#include <climits>

#include "host/player/state.h"

namespace sim {

// ---- Text and statement helpers ---------------------------------------------------------------

namespace play {

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string ordinal(int64_t n) {
    const int64_t t = n % 100;
    const char *suffix = (t >= 11 && t <= 13) ? "th"
                         : n % 10 == 1        ? "st"
                         : n % 10 == 2        ? "nd"
                         : n % 10 == 3        ? "rd"
                                              : "th";
    return std::to_string(n) + suffix;
}

const char *type_name(ControlType t) {
    switch (t) {
    case ControlType::Choice: return HOST_TYPE_CHOICE;
    case ControlType::Text: return HOST_TYPE_TEXT;
    case ControlType::Float: return HOST_TYPE_FLOAT;
    case ControlType::DragButton: return HOST_TYPE_DRAG_BUTTON;
    case ControlType::Button: return HOST_TYPE_BUTTON;
    case ControlType::Info: return HOST_TYPE_INFO;
    case ControlType::List: return HOST_TYPE_ITEM_LIST;
    default: return "control";
    }
}

std::string vec_text(const Vec3 &v) {
    return "(" + format_real(v[0]) + ", " + format_real(v[1]) + ", " + format_real(v[2]) + ")";
}

double tolerance(const Statement &st) {
    const Option *t = st.option("tol");
    return t ? t->values[0].real : k_default_tolerance;
}

int64_t nth_of(const Statement &st) {
    const Option *n = st.option("nth");
    return n ? n->values[0].integer : 1;
}

int32_t as_int32(int64_t v) { return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

bool is_action(const std::string &verb) { return verb != "say" && verb.compare(0, 7, "expect ") != 0; }

} // namespace play

// ---- Findings ---------------------------------------------------------------------------------

std::string Finding::text() const {
    std::string where = line > 0 ? "line " + std::to_string(line) : std::string("end");
    if (!statement.empty()) where += ": " + clip_echo(statement);
    return where + ": " + (kind == Kind::Warning ? "warning " : "") + id + ": " + clip_echo(message, 2 * k_echo_limit);
}

bool StepResult::ok() const {
    for (const Finding &f : findings)
        if (f.kind != Finding::Kind::Warning) return false;
    return true;
}

bool StepResult::impossible() const {
    for (const Finding &f : findings)
        if (f.kind == Finding::Kind::Impossible) return true;
    return false;
}

// ---- Session state ----------------------------------------------------------------------------

Player::State::State(PlayerOptions o) : options(std::move(o)) {
    host.trace().enable(options.trace);
    if (!options.write_targets.empty()) host.set_write_targets(options.write_targets);
}

std::string Player::State::statement_text() const {
    if (!current) return std::string();
    return current->source.empty() ? print_statement(*current) : current->source;
}

void Player::State::add(Finding::Kind kind, const std::string &id, const std::string &message) {
    flush_violations();
    record(kind, id, message);
}

void Player::State::record(Finding::Kind kind, const std::string &id, const std::string &message) {
    Finding f;
    f.kind = kind;
    f.line = current ? current->line : 0;
    f.statement = statement_text();
    f.id = id;
    f.message = message;
    if (result) result->findings.push_back(f);
    findings.push_back(std::move(f));
}

void Player::State::flush_violations() {
    const std::vector<Violation> &v = host.violations();
    while (violations_seen < v.size()) {
        const Violation &x = v[violations_seen++];
        record(Finding::Kind::Violation, x.id, x.message);
    }
    const std::vector<Violation> &w = host.warnings();
    while (warnings_seen < w.size()) {
        const Violation &x = w[warnings_seen++];
        record(Finding::Kind::Warning, x.id, x.message);
    }
}

} // namespace sim
