// SPDX-License-Identifier: MIT
// The module validator (host/check.h, docs/validator.md).
#include "host/check/check.h"

#include <cinttypes>
#include <cstring>
#include <stdexcept>
#include <cstdlib>
#include <exception>
#include <memory>
#include <regex>
#include <sstream>

#include "host/sim/alloc_hooks.h"
#include "host/sim/binary.h"
#include "host/sim/macho.h"
#include "host/explore/explore.h"
#include "host/isolate/isolate.h"
#include "host/player/player.h"
#include "host/script/script.h"
#include "host/sim/simulator.h"

namespace sim {

namespace {

// ---- Helpers ----------------------------------------------------------------------------------

std::string one_line(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == '\n') out += " / ";
        else if (c != '\r') out.push_back(c);
    }
    while (out.size() >= 3 && out.compare(out.size() - 3, 3, " / ") == 0) out.resize(out.size() - 3);
    return out;
}

std::string quote(const std::string &s) { return "\"" + s + "\""; }

// "module-load: cannot load x: why" -> {"module-load", "cannot load x: why"}
CheckResult fail_from_error(const std::string &error, bool blocks) {
    const size_t colon = error.find(": ");
    if (colon == std::string::npos || error.find(' ') < colon) return CheckResult::fail("module-error", error, blocks);
    return CheckResult::fail(error.substr(0, colon), error.substr(colon + 2), blocks);
}

bool starts_with(const std::string &s, const char *prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// Where a worker writes "step STATEMENT" before each step, so that a crash is pinned to the step
// that began it; null in the validator itself.
std::FILE *g_step_log = nullptr;

void step(Player &p, const Statement &s) {
    if (g_step_log) {
        std::fprintf(g_step_log, "step %s\n", print_statement(s).c_str());
        std::fflush(g_step_log);
    }
    p.step(s);
}

// Plays script text (statements that need nothing defined outside the text) on the player.
void steps(Player &p, const std::string &text) {
    const ParseResult parsed = parse_script(text);
    if (!parsed.ok()) throw std::logic_error("validator session: " + parsed.errors.front().message());
    for (const Statement &s : parsed.script.statements) step(p, s);
}

// The statement a crashed worker was playing: its last "step" line after its last "begin" line.
std::string crashed_step(const std::string &output) {
    std::istringstream in(output);
    std::string line, last;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "step ") == 0) last = line.substr(5);
        else if (line.compare(0, 6, "begin ") == 0) last.clear();
    }
    return last.empty() ? std::string() : " at `" + last + "`";
}

enum FindingFilter : unsigned {
    k_violations = 1,   // Violation and Error findings
    k_expectations = 2, // failed expect statements (and activation answers)
    k_impossible = 4,   // steps a user could not take
    k_all = 7,
};

bool counts(const Finding &f, unsigned filter) {
    switch (f.kind) {
    case Finding::Kind::Violation:
    case Finding::Kind::Error: return (filter & k_violations) != 0;
    case Finding::Kind::Expectation: return (filter & k_expectations) != 0;
    case Finding::Kind::Impossible: return (filter & k_impossible) != 0;
    case Finding::Kind::Warning: return false;
    }
    return false;
}

// The first finding since `from` that the filter counts, as a failure; nothing when there is none.
bool first_failure(const Player &p, size_t from, unsigned filter, CheckResult *r) {
    const std::vector<Finding> &all = p.findings();
    for (size_t i = from; i < all.size(); ++i) {
        const Finding &f = all[i];
        if (f.expected || !counts(f, filter)) continue;
        const std::string where = f.statement.empty() ? std::string("at the end") : "at `" + f.statement + "`";
        *r = CheckResult::fail(f.kind == Finding::Kind::Expectation ? "activation-answer" : f.id,
                               where + ": " + one_line(f.message));
        return true;
    }
    return false;
}

PlayerOptions player_options(const CheckContext &c) {
    PlayerOptions o;
    o.server = c.options.server;
    return o;
}

bool load(const CheckContext &c, Player &p, CheckResult *r) {
    if (p.load(c.module)) return true;
    *r = fail_from_error(p.error(), true);
    return false;
}

// A small scene: three selected items with the six default channels, at time 0.
const char k_scene[] = "item A 1 0 0\n"
                       "item B 0 2 1 rot 0.5 0.25 0\n"
                       "item C -1 -1 2\n"
                       "select A B C\n"
                       "time 0\n";

// Loads the module into the player, sets up the small scene and plays `activation` in it; false,
// with the load failure in *r, when the module does not load.
bool load_and_activate(const CheckContext &c, Player &p, CheckResult *r, const char *activation = "activate") {
    if (!load(c, p, r)) return false;
    steps(p, k_scene);
    steps(p, activation);
    return true;
}

