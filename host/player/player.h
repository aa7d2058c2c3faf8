// SPDX-License-Identifier: MIT
// The session player: plays a session script (host/script.h) against a module file through the
// host simulator, one statement at a time, and reports what each step did: the violations the
// simulator recorded, the expectations that failed, and the steps a user could not have taken.
//
//   sim::ParseResult parsed = sim::parse_script(text);   // errors first, before loading anything
//   sim::Player player;                                  // owns the one sim::Host
//   if (!player.load("zendro_kardel_64.so")) puts(player.error().c_str());
//   for (const sim::Statement &s : parsed.script.statements) player.step(s);
//   player.finish();                                     // release, shut down, unload
//   bool good = player.failures() == 0;
//
// One Player at a time (it owns the simulator's only Host). Nothing escapes as an exception: a
// simulator complaint that is the script's fault is checked before the call and reported as an
// impossible step; anything thrown anyway is caught and reported as a player error.
#ifndef HOST_PLAYER_H
#define HOST_PLAYER_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/script/script.h"
#include "host/sim/simulator.h"

namespace sim {

struct PlayerOptions {
    // Records the call trace (Host::trace()). Off, nothing is formatted anywhere.
    bool trace = false;
    // Channel names a key write must match (Host::set_write_targets); empty keeps the six
    // position and rotation names.
    std::vector<std::string> write_targets;
    // The LayoutTool server to activate, by name; empty: the module's first LayoutTool server.
    std::string server;
    // Where "say" prints its "-- TEXT" line; null prints nothing.
    std::FILE *narration = nullptr;
    // A folder (made when missing) for a picture set after every step that acts (not expect, not
    // say): the panel and every viewport, named by the step's line, line-0007-panel.svg,
    // line-0007-viewport-2.svg. Empty: none. The picture statement's files do not go here.
    std::string pictures_dir;
};

struct Finding {
    enum class Kind {
        Violation,   // the simulator recorded a fault of the module; id is the violation's id
        Expectation, // an expect statement did not hold; id "expect-failed"
        Impossible,  // a user could not have done it; id "step-impossible" or a more precise one
        Error,       // the player itself failed (a backstop); id "player-error"
        Warning,     // the simulator recorded a warning (Host::warnings()); never a failure
    };
    Kind kind;
    int line;              // the statement's line; 0 for start-up and finish
    std::string statement; // as written, or as printed for a statement built in code
    std::string id;
    std::string message;
    bool expected = false; // a violation that a following "expect violation" named
    // "line N: <statement>: <id>: <message>" ("end: ..." for line 0); a warning reads
    // "line N: <statement>: warning <id>: <message>"; statement and message clipped (clip_echo)
    std::string text() const;
};

struct StepResult {
    std::vector<Finding> findings; // new in this step, in the order they happened
    size_t keys_written = 0;       // key writes the step's module calls made
    bool ok() const;               // no finding but warnings
    bool impossible() const;
};

// A callback answer: activation, mouse-down, change-query, tool-text, panel key...
struct Answer {
    enum class Kind { None, Int, Text, Null } kind = Kind::None;
    int32_t value = 0;
    std::string text;
};

// An item as the script defined it, before anything was played on it.
struct ItemStart {
    std::string name;
    ItemId id;
    Vec3 position, rotation;
    std::vector<std::string> channels;
};

// The key writes of the last action: a view into Host::writes(), valid until the next step.
struct KeyWrites {
    const KeyWrite *first = nullptr;
    size_t count = 0;
    const KeyWrite *begin() const { return first; }
    const KeyWrite *end() const { return first + count; }
    size_t size() const { return count; }
    const KeyWrite &operator[](size_t i) const { return first[i]; }
};

class Player {
public:
    using Observer = std::function<void(const Statement &, const StepResult &)>;

    explicit Player(PlayerOptions options = PlayerOptions());
    ~Player(); // finishes a session that was not finished
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;

    // Loads the module file as the host does, picks its LayoutTool server and runs start-up.
    // False, with error() saying why, when the file is not a loadable module, has no valid
    // descriptor or server table, or lists no (such) LayoutTool server.
    bool load(const std::string &module_path);
    const std::string &error() const;
    const std::string &server_name() const;

    // Plays one statement. Every finding is attributed to the statement's line.
    StepResult step(const Statement &s);
    // Releases a still-active tool, shuts the module down and unloads it. Later calls do nothing.
    StepResult finish();
    bool finished() const;

    // Called after every step (and after finish) with what it did.
    void set_observer(Observer observer);

    // ---- What a generator, a checker and a picture need
    Host &host();
    Module *module();      // null before load and after finish
    Tool *tool();          // the active tool, or null
    bool pressing() const; // a mouse-down or drag-start, and no mouse-up since
    int32_t press_viewport() const;
    Panel *panel(); // the panel made by the latest activation, or null (it may be closed or destroyed)
    // The nth (from 1) control of the type whose label matches `label` with surrounding blanks
    // ignored, or null.
    Control *control(ControlType type, const std::string &label, int64_t nth = 1);
    // The index-th (from 1) control of the type, in creation order, or null.
    Control *control_at(ControlType type, int64_t index);
    // The drag button the module placed beside the field: on the field's row, right of its left
    // edge, nearest to its right edge. Null when there is none.
    Control *drag_button_beside(const Control &field);
    // The operations of the last draw callback for that viewport index, or null.
    const std::vector<DrawOp> *last_drawing(int32_t viewport) const;
    KeyWrites last_writes() const;
    const Answer &last_answer() const;
    const std::vector<ItemStart> &items() const;
    ItemId item_id(const std::string &name) const; // 0 when the script defined no such item
    // The item's world position after each step that keyed it, in order; empty when none did.
    const std::vector<Vec3> &path(ItemId item) const;

    // SVG pictures (host/picture.h) of the panel of the latest activation (empty when there is
    // none) and of a viewport as the session stands: each item before the module first keyed it
    // and now, its path, and the last drawing there. They record nothing; the picture statement
    // and the picture sets also check the panel's layout (Host::check_layout).
    std::string panel_picture(const std::string &caption = std::string());
    std::string viewport_picture(int32_t viewport, const std::string &caption = std::string());

    // Every finding so far; failures() counts those not expected, warnings() the warnings.
    const std::vector<Finding> &findings() const;
    size_t failures() const;
    size_t warnings() const;
    const PlayerOptions &options() const;

    // The verbs the player has a handler for, in the order of its table: the same verbs, once
    // each, as the schema (verbs(), host/script/script.h) lists.
    static std::vector<std::string> handled_verbs();

private:
    struct State; // the session's inside (host/player/state.h)
    std::unique_ptr<State> s_;
};

} // namespace sim

#endif // HOST_PLAYER_H
