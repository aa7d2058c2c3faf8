// Behaviour of the custom rotation module, loaded from its built file through the host simulator:
// gather and rotation keys, the viewport drag, the panel and its drag buttons, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <set>

#include "host/sim/simulator.h"
#include "tests/tool_test.h"

namespace {

constexpr int32_t kAlt = HOST_TOOL_FLAG_ALT;
// Viewports of the simulator: 0 looks along X, 1 along Y, 2 along Z.
constexpr int32_t kAlongX = 0, kAlongY = 1, kAlongZ = 2;
constexpr double kDeg = 0.017453292519943295; // degrees to radians, as the tool multiplies
const char *const kCentreLabel[3] = {" X", " Y", " Z"};

using ChannelSet = std::set<std::pair<sim::ItemId, std::string>>;

class Kardel : public ToolTest {
protected:
    Kardel() : ToolTest("zendro_kardel") {}

    sim::Control &field(const char *label) { return ctl(HOST_TYPE_FLOAT, label); }
    // Drag buttons in creation order: H, P, B, X, Y, Z.
    sim::Control &button(int which) { return ctl(HOST_TYPE_DRAG_BUTTON, "", which); }
    void type(const char *label, double value) { user_changes(field(label), value); }
    // One drag-button event with drag value n.
    void drag(int which, int32_t n) { user_changes(button(which), n); }

