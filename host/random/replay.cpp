// SPDX-License-Identifier: MIT
// Random sessions: playing a session's statements one at a time and recording what each shows,
// for the generator and for a replay of given statements (host/random/random.h).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/isolate/record.h"
#include "host/random/internal.h"

namespace sim {

namespace {

// Why the host would never send this statement now (empty when it might): moves and the button's
// release only within a drag, the selection kept during a drag, only viewports the host has.
std::string unrealistic(Player &player, const Statement &st) {
    const bool tool_verb = st.verb == "mouse-move" || st.verb == "mouse-up";
    if (tool_verb && player.tool() && !player.pressing()) return st.verb + " without a press";
    if (st.verb == "select" && player.pressing()) return "the selection changed during a drag";
    const Option *vp = st.option("vp");
    if (vp && !player.host().has_viewport(static_cast<int32_t>(vp->values[0].integer)))
        return "an event in a viewport the host does not have";
    if (st.verb == "draw" && !player.host().has_viewport(static_cast<int32_t>(st.args[0].integer)))
        return "a drawing of a viewport the host does not have";
    return std::string();
}

// Records a violation or warning id the session has not shown yet; with `progress`, writes it there
// at once (a "found" record, verdict "fail" or "warn"), so that a crash later in the session does
// not lose it.
void record(std::vector<SessionFinding> &list, const char *verdict, const std::string &id, const std::string &message,
            int step, std::FILE *progress) {
    for (const SessionFinding &f : list)
        if (f.id == id) return;
    list.push_back({id, message, step});
    if (progress) write_record(progress, JobRecord::found("", verdict, id).with_step(step).with_message(message));
}

void record_failure(SessionResult &res, const std::string &id, const std::string &message, int step,
                    std::FILE *progress) {
    if (!res.failed) {
        res.failed = true;
        res.id = id;
        res.message = message;
        res.step = step;
    }
    record(res.failures, "fail", id, message, step, progress);
}

} // namespace

PlayerOptions session_player_options(const RandomSessionOptions &o) {
    PlayerOptions p;
    p.trace = false;
    p.write_targets = o.channels;
    p.server = o.server;
    return p;
}

void play_session_statement(Player &player, Statement &st, size_t index, SessionResult &res, std::FILE *progress) {
    const std::string why = unrealistic(player, st);
    if (!why.empty()) {
        if (res.impossible++ == 0) res.first_impossible = "step " + std::to_string(index + 1) + ": " + why;
        return;
    }
    if (progress) write_record(progress, JobRecord::text("step", print_statement(st)));
    const StepResult r = player.step(st);
    if (st.verb == "activate") {
        const int32_t got = player.last_answer().value;
        if (got == 0) st.unset("expect");
        else st.set("expect", {Value::int32(got)});
        if (progress) write_record(progress, JobRecord::text("answered", print_statement(st)));
    }
    const int step = static_cast<int>(index + 1);
    for (const Finding &f : r.findings) {
        if (f.kind == Finding::Kind::Violation && !f.expected) record_failure(res, f.id, f.message, step, progress);
        else if (f.kind == Finding::Kind::Warning)
            record(res.warnings, "warn", f.id, "at `" + print_statement(st) + "`: " + f.message, step, progress);
        else if (f.kind == Finding::Kind::Impossible || f.kind == Finding::Kind::Error) {
            if (res.impossible++ == 0) res.first_impossible = f.text();
        }
    }
}

bool load_session_module(Player &player, const std::string &module_path, SessionResult &res) {
    if (player.load(module_path)) return true;
    res.failed = res.load_failed = true;
    res.id = violation_id::module_load;
    res.message = player.error();
    return false;
}

namespace {

// FNV-1a over every key written, in order: item, channel name and occurrence, time and value bits.
uint64_t key_digest(const std::vector<KeyWrite> &writes) {
    uint64_t h = 14695981039346656037ull;
    auto mix = [&h](const void *data, size_t size) {
        const unsigned char *p = static_cast<const unsigned char *>(data);
        for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    };
    for (const KeyWrite &w : writes) {
        const int64_t numbers[2] = {w.item, w.occurrence};
        mix(numbers, sizeof numbers);
        mix(w.channel.c_str(), w.channel.size() + 1);
        mix(&w.time, sizeof w.time);
        mix(&w.value, sizeof w.value);
    }
    return h;
}

} // namespace

void finish_session(Player &player, SessionResult &res, std::FILE *progress) {
    const StepResult r = player.finish();
    res.keys = key_digest(player.host().writes());
    for (const Finding &f : r.findings) {
        if (f.kind == Finding::Kind::Violation) record_failure(res, f.id, f.message, 0, progress);
        else if (f.kind == Finding::Kind::Warning)
            record(res.warnings, "warn", f.id, "at the end: " + f.message, 0, progress);
    }
}

SessionResult replay_session(const std::string &module_path, const std::vector<Statement> &statements,
                             const RandomSessionOptions &options, std::FILE *progress) {
    SessionResult res;
    res.statements = statements;
    ScriptChecker checker;
    for (const Statement &s : res.statements) {
        const std::string why = checker.check(s);
        if (!why.empty()) {
            res.failed = true;
            res.id = violation_id::script_invalid;
            res.message = why;
            return res;
        }
    }
    Player player(session_player_options(options));
    if (!load_session_module(player, module_path, res)) return res;
    for (size_t i = 0; i < res.statements.size(); ++i)
        play_session_statement(player, res.statements[i], i, res, progress);
    finish_session(player, res, progress);
    return res;
}

std::string reproducer_script(const std::vector<Statement> &statements, const std::string &comment) {
    std::string out;
    size_t b = 0;
    while (b <= comment.size() && !comment.empty()) {
        const size_t e = std::min(comment.find('\n', b), comment.size());
        out += "# " + comment.substr(b, e - b) + "\n";
        b = e + 1;
    }
    for (const Statement &s : statements) out += print_statement(s) + "\n";
    return out;
}

} // namespace sim
