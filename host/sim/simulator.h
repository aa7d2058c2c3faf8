// SPDX-License-Identifier: MIT
// The simulated Layout host: a scene, the host's services as byte-exact records, a panel toolkit,
// viewports, drawing records, module loading, tool sessions and a call trace. It plays the host's
// part for the module tests, the benchmarks and the command-line host.
//
// ---- Usage overview ---------------------------------------------------------------------------
//
//   sim::Host host;                                   // one host at a time (services have no context)
//   sim::ItemId a = host.add_item("Cube", {1, 0, 0}); // ids 1, 2, 3 ...; six default channels
//   sim::ItemId b = host.add_item("Odd", {}, {}, {"Position.X", "Position.XTra"}); // any channel list
//   host.add_key(a, "Position.X", 0.0, 1.0);          // scene set-up; not checked, not traced as a write
//   host.select({a});                                 // "LW Interface Info 7" lists it
//   host.set_time(0.5);                               // "LW Time Info"; every time argument must equal it
//
//   sim::Module mod(sim::module_path("zendro_kardel")); // <dir>/zendro_kardel_64.so (.p on Windows)
//   ASSERT_TRUE(mod.ok()) << mod.error();
//   mod.startup();                                    // returns the module's pointer-sized answer
//   sim::Tool tool(host, mod);                        // the module's first server
//   ASSERT_EQ(tool.activate(), 0);                    // local record + host-owned callback table
//   host_tool_event e = host.event_in(2, 320, 240);   // a press in viewport 2 at window (320, 240)
//   tool.mouse_down(e);
//   e.dx = 250; tool.mouse_move(e);
//   EXPECT_EQ(host.key_count(a, "Position.X"), 1u);
//   sim::Panel &p = *host.last_panel();
//   sim::Control &h = *p.find("FloatControl", " H");
//   host.user_set_value(h, 90.0); host.fire(h);      // as a user: change the value, then the callback
//   std::vector<sim::DrawOp> ops = tool.draw(2);      // set colour / draw line operations
//   tool.release();
//   EXPECT_TRUE(host.clean()) << host.report();       // violations plus the tail of the trace
//
// Strictness: every slot no module may use (host_slot) holds a trap; every handle, time, key,
// attribute code, value form and descriptor a module hands over is checked. Each fault is recorded
// as a sim::Violation with a kebab-case id (area first; host/sim/violation_ids.h) and an
// "expected / got / likely cause" message, and the call goes on as harmlessly as possible. Test
// mistakes (asking for an item or channel that does not exist, a second Host) throw
// std::logic_error instead.
//
// Handles: items are the ids cast to pointers (the list control reports an item as a sign-widened
// int32). Groups, channels, envelopes, keys and panels are tagged indices (tag in bits 28-31), so a
// handle of the wrong kind or one the host never gave out is caught in constant time. Controls are
// pointers to host-owned host_control records that stay allocated (and checked) after their panel
// is destroyed.
//
// Write rule: set key value and create key are accepted only into an envelope whose channel belongs
// to a currently selected item and whose name matches one of the write targets by the tools' span
// rule (strspn > 9); the targets are the six position and rotation names unless a test narrows them
// with set_write_targets().
//
// A write refused by a check (unknown handle, foreign key, attribute other than 0, null or
// non-finite value, a channel outside the write rule) changes nothing; a find, create or set at
// another time than the current one is flagged ("time-mismatch") and carried out at the time given.
//
// Panel values: attribute 4 takes the integer form on Choice, DragButton and List, the floating form
// on Float and the text form on Info; an Info control may also be read in the integer form (it
// answers 0), because the additive rotation tool's drag-button event also serves its info fields
// and reads every firing control so. Headings (Text) and Buttons have no value.
//
// Debugging: with the environment variable ZENDRO_TRACE set (non-empty), every trace line is also
// written to stderr as it happens, so a crash inside a module keeps the calls that led to it.
//
// Lifetime: the Host must outlive every Tool and Module that calls into it. Nothing is thread-safe;
// the host calls the module from one thread, as the real one does.
#ifndef HOST_SIMULATOR_H
#define HOST_SIMULATOR_H

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "interface/host_interface.h"
#include "host/sim/violation_ids.h"