    // A press far from the centre's cross, then one move with drag amount dx.
    void rotate_drag(int32_t viewport, int32_t dx, int32_t flags = 0) {
        tool->mouse_down(host.event_in(viewport, 40, 40));
        tool->mouse_move(host.event_in(viewport, 60, 40, dx, 0, flags));
    }
    ChannelSet written() const {
        ChannelSet s;
        for (const sim::KeyWrite &w : host.writes()) s.insert({w.item, w.channel});
        return s;
    }
    double key(sim::ItemId item, const char *channel) {
        std::optional<double> v = host.key_at(item, channel, host.time());
        EXPECT_TRUE(v.has_value()) << channel;
        return v.value_or(std::nan(""));
    }
};

// ---- Rotation ----

TEST_F(Kardel, QuarterTurnAboutYKeysXAndZOnly) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    rotate_drag(kAlongY, 9000); // 0.01 degree per unit
    EXPECT_EQ(written(), (ChannelSet{{a, "Position.X"}, {a, "Position.Z"}}));
    EXPECT_NEAR(key(a, "Position.X"), 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(key(a, "Position.Z"), -1.0);
}

TEST_F(Kardel, QuarterTurnAboutZWithTheCoarseStep) {
    const sim::ItemId a = host.add_item("A", {0, 1, 0});
    host.select({a});
    rotate_drag(kAlongZ, 90, kAlt); // one degree per unit
    EXPECT_EQ(written(), (ChannelSet{{a, "Position.X"}, {a, "Position.Y"}}));
    EXPECT_DOUBLE_EQ(key(a, "Position.X"), -1.0);
    EXPECT_NEAR(key(a, "Position.Y"), 0.0, 1e-15);
}

TEST_F(Kardel, AboutXTurnsYAndZAroundTheCentre) {
    const sim::ItemId a = host.add_item("A", {5, 2, 1});
    host.select({a});
    type(" Y", 1.0); // centre (0, 1, 0)
    rotate_drag(kAlongX, 18000);
    // (y - 1, z) = (1, 1) turned by 180 degrees is (-1, -1).
    EXPECT_EQ(written(), (ChannelSet{{a, "Position.Y"}, {a, "Position.Z"}}));
    EXPECT_NEAR(key(a, "Position.Y"), 0.0, 1e-12);
    EXPECT_NEAR(key(a, "Position.Z"), -1.0, 1e-12);
}

TEST_F(Kardel, RotateMethodTurnsTheAxisChannel) {
    const sim::ItemId a = host.add_item("A", {0, 0, 1}, {0.2, 0.1, 0.3});
    host.select({a});
    choose("Method", 1);
    rotate_drag(kAlongX, 4500);
    EXPECT_EQ(written(), (ChannelSet{{a, "Position.Y"}, {a, "Position.Z"}, {a, "Rotation.P"}}));
    EXPECT_DOUBLE_EQ(key(a, "Rotation.P"), 0.1 + 45 * 0.017453292519943295);
    EXPECT_NEAR(key(a, "Rotation.P") - 0.1, 0.7853981633974483, 1e-15);
}

TEST_F(Kardel, EachDragMoveStartsFromThePress) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    tool->mouse_down(host.event_in(kAlongY, 40, 40));
    tool->mouse_move(host.event_in(kAlongY, 50, 40, 4500));
    tool->mouse_move(host.event_in(kAlongY, 60, 40, 9000));
    EXPECT_NEAR(key(a, "Position.X"), 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(key(a, "Position.Z"), -1.0);
    tool->mouse_move(host.event_in(kAlongY, 60, 40, 0)); // back to the press
    EXPECT_DOUBLE_EQ(key(a, "Position.X"), 1.0);
    EXPECT_DOUBLE_EQ(key(a, "Position.Z"), 0.0);
}

TEST_F(Kardel, AverageOriginUsesTheMeanAndShowsIt) {
    const sim::ItemId a = host.add_item("A", {0, 0, 0}), b = host.add_item("B", {2, 0, 0});
    host.select({a, b});
    choose("Origin", 1);
    tool->mouse_down(host.event_in(kAlongY, 40, 40));
    EXPECT_EQ(field(" X").float_value, 1.0);
    EXPECT_EQ(field(" Y").float_value, 0.0);
    EXPECT_EQ(field(" Z").float_value, 0.0);
    tool->mouse_move(host.event_in(kAlongY, 60, 40, 18000));
    EXPECT_NEAR(key(a, "Position.X"), 2.0, 1e-12);
    EXPECT_NEAR(key(b, "Position.X"), 0.0, 1e-12);
}

TEST_F(Kardel, FieldsShowTheCentreRoundedToSinglePrecision) {
    // Three adjacent coordinates, each rounded on its own: a vectorised double->float->double pair
    // that drops the rounding shows up here.
    const sim::ItemId a = host.add_item("A", {0.1, 0.2, 0.3});
    host.select({a});
    choose("Origin", 1);
    tool->mouse_down(host.event_in(kAlongY, 40, 40));
    EXPECT_EQ(field(" X").float_value, 0.10000000149011612);
    EXPECT_EQ(field(" Y").float_value, static_cast<double>(0.2f));
    EXPECT_EQ(field(" Z").float_value, static_cast<double>(0.3f));
}

// ---- Viewport ----

TEST_F(Kardel, HitTestAroundThePivotIsStrict) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    // The pivot (0, 0, 0) projects to the window origin of the viewport.
    const sim::Viewport &vp = host.viewport(kAlongZ);
    tool->mouse_down(host.event_in(kAlongZ, vp.origin_x + 10, vp.origin_y));
    tool->mouse_move(host.event_in(kAlongZ, 0, 0, 9000));
    EXPECT_FALSE(written().empty()) << "a press exactly 10 pixels away rotates";

    host.clear_writes();
    tool->mouse_down(host.event_in(kAlongZ, vp.origin_x + 9.5, vp.origin_y - 9.5));
    tool->mouse_move(host.event_in(kAlongZ, vp.origin_x + 100, vp.origin_y, 9000));
    EXPECT_TRUE(written().empty()) << "a press within 10 pixels grabs the centre";
    EXPECT_DOUBLE_EQ(field(" X").float_value, 1.0); // the centre followed the pointer
}

