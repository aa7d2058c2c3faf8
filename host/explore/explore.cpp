// SPDX-License-Identifier: MIT
// Random sessions: the generator (one statement at a time, from the session's state), the replay
// that a shrinker calls, the shrinker and the batch worker.
#include "host/explore/explore.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "host/sim/alloc_hooks.h"
#include "host/isolate/isolate.h"
#include "host/base/os.h"
#include "host/player/player.h"

namespace sim {

// ---- Random numbers ---------------------------------------------------------------------------

uint64_t Rng::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t Rng::below(uint64_t n) {
    if (n == 0) return 0;
    const uint64_t limit = UINT64_MAX - UINT64_MAX % n;
    uint64_t v;
    do v = next();
    while (v >= limit);
    return v % n;
}

int64_t Rng::range(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(below(static_cast<uint64_t>(hi - lo) + 1u));
}

namespace {

// ---- Values chosen to hurt ------------------------------------------------------------------

const double k_inf = std::numeric_limits<double>::infinity();
const double k_nan = std::numeric_limits<double>::quiet_NaN();

// Finite doubles that break arithmetic: huge, tiny, subnormal, beyond float's range, negative zero.
const double k_finite_hurt[] = {0.0,
                                -0.0,
                                1.0,
                                -1.0,
                                0.5,
                                90.0,
                                -360.0,
                                1e-300,
                                -1e-300,
                                5e-324,
                                1e300,
                                -1e300,
                                1.7976931348623157e308,
                                3.4028234663852886e38,
                                3.5e38,
                                -3.5e38,
                                1e-45,
                                16777217.0,
                                0.1};
const double k_non_finite[] = {k_nan, k_inf, -k_inf};
const int64_t k_int_hurt[] = {0, 1, -1, 2, 10, 100, 9000, -9000, INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1};

// A double: ordinary most of the time, a hurting one often, non-finite sometimes (when allowed).
double real_value(Rng &r, bool finite_only = false) {
    const uint64_t k = r.below(100);
    if (k < 45) return static_cast<double>(r.range(-4000, 4000)) / 8.0; // exact in binary, short in text
    if (k < 80 || finite_only) return k_finite_hurt[r.below(sizeof k_finite_hurt / sizeof k_finite_hurt[0])];
    return k_non_finite[r.below(3)];
}

int64_t int_value(Rng &r) {
    const uint64_t k = r.below(100);
    if (k < 55) return r.range(-3000, 3000);
    return k_int_hurt[r.below(sizeof k_int_hurt / sizeof k_int_hurt[0])];
}

// Names that only share a prefix, and one with a blank.
const char *const k_item_names[] = {"A", "A1", "AB", "Cube", "Cube.1", "Cube 1", "C", "Ca", "B"};
// Channel names beyond the six, sharing their prefixes.
const char *const k_odd_channels[] = {"Position.XTra", "Position.X2", "Rotation.HPB",
                                      "Position",      "Scale.X",     "Rotation.H "};
const char *const k_services[] = {"LWPanelServices 2", "LW Viewport Info 5", "LW Interface Info 7", "LW Item Info 6",
                                  "LW Time Info",      "Channel Info 2",     "Animation Envelopes", "Instance Update"};

Value V(double v) { return Value::number(v); }
Value I(int64_t v) { return Value::int32(v); }

// ---- The generator --------------------------------------------------------------------------

class Generator {
public:
    Generator(uint64_t seed, Player &player, const ExploreOptions &options) : r_(seed), p_(player), options_(options) {}

    // The scene and host conditions before the first activation, then the activation.
    void opening(std::vector<Statement> &out) {
        static const unsigned counts[] = {0, 1, 1, 1, 2, 2, 3, 3, 5, 8};
        const unsigned n = counts[r_.below(10)];
        for (unsigned i = 0; i < n; ++i) out.push_back(item());
        for (Statement &k : keys()) out.push_back(k);
        if (!names_.empty() && r_.chance(90)) out.push_back(select());
        if (r_.chance(30)) out.push_back(time());
        if (r_.chance(20)) out.push_back(viewport());
        if (r_.chance(6)) out.push_back(missing(true));
        if (r_.chance(4)) out.push_back(fail_panel(true));
        if (r_.chance(10) && alloc_hooks_available()) out.push_back(refuse());
        out.push_back(statement("activate"));
    }