// The first finding since `from` that the filter counts, as a failure; a pass when there is none.
CheckResult verdict(const Player &p, size_t from, unsigned filter) {
    CheckResult r = CheckResult::pass();
    first_failure(p, from, filter, &r);
    return r;
}

const char k_no_active_tool[] = "activation did not make an active tool (activation-callback-slots)";

const char *const k_slot_names[13] = {"release",         "draw",       "tool text",     "change query", "handle count",
                                      "handle position", "drag start", "handle adjust", "mouse down",   "mouse move",
                                      "mouse up",        "notify",     "reserved"};

// ---- The generic session ----------------------------------------------------------------------
// What a user does with any tool in a few seconds: presses and drags in every viewport with and
// without the alternative step, the drawings, the handle callbacks, every panel control set as
// its type allows, the panel closed, release, and a second activation. It touches nothing
// particular to one tool, so every module of the class can be swept with it.

void viewport_round(Player &p, int vp) {
    const std::string v = std::to_string(vp);
    steps(p, "mouse-down " + v + " 320 240\nmouse-move 25 10\nmouse-move 250 -40 alt\nmouse-up\ndrag-start in " + v +
                 " 300 200\nmouse-move 30 0\nmouse-move -60 5 alt\nmouse-up\ndraw " + v + "\n");
}

void callback_round(Player &p) {
    steps(p, "tool-text\nchange-query\nhandle-count\nhandle-position 0\nhandle-adjust 0\nnotify 1\nnotify 0\n");
}

// Every control a user can set, by type: numbers typed, drag buttons dragged, every choice item
// chosen, the item list picked (an item and none), buttons pressed.
void panel_round(Player &p) {
    Panel *panel = p.panel();
    if (!panel || panel->destroyed) return;
    std::vector<Statement> list;
    int64_t n[8] = {};
    bool picked = false;
    for (const std::unique_ptr<Control> &c : panel->controls) {
        const int64_t i = ++n[static_cast<int>(c->type)];
        switch (c->type) {
        case ControlType::Float:
            list.push_back(statement("type", {Value::index(i), Value::number(0.5)}));
            list.push_back(statement("type", {Value::index(i), Value::number(-2)}));
            break;
        case ControlType::DragButton:
            list.push_back(
                statement("drag-button", {Value::index(i), Value::int32(1), Value::int32(3), Value::int32(-2)}));
            break;
        case ControlType::Choice:
            for (size_t k = c->items.size(); k-- > 0;)
                list.push_back(statement("choose", {Value::index(i), Value::text_of(std::to_string(k))}));
            break;
        case ControlType::List:
            if (!picked) {
                list.push_back(statement("pick", {Value::item("B")}));
                list.push_back(statement("pick", {Value::word("none")}));
                list.push_back(statement("pick", {Value::item("A")}));
                picked = true;
            }
            break;
        case ControlType::Button: list.push_back(statement("press", {Value::index(i)})); break;
        default: break;
        }
    }
    for (const Statement &s : list) step(p, s);
}

void generic_session(Player &p) {
    steps(p, k_scene);
    steps(p, "activate");
    for (int vp = 0; vp < 4; ++vp) viewport_round(p, vp);
    callback_round(p);
    panel_round(p);
    viewport_round(p, 2);
    if (p.panel() && p.panel()->open) steps(p, "close");
    steps(p, "release\nactivate\n");
    viewport_round(p, 1);
    callback_round(p);
    steps(p, "release");
}

// ---- Checks run in a worker -------------------------------------------------------------------

CheckResult check_file_format(const CheckContext &c) {
    const std::string problem = module_file_problem(c.module);
    return problem.empty() ? CheckResult::pass() : fail_from_error(problem, true);
}

CheckResult check_exports(const CheckContext &c) {
    BinaryInfo info;
    std::string error;
    if (!inspect_binary_file(c.module, &info, &error)) return fail_from_error(error, false);
    bool descriptor = false;
    std::string others;
    for (const std::string &e : info.exports) {
        if (e == HOST_MODULE_DESCRIPTOR_SYMBOL) descriptor = true;
        else others += (others.empty() ? "" : ", ") + e;
    }
    if (!descriptor)
        return CheckResult::fail("module-descriptor-missing",
                                 "the file exports no " HOST_MODULE_DESCRIPTOR_SYMBOL +
                                     (others.empty() ? std::string() : " (it exports " + others + ")"));
    if (!others.empty())
        return CheckResult::fail("module-exports-extra",
                                 "besides " HOST_MODULE_DESCRIPTOR_SYMBOL " the file exports " + others +
                                     "; a module exports the descriptor alone (build with hidden visibility)");
    return CheckResult::pass();
}

CheckResult check_loads(const CheckContext &c) {
    Host host;
    Module m(c.module);
    if (starts_with(m.error(), "module-load") || starts_with(m.error(), "module-descriptor-missing"))
        return fail_from_error(m.error(), true);
    return CheckResult::pass();
}