TEST_F(Kardel, CrossIsDrawnAtTheCentreInWindowCoordinates) {
    type(" X", 0.5);
    std::vector<sim::DrawOp> ops = tool->draw(kAlongZ);
    ASSERT_EQ(ops.size(), 3u);
    ASSERT_EQ(ops[0].kind, sim::DrawOp::Colour);
    EXPECT_EQ(ops[0].rgba, (std::array<float, 4>{171.0f / 255, 188.0f / 255, 188.0f / 255, 1.0f}));
    sim::Vec3 c;
    ASSERT_TRUE(host.project(kAlongZ, {0.5, 0, 0}, &c));
    EXPECT_EQ(ops[1].from, (sim::Vec3{c[0], c[1] - 10, 0.01}));
    EXPECT_EQ(ops[1].to, (sim::Vec3{c[0], c[1] + 10, 0.01}));
    EXPECT_EQ(ops[2].from, (sim::Vec3{c[0] - 10, c[1], 0.01}));
    EXPECT_EQ(ops[2].to, (sim::Vec3{c[0] + 10, c[1], 0.01}));
    EXPECT_EQ(ops[1].coords, 3);
    EXPECT_EQ(ops[2].coords, 3);

    // Grabbing the centre turns the cross white.
    const sim::Viewport &vp = host.viewport(kAlongZ);
    tool->mouse_down(host.event_in(kAlongZ, vp.origin_x, vp.origin_y));
    ops = tool->draw(kAlongZ);
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops[0].rgba, (std::array<float, 4>{1, 1, 1, 1}));
}

TEST_F(Kardel, AxisTieAtMouseDownGivesXAndAtDragStartKeepsTheAxis) {
    const sim::ItemId a = host.add_item("A", {1, 1, 1});
    host.select({a});
    const sim::Vec3 tie{0.5, 0.5, 0.2};
    tool->mouse_down(sim::make_event({9, 9, 9}, host.axis_vector(kAlongZ), 0, 0, 0, kAlongZ)); // axis Z
    tool->mouse_down(sim::make_event({9, 9, 9}, tie, 0, 0, 0, kAlongZ));
    tool->mouse_move(sim::make_event({9, 9, 9}, tie, 9000, 0, 0, kAlongZ));
    EXPECT_EQ(written(), (ChannelSet{{a, "Position.Y"}, {a, "Position.Z"}})) << "a tie at mouse-down is X";

    host.clear_writes();
    tool->mouse_down(sim::make_event({9, 9, 9}, host.axis_vector(kAlongZ), 0, 0, 0, kAlongZ));
    tool->drag_start(sim::make_event({9, 9, 9}, tie, 0, 0, 0, kAlongZ));
    tool->mouse_move(sim::make_event({9, 9, 9}, tie, 9000, 0, 0, kAlongZ));
    EXPECT_EQ(written(), (ChannelSet{{a, "Position.X"}, {a, "Position.Y"}})) << "drag-start keeps Z";
}

TEST_F(Kardel, GrabbedCentreMovesInThePlaneAndSnapsToTheGrid) {
    type(" Z", 5.0); // centre z only; the pivot stays at the origin
    const sim::Viewport &vp = host.viewport(kAlongZ);
    tool->mouse_down(host.event_in(kAlongZ, vp.origin_x, vp.origin_y)); // grabs: the pivot is at 0
    host.viewport(kAlongZ).grid = 1.0;
    host_tool_event e = sim::make_event({2.37, -2.37, 4.0}, {0, 0, 1}, 0, 0, kAlt, kAlongZ);
    tool->mouse_move(e);
    EXPECT_EQ(field(" X").float_value, static_cast<double>(static_cast<float>(23 * 0.1)));
    EXPECT_EQ(field(" Y").float_value, static_cast<double>(static_cast<float>(-23 * 0.1)));
    EXPECT_EQ(field(" Z").float_value, 0.0) << "z comes from the pivot";

    host.viewport(kAlongZ).grid = 0.0;
    tool->mouse_move(e);
    EXPECT_EQ(field(" X").float_value, static_cast<double>(2.37f));
    EXPECT_EQ(field(" Y").float_value, static_cast<double>(-2.37f));
    EXPECT_TRUE(host.writes().empty());
}

