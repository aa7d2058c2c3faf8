// SPDX-License-Identifier: MIT
// Random sessions: the generator, which makes one statement at a time from the session's state,
// and random_session, which plays each statement as it is made (host/random/random.h).
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "host/random/internal.h"
#include "host/sim/alloc_hooks.h"

namespace sim {

namespace {

// Names that only share a prefix, and one with a blank.
const char *const k_item_names[] = {"A", "A1", "AB", "Cube", "Cube.1", "Cube 1", "C", "Ca", "B"};
// Channel names beyond the six, sharing their prefixes.
const char *const k_odd_channels[] = {"Position.XTra", "Position.X2", "Rotation.HPB",
                                      "Position",      "Scale.X",     "Rotation.H "};
const char *const k_services[] = {"LWPanelServices 2", "LW Viewport Info 5", "LW Interface Info 7", "LW Item Info 6",
                                  "LW Time Info",      "Channel Info 2",     "Animation Envelopes", "Instance Update"};

// A statement's number and int32 arguments.
Value as_number(double v) { return Value::number(v); }
Value as_int32(int64_t v) { return Value::int32(v); }

// ---- The generator --------------------------------------------------------------------------

class Generator {
public:
    Generator(uint64_t seed, Player &player) : r_(seed), p_(player) {}

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
        Statement s = statement("item", {Value::name(name), as_number(random_real(r_, true)),
                                         as_number(random_real(r_, true)), as_number(random_real(r_, true))});
        if (r_.chance(30))
            s.set("rot", {as_number(random_real(r_, true)), as_number(random_real(r_, true)),
                          as_number(random_real(r_, true))});
        std::vector<std::string> channels = {"Position.X", "Position.Y", "Position.Z",
                                             "Rotation.H", "Rotation.P", "Rotation.B"};
        if (r_.chance(35)) {
            // Lacking channels, odd ones sharing a prefix, duplicates, or none at all.
            std::vector<std::string> kept;
            for (const std::string &c : channels)
                if (r_.chance(60)) kept.push_back(c);
            const uint64_t extra = r_.below(3);
            for (uint64_t i = 0; i < extra; ++i) {
                // The name is drawn before the place, each in a statement of its own: the order in
                // which a call's arguments are evaluated differs between compilers.
                const std::string odd = r_.chance(50)
                                            ? k_odd_channels[r_.below(sizeof k_odd_channels / sizeof k_odd_channels[0])]
                                            : channels[r_.below(6)];
                const auto at = static_cast<std::ptrdiff_t>(r_.below(kept.size() + 1));
                kept.insert(kept.begin() + at, odd);
            }
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
        return statement(
            "key", {Value::item(names_[i]), Value::channel(c), as_number(time_value()), as_number(random_real(r_))});
    }
    double time_value() {
        if (r_.chance(50)) return static_cast<double>(r_.range(0, 8)) / 2.0;
        return random_real(r_, true); // a host's time is finite
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
    Statement time() { return statement("time", {as_number(time_value())}); }
    Statement viewport() {
        const int64_t index = r_.range(0, 5);
        Statement s = statement("viewport", {as_int32(index)});
        if (r_.chance(50)) s.set("along", {Value::word(std::string(1, static_cast<char>('x' + r_.below(3))))});
        if (r_.chance(40)) s.set("scale", {as_number(r_.chance(50) ? random_real(r_) : 25.0)});
        if (r_.chance(30)) s.set("origin", {as_number(random_real(r_)), as_number(random_real(r_))});
        // A grid of 0 is a view without one.
        if (r_.chance(30)) s.set("grid", {as_number(r_.chance(25) ? 0.0 : random_real(r_))});
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
        if (k < 40) s.args = {Value::word("next"), as_int32(r_.range(1, 3))};
        else if (k < 85) {
            s.args = {Value::word("nth"), as_int32(r_.range(1, 6))};
            if (r_.chance(30)) s.set("count", {as_int32(r_.range(1, 4))});
        } else s.args = {Value::word("all")};
        if (r_.chance(20)) s.set("min", {as_int32(r_.chance(50) ? 64 : 1000)});
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
        case 0: s.set("in", {as_int32(some_viewport()), as_number(random_real(r_)), as_number(random_real(r_))}); break;
        case 1:
            s.set("point", {as_number(random_real(r_)), as_number(random_real(r_)), as_number(random_real(r_))});
            break;
        case 2: {
            // Axis vectors a view never has: zero, non-unit, non-finite, ties between components.
            static const double axes[][3] = {{0, 0, 0}, {0.5, 0.5, 0.1}, {-1, 0, 0}, {1, 1, 1}, {0, -0.0, 0}};
            if (r_.chance(50)) {
                const double *a = axes[r_.below(5)];
                s.set("axis", {as_number(a[0]), as_number(a[1]), as_number(a[2])});
            } else s.set("axis", {as_number(random_real(r_)), as_number(random_real(r_)), as_number(random_real(r_))});
            break;
        }
        case 3:
            if (drag) s.set("drag", {as_int32(random_int(r_)), as_int32(random_int(r_))});
            else s.set("alt");
            break;
        case 4: s.set("flags", {as_int32(random_int(r_))}); break;
        case 5: s.set("alt"); break;
        default: s.set("vp", {as_int32(some_viewport())}); break; // the host reports only its own viewports
        }
    }
    Statement event() {
        const bool pressing = p_.pressing();
        const uint64_t k = r_.below(100);
        Statement s;
        if (k < 16 && !(pressing && r_.chance(70))) {
            s = statement("mouse-down",
                          {as_int32(some_viewport()), as_number(random_real(r_)), as_number(random_real(r_))});
            if (r_.chance(50)) s.args[1] = as_number(static_cast<double>(r_.range(0, 640)));
            if (r_.chance(50)) s.args[2] = as_number(static_cast<double>(r_.range(0, 480)));
            if (r_.chance(15)) {
                // A press on a tool's marker where each activation puts it, the world origin (the
                // rotation centre's cross, the scaling origin's): the host reports that point under
                // the pointer. Random presses almost never land within the marker's few pixels.
                s.set("point", {as_number(0.0), as_number(0.0), as_number(0.0)});
                return s;
            }
        } else if (k < 24 || (k < 70 && !pressing)) s = statement("drag-start");
        else if (k < 60) {
            // Moves and the release come only within a drag, as the host sends them.
            s = statement("mouse-move", {as_int32(random_int(r_)), as_int32(random_int(r_))});
            if (r_.chance(20)) s.set("alt");
        } else if (k < 70) s = statement("mouse-up");
        else if (k < 78) s = statement("draw", {as_int32(some_viewport())});
        else if (k < 82) s = statement("tool-text");
        else if (k < 85) s = statement("change-query");
        else if (k < 88) s = statement("handle-count");
        else if (k < 93) s = statement("handle-position", {as_int32(random_int(r_))});
        else if (k < 97) s = statement("handle-adjust", {as_int32(random_int(r_))});
        else s = statement("notify", {as_int32(r_.chance(60) ? r_.range(0, 8) : random_int(r_))});
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
            if (nth > 1) s.set("nth", {as_int32(nth)});
        } else s.args.insert(s.args.begin(), Value::index(index));
        return true;
    }
    Statement panel_action() {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const uint64_t k = r_.below(100);
            Statement s;
            Control *c = nullptr;
            if (k < 35) {
                s = statement("type", {as_number(random_real(r_))});
                if (pick_control(ControlType::Float, s)) return s;
            } else if (k < 55) {
                s = statement("drag-button");
                if (!pick_control(ControlType::DragButton, s)) continue;
                const uint64_t n = 1 + r_.below(4);
                int64_t v = r_.chance(70) ? r_.range(-3, 3) : random_int(r_);
                for (uint64_t i = 0; i < n; ++i) {
                    s.args.push_back(as_int32(v));
                    v = r_.chance(70) ? std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, v + r_.range(-2, 2)))
                                      : random_int(r_);
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
                return statement("panel-key", {as_int32(keys[r_.below(7)])});
            }
        }
        return event();
    }

    Rng r_;
    Player &p_;
    std::vector<std::string> names_;
    std::vector<std::vector<std::string>> channels_;
    std::vector<int64_t> viewports_ = {0, 1, 2, 3};
    std::string service_;
    bool missing_on_ = false, fail_panel_on_ = false, refusing_ = false;
};

} // namespace

SessionResult random_session(const std::string &module_path, uint64_t seed, const RandomSessionOptions &options,
                             std::FILE *progress) {
    SessionResult res;
    Player player(session_player_options(options));
    if (!load_session_module(player, module_path, res)) return res;
    Generator gen(seed, player);
    ScriptChecker checker;
    std::vector<Statement> opening;
    gen.opening(opening);
    // A statement the checker refuses is the generator's fault: counted impossible, not played.
    auto play = [&](const Statement &s) {
        if (!checker.check(s).empty()) {
            ++res.impossible;
            return;
        }
        res.statements.push_back(s);
        play_session_statement(player, res.statements.back(), res.statements.size() - 1, res, progress);
    };
    for (const Statement &s : opening) play(s);
    for (unsigned i = 0; i < options.steps; ++i) play(gen.next());
    finish_session(player, res, progress);
    return res;
}

} // namespace sim