    // One statement the user or host could make now.
    Statement next() {
        if (!p_.tool()) {
            if (r_.chance(65)) {
                if (missing_on_ && r_.chance(70)) return missing(false);
                if (fail_panel_on_ && r_.chance(70)) return fail_panel(false);
                if (refusing_ && r_.chance(50)) return allow();
                return statement("activate");
            }
            return scene_or_host();
        }
        const uint64_t k = r_.below(100);
        if (k < 50) return event();
        if (k < 75 && panel_usable()) return panel_action();
        if (k < 90) return scene_or_host();
        if (k < 95) return statement("release");
        if (k < 98 && alloc_hooks_available()) return r_.chance(60) ? refuse() : allow();
        return event();
    }

private:
    // ---- Scene
    Statement item() {
        std::string name;
        do name = k_item_names[r_.below(sizeof k_item_names / sizeof k_item_names[0])];
        while (std::find(names_.begin(), names_.end(), name) != names_.end() && names_.size() < 9);
        if (std::find(names_.begin(), names_.end(), name) != names_.end()) name += std::to_string(names_.size());
        Statement s = statement(
            "item", {Value::name(name), V(real_value(r_, true)), V(real_value(r_, true)), V(real_value(r_, true))});
        if (r_.chance(30)) s.set("rot", {V(real_value(r_, true)), V(real_value(r_, true)), V(real_value(r_, true))});
        std::vector<std::string> channels = {"Position.X", "Position.Y", "Position.Z",
                                             "Rotation.H", "Rotation.P", "Rotation.B"};
        if (r_.chance(35)) {
            // Lacking channels, odd ones sharing a prefix, duplicates, or none at all.
            std::vector<std::string> kept;
            for (const std::string &c : channels)
                if (r_.chance(60)) kept.push_back(c);
            const uint64_t extra = r_.below(3);
            for (uint64_t i = 0; i < extra; ++i)
                kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(r_.below(kept.size() + 1)),
                            r_.chance(50) ? k_odd_channels[r_.below(sizeof k_odd_channels / sizeof k_odd_channels[0])]
                                          : channels[r_.below(6)]);
            channels = kept;
            std::vector<Value> values;
            for (const std::string &c : channels) values.push_back(Value::name(c));
            s.set("channels", values);
        }
        names_.push_back(name);
        channels_.push_back(channels);
        return s;
    }
    std::vector<Statement> keys() {
        std::vector<Statement> out;
        for (size_t i = 0; i < names_.size(); ++i)
            if (!channels_[i].empty() && r_.chance(25)) out.push_back(key(i));
        return out;
    }
    Statement key(size_t i) {
        const std::string &c = channels_[i][r_.below(channels_[i].size())];
        return statement("key", {Value::item(names_[i]), Value::channel(c), V(time_value()), V(real_value(r_))});
    }
    double time_value() {
        if (r_.chance(50)) return static_cast<double>(r_.range(0, 8)) / 2.0;
        return real_value(r_, true); // a host's time is finite
    }
    Statement select() {
        Statement s = statement("select");
        const uint64_t k = r_.below(100);
        if (names_.empty() || k < 10) {
            s.args.push_back(Value::word("none"));
            return s;
        }
        std::vector<std::string> pool = names_;
        for (size_t i = pool.size(); i > 1; --i) std::swap(pool[i - 1], pool[r_.below(i)]);
        const size_t n = k < 30 ? pool.size() : 1 + r_.below(pool.size());
        for (size_t i = 0; i < n; ++i) s.args.push_back(Value::item(pool[i]));
        return s;
    }
    Statement time() { return statement("time", {V(time_value())}); }
    Statement viewport() {
        const int64_t index = r_.range(0, 5);
        Statement s = statement("viewport", {I(index)});
        if (r_.chance(50)) s.set("along", {Value::word(std::string(1, static_cast<char>('x' + r_.below(3))))});
        if (r_.chance(40)) s.set("scale", {V(r_.chance(50) ? real_value(r_) : 25.0)});
        if (r_.chance(30)) s.set("origin", {V(real_value(r_)), V(real_value(r_))});
        if (r_.chance(30)) s.set("grid", {V(real_value(r_))});
        if (r_.chance(25)) s.set("fail", {Value::word(r_.chance(70) ? "on" : "off")});
        if (std::find(viewports_.begin(), viewports_.end(), index) == viewports_.end()) viewports_.push_back(index);
        return s;
    }
    Statement missing(bool on) {
        if (on) service_ = k_services[r_.below(sizeof k_services / sizeof k_services[0])];
        missing_on_ = on;
        Statement s = statement("missing", {Value::name(service_)});
        if (!on) s.args.push_back(Value::word("off"));
        return s;
    }
    Statement fail_panel(bool on) {
        fail_panel_on_ = on;
        Statement s = statement("fail-panel-create");
        if (!on) s.args.push_back(Value::word("off"));
        return s;
    }
    Statement refuse() {
        refusing_ = true;
        const uint64_t k = r_.below(100);
        Statement s = statement("refuse-alloc");
        if (k < 40) s.args = {Value::word("next"), I(r_.range(1, 3))};
        else if (k < 85) {
            s.args = {Value::word("nth"), I(r_.range(1, 6))};
            if (r_.chance(30)) s.set("count", {I(r_.range(1, 4))});
        } else s.args = {Value::word("all")};
        if (r_.chance(20)) s.set("min", {I(r_.chance(50) ? 64 : 1000)});
        return s;
    }
    Statement allow() {
        refusing_ = false;
        return statement("allow-alloc");
    }
    Statement scene_or_host() {
        const uint64_t k = r_.below(100);
        if (k < 35) return time(); // also between a press and its moves
        // The host keeps the selection while a drag is under way.
        if (k < 60 && !names_.empty() && !p_.pressing()) return select();
        if (k < 70) {
            std::vector<size_t> with;
            for (size_t i = 0; i < names_.size(); ++i)
                if (!channels_[i].empty()) with.push_back(i);
            if (!with.empty()) return key(with[r_.below(with.size())]);
        }
        if (k < 80 && names_.size() < 9) return item();
        return viewport();
    }