TEST_F(Kardel, DragAngleShowsInTheAxisFieldButIsNotRemembered) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    type(" H", 30.0);
    rotate_drag(kAlongY, 10);
    EXPECT_EQ(field(" H").float_value, static_cast<double>(0.1f)) << "shown in single precision";
    rotate_drag(kAlongY, 250);
    EXPECT_EQ(field(" H").float_value, static_cast<double>(2.5f));
    tool->mouse_up(host.event_in(kAlongY, 60, 40, 250));
    EXPECT_EQ(field(" H").float_value, static_cast<double>(2.5f));
    const sim::Viewport &vp = host.viewport(kAlongY);
    tool->mouse_down(host.event_in(kAlongY, vp.origin_x, vp.origin_y)); // grabs the centre
    tool->mouse_move(host.event_in(kAlongY, vp.origin_x, vp.origin_y));
    tool->mouse_up(host.event_in(kAlongY, vp.origin_x, vp.origin_y));
    EXPECT_EQ(field(" H").float_value, 0.0) << "a centre drag's angle is 0";
    rotate_drag(kAlongX, 250, kAlt);
    EXPECT_EQ(field(" P").float_value, 250.0);

    tool->release();
    sim::Tool second(host, module);
    ASSERT_EQ(second.activate(), 0);
    EXPECT_EQ(field(" H").float_value, 30.0) << "the typed angle, not the drag angle";
    EXPECT_EQ(field(" P").float_value, 0.0);
}

TEST_F(Kardel, ClosedPanelIsNotWrittenAnyMore) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    host.user_close(panel());
    rotate_drag(kAlongY, 9000);
    tool->mouse_up(host.event_in(kAlongY, 60, 40, 9000));
    EXPECT_EQ(panel().writes_while_user_closed(), 0u);
    EXPECT_FALSE(written().empty());
}

// ---- Panel ----

TEST_F(Kardel, EighteenControlsInOrder) {
    struct Expect {
        const char *type;
        const char *label;
    };
    const Expect expected[18] = {{"ChoiceControl", "Origin"}, {"ChoiceControl", "Method"}, {"TextControl", "Rotate"},
                                 {"TextControl", "Origin"},   {"FloatControl", " H"},      {"FloatControl", " P"},
                                 {"FloatControl", " B"},      {"DragButtonControl", ""},   {"DragButtonControl", ""},
                                 {"DragButtonControl", ""},   {"FloatControl", " X"},      {"FloatControl", " Y"},
                                 {"FloatControl", " Z"},      {"DragButtonControl", ""},   {"DragButtonControl", ""},
                                 {"DragButtonControl", ""},   {"ButtonControl", "Apply"},  {"LWListControl", ""}};
    ASSERT_EQ(panel().controls.size(), 18u);
    for (size_t i = 0; i < 18; ++i) {
        const sim::Control &c = *panel().control(i);
        EXPECT_EQ(c.type_name, expected[i].type) << i;
        EXPECT_EQ(c.label, expected[i].label) << i;
        const bool heading = c.type == sim::ControlType::Text;
        EXPECT_EQ(c.user_data == nullptr, heading) << i;
        EXPECT_EQ(c.event == nullptr, heading) << i;
        if (!heading) {
            EXPECT_EQ(c.user_data, tool->instance()) << i;
        }
    }
    EXPECT_EQ(panel().control(0)->items, (std::vector<std::string>{"Custom", "Average"}));
    EXPECT_EQ(panel().control(1)->items, (std::vector<std::string>{"Keep", "Rotate"}));
    EXPECT_EQ(panel().control(17)->list_item_type, 5);
    EXPECT_EQ(panel().title, "Zendro Kardel");
    EXPECT_EQ(panel().width, 277);
}