CheckResult check_descriptor_words(const CheckContext &c) {
    Host host;
    Module m(c.module);
    if (starts_with(m.error(), "module-descriptor-") || starts_with(m.error(), "module-load"))
        return fail_from_error(m.error(), true);
    const host_module_descriptor *d = m.descriptor();
    if (!d) return CheckResult::fail("module-descriptor-missing", "no descriptor", true);
    const std::string alignment = descriptor_alignment_problem(m);
    if (!alignment.empty()) return fail_from_error(alignment, false);
    if (!d->startup || !d->shutdown)
        return CheckResult::fail("module-descriptor-routine-null",
                                 std::string("the ") + (!d->startup ? "start-up" : "shut-down") + " routine is null",
                                 !d->startup);
    return CheckResult::pass();
}

CheckResult check_server_table(const CheckContext &c) {
    Host host;
    Module m(c.module);
    if (starts_with(m.error(), "module-server-table")) return fail_from_error(m.error(), true);
    if (!m.ok()) return fail_from_error(m.error(), true);
    std::string listed;
    const host_server_record *chosen = nullptr;
    for (const host_server_record *r : m.servers()) {
        const std::string cls = r->class_name ? quote(r->class_name) : "null";
        const std::string name = r->server_name ? quote(r->server_name) : "null";
        listed += (listed.empty() ? "" : ", ") + name + " of class " + cls;
        const bool tool = r->class_name && std::string(r->class_name) == HOST_CLASS_LAYOUT_TOOL;
        if (tool && !chosen && r->server_name && (c.options.server.empty() || c.options.server == r->server_name))
            chosen = r;
    }
    if (!chosen)
        return CheckResult::fail("module-server-missing",
                                 std::string("the table lists no " HOST_CLASS_LAYOUT_TOOL " server") +
                                     (c.options.server.empty() ? "" : " named " + quote(c.options.server)) +
                                     (listed.empty() ? " (it is empty)" : " (it lists " + listed + ")"),
                                 true);
    if (!chosen->activate || !*chosen->server_name)
        return CheckResult::fail("server-record-incomplete",
                                 std::string("the ") + HOST_CLASS_LAYOUT_TOOL + " record " +
                                     (chosen->activate ? "has an empty server name" : "has no activation routine"),
                                 !chosen->activate);
    if (m.server_count() > 1)
        return CheckResult::fail("server-table-extra-record",
                                 "the table holds " + std::to_string(m.server_count()) + " records (" + listed +
                                     ") before its end record; a module of the " HOST_CLASS_LAYOUT_TOOL
                                     " class holds exactly one; the other checks use " +
                                     quote(chosen->server_name));
    return CheckResult::pass();
}

CheckResult check_startup(const CheckContext &c) {
    Host host;
    Module m(c.module);
    if (!m.ok()) return fail_from_error(m.error(), true);
    if (g_step_log) std::fprintf(g_step_log, "step start-up\n"), std::fflush(g_step_log);
    const void *answer = m.startup();
    m.shutdown();
    if (answer != reinterpret_cast<void *>(static_cast<intptr_t>(HOST_MODULE_STARTUP_RESULT))) {
        char got[40];
        std::snprintf(got, sizeof got, "%p", answer);
        return CheckResult::fail("module-startup-answer", std::string("start-up answered ") + got + ", expected " +
                                                              std::to_string(HOST_MODULE_STARTUP_RESULT));
    }
    if (!host.clean()) return CheckResult::fail(host.violations().front().id, host.violations().front().message);
    return CheckResult::pass();
}

CheckResult check_service_binding(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r)) return r;
    for (const Finding &f : p.findings())
        if (starts_with(f.id, "lookup-")) return CheckResult::fail(f.id, "during activation: " + one_line(f.message));
    for (const Lookup &l : p.host().lookups())
        if (l.mode != 0)
            return CheckResult::fail("lookup-mode-nonzero",
                                     quote(l.name) + " looked up with mode " + std::to_string(l.mode) + ", expected 0");
    return CheckResult::pass();
}

CheckResult check_callback_slots(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r)) return r;
    if (first_failure(p, 0, k_all, &r)) return r;
    Tool *t = p.tool();
    if (!t) return CheckResult::fail("activation-answer", "activation did not make an active tool");
    if (!t->instance()) return CheckResult::fail("activation-instance-null", "activation left the instance slot null");
    std::string unfilled;
    for (int s = 0; s < 12; ++s)
        if (!t->slot_filled(s))
            unfilled += (unfilled.empty() ? "" : ", ") + std::to_string(s) + " (" + k_slot_names[s] + ")";
    if (!unfilled.empty())
        return CheckResult::fail("tool-callback-unfilled", "activation left slot(s) " + unfilled +
                                                               " as the host gave them; it must fill slots 0 to 11");
    if (t->slot(12) != Tool::sentinel(12))
        return CheckResult::fail("tool-callback-reserved-written",
                                 "activation changed slot 12, which must stay as the host gave it");
    steps(p, "release");
    return verdict(p, 0, k_all);
}