namespace sim {

using ItemId = int32_t;
using Vec3 = std::array<double, 3>;

struct Key {
    double time;
    double value;
};

struct Violation {
    std::string id;      // kebab-case, area first, e.g. "time-mismatch"
    std::string message; // expected / got / likely cause
};

// One call of the global function, in call order.
struct Lookup {
    std::string name;
    int32_t mode;
    bool answered; // false when the host answered null
};

// One key write accepted from the module.
struct KeyWrite {
    ItemId item;
    std::string channel;
    int occurrence; // which channel of that name on the item (0 = the first)
    double time;
    double value;
    bool created; // create key (true) or set key value (false)
};

// One drawing operation recorded from a draw callback.
struct DrawOp {
    enum Kind { Colour, Line } kind;
    std::array<float, 4> rgba; // Colour
    Vec3 from, to;             // Line
    int32_t coords;            // Line: coordinate code (3: window pixels)
};

// ---- Trace ------------------------------------------------------------------------------------

// Every call between host and module as span-like lines:
//   +0.000123 B host->module mouse_move dx=25 ...      begin of a host->module call
//   +0.000125 . module->host LW Item Info 6.param item=1 code=8 time=0 -> (1,0,0)
//   +0.000126 ! trap LW Item Info 6 slot 3
//   +0.000130 E host->module mouse_move                end (with "-> result" when there is one)
//   +0.000140 ~ user ...                               a test acting as the user
//   +0.000150 x violation-id: message
// When disabled nothing is formatted.
class Trace {
public:
    void enable(bool on) { on_ = on; }
    bool enabled() const { return on_; }
    // Also writes each line to `f` as it is recorded, flushed, so a crash keeps the tail. Null stops.
    void echo_to(std::FILE *f) { echo_ = f; }
    const std::vector<std::string> &lines() const { return lines_; }
    std::string text() const;             // every line, newline-terminated
    std::string tail(size_t count) const; // the last `count` lines
    void clear() { lines_.clear(); }
    // Appends "+seconds <mark> <text>". Callers test enabled() first when formatting costs.
    void add(char mark, const std::string &text);

private:
    bool on_ = true;
    std::FILE *echo_ = nullptr;
    std::vector<std::string> lines_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// ---- Viewports --------------------------------------------------------------------------------

// An orthographic viewport looking along one world axis. Window coordinates are pixels, x to the
// right and y downward: looking along Z the window shows (x, y); along Y it shows (x, z); along X
// it shows (y, z). win_x = origin_x + scale * horizontal, win_y = origin_y - scale * vertical,
// win_z = the world coordinate along the view axis.
struct Viewport {
    int view_axis = 2;       // 0 X, 1 Y, 2 Z
    double scale = 100.0;    // pixels per world unit
    double origin_x = 320.0; // window position of the world origin
    double origin_y = 240.0;
    double grid = 1.0; // grid size answered by the viewport service (0: none)
    bool fail = false; // project answers 0 and writes nothing
};

// The viewport's projection, as the viewport service computes it. Returns false (and leaves `out`
// untouched) when the viewport is set to fail.
bool project(const Viewport &vp, const Vec3 &world, Vec3 *out);
// The world point that projects to window (win_x, win_y), with `along` on the view axis.
Vec3 unproject(const Viewport &vp, double win_x, double win_y, double along = 0.0);

// ---- Panel toolkit ----------------------------------------------------------------------------

enum class ControlType { Choice, Text, Float, DragButton, Button, Info, List, Unknown };

class Panel;

// A control the toolkit made for add control. `record` is what the module holds: its slot 1 is
// get control attribute, slot 2 set control attribute, slot 0 a trap.
//
// Sizes given by the toolkit when a control is added (width x height, pixels):
//   Choice 140x20, Text 80x16, Float 60x20, DragButton 20x20, Button 60x20, Info 80x20,
//   List 120x20, unknown types 50x20.
// New controls are stacked down the left edge: x = 0, the first at y = 0, each next one 5 below
// the previous control's bottom, so layouts that read neighbours' geometry get distinct numbers.
// These are what the tools' layouts take the host's toolkit to be (the first control in the
// panel's corner, a number field and its drag button within four drag-button widths), so that a
// problem layout_problems() finds is one of the layout and not of the simulator's numbers.
class Control {
public:
    host_control record;
    host_control *handle() { return &record; }