TEST_F(Kardel, DragButtonRowsAndClamp) {
    struct Row {
        double from;
        int32_t dir;
        float to;
    };
    // 0.004 stepped in single precision gives 0.0050000004, in double then rounded 0.005.
    const Row rows[] = {{90, 1, 90.9f},
                        {-90, 1, -89.1f},
                        {0, 1, 0.001f},
                        {0.005, 1, 0.005f + 0.001f},
                        {0.004, 1, 0.004f + 0.001f},
                        {99999, 1, 100000.0f},
                        {100000, 1, 100000.0f},
                        {90, -1, 89.1f}};
    int32_t n = 0;
    drag(0, n); // arms the H button
    for (const Row &r : rows) {
        type(" H", r.from);
        n += r.dir;
        drag(0, n);
        EXPECT_EQ(field(" H").float_value, static_cast<double>(r.to)) << r.from;
    }
    // The stepped angle is remembered for the next panel.
    tool->release();
    sim::Tool second(host, module);
    ASSERT_EQ(second.activate(), 0);
    EXPECT_EQ(field(" H").float_value, static_cast<double>(89.1f));
}

TEST_F(Kardel, TypedCentreMovesTheCrossButNotThePivot) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    type(" X", 1.1);
    ASSERT_FALSE(host.instance_updates().empty());
    EXPECT_EQ(host.instance_updates().back().class_name, "LayoutTool");
    EXPECT_EQ(host.instance_updates().back().instance, tool->instance());
    std::vector<sim::DrawOp> ops = tool->draw(kAlongZ);
    sim::Vec3 c;
    ASSERT_TRUE(host.project(kAlongZ, {static_cast<double>(1.1f), 0, 0}, &c));
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[1].from[0], c[0]);
    // The pivot is still the origin: a press there grabs.
    const sim::Viewport &vp = host.viewport(kAlongZ);
    tool->mouse_down(host.event_in(kAlongZ, vp.origin_x, vp.origin_y));
    EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, (std::array<float, 4>{1, 1, 1, 1}));
}

TEST_F(Kardel, ApplyRotatesOnlyByNonZeroAngles) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    type(" H", 90.0);
    apply();
    EXPECT_EQ(written(), (ChannelSet{{a, "Position.X"}, {a, "Position.Z"}}));
    EXPECT_DOUBLE_EQ(key(a, "Position.Z"), -1.0);
    EXPECT_EQ(host.instance_updates().back().instance, tool->instance());
}

TEST_F(Kardel, ApplyWithZeroAnglesGathersButKeysNothing) {
    const sim::ItemId a = host.add_item("A", {0, 0, 0}), b = host.add_item("B", {2, 4, 0});
    host.select({a, b});
    choose("Origin", 1);
    apply();
    EXPECT_TRUE(host.writes().empty());
    EXPECT_EQ(field(" X").float_value, 1.0);
    EXPECT_EQ(field(" Y").float_value, 2.0);
}

TEST_F(Kardel, ApplyRotationsDoNotChainAndTheLaterWins) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3}, {0.4, 0.5, 0.6});
    host.select({a});
    choose("Method", 1);
    type(" H", 10.0);
    type(" P", 20.0);
    type(" B", 30.0);
    // A centre Apply reads from the fields itself, each rounded to single precision.
    const double centre[3] = {0.1, 1.0 / 3, 1e-5};
    for (int i = 0; i < 3; ++i) host.user_set_value(field(kCentreLabel[i]), centre[i]);
    apply();
    const double cx = static_cast<float>(centre[0]), cy = static_cast<float>(centre[1]),
                 cz = static_cast<float>(centre[2]);
    const double dx = 1 - cx, dy = 2 - cy, dz = 3 - cz, h = 10 * kDeg, p = 20 * kDeg;
    // From the gathered point each time: B about Z, then P about X, then H about Y; the later wins.
    EXPECT_NEAR(key(a, "Position.X"), cx + dx * std::cos(h) + dz * std::sin(h), 1e-14); // H
    EXPECT_NEAR(key(a, "Position.Y"), cy + dy * std::cos(p) - dz * std::sin(p), 1e-14); // P
    EXPECT_NEAR(key(a, "Position.Z"), cz - dx * std::sin(h) + dz * std::cos(h), 1e-14); // H
    EXPECT_DOUBLE_EQ(key(a, "Rotation.H"), 0.4 + 10 * kDeg);
    EXPECT_DOUBLE_EQ(key(a, "Rotation.P"), 0.5 + 20 * kDeg);
    EXPECT_DOUBLE_EQ(key(a, "Rotation.B"), 0.6 + 30 * kDeg);
    EXPECT_EQ(host.key_count(a, "Position.X"), 1u);
}