CheckResult check_simple_callbacks(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r)) return r;
    if (!p.tool()) return CheckResult::skip(k_no_active_tool);
    const size_t from = p.findings().size();
    for (int vp = 0; vp < 4; ++vp) {
        const std::string at = " in " + std::to_string(vp) + " 320 240\n";
        steps(p, "tool-text" + at + "handle-count" + at);
        const Answer count = p.last_answer();
        const int32_t n = count.kind == Answer::Kind::Int ? count.value : 0;
        for (int32_t i = 0; i < n && i < 16; ++i) steps(p, "handle-position " + std::to_string(i) + at);
        if (n > 0) steps(p, "handle-adjust 0" + at);
    }
    steps(p, "change-query\nnotify 0\nnotify 1\nchange-query\nrelease\n");
    return verdict(p, from, k_all);
}

CheckResult check_release_panel(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r)) return r;
    if (!p.tool()) return CheckResult::skip(k_no_active_tool);
    Panel *panel = p.panel();
    if (!panel) return CheckResult::skip("activation made no panel");
    if (!panel->open) return CheckResult::fail("panel-not-open", "activation left its panel closed");
    steps(p, "release");
    if (first_failure(p, 0, k_violations, &r)) return r;
    if (panel->open) return CheckResult::fail("release-panel-left-open", "the panel is still open after release");
    if (!panel->destroyed)
        return CheckResult::fail("release-panel-not-destroyed", "the panel was closed but not destroyed at release");
    return CheckResult::pass();
}

CheckResult check_no_panel(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r, "fail-panel-create on\nactivate expect 2\n")) return r;
    return verdict(p, 0, k_violations | k_expectations);
}

CheckResult check_no_memory(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load(c, p, &r)) return r;
    if (!alloc_hooks_available())
        return CheckResult::skip(std::string("the allocation hooks are unavailable: ") +
                                 alloc_hooks_unavailable_reason());
    steps(p, k_scene);
    alloc_reset_counts();
    steps(p, "refuse-alloc next 1\nactivate expect 1\n");
    const AllocCounts counts = alloc_counts();
    alloc_fail_none();
    if (counts.failed_calls == 0) {
        if (p.tool()) return CheckResult::skip("activation allocates nothing, so no allocation could be refused");
        return CheckResult::fail("activation-answer", "activation allocated nothing and still failed");
    }
    return verdict(p, 0, k_violations | k_expectations);
}

// ---- The allocation sweep ---------------------------------------------------------------------
// Worker job "sweep MODULE FROM TO [OPTIONS]": for every k from FROM to TO plays the generic
// session with the k-th module allocation refused (k = 0: none refused, and the count of
// allocations the session makes is printed). Lines:
//   count N | hooks-unavailable REASON | begin K | end K pass | end K fail ID MESSAGE

int sweep_worker(const std::vector<std::string> &args, std::FILE *out);

const unsigned k_sweep_batch = 64;

CheckResult run_sweep(const CheckContext &c, const CheckDef &) {
    std::vector<std::string> base = {"sweep", c.module};
    auto job = [&](unsigned from, unsigned to) {
        std::vector<std::string> a = base;
        a.push_back(std::to_string(from));
        a.push_back(std::to_string(to));
        a.insert(a.end(), c.options.words.begin(), c.options.words.end());
        return run_worker(a, c.options.timeout);
    };
    struct Failure {
        unsigned k;
        std::string id, message;
    };
    std::vector<Failure> failures;
    unsigned total = 0;
    bool counted = false;
    std::string hooks;
    // Reads a worker's lines; answers the run after the last one that began (0 when none did).
    auto read = [&](const WorkerOutcome &o, unsigned from) {
        std::istringstream in(o.output);
        std::string line;
        unsigned begun = 0;
        bool ended = true;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string tag;
            words >> tag;
            if (tag == "count") {
                words >> total;
                counted = true;
            } else if (tag == "hooks-unavailable") {
                std::getline(words, hooks);
                hooks = hooks.empty() ? "unknown" : hooks.substr(1);
            } else if (tag == "begin") {
                words >> begun;
                ended = false;
            } else if (tag == "end") {
                unsigned k = 0;
                std::string verdict, id, message;
                words >> k >> verdict;
                ended = true;
                if (verdict == "fail") {
                    words >> id;
                    std::getline(words, message);
                    failures.push_back({k, id, message.empty() ? message : message.substr(1)});
                }
            }
        }
        if (o.status != WorkerOutcome::Status::Exited || o.exit_code != 0) {
            const unsigned k = ended ? (begun ? begun + 1 : from) : begun;
            const std::string id = o.status == WorkerOutcome::Status::Crashed    ? "session-crash"
                                   : o.status == WorkerOutcome::Status::TimedOut ? "session-timeout"
                                                                                 : "worker-error";
            failures.push_back({k, id, "the worker " + o.describe() + crashed_step(o.output)});
            return k + 1;
        }
        return begun + 1;
    };
    read(job(0, 0), 0);
    if (!hooks.empty()) return CheckResult::skip("the allocation hooks are unavailable: " + hooks);
    if (!counted) {
        const Failure f = failures.empty() ? Failure{0, "worker-error", "no allocation count"} : failures.front();
        return CheckResult::fail(f.id, "the session without refusals: " + f.message);
    }
    if (!failures.empty())
        return CheckResult::fail(failures.front().id, "the session without refusals: " + failures.front().message);
    for (unsigned from = 1; from <= total;) {
        const unsigned to = from + k_sweep_batch - 1 < total ? from + k_sweep_batch - 1 : total;
        const unsigned next = read(job(from, to), from);
        from = next > from ? next : from + 1;
    }
    if (!failures.empty()) {
        const Failure &f = failures.front();
        return CheckResult::fail(f.id, "run " + std::to_string(f.k) + " of " + std::to_string(total) + " (allocation " +
                                           std::to_string(f.k) + " refused): " + f.message + "; " +
                                           std::to_string(failures.size()) + " of " + std::to_string(total) +
                                           " runs failed");
    }
    return CheckResult::pass(std::to_string(total) + " runs, each refusing one of the session's " +
                             std::to_string(total) + " allocations");
}