    Panel *panel = nullptr;
    size_t index = 0; // creation order within the panel, from 0
    ControlType type = ControlType::Unknown;
    std::string type_name;
    std::string label;

    // Parsed descriptor.
    int32_t kind = 0;
    std::vector<std::string> items;   // choice item texts, or text control lines
    int32_t field_a = 0, field_b = 0; // choice: vertical; pair kinds: first, second; list: count, width
    host_global_fn list_global = nullptr;
    int32_t list_item_type = 0;

    int32_t x = 0, y = 0, w = 0, h = 0;

    // Value: int for Choice / DragButton / List, double for Float, text for Info.
    int32_t int_value = 0;
    double float_value = 0.0;
    std::string text_value;
    int32_t text_length = 0;        // the length handed over with the last text
    bool text_unterminated = false; // the last text had no terminator within that length

    void *user_data = nullptr;
    host_control_event_fn event = nullptr;

    // Value writes by the module (set control attribute, code 4).
    size_t value_writes = 0;
    size_t writes_while_user_closed = 0; // value writes after the user closed the panel
    size_t geometry_writes = 0;

    bool alive = true; // false once the panel is destroyed
};

class Panel {
public:
    host_panel handle = nullptr;
    std::string title;
    int32_t width = 0, height = 0; // last values of attributes 2 and 3 (0 until set), as the toolkit made them
    int32_t asked_width = 0, asked_height = 0; // what the module set; larger than width, height under a size limit
    size_t width_sets = 0, height_sets = 0;
    host_panel_key_fn key_callback = nullptr; // attribute 13
    bool open = false;
    bool closed_by_user = false;
    bool write_after_close_warned = false; // panel-write-after-user-close recorded for this panel
    bool destroyed = false;
    size_t open_calls = 0, close_calls = 0;
    std::vector<std::unique_ptr<Control>> controls;
    std::vector<std::string> layout_reported; // the layout problems already recorded as violations

    Control *control(size_t index) { return index < controls.size() ? controls[index].get() : nullptr; }
    // The `occurrence`-th control (from 0) of that type name and label, or null.
    Control *find(const std::string &type_name, const std::string &label, int occurrence = 0);
    // Value writes that reached any of its controls after the user closed it.
    size_t writes_while_user_closed() const;
    // The size the user sees. A side the module set is as set (and cut by the toolkit's limit). A
    // side the module never set is laid out by the toolkit, which grows the panel to hold its
    // controls: the right (lower) edge of the farthest control, 0 without controls.
    int32_t shown_width() const;
    int32_t shown_height() const;
};

// What a user relies on in a panel as it stands, one line per problem naming the controls and their
// boxes; empty when the layout is sound:
// - every control lies inside the panel: 0 <= x, 0 <= y, x + w <= width, y + h <= height (the
//   panel's last width and height; 0 when never set);
// - no two controls overlap.
// A control's box is its rectangle (x, y, w, h) as the toolkit reports it; the label a real host
// draws to the left of a control is not counted. Two boxes may share a strip up to 2 pixels deep,
// as the number-field columns stack each row 2 pixels into the one above (frame on frame); a
// deeper shared area, in both directions, is an overlap.
std::vector<std::string> layout_problems(const Panel &panel);

// One of those problems with the controls it concerns, for a check that records it or a picture
// that outlines them.
struct LayoutProblem {
    enum Kind { Outside, Overlap } kind;
    size_t first;  // creation index of the control outside, or of the first of the two that overlap
    size_t second; // Overlap: creation index of the second; Outside: equal to first
    std::string text;
};
// The problems layout_problems() describes, in the same order.
std::vector<LayoutProblem> layout_check(const Panel &panel);

// ---- Host -------------------------------------------------------------------------------------

class Host {
public:
    Host();
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // The host the services answer for; null when none exists.
    static Host *current();

    // ---- Scene
    static const std::vector<std::string> &default_channels(); // Position.X .. Rotation.B
    ItemId add_item(const std::string &name, const Vec3 &position = {}, const Vec3 &rotation = {});
    ItemId add_item(const std::string &name, const Vec3 &position, const Vec3 &rotation,
                    const std::vector<std::string> &channels);
    size_t item_count() const { return items_.size(); }
    const std::string &item_name(ItemId id) const;
    static host_item item_handle(ItemId id) { return reinterpret_cast<host_item>(static_cast<intptr_t>(id)); }