    // ---- Tool events
    int64_t some_viewport() { return viewports_[r_.below(viewports_.size())]; }
    void event_options(Statement &s, bool drag) {
        if (!r_.chance(30)) return;
        const uint64_t k = r_.below(7);
        switch (k) {
        case 0: s.set("in", {I(some_viewport()), V(real_value(r_)), V(real_value(r_))}); break;
        case 1: s.set("point", {V(real_value(r_)), V(real_value(r_)), V(real_value(r_))}); break;
        case 2: {
            // Axis vectors a view never has: zero, non-unit, non-finite, ties between components.
            static const double axes[][3] = {{0, 0, 0}, {0.5, 0.5, 0.1}, {-1, 0, 0}, {1, 1, 1}, {0, -0.0, 0}};
            if (r_.chance(50)) {
                const double *a = axes[r_.below(5)];
                s.set("axis", {V(a[0]), V(a[1]), V(a[2])});
            } else s.set("axis", {V(real_value(r_)), V(real_value(r_)), V(real_value(r_))});
            break;
        }
        case 3:
            if (drag) s.set("drag", {I(int_value(r_)), I(int_value(r_))});
            else s.set("alt");
            break;
        case 4: s.set("flags", {I(int_value(r_))}); break;
        case 5: s.set("alt"); break;
        default: s.set("vp", {I(some_viewport())}); break; // the host reports only its own viewports
        }
    }
    Statement event() {
        const bool pressing = p_.pressing();
        const uint64_t k = r_.below(100);
        Statement s;
        if (k < 16 && !(pressing && r_.chance(70))) {
            s = statement("mouse-down", {I(some_viewport()), V(real_value(r_)), V(real_value(r_))});
            if (r_.chance(50)) s.args[1] = V(static_cast<double>(r_.range(0, 640)));
            if (r_.chance(50)) s.args[2] = V(static_cast<double>(r_.range(0, 480)));
        } else if (k < 24 || (k < 70 && !pressing)) s = statement("drag-start");
        else if (k < 60) {
            // Moves and the release come only within a drag, as the host sends them.
            s = statement("mouse-move", {I(int_value(r_)), I(int_value(r_))});
            if (r_.chance(20)) s.set("alt");
        } else if (k < 70) s = statement("mouse-up");
        else if (k < 78) s = statement("draw", {I(some_viewport())});
        else if (k < 82) s = statement("tool-text");
        else if (k < 85) s = statement("change-query");
        else if (k < 88) s = statement("handle-count");
        else if (k < 93) s = statement("handle-position", {I(int_value(r_))});
        else if (k < 97) s = statement("handle-adjust", {I(int_value(r_))});
        else s = statement("notify", {I(r_.chance(60) ? r_.range(0, 8) : int_value(r_))});
        const std::string &v = s.verb;
        if (v == "mouse-down" || v == "drag-start" || v == "mouse-up" || v == "tool-text" || v == "handle-count" ||
            v == "handle-position" || v == "handle-adjust")
            event_options(s, true);
        else if (v == "mouse-move") event_options(s, false);
        return s;
    }

    // ---- Panel actions
    bool panel_usable() {
        Panel *p = p_.panel();
        return p && p->open && !p->destroyed;
    }
    size_t count(ControlType t) {
        size_t n = 0;
        for (const auto &c : p_.panel()->controls) n += c->type == t;
        return n;
    }
    // A reference to one control of the type: by index, or by its label (with nth) when it has one.
    bool pick_control(ControlType t, Statement &s, Control **out = nullptr) {
        const size_t n = count(t);
        if (n == 0) return false;
        const int64_t index = static_cast<int64_t>(1 + r_.below(n));
        Control *c = p_.control_at(t, index);
        if (out) *out = c;
        std::string label = c->label;
        const size_t b = label.find_first_not_of(" \t"), e = label.find_last_not_of(" \t");
        label = b == std::string::npos ? std::string() : label.substr(b, e - b + 1);
        bool plain = !label.empty() && label[0] != '#' && t != ControlType::DragButton;
        for (char ch : label) plain = plain && ch != '\r' && ch != '\n' && ch != '"' && ch != '\\';
        if (plain && r_.chance(50)) {
            int64_t nth = 0;
            for (const auto &o : p_.panel()->controls) {
                if (o->type != t) continue;
                const size_t ob = o->label.find_first_not_of(" \t"), oe = o->label.find_last_not_of(" \t");
                const std::string ol = ob == std::string::npos ? std::string() : o->label.substr(ob, oe - ob + 1);
                if (ol == label) ++nth;
                if (o.get() == c) break;
            }
            s.args.insert(s.args.begin(), Value::label(label));
            if (nth > 1) s.set("nth", {I(nth)});
        } else s.args.insert(s.args.begin(), Value::index(index));
        return true;
    }
    Statement panel_action() {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const uint64_t k = r_.below(100);
            Statement s;
            Control *c = nullptr;
            if (k < 35) {
                s = statement("type", {V(real_value(r_))});
                if (pick_control(ControlType::Float, s)) return s;
            } else if (k < 55) {
                s = statement("drag-button");
                if (!pick_control(ControlType::DragButton, s)) continue;
                const uint64_t n = 1 + r_.below(4);
                int64_t v = r_.chance(70) ? r_.range(-3, 3) : int_value(r_);
                for (uint64_t i = 0; i < n; ++i) {
                    s.args.push_back(I(v));
                    v = r_.chance(70) ? std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, v + r_.range(-2, 2)))
                                      : int_value(r_);
                }
                return s;
            } else if (k < 70) {
                s = statement("choose");
                if (!pick_control(ControlType::Choice, s, &c) || c->items.empty()) continue;
                s.args.push_back(Value::text_of(std::to_string(r_.below(c->items.size()))));
                return s;
            } else if (k < 78) {
                if (count(ControlType::List) == 0) continue;
                if (names_.empty() || r_.chance(30)) return statement("pick", {Value::word("none")});
                return statement("pick", {Value::item(names_[r_.below(names_.size())])});
            } else if (k < 90) {
                s = statement("press");
                if (pick_control(ControlType::Button, s)) return s;
            } else if (k < 95) return statement("close"); // also mid-drag
            else {
                static const int64_t keys[] = {0, 13, 27, 32, 65, 127, 65535};
                return statement("panel-key", {I(keys[r_.below(7)])});
            }
        }
        return event();
    }

    Rng r_;
    Player &p_;
    const ExploreOptions &options_;
    std::vector<std::string> names_;
    std::vector<std::vector<std::string>> channels_;
    std::vector<int64_t> viewports_ = {0, 1, 2, 3};
    std::string service_;
    bool missing_on_ = false, fail_panel_on_ = false, refusing_ = false;
};

