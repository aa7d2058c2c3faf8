// Behaviour the three tool modules share, run on each built module through the host simulator: the
// panel as a user sees it and the arming of its drag buttons, which channels a drag or Apply keys
// (span match, missing channels, keys already at the current time), an item table that cannot grow,
// the first events of a session, and a press after the marker was dragged.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/sim/alloc_hooks.h"
#include "host/sim/simulator.h"
#include "tests/tool_test.h"

namespace {

// Viewports of the simulator: 1 looks along Y, 2 along Z.
constexpr int32_t kAlongY = 1, kAlongZ = 2;
constexpr double kNow = 1.5;
const sim::Vec3 kTie = {0.5, 0.5, 0.1}; // X and Y equally dominant
const std::array<float, 4> kIdle{171.0f / 255, 188.0f / 255, 188.0f / 255, 1.0f};
const std::array<float, 4> kPicked{1, 1, 1, 1};

enum class Kind { Kardel, Strova, Menlix };

struct ToolCase {
    Kind kind;
    const char *name;
    const char *module;
    // Channels keyed, per selected item, by a press and a move in the viewport looking along Y.
    std::vector<std::string> drag;
    // Channels keyed by a move after a drag-start whose axis vector is a tie, before any press.
    std::vector<std::string> tie;
    // Channels keyed by Apply with the values fill_apply_fields() puts in the panel.
    std::vector<std::string> apply;
    // The panel as the user reads it: rows top to bottom, each left to right (creation indices);
    // the last row is the Apply button, which stands in the column of `apply_column`.
    std::vector<std::vector<size_t>> rows;
    size_t apply_column;
    // Two number fields (label, occurrence) and their drag buttons (occurrence among drag buttons).
    struct Nudged {
        const char *label;
        int occurrence, button;
    } nudged[2];
};

const ToolCase kCases[] = {
    {Kind::Kardel,
     "kardel",
     "zendro_kardel",
     {"Position.X", "Position.Z"},
     {"Position.Y", "Position.Z"},
     {"Position.X", "Position.Z"},
     // Origin; Method, item list; the Rotate and Origin headings; H, P, B and X, Y, Z with their drag buttons.
     {{0}, {1, 17}, {2, 3}, {4, 7, 10, 13}, {5, 8, 11, 14}, {6, 9, 12, 15}, {16}},
     12,
     {{" H", 0, 0}, {" X", 0, 3}}},
    {Kind::Strova,
     "strova",
     "zendro_strova",
     {"Rotation.H"},
     {},
     {"Rotation.H", "Rotation.P"},
     // H, P, B with their drag buttons and info fields.
     {{0, 3, 7}, {1, 4, 8}, {2, 5, 9}, {6}},
     2,
     {{" H", 0, 0}, {" P", 0, 1}}},
    {Kind::Menlix,
     "menlix",
     "zendro_menlix",
     {"Position.X", "Position.Z"},
     {"Position.Y", "Position.Z"},
     {"Position.Y"},
     // Origin; Method; the Scale and Origin headings; Scale and Origin X, Y, Z with their drag buttons.
     {{0}, {1}, {2, 3}, {4, 7, 10, 13}, {5, 8, 11, 14}, {6, 9, 12, 15}, {16}},
     12,
     {{" X", 0, 0}, {" Z", 1, 5}}}, // Scale X, Origin Z
};

void PrintTo(const ToolCase &c, std::ostream *os) { *os << c.name; }

using ChannelSet = std::set<std::pair<sim::ItemId, std::string>>;

class EveryTool : public ToolTest, public ::testing::WithParamInterface<ToolCase> {
protected:
    EveryTool() : ToolTest(GetParam().module) {}
    const ToolCase &tc() const { return GetParam(); }

    void SetUp() override {
        // Services a tool has no business calling.
        if (tc().kind == Kind::Strova) host.forbid(HOST_SERVICE_VIEWPORT);
        if (tc().kind != Kind::Kardel) host.forbid(HOST_SERVICE_INSTANCE_UPDATE);
        host.set_time(kNow);
        start();
        if (HasFatalFailure()) return;
        // The distance scaling tool with its origin at the world origin, stretching: like the
        // rotations, it then works about a fixed point and keys the two in-plane axes.
        if (tc().kind == Kind::Menlix) {
            choose("Origin", 0);
            choose("Method", 0);
        }
    }