    void set_time(double t) { time_info_.time = t; }
    double time() const { return time_info_.time; }

    void select(const std::vector<ItemId> &ids);
    const std::vector<ItemId> &selection() const { return selection_; }

    // Keys of the `occurrence`-th channel named exactly `channel` on the item (from 0).
    void add_key(ItemId item, const std::string &channel, double time, double value, int occurrence = 0);
    std::vector<Key> keys(ItemId item, const std::string &channel, int occurrence = 0) const;
    size_t key_count(ItemId item, const std::string &channel, int occurrence = 0) const;
    // The value of the key at exactly `time`, if there is one.
    std::optional<double> key_at(ItemId item, const std::string &channel, double time, int occurrence = 0) const;
    // Evaluation: the key at exactly `time`, else the latest key before it, else the earliest key,
    // else the item's base value for a position or rotation channel (0 for any other channel).
    double value_at(ItemId item, const std::string &channel, double time, int occurrence = 0) const;
    // What item parameter query answers for codes 8 and 5: each component from the first channel
    // named exactly "Position.X" (and so on), evaluated as above; the base value when there is none.
    Vec3 position_at(ItemId item, double time) const;
    Vec3 rotation_at(ItemId item, double time) const;
    size_t total_key_count() const { return keys_.size(); }

    // Key writes accepted from the module, in order (see set_write_log), and counters of all calls.
    const std::vector<KeyWrite> &writes() const { return writes_; }
    void clear_writes() { writes_.clear(); }
    void set_write_log(bool on) { write_log_ = on; }
    size_t find_key_calls() const { return find_key_calls_; }
    size_t create_key_calls() const { return create_key_calls_; }
    size_t set_key_calls() const { return set_key_calls_; }
    // Target names a write must match (span rule). Default: the six position and rotation names.
    void set_write_targets(const std::vector<std::string> &targets);

    // ---- Services
    host_global_fn global_function() const;
    const std::vector<Lookup> &lookups() const { return lookups_; }
    std::vector<std::string> lookup_names() const;
    // The global function answers null for this name.
    void set_missing(const std::string &service, bool missing = true);
    // Every slot of this service records a violation when called (the routine still answers).
    void forbid(const std::string &service, bool forbidden = true);
    // Create panel answers none.
    void fail_panel_create(bool fail = true) { fail_panel_create_ = fail; }
    // The largest panel the toolkit makes, in pixels (0: no limit on that side): a larger width or
    // height the module sets from now on is cut to it, as a host on a small screen would.
    void limit_panel_size(int32_t width, int32_t height);
    // The value "Product Info" hands out (a small integer cast to a pointer).
    static constexpr intptr_t product_info_value = 3;
    // The record (or function, or value) the global function hands out for `service`, or null.
    void *service(const std::string &service);
    const host_panel_services_v2 &panel_services() const { return panel_; }

    // "Instance Update" calls: (class name, instance).
    struct InstanceUpdate {
        std::string class_name;
        void *instance;
    };
    const std::vector<InstanceUpdate> &instance_updates() const { return instance_updates_; }
    // True while `instance` is an activated, not yet released tool instance.
    bool instance_live(void *instance) const;

    // ---- Viewports (indices 0 to 3 exist: looking along X, Y, Z, Z; more are made by viewport())
    Viewport &viewport(int32_t index);
    bool has_viewport(int32_t index) const;
    bool project(int32_t viewport, const Vec3 &world, Vec3 *out) const;
    Vec3 world_at(int32_t viewport, double win_x, double win_y, double along = 0.0) const;
    // The viewport's axis vector: the unit vector along its view axis.
    Vec3 axis_vector(int32_t viewport) const;
    // A tool event for a pointer at window (win_x, win_y) in the viewport: world point, axis vector.
    host_tool_event event_in(int32_t viewport, double win_x, double win_y, int32_t dx = 0, int32_t dy = 0,
                             int32_t flags = 0) const;