// ---- Playing ----------------------------------------------------------------------------------

PlayerOptions player_options(const ExploreOptions &o) {
    PlayerOptions p;
    p.trace = false;
    p.write_targets = o.channels;
    p.server = o.server;
    return p;
}

// Plays one statement and records its first failure into `res`. Returns false once the session
// failed. An activation's answer becomes its statement's "expect", so the kept script replays
// without failed expectations.
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
// at once ("failure|warning <id> <step> <message>"), so that a crash later in the session does not
// lose it.
void record(std::vector<SessionFinding> &list, const char *kind, const std::string &id, const std::string &message,
            int step, std::FILE *progress) {
    for (const SessionFinding &f : list)
        if (f.id == id) return;
    list.push_back({id, message, step});
    if (progress) {
        std::string one_line = message;
        std::replace(one_line.begin(), one_line.end(), '\n', ' ');
        std::fprintf(progress, "%s %s %d %s\n", kind, id.c_str(), step, one_line.c_str());
        std::fflush(progress);
    }
}

void record_failure(SessionResult &res, const std::string &id, const std::string &message, int step,
                    std::FILE *progress) {
    if (!res.failed) {
        res.failed = true;
        res.id = id;
        res.message = message;
        res.step = step;
    }
    record(res.failures, "failure", id, message, step, progress);
}

void play_one(Player &player, Statement &st, size_t index, SessionResult &res, std::FILE *progress) {
    const std::string why = unrealistic(player, st);
    if (!why.empty()) {
        if (res.impossible++ == 0) res.first_impossible = "step " + std::to_string(index + 1) + ": " + why;
        return;
    }
    if (progress) {
        std::fprintf(progress, "play %s\n", print_statement(st).c_str());
        std::fflush(progress);
    }
    const StepResult r = player.step(st);
    if (st.verb == "activate") {
        const int32_t got = player.last_answer().value;
        if (got == 0) st.unset("expect");
        else st.set("expect", {Value::int32(got)});
        if (progress) std::fprintf(progress, "fixed %s\n", print_statement(st).c_str());
    }
    const int step = static_cast<int>(index + 1);
    for (const Finding &f : r.findings) {
        if (f.kind == Finding::Kind::Violation && !f.expected) record_failure(res, f.id, f.message, step, progress);
        else if (f.kind == Finding::Kind::Warning)
            record(res.warnings, "warning", f.id, "at `" + print_statement(st) + "`: " + f.message, step, progress);
        else if (f.kind == Finding::Kind::Impossible || f.kind == Finding::Kind::Error) {
            if (res.impossible++ == 0) res.first_impossible = f.text();
        }
    }
}

// Loads the module into the player; when it does not load, the session fails with the loader's
// message and is marked as a load failure.
bool load_module(Player &player, const std::string &module_path, SessionResult &res) {
    if (player.load(module_path)) return true;
    res.failed = res.load_failed = true;
    res.id = "module-load";
    res.message = player.error();
    return false;
}

void finish_session(Player &player, SessionResult &res, std::FILE *progress) {
    const StepResult r = player.finish();
    for (const Finding &f : r.findings) {
        if (f.kind == Finding::Kind::Violation) record_failure(res, f.id, f.message, 0, progress);
        else if (f.kind == Finding::Kind::Warning)
            record(res.warnings, "warning", f.id, "at the end: " + f.message, 0, progress);
    }
}

bool numeric(const Value &v) { return v.type == ValueType::Real || v.type == ValueType::Int; }

// Simpler values to try in place of v, simplest first.
std::vector<Value> simpler(const Value &v) {
    std::vector<Value> out;
    if (v.type == ValueType::Int) {
        for (int64_t c : {int64_t(0), int64_t(1), v.integer / 2, v.integer / 16})
            if (std::llabs(c) < std::llabs(v.integer) || (c >= 0 && v.integer < 0 && c <= -v.integer))
                if (c != v.integer) out.push_back(Value::int32(c));
    } else {
        const double x = v.real;
        const double m = std::fabs(x);
        std::vector<double> c = {0.0, 1.0};
        if (std::isfinite(x)) {
            c.push_back(std::trunc(x));
            c.push_back(x / 2);
            if (std::signbit(x)) c.push_back(-x);
        }
        for (double d : c) {
            const bool smaller = std::isnan(x) || std::isinf(x) || std::fabs(d) < m ||
                                 (std::fabs(d) == m && std::signbit(x) && !std::signbit(d)) ||
                                 (std::trunc(x) != x && d == std::trunc(x));
            if (smaller && !(Value::number(d) == v)) out.push_back(Value::number(d));
        }
    }
    return out;
}

} // namespace

// ---- Sessions ---------------------------------------------------------------------------------