    // A press far from any marker in the viewport looking along Y, then a move by dx.
    void drag(int32_t dx) {
        tool->mouse_down(host.event_in(kAlongY, 3, 3));
        tool->mouse_move(host.event_in(kAlongY, 3, 3, dx));
    }
    // Values for Apply, set in the panel without an event (Apply reads the fields itself).
    void fill_apply_fields() {
        switch (tc().kind) {
        case Kind::Kardel: host.user_set_value(ctl(HOST_TYPE_FLOAT, " H"), 30.0); break;
        case Kind::Strova:
            host.user_set_value(ctl(HOST_TYPE_FLOAT, " H"), 10.0);
            host.user_set_value(ctl(HOST_TYPE_FLOAT, " P"), 5.0);
            break;
        case Kind::Menlix: // a drag shows its factors in the Scale fields
            host.user_set_value(ctl(HOST_TYPE_FLOAT, " X"), 1.0);
            host.user_set_value(ctl(HOST_TYPE_FLOAT, " Y"), 2.0);
            host.user_set_value(ctl(HOST_TYPE_FLOAT, " Z"), 1.0);
            break;
        }
    }

    ChannelSet written() const {
        ChannelSet s;
        for (const sim::KeyWrite &w : host.writes()) s.insert({w.item, w.channel});
        return s;
    }
    // Every item with every channel, less the item's channel `without`.
    static ChannelSet every(const std::vector<sim::ItemId> &items, const std::vector<std::string> &channels,
                            sim::ItemId item = 0, const std::string &without = "") {
        ChannelSet s;
        for (sim::ItemId id : items)
            for (const std::string &c : channels)
                if (id != item || c != without) s.insert({id, c});
        return s;
    }
    double key(sim::ItemId item, const std::string &channel) {
        std::optional<double> v = host.key_at(item, channel, kNow);
        EXPECT_TRUE(v.has_value()) << channel;
        return v.value_or(std::nan(""));
    }
};

std::string case_name(const ::testing::TestParamInfo<ToolCase> &p) { return p.param.name; }

// ---- Panel ----

using ToolPanel = EveryTool;

TEST_P(ToolPanel, EveryControlInsideUnobstructedAndInReadingOrder) {
    sim::Panel &p = panel();
    EXPECT_EQ(sim::layout_problems(p), std::vector<std::string>{});
    const std::vector<std::vector<size_t>> &rows = tc().rows;
    for (size_t r = 0; r < rows.size(); ++r) {
        const sim::Control &first = *p.control(rows[r][0]);
        for (size_t i = 1; i < rows[r].size(); ++i) {
            const sim::Control &c = *p.control(rows[r][i]), &left = *p.control(rows[r][i - 1]);
            EXPECT_EQ(c.y, first.y) << "#" << c.index << " lines up with #" << first.index;
            EXPECT_GT(c.x, left.x) << "#" << c.index << " right of #" << left.index;
        }
        if (r > 0) {
            EXPECT_GT(first.y, p.control(rows[r - 1][0])->y) << "row of #" << first.index << " below";
        }
    }
    EXPECT_EQ(p.control(rows.back()[0])->x, p.control(tc().apply_column)->x) << "Apply under its column";
}

TEST_P(ToolPanel, FirstEventOfAnotherDragButtonOnlyArmsIt) {
    const ToolCase::Nudged &a = tc().nudged[0], &b = tc().nudged[1];
    sim::Control &field_a = ctl(HOST_TYPE_FLOAT, a.label, a.occurrence),
                 &field_b = ctl(HOST_TYPE_FLOAT, b.label, b.occurrence);
    sim::Control &button_a = ctl(HOST_TYPE_DRAG_BUTTON, "", a.button),
                 &button_b = ctl(HOST_TYPE_DRAG_BUTTON, "", b.button);
    user_changes(field_a, 50.0);
    user_changes(field_b, 50.0);
    user_changes(button_a, 0);
    user_changes(button_a, 1);
    EXPECT_EQ(field_a.float_value, 50.5);
    const size_t writes = field_b.value_writes;
    user_changes(button_b, 7); // the other button's first event
    EXPECT_EQ(field_b.float_value, 50.0);
    EXPECT_EQ(field_b.value_writes, writes);
    user_changes(button_b, 8);
    EXPECT_EQ(field_b.float_value, 50.5);
    user_changes(button_a, 9); // back on the first one: armed again, nothing changes
    EXPECT_EQ(field_a.float_value, 50.5);
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolPanel, ::testing::ValuesIn(kCases), case_name);

// ---- Channels and keys ----

using ToolKeys = EveryTool;

TEST_P(ToolKeys, SpanMatchTakesTheLastChannelWhoseFirstTenCharactersFit) {
    const std::string target = tc().drag[0];
    // The target, a longer name that begins with it, then a name one character short.
    std::vector<std::string> channels;
    for (const std::string &c : sim::Host::default_channels()) {
        if (c != target) {
            channels.push_back(c);
            continue;
        }
        for (const std::string &name : {c, c + "tra", c.substr(0, 9)}) channels.push_back(name);
    }
    const sim::ItemId a = host.add_item("A", {1, 2, 3}, {0.1, 0.2, 0.3}, channels);
    std::vector<std::string> doubled = sim::Host::default_channels();
    doubled.push_back(target); // the same name again, last in the walk
    const sim::ItemId b = host.add_item("B", {-2, 0.5, 4}, {1, -2, 3}, doubled);
    host.select({a, b});
    drag(50);
    for (const std::string &c : channels) {
        const bool keyed = c == target + "tra" || (c != target && std::count(tc().drag.begin(), tc().drag.end(), c));
        EXPECT_EQ(host.key_count(a, c), keyed ? 1u : 0u) << c;
    }
    EXPECT_EQ(host.key_count(b, target, 0), 0u);
    EXPECT_EQ(host.key_count(b, target, 1), 1u);
}

TEST_P(ToolKeys, MissingChannelIsSkippedWithoutTouchingAnotherItem) {
    const std::string missing = tc().drag[0];
    std::vector<std::string> channels;
    for (const std::string &c : sim::Host::default_channels())
        if (c != missing) channels.push_back(c);
    const sim::ItemId full = host.add_item("Full", {1, 2, 3}, {0.1, 0.2, 0.3});
    const sim::ItemId bare = host.add_item("Bare", {-2, 0.5, 4}, {1, -2, 3}, channels);
    // The first gather leaves Full's envelopes in the table's first record; the second puts Bare
    // there, whose missing channel must not be taken from what the record held before.
    host.select({full});
    drag(50);
    host.select({bare, full});
    host.clear_writes();
    drag(50);
    const ChannelSet by_drag = every({bare, full}, tc().drag, bare, missing);
    EXPECT_EQ(written(), by_drag);
    EXPECT_EQ(host.writes().size(), by_drag.size());
    host.clear_writes();
    fill_apply_fields();
    apply();
    EXPECT_EQ(written(), every({bare, full}, tc().apply, bare, missing));
}

TEST_P(ToolKeys, KeyAtTheCurrentTimeIsReplacedOtherwiseOneIsCreated) {
    const std::string channel = tc().drag[0];
    const sim::ItemId a = host.add_item("A", {1, 2, 3}, {0.1, 0.2, 0.3}), b = host.add_item("B", {-2, 0.5, 4});
    host.add_key(a, channel, kNow, 0.7);
    host.add_key(a, channel, kNow + 1, 5.0);
    host.select({a, b});
    const double b_before = host.value_at(b, channel, kNow);
    drag(0); // back at the press: every item keyed as it was gathered, at the current time
    ASSERT_EQ(written(), every({a, b}, tc().drag));
    for (const sim::KeyWrite &w : host.writes()) {
        EXPECT_EQ(w.time, kNow);
        if (w.channel == channel) {
            EXPECT_EQ(w.created, w.item == b) << w.item;
        }
    }
    EXPECT_NEAR(key(a, channel), 0.7, 1e-12) << "the gathered value is the key at the current time";
    EXPECT_NEAR(key(b, channel), b_before, 1e-12);
    drag(50); // a second drag replaces the keys of the first
    EXPECT_GT(std::fabs(key(a, channel) - 0.7), 1e-6);
    EXPECT_EQ(host.key_count(a, channel), 2u);
    EXPECT_EQ(host.key_count(b, channel), 1u);
    EXPECT_EQ(host.key_at(a, channel, kNow + 1), 5.0);
}

TEST_P(ToolKeys, TableThatCannotGrowKeysNothingUntilTheNextPress) {
    ASSERT_TRUE(sim::alloc_hooks_available()) << sim::alloc_hooks_unavailable_reason();
    std::vector<sim::ItemId> ids;
    for (int i = 0; i < 6; ++i) ids.push_back(host.add_item("I", {1.0 + i, 2, 3}, {0.1 * i, 0.2, 0.3}));
    host.select({ids[0], ids[1]});
    drag(50); // a table of two records, keyed
    host.select(ids);
    host.clear_writes();
    fill_apply_fields();
    sim::Control &apply_button = ctl(HOST_TYPE_BUTTON, "Apply");
    for (bool by_apply : {false, true}) {
        sim::AllocScope scope;
        // Six records of any tool's item table take at least 300 bytes; two take less.
        sim::alloc_fail_next(1, 300);
        if (by_apply) {
            host.fire(apply_button);
        } else {
            tool->mouse_down(host.event_in(kAlongY, 3, 3));
        }
        sim::alloc_fail_none();
        EXPECT_GE(scope.delta().failed_calls, 1u) << (by_apply ? "Apply" : "press") << " asked for a larger table";
        if (!by_apply) tool->mouse_move(host.event_in(kAlongY, 3, 3, 50));
    }
    EXPECT_TRUE(host.writes().empty()) << "nothing is keyed from records the table does not hold";
    drag(50); // memory is back: the press gathers the whole selection
    EXPECT_EQ(written(), every(ids, tc().drag));
}

// ---- The first events of a session ----

using ToolSession = EveryTool;

TEST_P(ToolSession, MoveBeforeAnyPressKeysNothingAndDragStartAloneGathers) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3}, {0.1, 0.2, 0.3}), b = host.add_item("B", {-2, 0.5, 4});
    host.select({a, b});
    tool->mouse_move(host.event_in(kAlongY, 3, 3, 50));
    tool->mouse_up(host.event_in(kAlongY, 3, 3, 50));
    EXPECT_TRUE(host.writes().empty()) << "nothing is gathered before a press";
    // A drag-start with no mouse-down before it: on a tie the axis keeps its start value.
    EXPECT_EQ(tool->drag_start(sim::make_event({0, 0, 0}, kTie, 0, 0, 0, kAlongY)), 1);
    tool->mouse_move(sim::make_event({0, 0, 0}, kTie, 50, 0, 0, kAlongY));
    EXPECT_EQ(written(), every({a, b}, tc().tie));
    host.clear_writes();
    EXPECT_EQ(tool->drag_start(host.event_in(kAlongY, 3, 3)), 1);
    tool->mouse_move(host.event_in(kAlongY, 3, 3, 50));
    EXPECT_EQ(written(), every({a, b}, tc().drag));
}