    // ---- Panels
    size_t panel_count() const { return panels_.size(); }
    Panel *panel(size_t index) { return index < panels_.size() ? panels_[index].get() : nullptr; }
    Panel *last_panel() { return panels_.empty() ? nullptr : panels_.back().get(); }
    Panel *find_panel(host_panel handle);
    Control *find_control(host_control *handle);

    // The user acting on the panel. Setting a value does not call the event callback; fire() does,
    // with (control, user data), as the host does after a change, press or drag. fire() returns
    // false (and calls nothing) when the control has no callback.
    void user_set_value(Control &c, int32_t value);
    void user_set_value(Control &c, double value);
    void user_set_value(Control &c, const std::string &text);
    bool fire(Control &c);
    void user_pick_item(Control &list, ItemId item) { user_set_value(list, static_cast<int32_t>(item)); }
    void user_close(Panel &p);
    // Checks the layout of a live panel (layout_check) and records each problem not yet recorded on
    // that panel as a violation: panel-control-outside or panel-controls-overlap. Runs when the
    // module opens a panel and whenever a picture of it is drawn. Returns the problems found now.
    std::vector<LayoutProblem> check_layout(Panel &p);
    // Calls the panel key callback with (panel, null user data, key) and returns its answer.
    uint16_t press_key(Panel &p, uint16_t key);

    // ---- Violations
    const std::vector<Violation> &violations() const { return violations_; }
    const Violation *first_violation() const { return violations_.empty() ? nullptr : &violations_.front(); }
    bool clean() const { return violations_.empty(); }
    bool has_violation(const std::string &id) const;
    size_t violation_count(const std::string &id) const;
    void clear_violations() { violations_.clear(); }
    // Every violation on its own line, then the last `trace_lines` lines of the trace.
    std::string report(size_t trace_lines = 40) const;
    // Records a violation (also into the trace).
    void violation(const std::string &id, const std::string &message);
    // The same, with the message assembled as "expected ...; got ...; likely cause: ...".
    void violation(const std::string &id, const std::string &expected, const std::string &got,
                   const std::string &cause);
    // Warnings: what a user may notice but some modules of the class do on purpose, so never a
    // fault (panel-write-after-user-close). Recorded like violations, also into the trace.
    const std::vector<Violation> &warnings() const { return warnings_; }
    void warning(const std::string &id, const std::string &message);

    Trace &trace() { return trace_; }
    const Trace &trace() const { return trace_; }
    bool tracing() const { return trace_.enabled(); }

private:
    friend struct Services; // the service routines handed to modules
    friend class Tool;
    struct ItemRec {
        std::string name;
        Vec3 base_pos, base_rot;
        std::vector<uint32_t> channels; // indices into channels_, in walk order
        int eval[6];                    // first channel named exactly like each default channel, or -1
    };
    struct ChannelRec {
        ItemId item;
        uint32_t position; // index within the item's channel list
        std::string name;
        int occurrence;             // how many earlier channels of the item have the same name
        int base_slot;              // 0..5 for an exact position/rotation name, else -1
        bool target;                // matches a write target by the span rule
        std::vector<uint32_t> keys; // indices into keys_, in creation order
    };
    struct KeyRec {
        uint32_t channel;
        double time;
        double value;
    };

    const ItemRec &item_rec(ItemId id) const;
    uint32_t channel_index(ItemId item, const std::string &channel, int occurrence) const;
    double evaluate(uint32_t channel, double time) const;
    void refresh_targets();
    void rebuild_selection();

    std::vector<ItemRec> items_;
    std::vector<ChannelRec> channels_;
    std::vector<KeyRec> keys_;
    std::vector<ItemId> selection_;
    std::vector<host_item> selection_list_; // null-terminated, what the interface record points at
    std::vector<uint8_t> selected_;         // per item id (index 0 unused)
    std::vector<std::string> write_targets_;

    host_interface_info_v7 interface_info_{};
    host_time_info time_info_{};
    host_item_info_v6 item_{};
    host_channel_info_v2 channel_{};
    host_envelopes envelopes_{};
    host_viewport_info_v5 viewport_{};
    host_panel_services_v2 panel_{};
    host_slot info_messages_[16]{};
    host_slot command_[16]{};