SessionResult explore_session(const std::string &module_path, uint64_t seed, const ExploreOptions &options,
                              std::FILE *progress) {
    SessionResult res;
    Player player(player_options(options));
    if (!load_module(player, module_path, res)) return res;
    Generator gen(seed, player, options);
    ScriptChecker checker;
    std::vector<Statement> opening;
    gen.opening(opening);
    // Plays a generated statement; false when the session ends there.
    auto play = [&](const Statement &s) {
        if (!checker.check(s).empty()) {
            ++res.impossible; // the generator's fault; the statement is not played
            return true;
        }
        res.statements.push_back(s);
        play_one(player, res.statements.back(), res.statements.size() - 1, res, progress);
        return true;
    };
    for (const Statement &s : opening) play(s);
    for (unsigned i = 0; i < options.steps; ++i) play(gen.next());
    finish_session(player, res, progress);
    return res;
}

SessionResult replay_session(const std::string &module_path, const std::vector<Statement> &statements,
                             const ExploreOptions &options, std::FILE *progress) {
    SessionResult res;
    res.statements = statements;
    ScriptChecker checker;
    for (const Statement &s : res.statements) {
        const std::string why = checker.check(s);
        if (!why.empty()) {
            res.failed = true;
            res.id = "script-invalid";
            res.message = why;
            return res;
        }
    }
    Player player(player_options(options));
    if (!load_module(player, module_path, res)) return res;
    for (size_t i = 0; i < res.statements.size(); ++i) play_one(player, res.statements[i], i, res, progress);
    finish_session(player, res, progress);
    return res;
}

// ---- Shrinking --------------------------------------------------------------------------------

std::vector<Statement> shrink_session(std::vector<Statement> best, const std::string &id, const SessionRunner &run,
                                      size_t max_runs) {
    size_t runs = 0;
    // Makes the candidate the best when it still fails the same way with every step possible.
    auto take = [&](const std::vector<Statement> &candidate) {
        if (runs >= max_runs) return false;
        ++runs;
        SessionResult r = run(candidate);
        int step = -1;
        for (const SessionFinding &f : r.failures)
            if (f.id == id) {
                step = f.step;
                break;
            }
        if (step < 0 && r.failed && r.id == id) step = r.step;
        if (step < 0 || r.impossible != 0) return false;
        // Cut what follows the step that showed it, and keep the recorded activation answers.
        r.statements.resize(step > 0 ? static_cast<size_t>(step) : r.statements.size());
        best = std::move(r.statements);
        return true;
    };
    auto drop_pass = [&]() {
        bool changed = false;
        // Halving chunk sizes, ending with 2 and 1.
        for (size_t chunk = std::max<size_t>(best.size() / 2, 1);; chunk = chunk > 3 ? chunk / 2 : chunk - 1) {
            for (size_t at = 0; at < best.size() && runs < max_runs;) {
                std::vector<Statement> c;
                c.reserve(best.size());
                for (size_t i = 0; i < best.size(); ++i)
                    if (i < at || i >= at + chunk) c.push_back(best[i]);
                if (take(c)) changed = true;
                else at += chunk <= 2 ? 1 : chunk; // small chunks at every offset: a pair such as release, activate
            }
            if (chunk == 1) break;
        }
        return changed;
    };
    auto value_pass = [&]() {
        bool changed = false;
        for (size_t i = 0; i < best.size() && runs < max_runs; ++i) {
            // Fewer options, fewer selected items and drag values, then simpler numbers.
            for (size_t o = best[i].options.size(); o-- > 0 && i < best.size();) {
                if (best[i].verb == "activate") continue;
                std::vector<Statement> c = best;
                c[i].options.erase(c[i].options.begin() + static_cast<std::ptrdiff_t>(o));
                if (take(c)) changed = true;
            }
            if (i >= best.size()) break;
            const size_t first = best[i].verb == "select" ? 0 : best[i].verb == "drag-button" ? 2 : SIZE_MAX;
            for (size_t a = best[i].args.size(); first != SIZE_MAX && a-- > first && best[i].args.size() > 1;) {
                std::vector<Statement> c = best;
                c[i].args.erase(c[i].args.begin() + static_cast<std::ptrdiff_t>(a));
                if (take(c)) changed = true;
                if (i >= best.size()) break;
            }
            if (i >= best.size()) break;
            auto simplify = [&](auto slot) {
                bool again = true;
                while (again && runs < max_runs && i < best.size()) {
                    again = false;
                    Value *now = slot(best[i]);
                    if (!now || !numeric(*now)) return;
                    for (const Value &v : simpler(*now)) {
                        std::vector<Statement> c = best;
                        *slot(c[i]) = v;
                        if (take(c)) {
                            changed = again = true;
                            break;
                        }
                    }
                }
            };
            for (size_t a = 0; i < best.size() && a < best[i].args.size(); ++a)
                simplify([a](Statement &s) { return a < s.args.size() ? &s.args[a] : nullptr; });
            for (size_t o = 0; i < best.size() && o < best[i].options.size(); ++o)
                for (size_t v = 0;
                     i < best.size() && o < best[i].options.size() && v < best[i].options[o].values.size(); ++v)
                    simplify([o, v](Statement &s) {
                        return o < s.options.size() && v < s.options[o].values.size() ? &s.options[o].values[v]
                                                                                      : nullptr;
                    });
        }
        return changed;
    };
    for (int round = 0; round < 4 && runs < max_runs; ++round) {
        const bool dropped = drop_pass();
        const bool simplified = value_pass();
        if (!dropped && !simplified) break;
    }
    return best;
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

// ---- Batch worker -----------------------------------------------------------------------------

namespace {
void found(std::FILE *out, uint64_t seed, const char *kind, const SessionFinding &f) {
    std::string message = f.message;
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::fprintf(out, "found %llu %s %s %d %s\n", static_cast<unsigned long long>(seed), kind, f.id.c_str(), f.step,
                 message.c_str());
}
} // namespace

uint64_t explore_batch(const std::string &module_path, const ExploreOptions &options, uint64_t first, uint64_t count,
                       std::FILE *out, bool stop_at_failure) {
    uint64_t failed = 0;
    for (uint64_t i = first; i < first + count; ++i) {
        const uint64_t seed = options.seed + i;
        std::fprintf(out, "begin %llu\n", static_cast<unsigned long long>(seed));
        std::fflush(out);
        const SessionResult r = explore_session(module_path, seed, options);
        for (const SessionFinding &f : r.failures) found(out, seed, "fail", f);
        for (const SessionFinding &f : r.warnings) found(out, seed, "warn", f);
        if (r.failed) {
            std::string message = r.message;
            std::replace(message.begin(), message.end(), '\n', ' ');
            std::fprintf(out, "end %llu fail %s %d %s\n", static_cast<unsigned long long>(seed), r.id.c_str(), r.step,
                         message.c_str());
            ++failed;
        } else std::fprintf(out, "end %llu pass\n", static_cast<unsigned long long>(seed));
        std::fflush(out);
        if (r.failed && (stop_at_failure || r.load_failed)) break;
    }
    return failed;
}

} // namespace sim