TEST_F(Kardel, ItemListPicksTheCentre) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0}), b = host.add_item("B", {3, 4, 5});
    host.select({a});
    sim::Control &list = ctl(HOST_TYPE_ITEM_LIST, "");
    host.user_pick_item(list, b);
    host.fire(list);
    EXPECT_EQ(field(" X").float_value, 3.0);
    EXPECT_EQ(field(" Y").float_value, 4.0);
    EXPECT_EQ(field(" Z").float_value, 5.0);
    rotate_drag(kAlongZ, 18000); // (1,0,0) about (3,4,5) by 180 degrees
    EXPECT_NEAR(key(a, "Position.X"), 5.0, 1e-12);
    EXPECT_NEAR(key(a, "Position.Y"), 8.0, 1e-12);
    // A list that reports no item is not passed on to the host.
    host.user_pick_item(list, 0);
    host.fire(list);
    EXPECT_EQ(field(" X").float_value, 3.0);
    // With origin "Average" the gather takes the centre to the selection's mean, A as the drag
    // keyed it, and the fields still show the picked item's position.
    choose("Origin", 1);
    host.user_pick_item(list, b);
    host.fire(list);
    EXPECT_EQ(field(" X").float_value, 3.0);
    EXPECT_EQ(field(" Z").float_value, 5.0);
    sim::Vec3 mean;
    ASSERT_TRUE(host.project(kAlongZ, host.position_at(a, host.time()), &mean));
    EXPECT_EQ(tool->draw(kAlongZ)[1].from[0], mean[0]);
}

TEST_F(Kardel, WhatTheHostSeesOfEachPanelEventAndDrag) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3}), b = host.add_item("B", {3, 4, 5});
    host.select({a});
    const std::set<size_t> none, centre{10, 11, 12}; // the X, Y, Z fields
    struct Row {
        const char *what;
        std::function<void()> act;
        std::set<size_t> written; // controls whose value the module writes
        size_t updates;           // "Instance Update" calls
        bool keys;
    };
    const Row rows[] = {
        {"Origin choice", [&] { choose("Origin", 1); }, none, 1, false},
        {"Method choice", [&] { choose("Method", 1); }, none, 1, false},
        {"H field", [&] { type(" H", 30.0); }, none, 1, false},
        {"P field", [&] { type(" P", 20.0); }, none, 1, false},
        {"B field", [&] { type(" B", 10.0); }, none, 1, false},
        {"X field", [&] { type(" X", 0.5); }, none, 1, false},
        {"Y field", [&] { type(" Y", 0.25); }, none, 1, false},
        {"Z field", [&] { type(" Z", 2.0); }, none, 1, false},
        {"item list", [&] { user_changes(ctl(HOST_TYPE_ITEM_LIST, ""), b); }, centre, 1, false},
        {"H drag button's first event", [&] { drag(0, 0); }, none, 0, false},
        {"H drag button step", [&] { drag(0, 1); }, {4}, 0, false},
        {"X drag button's first event", [&] { drag(3, 5); }, none, 0, false},
        {"X drag button step", [&] { drag(3, 6); }, {10}, 0, false},
        {"Apply", [&] { apply(); }, centre, 1, true},
        {"rotating drag about Y", [&] { rotate_drag(kAlongY, 250); }, {4, 10, 11, 12}, 0, true},
        {"release", [&] { tool->mouse_up(host.event_in(kAlongY, 60, 40, 250)); }, {4, 10, 11, 12}, 0, false},
    };
    for (const Row &r : rows) {
        const Seen seen = host_sees(r.act);
        EXPECT_EQ(seen.written, r.written) << r.what;
        EXPECT_EQ(seen.updates, r.updates) << r.what;
        EXPECT_EQ(seen.keys > 0, r.keys) << r.what;
        EXPECT_EQ(seen.change, 3) << r.what;
    }
    for (const sim::Host::InstanceUpdate &u : host.instance_updates()) {
        EXPECT_EQ(u.class_name, "LayoutTool");
        EXPECT_EQ(u.instance, tool->instance());
    }
}