    std::vector<Lookup> lookups_;
    std::vector<std::string> missing_;
    std::vector<std::string> forbidden_;
    bool fail_panel_create_ = false;
    int32_t panel_limit_w_ = 0, panel_limit_h_ = 0;
    std::vector<InstanceUpdate> instance_updates_;
    std::unordered_map<void *, bool> instances_;

    std::vector<Viewport> viewports_;
    std::vector<std::unique_ptr<Panel>> panels_;
    std::unordered_map<host_control *, Control *> controls_;

    std::vector<KeyWrite> writes_;
    bool write_log_ = true;
    size_t find_key_calls_ = 0, create_key_calls_ = 0, set_key_calls_ = 0;

    std::vector<Violation> violations_;
    std::vector<Violation> warnings_;
    Trace trace_;
    void *drawing_ = nullptr; // the drawing of the draw callback under way, or null
};

// ---- Modules ----------------------------------------------------------------------------------

// The module file for a deliverable base name: "<dir>/<name>_64.so" (_32 in a 32-bit build, .p on
// Windows). <dir> is the environment variable ZENDRO_MODULE_DIR when set, else the compile
// definition ZENDRO_MODULE_DIR, else "modules".
std::string module_path(const std::string &name);

// A loaded module, as the host loads it: dlopen(RTLD_NOW | RTLD_LOCAL) or LoadLibraryA of exactly
// the file named (a bare name is the file in the working folder, never one the loader would find on
// its library path), then the descriptor `_mod_descrip`, which must carry sync word 0x04121994, version 3 and interface
// version 0x300. Right after loading, its malloc, calloc, realloc and free imports are pointed at the allocation hooks
// (host/alloc_hooks.h). Unloads on destruction (calling shutdown first when startup ran and shutdown did not),
// unless a ModuleKeeper (below) keeps the file loaded.
class ModuleKeeper;

class Module {
public:
    explicit Module(const std::string &path);
    ~Module();
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; } // empty when loaded and valid
    const std::string &path() const { return path_; }

    const host_module_descriptor *descriptor() const { return descriptor_; }
    // The descriptor's bytes as the module exports them (sizeof(host_module_descriptor) bytes).
    std::vector<unsigned char> descriptor_bytes() const;
    // The real server records, in table order (the all-null terminator is not included).
    const std::vector<const host_server_record *> &servers() const { return servers_; }
    size_t server_count() const { return servers_.size(); }
    bool terminated() const { return terminated_; } // the table ended with an all-null record
    const host_server_record *find_server(const std::string &class_name, const std::string &server_name) const;
    // Any exported symbol (the loader's view), or null.
    void *symbol(const char *name) const;

    void *startup(); // traced; returns what the module answers
    void shutdown(); // traced
    size_t startup_calls() const { return startup_calls_; }

private:
    void load(ModuleKeeper *keeper);
    void find_descriptor();

    std::string path_, error_;
    void *library_ = nullptr;
    const host_module_descriptor *descriptor_ = nullptr;
    std::vector<const host_server_record *> servers_;
    bool terminated_ = false;
    size_t startup_calls_ = 0;
    bool started_ = false;
    bool hooked_ = false; // its allocation imports point at the hooks (host/alloc_hooks.h)
    bool kept_ = false;   // a ModuleKeeper holds the library: neither unhooked nor unloaded here
};

// ---- Keeping a module loaded between sessions --------------------------------------------------
//
// While a ModuleKeeper lives, the first Module of a file loads it as usual (its allocation imports
// pointed at the hooks) and the keeper copies the image's writable memory: the writable load
// segments outside RELRO of an ELF object, the writable sections of a PE image, the writable
// segments of a Mach-O bundle. Destroying that Module leaves the file loaded; the next Module of
// the same file gets the same image with those bytes put back. That is the state a fresh load
// gives, without unmapping, mapping, relocating and redirecting again (an unmapping alone makes
// the kernel flush every core's address translations).
//
// The keeper keeps a file only where that equivalence holds: right after loading, the module holds
// no block of the allocation hooks and its writable memory holds no address of private memory
// outside the loaded image (a block it allocated while loading, before the hooks were in place,
// which a reset would not give back as it was). Otherwise every Module loads the file afresh and
// refusal() says why. On Windows, where the C runtime's start-up in every DLL allocates (a
// mingw-w64 DLL's atexit table), a heap block the writable memory points at is watched instead:
// the file is reset only while the block's bytes are as they were right after loading.
//
// After a session that may have changed anything outside the copied memory (it failed, left a
// block held or changed a watched block: see intact()), the caller forgets the file, and the next
// Module loads it afresh.
//
// One keeper at a time, which must outlive the Modules it serves.
class ModuleKeeper {
public:
    ModuleKeeper();
    ~ModuleKeeper(); // unloads every file it kept
    ModuleKeeper(const ModuleKeeper &) = delete;
    ModuleKeeper &operator=(const ModuleKeeper &) = delete;
    static ModuleKeeper *current();

