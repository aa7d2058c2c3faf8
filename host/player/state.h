// SPDX-License-Identifier: MIT
// The player's inside, private to host/player: the state of one session (module, tool, scene,
// pointer, panel, results) and one handler per verb of the script language. The handlers are
// defined by family, one file each: verbs_scene.cpp, verbs_tool.cpp, verbs_panel.cpp,
// verbs_expect.cpp, verbs_picture.cpp; handlers.cpp pairs them with the verbs.
#ifndef HOST_PLAYER_STATE_H
#define HOST_PLAYER_STATE_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/player/player.h"
#include "host/player/pointer.h"

namespace sim {
namespace play {

constexpr double k_default_tolerance = 1e-9;
constexpr size_t k_no_panel = static_cast<size_t>(-1);

// Text helpers for messages (session.cpp).
std::string trim(const std::string &s);
inline std::string quote(const std::string &s) { return "\"" + s + "\""; }
std::string ordinal(int64_t n); // 1st, 2nd, 3rd, 11th
const char *type_name(ControlType t);
std::string vec_text(const Vec3 &v); // (x, y, z)

// Statement reading (session.cpp).
inline bool near(double got, double want, double tol) {
    if (std::isnan(want)) return std::isnan(got);
    if (std::isinf(want)) return got == want;
    return std::fabs(got - want) <= tol;
}
double tolerance(const Statement &st); // its tol option, else k_default_tolerance
int64_t nth_of(const Statement &st);   // its nth option, else 1
// The on/off word at `arg`; absent means on.
inline bool state_on(const Statement &st, size_t arg) { return st.args.size() <= arg || st.args[arg].text != "off"; }
int32_t as_int32(int64_t v); // clamped
// "say" and "expect ..." only look; every other verb acts (and has a picture set).
bool is_action(const std::string &verb);

} // namespace play

struct Player::State {
    explicit State(PlayerOptions o);

    // ---- Session data (session.cpp)
    PlayerOptions options;
    Host host;
    std::unique_ptr<Module> module;
    std::unique_ptr<Tool> tool; // the latest activation
    std::string server_name, error;
    bool loaded = false, finished = false;
    Observer observer;

    std::unordered_map<std::string, ItemId> ids;
    std::vector<ItemStart> items;
    // Per item (as items): where it stood before the module first keyed it, and after each step
    // that keyed it.
    struct Track {
        Vec3 before, before_rot;
        std::vector<Vec3> path;
    };
    std::vector<Track> tracks;

    Pointer pointer;
    size_t panel_index = play::k_no_panel;
    std::map<int32_t, std::vector<DrawOp>> drawings;
    size_t writes_begin = 0, writes_end = 0; // the last action's key writes in host.writes()
    size_t action_findings = 0;              // where the last action's findings begin in `findings`
    Answer answer;
    Vec3 handle{};
    bool has_handle = false;
    size_t live_before_activation = 0; // allocated blocks, for the leak check at release

    // ---- Findings (session.cpp)
    std::vector<Finding> findings;
    size_t violations_seen = 0, warnings_seen = 0;
    // The step under way.
    const Statement *current = nullptr;
    StepResult *result = nullptr;

    std::string statement_text() const;
    void add(Finding::Kind kind, const std::string &id, const std::string &message);
    void flush_violations(); // the simulator's new violations and warnings, as findings
    void record(Finding::Kind kind, const std::string &id, const std::string &message); // no flush
    void impossible(const std::string &why) { add(Finding::Kind::Impossible, violation_id::step_impossible, why); }
    void failed(const std::string &why) { add(Finding::Kind::Expectation, violation_id::expect_failed, why); }

    // ---- Look-ups (lookup.cpp)
    Tool *active_tool(); // null (impossible) when no tool is active
    Panel *panel() { return panel_index == play::k_no_panel ? nullptr : host.panel(panel_index); }
    Panel *usable_panel(); // there and open; null (impossible, with the reason) otherwise
    Control *control(ControlType type, const std::string &label, int64_t nth);
    Control *control_at(ControlType type, int64_t index);
    Control *beside(const Control &field);
    std::string inventory(ControlType type);
    Control *find(ControlType type, const Value &ref, const Statement &st, std::string *why);
    static int64_t choice_index(const Control &c, const std::string &item);
    static std::string choice_items(const Control &c);
    bool has_channel(ItemId id, const std::string &channel, int64_t nth);
    ItemId item_of(const Value &v);