// ---- The table --------------------------------------------------------------------------------

std::vector<CheckDef> make_table() {
    return {
        {"module-file-format",
         "The file is a shared library of this host's format, pointer width and machine (ELF or PE, 32 or 64 bits).",
         check_file_format, nullptr, false},
        {"module-exports-only-descriptor", "The file exports exactly one symbol, _mod_descrip.", check_exports, nullptr,
         false},
        {"module-loads", "The file loads as the host loads it and _mod_descrip is found.", check_loads, nullptr, false},
        {"descriptor-words",
         "The descriptor carries sync word 0x04121994, version 3, interface 0x300, a zero alignment word "
         "(64-bit) and start-up and shut-down routines.",
         check_descriptor_words, nullptr, false},
        {"descriptor-server-table",
         "The server table ends with an all-null record after exactly one LayoutTool record with a name and an "
         "activation routine.",
         check_server_table, nullptr, false},
        {"module-startup", "Start-up answers 4 and calls nothing of the host.", check_startup, nullptr, true},
        {"activation-service-binding", "Activation looks up every service by a name the host offers, with mode 0.",
         check_service_binding, nullptr, false},
        {"activation-callback-slots",
         "Activation answers 0, stores an instance, fills callback slots 0-11 and leaves slot 12 untouched.",
         check_callback_slots, nullptr, false},
        {"callbacks-simple",
         "Tool text, change query, handle count, position and adjust on sane input, and notify answer without a "
         "violation.",
         check_simple_callbacks, nullptr, false},
        {"release-closes-panel", "Release closes the panel activation opened and destroys it, and frees every block.",
         check_release_panel, nullptr, false},
        {"activation-no-panel", "Activation answers 2 when no panel can be created, and keeps no block allocated.",
         check_no_panel, nullptr, false},
        {"activation-no-memory",
         "Activation answers 1 when its first allocation (the instance) is refused, and keeps no block allocated.",
         check_no_memory, nullptr, false},
        {"allocation-sweep",
         "A generic session with its k-th allocation refused, for every k, ends without a crash or violation "
         "and with every block freed at release.",
         nullptr, run_sweep, false},
        {"session-random",
         "Seeded random sessions end without a crash or violation: keys only at the current time, on selected "
         "items, in the tool's channels, finite, and every block freed at release.",
         nullptr, random_sessions_check, false},
    };
}

// ---- Options ----------------------------------------------------------------------------------

std::string opt_only_failed(CheckOptions &o, const std::string &) {
    o.only_failed = true;
    return std::string();
}
std::string opt_list(CheckOptions &o, const std::string &) {
    o.list = true;
    return std::string();
}
std::string opt_filter(CheckOptions &o, const std::string &v) {
    try {
        std::regex re(v);
    } catch (const std::regex_error &e) {
        return "--filter: " + quote(v) + " is not a regular expression (" + e.what() + ")";
    }
    o.filter = v;
    return std::string();
}
std::string opt_server(CheckOptions &o, const std::string &v) {
    if (v.empty()) return "--server needs a name";
    o.server = v;
    return std::string();
}

// ---- Workers ----------------------------------------------------------------------------------