    // Unloads the kept image of the file, if any: the next Module of it loads afresh.
    void forget(const std::string &path);
    // False when a block the C runtime allocated while loading the kept file has changed since;
    // true when it has not or the file is not kept.
    bool intact(const std::string &path) const;
    // Why the file last loaded afresh is not kept; empty when it is.
    const std::string &refusal() const { return refusal_; }

    // For Module: the kept image of the file with its writable memory put back, or null.
    void *reuse(const std::string &path);
    // For Module, after a fresh load whose imports were redirected when `hooked`: true when the
    // keeper holds the library from now on (the Module must neither unhook nor unload it).
    bool keep(const std::string &path, void *library, bool hooked, size_t blocks_before);
    // For Module: the Module of a kept file is gone; the next one may reset it.
    void done(void *library);

private:
    struct Kept;
    std::vector<std::unique_ptr<Kept>> kept_;
    std::string refusal_;
};

// ---- Tool sessions ----------------------------------------------------------------------------

// A zero-filled tool event with the fields the tools read.
host_tool_event make_event(const Vec3 &point, const Vec3 &axis, int32_t dx = 0, int32_t dy = 0, int32_t flags = 0,
                           int32_t viewport = 0);

// One activation of a module's server and the host's side of it: the local record, a host-owned
// callback table prefilled with sentinels in all 13 slots, and a typed wrapper per callback slot
// that passes the instance first. A wrapper on a slot the module did not fill, or after release,
// records a violation and calls nothing (answering 0 / null). The destructor releases an instance
// that is still active.
class Tool {
public:
    // The server with that name, or the module's first server when `server_name` is null.
    Tool(Host &host, Module &module, const char *server_name = nullptr);
    ~Tool();
    Tool(const Tool &) = delete;
    Tool &operator=(const Tool &) = delete;

    int32_t activate(int32_t version = 1, void *server_data = nullptr);
    int32_t activation_result() const { return result_; }
    bool active() const { return active_; }
    bool released() const { return released_; }
    void *instance() const { return local_.instance; }
    const host_local_record &local() const { return local_; }
    const host_tool_callbacks &callbacks() const { return table_; }
    // The sentinel the host put into slot `slot` (0..12) before activation.
    static void *sentinel(int slot);
    // The raw pointer in slot `slot` of the callback table.
    void *slot(int slot) const;
    bool slot_filled(int s) const { return slot(s) != sentinel(s) && slot(s) != nullptr; }

    void release();
    std::vector<DrawOp> draw(int32_t viewport);
    const char *tool_text(const host_tool_event &e);
    int32_t change_query();
    int32_t handle_count(const host_tool_event &e);
    int32_t handle_position(const host_tool_event &e, int32_t index, double pos[3]);
    int32_t drag_start(const host_tool_event &e);
    int32_t handle_adjust(const host_tool_event &e, int32_t index);
    int32_t mouse_down(const host_tool_event &e);
    void mouse_move(const host_tool_event &e);
    void mouse_up(const host_tool_event &e);
    void notify(int32_t code);

private:
    bool callable(int slot, const char *name);
    // Trace lines; nothing is formatted while the trace is off.
    void begin(const char *name, const host_tool_event *e, const char *label = nullptr, int32_t value = 0);
    void end(const char *name);
    void end_int(const char *name, int32_t result, const char *unit = "");
    void end_text(const char *name, const char *text);

    Host &host_;
    const host_server_record *server_ = nullptr;
    host_local_record local_{};
    host_tool_callbacks table_{};
    int32_t result_ = -1;
    bool active_ = false;
    bool released_ = false;
};

} // namespace sim

#endif // HOST_SIMULATOR_H