// ---- Empty selection, bad input and later activations ----

TEST_F(Kardel, EmptySelectionKeysNothingAndKeepsTheCentre) {
    type(" X", 2.0);
    choose("Origin", 1);
    rotate_drag(kAlongY, 9000);
    apply();
    EXPECT_TRUE(host.writes().empty());
    EXPECT_EQ(field(" X").float_value, 2.0);
}

TEST_F(Kardel, NonFiniteAnglesKeyNothing) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        type(" H", bad);
        apply();
    }
    EXPECT_TRUE(host.writes().empty());
}

TEST_F(Kardel, ExtremeDragAmountsStayFiniteAndCurrent) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    host.set_time(1.25);
    for (int32_t dx : {INT32_MAX, INT32_MIN}) {
        for (int32_t flags : {0, kAlt}) rotate_drag(kAlongY, dx, flags);
    }
    ASSERT_FALSE(host.writes().empty());
    for (const sim::KeyWrite &w : host.writes()) {
        EXPECT_TRUE(std::isfinite(w.value));
        EXPECT_EQ(w.time, 1.25);
        EXPECT_LE(std::fabs(w.value), 1.0 + 1e-12);
    }
}

TEST_F(Kardel, ProjectionTheHostCannotMakeNeverGrabs) {
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    host.select({a});
    host.viewport(kAlongY).fail = true;
    rotate_drag(kAlongY, 9000);
    EXPECT_FALSE(written().empty()) << "the press rotated instead of grabbing stale coordinates";
    EXPECT_TRUE(tool->draw(kAlongY).empty()) << "nothing is drawn at coordinates the host could not give";
}

TEST_F(Kardel, MissingControlStopsTheTestWithTypeLabelAndOccurrence) {
    try {
        ctl(HOST_TYPE_FLOAT, " H", 1);
        ADD_FAILURE() << "a second H field was found";
    } catch (const MissingControl &e) {
        EXPECT_STREQ(e.what(),
                     "panel \"Zendro Kardel\" has no FloatControl labelled \" H\" (occurrence 1 from 0; 18 controls)");
    }
}

TEST_F(Kardel, SecondActivationShowsRememberedAnglesAndFreshState) {
    type(" H", 10.0);
    type(" P", 20.0);
    type(" B", 30.0);
    type(" X", 4.0);
    choose("Origin", 1);
    choose("Method", 1);
    tool->release();
    sim::Tool second(host, module);
    ASSERT_EQ(second.activate(), 0);
    EXPECT_EQ(field(" H").float_value, 10.0);
    EXPECT_EQ(field(" P").float_value, 20.0);
    EXPECT_EQ(field(" B").float_value, 30.0);
    EXPECT_EQ(field(" X").float_value, 0.0);
    EXPECT_EQ(ctl(HOST_TYPE_CHOICE, "Origin").int_value, 0);
    EXPECT_EQ(ctl(HOST_TYPE_CHOICE, "Method").int_value, 0);
}

} // namespace