// Worker job "check ID MODULE [OPTIONS]": runs one check and prints its result line.
int check_worker(const std::vector<std::string> &args, std::FILE *out) {
    if (args.size() < 3) return 2;
    const CheckDef *def = find_check(args[1]);
    if (!def || !def->run) return 2;
    CheckOptions options;
    std::string error;
    std::vector<std::string> words(args.begin() + 3, args.end());
    if (!parse_check_options(words, &options, &error)) {
        std::fprintf(out, "%s\n", result_line(CheckResult::fail("worker-error", error)).c_str());
        return 0;
    }
    const CheckContext ctx{options, args[2]};
    g_step_log = out;
    CheckResult r;
    try {
        r = def->run(ctx);
    } catch (const std::exception &e) {
        r = CheckResult::fail("player-error", e.what());
    }
    std::fprintf(out, "%s\n", result_line(r).c_str());
    std::fflush(out);
    return 0;
}

int sweep_worker(const std::vector<std::string> &args, std::FILE *out) {
    if (args.size() < 4) return 2;
    const std::string &module = args[1];
    const unsigned from = static_cast<unsigned>(std::strtoul(args[2].c_str(), nullptr, 10));
    const unsigned to = static_cast<unsigned>(std::strtoul(args[3].c_str(), nullptr, 10));
    CheckOptions options;
    std::string error;
    if (!parse_check_options(std::vector<std::string>(args.begin() + 4, args.end()), &options, &error)) return 2;
    const CheckContext ctx{options, module};
    g_step_log = out;
    for (unsigned k = from; k <= to; ++k) {
        std::fprintf(out, "begin %u\n", k);
        std::fflush(out);
        CheckResult r = CheckResult::pass();
        try {
            Player p(player_options(ctx));
            alloc_reset_counts();
            if (k > 0) alloc_fail_after(k - 1, 1);
            if (load(ctx, p, &r)) {
                if (k == 0 && !alloc_hooks_available()) {
                    std::fprintf(out, "hooks-unavailable %s\n", alloc_hooks_unavailable_reason());
                    return 0;
                }
                generic_session(p);
                p.finish();
                if (k == 0) std::fprintf(out, "count %" PRIu64 "\n", alloc_counts().allocations());
                // A refused allocation may end the session early (activation answers 1), and a
                // module may lack a panel or a control: steps that became impossible and the
                // activation answer are not faults here.
                first_failure(p, 0, k_violations, &r);
            }
        } catch (const std::exception &e) {
            r = CheckResult::fail("player-error", e.what());
        }
        alloc_fail_none();
        if (r.outcome == CheckResult::Outcome::Fail)
            std::fprintf(out, "end %u fail %s %s\n", k, r.id.c_str(), one_line(r.message).c_str());
        else std::fprintf(out, "end %u pass\n", k);
        std::fflush(out);
    }
    return 0;
}

// Runs a check with a `run` function in a worker and turns how it ended into a result.
CheckResult run_in_worker(const CheckContext &c, const CheckDef &def) {
    std::vector<std::string> a = {"check", def.id, c.module};
    a.insert(a.end(), c.options.words.begin(), c.options.words.end());
    const WorkerOutcome o = run_worker(a, c.options.timeout);
    CheckResult r;
    switch (o.status) {
    case WorkerOutcome::Status::Crashed:
        return CheckResult::fail("session-crash",
                                 "the module crashed (" + o.crash + ")" +
                                     (crashed_step(o.output).empty() ? " during the check" : crashed_step(o.output)),
                                 def.crash_blocks);
    case WorkerOutcome::Status::TimedOut:
        return CheckResult::fail("session-timeout",
                                 "the check did not end within " + std::to_string(static_cast<int>(c.options.timeout)) +
                                     " s",
                                 def.crash_blocks);
    case WorkerOutcome::Status::Failed: return CheckResult::fail("worker-error", o.error);
    case WorkerOutcome::Status::Exited:
        if (parse_result_line(o.output, &r)) return r;
        return CheckResult::fail("worker-error", "the check's worker " + o.describe() + " without a result",
                                 def.crash_blocks);
    }
    return CheckResult::fail("worker-error", "unknown outcome");
}

} // namespace