// ---- Isolated runs ----------------------------------------------------------------------------

namespace sim {

namespace {

std::string join_channels(const std::vector<std::string> &c) {
    std::string out;
    for (const std::string &n : c) out += (out.empty() ? "" : ",") + n;
    return out.empty() ? std::string("-") : out;
}

// The words after the kind: MODULE SEED STEPS CHANNELS SERVER, then the kind's own.
std::vector<std::string> worker_words(const char *kind, const std::string &module, const ExploreOptions &o) {
    return {kind,
            module,
            std::to_string(o.seed),
            std::to_string(o.steps),
            join_channels(o.channels),
            o.server.empty() ? std::string("-") : o.server};
}

bool read_options(const std::vector<std::string> &a, size_t need, ExploreOptions *o, std::FILE *out) {
    if (a.size() < 6 + need) {
        std::fprintf(out, "error wrong number of worker arguments\n");
        return false;
    }
    o->seed = std::strtoull(a[2].c_str(), nullptr, 10);
    o->steps = static_cast<unsigned>(std::strtoul(a[3].c_str(), nullptr, 10));
    o->channels.clear();
    if (a[4] != "-") {
        size_t b = 0;
        while (b <= a[4].size()) {
            const size_t e = std::min(a[4].find(',', b), a[4].size());
            if (e > b) o->channels.push_back(a[4].substr(b, e - b));
            b = e + 1;
        }
    }
    o->server = a[5] == "-" ? std::string() : a[5];
    return true;
}

void print_result(std::FILE *out, const SessionResult &r) {
    std::string message = r.message;
    std::replace(message.begin(), message.end(), '\n', ' ');
    if (r.failed) std::fprintf(out, "result fail %s %d %zu %s\n", r.id.c_str(), r.step, r.impossible, message.c_str());
    else std::fprintf(out, "result pass 0 0 %zu\n", r.impossible);
    std::fflush(out);
}

bool read_script(const std::string &path, std::vector<Statement> *out) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    ParseResult p = parse_script(text);
    if (!p.ok()) return false;
    *out = std::move(p.script.statements);
    return true;
}

bool write_script(const std::string &path, const std::vector<Statement> &s) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const std::string text = reproducer_script(s, std::string());
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// explore MODULE SEED STEPS CHANNELS SERVER FIRST COUNT
int explore_worker(const std::vector<std::string> &a, std::FILE *out) {
    ExploreOptions o;
    if (!read_options(a, 2, &o, out)) return 2;
    explore_batch(a[1], o, std::strtoull(a[6].c_str(), nullptr, 10), std::strtoull(a[7].c_str(), nullptr, 10), out);
    return 0;
}

// session MODULE SEED STEPS CHANNELS SERVER: the session of that seed, statement by statement.
int session_worker(const std::vector<std::string> &a, std::FILE *out) {
    ExploreOptions o;
    if (!read_options(a, 0, &o, out)) return 2;
    print_result(out, explore_session(a[1], o.seed, o, out));
    return 0;
}

// replay MODULE SEED STEPS CHANNELS SERVER SCRIPT
int replay_worker(const std::vector<std::string> &a, std::FILE *out) {
    ExploreOptions o;
    std::vector<Statement> s;
    if (!read_options(a, 1, &o, out)) return 2;
    if (!read_script(a[6], &s)) {
        // A candidate the script checker refuses (a statement uses an item whose definition was
        // dropped) is not a failure of the module.
        SessionResult r;
        r.failed = true;
        r.id = "script-invalid";
        r.message = "the script " + a[6] + " cannot be read or does not check";
        print_result(out, r);
        return 0;
    }
    print_result(out, replay_session(a[1], s, o, out));
    return 0;
}

// shrink MODULE SEED STEPS CHANNELS SERVER SCRIPT ID: shrinks in this process (every candidate
// replayed here) and prints the result after "shrunk".
int shrink_worker(const std::vector<std::string> &a, std::FILE *out) {
    ExploreOptions o;
    std::vector<Statement> s;
    if (!read_options(a, 2, &o, out)) return 2;
    if (!read_script(a[6], &s)) {
        std::fprintf(out, "error cannot read %s\n", a[6].c_str());
        return 2;
    }
    const std::string module = a[1];
    const SessionRunner run = [&](const std::vector<Statement> &c) { return replay_session(module, c, o); };
    const std::vector<Statement> shrunk = shrink_session(s, a[7], run);
    std::fprintf(out, "shrunk\n%s", reproducer_script(shrunk, std::string()).c_str());
    std::fflush(out);
    return 0;
}

// What a worker that printed "play"/"fixed" lines and maybe a "result" line tells of its session.
// A worker that crashed has no result line: the session failed with session-crash at the last
// statement it began.
SessionResult session_from(const WorkerOutcome &w) {
    SessionResult r;
    std::string script;
    std::vector<std::string> lines;
    size_t b = 0;
    const std::string &t = w.output;
    bool have_result = false, worker_error = false;
    while (b < t.size()) {
        const size_t e = std::min(t.find('\n', b), t.size());
        const std::string line = t.substr(b, e - b);
        b = e + 1;
        if (line.compare(0, 5, "play ") == 0) lines.push_back(line.substr(5));
        else if (line.compare(0, 8, "failure ") == 0 || line.compare(0, 8, "warning ") == 0) {
            char id[128] = {0};
            int step = 0, used = 0;
            if (std::sscanf(line.c_str() + 8, "%127s %d %n", id, &step, &used) >= 2)
                (line[0] == 'f' ? r.failures : r.warnings)
                    .push_back({id, used > 0 ? line.substr(8 + static_cast<size_t>(used)) : std::string(), step});
        } else if (line.compare(0, 6, "error ") == 0) {
            worker_error = true;
            r.message = line.substr(6);
        } else if (line.compare(0, 6, "fixed ") == 0 && !lines.empty()) lines.back() = line.substr(6);
        else if (line.compare(0, 7, "result ") == 0) {
            have_result = true;
            char verdict[8] = {0}, id[128] = {0};
            int step = 0;
            size_t impossible = 0;
            int used = 0;
            if (std::sscanf(line.c_str() + 7, "%7s %127s %d %zu %n", verdict, id, &step, &impossible, &used) >= 4) {
                r.failed = std::strcmp(verdict, "fail") == 0;
                r.id = r.failed ? id : "";
                r.step = step;
                r.impossible = impossible;
                r.message = used > 0 ? line.substr(7 + static_cast<size_t>(used)) : std::string();
            }
        }
    }
    for (const std::string &l : lines) script += l + "\n";
    ParseResult p = parse_script(script);
    r.statements = std::move(p.script.statements);
    if (!have_result) {
        r.failed = true;
        // A sanitizer's report ends the process with an exit status; a fault with a signal or an
        // exception code. Either way the session did not end.
        if (worker_error || w.status == WorkerOutcome::Status::Failed) {
            r.id = "worker-error";
            if (!worker_error) r.message = w.describe();
        } else {
            r.id = w.status == WorkerOutcome::Status::TimedOut ? "session-timeout" : "session-crash";
            r.message = w.status == WorkerOutcome::Status::Crashed ? "the module crashed (" + w.crash + ")"
                                                                   : "the session " + w.describe();
            // The statement it was playing: the last one it began.
            if (!lines.empty()) r.message += " at `" + lines.back() + "`";
        }
        r.step = static_cast<int>(r.statements.size());
        r.failures.push_back({r.id, r.message, r.step});
    }
    return r;
}

std::string temp_script_path() {
    static unsigned counter = 0;
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = ".";
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    return (dir / ("zendro-shrink-" + std::to_string(pid) + "-" + std::to_string(counter++) + ".session")).string();
}

constexpr double k_worker_timeout = 300.0;
#ifdef _WIN32
constexpr uint64_t k_batch = 500;
constexpr size_t k_isolated_shrink_runs = 300; // a child process per candidate is slow under wine
#else
constexpr uint64_t k_batch = 2000;
constexpr size_t k_isolated_shrink_runs = 2000;
#endif

} // namespace