    // ---- Handlers, one per verb (the table is handler(), handlers.cpp)
    using Handler = void (State::*)(const Statement &);
    struct Row {
        const char *verb; // as the schema names it
        Handler run;
    };
    static const std::vector<Row> &rows();           // every verb and its handler
    static Handler handler(const std::string &verb); // null for a verb without one

    // Scene and host setup (verbs_scene.cpp)
    void do_item(const Statement &st);
    void do_key(const Statement &st);
    void do_select(const Statement &st);
    void do_time(const Statement &st);
    void do_viewport(const Statement &st);
    void do_missing(const Statement &st);
    void do_forbid(const Statement &st);
    void do_fail_panel_create(const Statement &st);
    void do_refuse_alloc(const Statement &st);
    void do_allow_alloc(const Statement &st);
    void do_limit_panel(const Statement &st);
    void do_say(const Statement &st);

    // Tool events (verbs_tool.cpp)
    bool event(const Statement &st, PointerAt at, int32_t dx, int32_t dy, host_tool_event *e);
    bool pointer_event(const Statement &st, host_tool_event *e) { return event(st, pointer.at(), 0, 0, e); }
    bool held(); // a button is held; impossible otherwise
    void answer_int(int32_t v);
    void check_leaks(const std::string &when);
    void check_leaks_after_release() { check_leaks("the release callback"); }
    void do_activate(const Statement &st);
    void do_release(const Statement &st);
    void do_mouse_down(const Statement &st);
    void do_drag_start(const Statement &st);
    void do_mouse_move(const Statement &st);
    void do_mouse_up(const Statement &st);
    void do_draw(const Statement &st);
    void do_tool_text(const Statement &st);
    void do_change_query(const Statement &st);
    void do_handle_count(const Statement &st);
    void do_handle_position(const Statement &st);
    void do_handle_adjust(const Statement &st);
    void do_notify(const Statement &st);

    // Panel actions (verbs_panel.cpp)
    Control *user_control(ControlType type, const Statement &st);
    void do_type(const Statement &st);
    void do_drag_button(const Statement &st);
    void do_choose(const Statement &st);
    void do_pick(const Statement &st);
    void do_press(const Statement &st);
    void do_close(const Statement &st);
    void do_panel_key(const Statement &st);

    // Pictures (verbs_picture.cpp)
    void track_before();
    void track_after(size_t writes_before);
    std::string caption() const;
    std::string panel_picture(const std::string &caption_text);
    std::string viewport_picture(int32_t vp, const std::string &caption_text,
                                 const std::vector<DrawOp> *drawing = nullptr);
    bool write_picture(const std::string &path, const std::string &svg);
    void picture_set();
    void do_picture(const Statement &st);

    // Expectations (verbs_expect.cpp)
    void expect_count(size_t want);
    Control *expected_control(ControlType type, const Statement &st);
    const std::vector<DrawOp> *drawing(const Statement &st);
    const DrawOp *draw_op(const Statement &st, DrawOp::Kind kind);
    void do_expect_key(const Statement &st);
    void do_expect_no_key(const Statement &st);
    void do_expect_keys(const Statement &st);
    void do_expect_no_keys(const Statement &st);
    void do_expect_field(const Statement &st);
    void do_expect_info(const Statement &st);
    void do_expect_choice(const Statement &st);
    void do_expect_ops(const Statement &st);
    void do_expect_line(const Statement &st);
    void do_expect_colour(const Statement &st);
    void do_expect_answer(const Statement &st);
    void do_expect_handle(const Statement &st);
    void do_expect_violation(const Statement &st);
};

} // namespace sim

#endif // HOST_PLAYER_STATE_H