TEST_P(ToolSession, ReleaseKeepsTheAxisForATieAtTheNextDragStart) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3}, {0.1, 0.2, 0.3}), b = host.add_item("B", {-2, 0.5, 4});
    host.select({a, b});
    drag(50);
    tool->mouse_up(host.event_in(kAlongY, 3, 3, 50));
    host.clear_writes();
    EXPECT_EQ(tool->drag_start(sim::make_event({0, 0, 0}, kTie, 0, 0, 0, kAlongY)), 1);
    tool->mouse_move(sim::make_event({0, 0, 0}, kTie, 50, 0, 0, kAlongY));
    EXPECT_EQ(written(), every({a, b}, tc().drag));
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolKeys, ::testing::ValuesIn(kCases), case_name);
INSTANTIATE_TEST_SUITE_P(Tools, ToolSession, ::testing::ValuesIn(kCases), case_name);

// ---- A press after the marker was dragged (the tools with a marker) ----

using MarkerDrag = EveryTool;

TEST_P(MarkerDrag, PressElsewhereAfterwardsWorksAboutTheMovedPoint) {
    const sim::Vec3 moved{1, 0.5, 0};
    const sim::ItemId on = host.add_item("On", moved), off = host.add_item("Off", {2, 1.5, 0.5});
    host.select({on, off});
    sim::Vec3 start, end;
    ASSERT_TRUE(host.project(kAlongZ, {0, 0, 0}, &start));
    ASSERT_TRUE(host.project(kAlongZ, moved, &end));
    tool->mouse_down(host.event_in(kAlongZ, start[0], start[1])); // on the marker
    tool->mouse_move(host.event_in(kAlongZ, end[0], end[1]));
    tool->mouse_up(host.event_in(kAlongZ, end[0], end[1]));
    EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, kPicked) << "white until the next press";
    tool->mouse_down(host.event_in(kAlongZ, end[0], end[1])); // the marker is where it was dragged to
    EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, kPicked);
    tool->mouse_up(host.event_in(kAlongZ, end[0], end[1]));
    EXPECT_TRUE(host.writes().empty());

    drag(50); // a press elsewhere rotates or scales
    const std::vector<sim::DrawOp> ops = tool->draw(kAlongZ);
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0].rgba, kIdle);
    EXPECT_EQ(ops[1].from[0], end[0]);
    EXPECT_EQ(written(), every({on, off}, tc().drag));
    // About the moved point: the item on it keeps its place, the other one moves.
    EXPECT_NEAR(key(on, "Position.X"), moved[0], 1e-12);
    EXPECT_NEAR(key(on, "Position.Z"), moved[2], 1e-12);
    EXPECT_GT(std::fabs(key(off, "Position.X") - 2.0), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Tools, MarkerDrag, ::testing::Values(kCases[0], kCases[2]), case_name);

} // namespace