void register_explore_workers() {
    register_worker("explore", explore_worker);
    register_worker("session", session_worker);
    register_worker("replay", replay_worker);
    register_worker("shrink", shrink_worker);
}

std::string RandomCheck::speed() const {
    const double rate = seconds > 0.0 ? static_cast<double>(sessions) / seconds : 0.0;
    char text[96];
    std::snprintf(text, sizeof text,
                  rate >= 100.0 ? "%llu sessions in %.1f s (%.0f sessions/s)"
                                : "%llu sessions in %.1f s (%.3g sessions/s)",
                  static_cast<unsigned long long>(sessions), seconds, rate);
    return text;
}

namespace {

RandomFinding &finding_of(std::vector<RandomFinding> &list, const std::string &id, uint64_t seed) {
    for (RandomFinding &f : list)
        if (f.id == id) return f;
    list.push_back(RandomFinding());
    list.back().id = id;
    list.back().seed = seed;
    return list.back();
}

// Plays the first session that showed the finding's id again, statement by statement, and shrinks
// it to a script that still shows the id.
void shrink_finding(const std::string &module_path, const ExploreOptions &options, RandomFinding &f) {
    ExploreOptions one = options;
    one.seed = f.seed;
    const SessionResult first = session_from(run_worker(worker_words("session", module_path, one), k_worker_timeout));
    f.original_length = first.statements.size();
    f.shrunk = first.statements;
    const SessionFinding *hit = nullptr;
    for (const SessionFinding &x : first.failures)
        if (x.id == f.id) hit = &x;
    if (!hit) {
        // Not seen again (a hang that did not recur, say): what the session did show.
        if (first.failed) f.message = first.id + " when played again: " + first.message;
        return;
    }
    f.message = hit->message;
    if (hit->step > 0) f.shrunk.resize(std::min(f.shrunk.size(), static_cast<size_t>(hit->step)));
    if (f.shrunk.empty()) return;
    const std::string path = temp_script_path();
    // Each candidate in its own worker: a crash ends only that candidate.
    const SessionRunner isolated = [&](const std::vector<Statement> &c) {
        SessionResult r;
        if (!write_script(path, c)) {
            r.failed = true;
            r.id = "script-unwritable";
            return r;
        }
        std::vector<std::string> words = worker_words("replay", module_path, one);
        words.push_back(path);
        return session_from(run_worker(words, k_worker_timeout));
    };
    bool shrunk = false;
    if (f.id != "session-crash" && f.id != "session-timeout" && write_script(path, f.shrunk)) {
        // In one worker, every candidate in its process: fast everywhere.
        std::vector<std::string> words = worker_words("shrink", module_path, one);
        words.push_back(path);
        words.push_back(f.id);
        const WorkerOutcome w = run_worker(words, k_worker_timeout);
        const size_t at = w.output.find("shrunk\n");
        if (w.status == WorkerOutcome::Status::Exited && at != std::string::npos) {
            ParseResult p = parse_script(w.output.substr(at + 7));
            if (p.ok() && !p.script.statements.empty()) {
                f.shrunk = std::move(p.script.statements);
                shrunk = true;
            }
        }
    }
    if (!shrunk) f.shrunk = shrink_session(f.shrunk, f.id, isolated, k_isolated_shrink_runs);
    // The message as the shrunk script gives it.
    const SessionResult again = isolated(f.shrunk);
    for (const SessionFinding &x : again.failures)
        if (x.id == f.id) {
            f.message = x.message;
            break;
        }
    std::remove(path.c_str());
}

} // namespace