std::string module_file_problem(const std::string &path) {
    BinaryInfo info;
    std::string error;
    if (!inspect_binary_file(path, &info, &error)) return error;
#ifdef _WIN32
    const BinaryFormat want = BinaryFormat::Pe;
    const uint16_t machine = sizeof(void *) == 8 ? 0x8664 : 0x14c;
    const char *kind = sizeof(void *) == 8 ? "PE32+" : "PE32";
#else
    // Mach-O bundles load too where their code runs natively (host/sim/macho.h).
    const bool macho = info.format == BinaryFormat::MachO && macho_host_cpu() != 0;
    const BinaryFormat want = macho ? BinaryFormat::MachO : BinaryFormat::Elf;
    const uint16_t machine = sizeof(void *) == 4 ? 3 : macho_host_cpu() == k_macho_cpu_arm64 ? 183 : 62;
    const char *kind = macho ? "Mach-O 64-bit" : sizeof(void *) == 8 ? "ELF64" : "ELF32";
#endif
    const int bits = static_cast<int>(sizeof(void *) * 8);
    const std::string got = binary_kind(info) + " " + info.machine_name;
    if (info.format != want) return "module-file-format: the file is " + got + "; this host loads " + kind + " modules";
    if (info.pointer_bits != bits)
        return "module-pointer-width: the file is " + got + "; this host is " + std::to_string(bits) +
               "-bit: check the module with the " + std::to_string(info.pointer_bits) + "-bit zendro_host";
    if (info.machine != machine) return "module-machine: the file is built for " + info.machine_name;
    if (!info.shared_library) return "module-not-shared-library: the file is " + got + " but not a shared library";
    return std::string();
}

std::string descriptor_alignment_problem(const Module &m) {
    if (sizeof(void *) != 8 || !m.descriptor()) return std::string();
    const std::vector<unsigned char> bytes = m.descriptor_bytes();
    if ((bytes[12] | bytes[13] | bytes[14] | bytes[15]) == 0) return std::string();
    return "module-descriptor-alignment: the 4 bytes at offset 12 (alignment before the start-up pointer) are not "
           "zero";
}

std::vector<CheckDef> &check_table() {
    static std::vector<CheckDef> table = make_table();
    return table;
}

const CheckDef *find_check(const std::string &id) {
    for (const CheckDef &d : check_table())
        if (id == d.id) return &d;
    return nullptr;
}

const std::vector<CheckOptionRule> &check_option_rules() {
    static const std::vector<CheckOptionRule> rules = {
        {"--only-failed", nullptr, "print only the FAIL lines and the summaries", opt_only_failed},
        {"--list", nullptr, "print every check id with what it demands, and exit", opt_list},
        {"--filter", "REGEX", "run only the checks whose id matches REGEX (ECMAScript syntax)", opt_filter},
        {"--server", "NAME", "check the LayoutTool server of that name (default: the module's first)", opt_server},
        {"--sessions", "N", "random sessions per module (default 2000; 0 skips them)", opt_sessions},
        {"--seed", "S", "seed of the first random session; session i has seed S+i (default 1)", opt_seed},
        {"--steps", "K", "statements per random session after the scene (default 40)", opt_steps},
        {"--channels", "A,B,...", "channels a key may be written to (default: the position and rotation six)",
         opt_channels},
        {"--save-shrunk", "FILE",
         "write the shrunk script of a failing random session to FILE (a further violation id's to FILE-ID)",
         opt_save_shrunk},
    };
    return rules;
}

bool parse_check_options(const std::vector<std::string> &words, CheckOptions *options, std::string *error) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &w = words[i];
        if (w.size() < 2 || w[0] != '-') {
            options->modules.push_back(w);
            continue;
        }
        const CheckOptionRule *rule = nullptr;
        for (const CheckOptionRule &r : check_option_rules())
            if (w == r.name) rule = &r;
        if (!rule) {
            *error = "unknown option " + w;
            return false;
        }
        std::string value;
        if (rule->value_name) {
            if (i + 1 >= words.size()) {
                *error = w + " needs " + rule->value_name;
                return false;
            }
            value = words[++i];
        }
        const std::string why = rule->apply(*options, value);
        if (!why.empty()) {
            *error = why;
            return false;
        }
        options->words.push_back(w);
        if (rule->value_name) options->words.push_back(value);
    }
    return true;
}

std::string check_usage() {
    std::string u = "usage: zendro_host check MODULE...";
    for (const CheckOptionRule &r : check_option_rules())
        u += std::string(" [") + r.name + (r.value_name ? std::string(" ") + r.value_name : std::string()) + "]";
    u += "\n\ncheck     runs the conformance checks of a LayoutTool module on each MODULE file, each check\n"
         "          in a process of its own, and prints one line per check\n";
    for (const CheckOptionRule &r : check_option_rules()) {
        std::string name = r.name;
        if (r.value_name) name += std::string(" ") + r.value_name;
        char line[256];
        std::snprintf(line, sizeof line, "%-18s%s\n", name.c_str(), r.help);
        u += line;
    }
    u += "exit status: 0 every check passed or was skipped; 1 a check failed; 2 bad command line\n";
    return u;
}

std::string result_line(const CheckResult &r) {
    switch (r.outcome) {
    case CheckResult::Outcome::Pass: return "result pass " + one_line(r.message);
    case CheckResult::Outcome::Fail:
        return std::string("result ") + (r.blocks ? "fail-blocks " : "fail ") + r.id + " " + one_line(r.message);
    case CheckResult::Outcome::Skip: return "result skip " + one_line(r.message);
    }
    return "result fail worker-error unknown outcome";
}