RandomCheck run_random_sessions(const std::string &module_path, const ExploreOptions &options, uint64_t max_crashes) {
    RandomCheck rc;
    const auto t0 = std::chrono::steady_clock::now();
    uint64_t next = 0, crashes = 0;
    while (next < options.sessions && crashes < max_crashes) {
        const uint64_t count = std::min<uint64_t>(k_batch, options.sessions - next);
        std::vector<std::string> words = worker_words("explore", module_path, options);
        words.push_back(std::to_string(next));
        words.push_back(std::to_string(count));
        const WorkerOutcome w = run_worker(words, k_worker_timeout);
        // Walk the lines; the session that began and did not end is the one that crashed.
        uint64_t began = 0;
        bool open = false;
        size_t b = 0;
        const std::string &t = w.output;
        while (b < t.size()) {
            const size_t e = std::min(t.find('\n', b), t.size());
            const std::string line = t.substr(b, e - b);
            b = e + 1;
            unsigned long long seed = 0;
            char verdict[8] = {0}, kind[8] = {0}, id[128] = {0};
            int step = 0, used = 0;
            if (std::sscanf(line.c_str(), "begin %llu", &seed) == 1) {
                open = true;
                began = seed;
            } else if (std::sscanf(line.c_str(), "found %llu %7s %127s %d %n", &seed, kind, id, &step, &used) >= 4) {
                RandomFinding &f = finding_of(std::strcmp(kind, "warn") == 0 ? rc.warnings : rc.failures, id, seed);
                if (f.sessions++ == 0 && used > 0) f.message = line.substr(static_cast<size_t>(used));
            } else if (std::sscanf(line.c_str(), "end %llu %7s %127s", &seed, verdict, id) >= 2) {
                open = false;
                ++rc.sessions;
                if (std::strcmp(verdict, "fail") == 0) {
                    ++rc.failed_sessions;
                    if (std::strcmp(id, "module-load") == 0) {
                        rc.error = "the module cannot be loaded";
                        rc.failures.clear();
                        rc.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                        return rc;
                    }
                }
            }
        }
        if (w.status == WorkerOutcome::Status::Exited && w.exit_code == 0 && !open) {
            next += count;
            continue;
        }
        if (!open) {
            // The worker failed before or after every session: nothing to pin it on.
            rc.error = "the session worker " + w.describe();
            break;
        }
        // A crash or a hang inside one session: pin it to its seed and go on after it.
        ++rc.sessions;
        ++rc.failed_sessions;
        ++crashes;
        ++finding_of(rc.failures, w.status == WorkerOutcome::Status::TimedOut ? "session-timeout" : "session-crash",
                     began)
              .sessions;
        next = began - options.seed + 1;
    }
    rc.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // In the order the ids first showed, each shrunk on its own.
    std::stable_sort(rc.failures.begin(), rc.failures.end(),
                     [](const RandomFinding &a, const RandomFinding &b) { return a.seed < b.seed; });
    std::stable_sort(rc.warnings.begin(), rc.warnings.end(),
                     [](const RandomFinding &a, const RandomFinding &b) { return a.seed < b.seed; });
    for (RandomFinding &f : rc.failures) shrink_finding(module_path, options, f);
    return rc;
}

} // namespace sim