bool parse_result_line(const std::string &output, CheckResult *r) {
    std::istringstream in(output);
    std::string line, last;
    while (std::getline(in, line))
        if (line.compare(0, 7, "result ") == 0) last = line;
    if (last.empty()) return false;
    std::istringstream words(last.substr(7));
    std::string verdict, rest;
    words >> verdict;
    if (verdict == "fail" || verdict == "fail-blocks") {
        std::string id;
        words >> id;
        std::getline(words, rest);
        *r = CheckResult::fail(id, rest.empty() ? rest : rest.substr(1), verdict == "fail-blocks");
        return true;
    }
    std::getline(words, rest);
    rest = rest.empty() ? rest : rest.substr(1);
    if (verdict == "pass") *r = CheckResult::pass(rest);
    else if (verdict == "skip") *r = CheckResult::skip(rest);
    else return false;
    return true;
}

void register_check_workers() {
    register_worker("check", check_worker);
    register_worker("sweep", sweep_worker);
    register_explore_workers();
}

int check_main(const std::vector<std::string> &args, std::FILE *out, std::FILE *err) {
    CheckOptions options;
    std::string error;
    const std::vector<std::string> words(args.size() > 1 ? args.begin() + 1 : args.end(), args.end());
    if (!parse_check_options(words, &options, &error)) {
        std::fprintf(err, "zendro_host check: %s\n%s", error.c_str(), check_usage().c_str());
        return 2;
    }
    if (options.list) {
        for (const CheckDef &d : check_table()) std::fprintf(out, "%-32s %s\n", d.id, d.description);
        return 0;
    }
    if (options.modules.empty()) {
        std::fprintf(err, "zendro_host check: check needs at least one MODULE\n%s", check_usage().c_str());
        return 2;
    }
    const std::regex filter(options.filter.empty() ? std::string(".*") : options.filter);
    // A filter that selects nothing (a misspelt id) would pass every module without checking any.
    bool any = false;
    for (const CheckDef &def : check_table()) any = any || std::regex_search(def.id, filter);
    if (!any) {
        std::fprintf(err, "zendro_host check: no check matches the filter %s (see --list)\n%s",
                     quote(options.filter).c_str(), check_usage().c_str());
        return 2;
    }
    size_t passed = 0, failed = 0, skipped = 0;
    for (const std::string &module : options.modules) {
        const CheckContext ctx{options, module};
        size_t mp = 0, mf = 0, ms = 0, mw = 0;
        std::string blocked;
        for (const CheckDef &def : check_table()) {
            if (!std::regex_search(def.id, filter)) continue;
            CheckResult r;
            if (!blocked.empty()) r = CheckResult::skip("the module cannot be used (" + blocked + ")");
            else if (def.parent) r = def.parent(ctx, def);
            else r = run_in_worker(ctx, def);
            if (r.blocks && blocked.empty()) blocked = std::string(def.id) + ": " + r.id;
            switch (r.outcome) {
            case CheckResult::Outcome::Pass:
                ++mp;
                if (!options.only_failed)
                    std::fprintf(out, "pass  %s  %s%s%s\n", def.id, module.c_str(), r.message.empty() ? "" : ": ",
                                 r.message.c_str());
                break;
            case CheckResult::Outcome::Fail:
                ++mf;
                std::fprintf(out, "FAIL  %s  %s: %s: %s\n", def.id, module.c_str(), r.id.c_str(),
                             one_line(r.message).c_str());
                std::fputs(r.details.c_str(), out);
                for (const CheckResult &more : r.further) {
                    std::fprintf(out, "FAIL  %s  %s: %s: %s\n", def.id, module.c_str(), more.id.c_str(),
                                 one_line(more.message).c_str());
                    std::fputs(more.details.c_str(), out);
                }
                break;
            case CheckResult::Outcome::Skip:
                ++ms;
                if (!options.only_failed)
                    std::fprintf(out, "skip  %s  %s: %s\n", def.id, module.c_str(), r.message.c_str());
                break;
            }
            mw += r.warnings.size();
            if (!options.only_failed)
                for (const std::string &w : r.warnings)
                    std::fprintf(out, "warn  %s  %s: %s\n", def.id, module.c_str(), one_line(w).c_str());
            std::fflush(out);
        }
        std::fprintf(out, "%s: %zu passed, %zu failed, %zu skipped", module.c_str(), mp, mf, ms);
        if (mw) std::fprintf(out, ", %zu warning%s", mw, mw == 1 ? "" : "s");
        std::fprintf(out, "\n");
        passed += mp;
        failed += mf;
        skipped += ms;
    }
    std::fprintf(out, "%zu passed, %zu failed, %zu skipped\n", passed, failed, skipped);
    return failed ? 1 : 0;
}

} // namespace sim
