// Behaviour of the distance scaling module, loaded from its built file through the host simulator:
// keyed axes and targets of the three methods, the origin cross and its drag, the panel with its
// drag buttons and Apply, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>

#include "host/sim/simulator.h"
#include "tests/tool_test.h"

namespace {

constexpr int32_t kAlt = HOST_TOOL_FLAG_ALT;
// Viewports of the simulator: 0 looks along X, 1 along Y, 2 along Z.
constexpr int32_t kAlongX = 0, kAlongY = 1, kAlongZ = 2;
constexpr double kNow = 1.5;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const char *const kPos[3] = {"Position.X", "Position.Y", "Position.Z"};
const char *const kAxisLabel[3] = {" X", " Y", " Z"};
const std::array<float, 4> kIdle{171.0f / 255, 188.0f / 255, 188.0f / 255, 1.0f};
const std::array<float, 4> kPicked{1, 1, 1, 1};

// Targets whose offsets have several components pass through a square root and a division.
#define EXPECT_CLOSE(actual, expected) EXPECT_NEAR(actual, expected, 1e-12)

double single(double v) { return static_cast<double>(static_cast<float>(v)); }

class Menlix : public ToolTest {
protected:
    Menlix() : ToolTest("zendro_menlix") {}

    void SetUp() override {
        host.set_time(kNow);
        start();
    }
    void TearDown() override {
        ToolTest::TearDown();
        for (const sim::KeyWrite &w : host.writes()) {
            EXPECT_EQ(w.time, kNow) << "every key goes to the current time";
            EXPECT_TRUE(std::isfinite(w.value)) << w.channel;
        }
    }

    sim::Control &scale_field(int axis) { return ctl(HOST_TYPE_FLOAT, kAxisLabel[axis], 0); }
    sim::Control &origin_field(int axis) { return ctl(HOST_TYPE_FLOAT, kAxisLabel[axis], 1); }
    // Drag buttons in creation order: Scale X, Y, Z (0-2), Origin X, Y, Z (3-5).
    sim::Control &button(int which) { return ctl(HOST_TYPE_DRAG_BUTTON, "", which); }
    sim::Control &choice(const char *label) { return ctl(HOST_TYPE_CHOICE, label); }
    void type(sim::Control &c, double value) { user_changes(c, value); }
    void drag(int which, int32_t n) { user_changes(button(which), n); }
    // A press at the window corner, far from any cross, one move with the drag amounts, the release.
    void scale_drag(int32_t viewport, int32_t dx, int32_t dy = 0, int32_t flags = 0) {
        tool->mouse_down(host.event_in(viewport, 3, 3));
        tool->mouse_move(host.event_in(viewport, 3, 3, dx, dy, flags));
        tool->mouse_up(host.event_in(viewport, 3, 3, dx, dy, flags));
    }
    // The axes of `item` written since the last clear, e.g. "XZ".
    std::string written(sim::ItemId item) const {
        std::set<char> axes;
        for (const sim::KeyWrite &w : host.writes())
            if (w.item == item) axes.insert(w.channel.back());
        return std::string(axes.begin(), axes.end());
    }
    double key(sim::ItemId item, int axis) {
        std::optional<double> v = host.key_at(item, kPos[axis], kNow);
        EXPECT_TRUE(v.has_value()) << kPos[axis];
        return v.value_or(kNaN);
    }
    sim::Vec3 shown_scale() {
        return {scale_field(0).float_value, scale_field(1).float_value, scale_field(2).float_value};
    }
    sim::Vec3 shown_origin() {
        return {origin_field(0).float_value, origin_field(1).float_value, origin_field(2).float_value};
    }
    // The working origin, read from the scene: "Scale" by 0 keys every item at the origin exactly.
    // Gathers, so in "Custom" mode it reports the custom origin.
    sim::Vec3 origin_by_collapse(sim::ItemId probe) {
        choose("Method", 2);
        host.clear_writes();
        scale_drag(kAlongZ, -100);
        return {key(probe, 0), key(probe, 1), key(probe, 2)};
    }
};

// ---- Keyed axes and targets ----

TEST_F(Menlix, KeyedAxesFollowMethodAndViewAxisWhateverItsSign) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3}), b = host.add_item("B", {-2, 0.5, 4});
    host.select({a, b});
    const char *const stretched[3] = {"YZ", "XZ", "XY"}; // all but the axis the view looks along
    for (int32_t method = 0; method < 3; ++method) {
        choose("Method", method);
        for (int32_t vp : {kAlongX, kAlongY, kAlongZ}) {
            for (double sign : {1.0, -1.0}) {
                host.clear_writes();
                host_tool_event e = host.event_in(vp, 3, 3);
                for (double &c : e.axis) c *= sign;
                tool->mouse_down(e);
                e.dx = 30;
                e.dy = -40;
                tool->mouse_move(e);
                const std::string expected = method == 2 ? "XYZ" : stretched[vp];
                EXPECT_EQ(written(a), expected) << "method " << method << " viewport " << vp << " sign " << sign;
                EXPECT_EQ(written(b), expected) << "method " << method << " viewport " << vp << " sign " << sign;
            }
        }
    }
}

TEST_F(Menlix, StretchScalesEachInPlaneOffsetByItsDragAmount) {
    const sim::ItemId a = host.add_item("A", {0, 0, 0}), b = host.add_item("B", {2, 4, 6});
    host.select({a, b});
    choose("Method", 0);
    struct Case {
        int32_t viewport, dx, dy, flags;
        int h_axis, v_axis; // the axes the first and the second drag amount scale
    };
    const Case cases[] = {{kAlongZ, 50, -20, 0, 0, 1},
                          {kAlongZ, 50, -20, kAlt, 0, 1}, // 6.0 and -1.0: mirrored
                          {kAlongX, 50, -20, 0, 2, 1},
                          {kAlongY, 50, -20, 0, 0, 2},
                          {kAlongZ, -150, 30, 0, 0, 1}}; // below -100 fine units: negative
    for (const Case &k : cases) {
        // Each drag starts from the positions as keyed by the one before.
        const sim::Vec3 pa = host.position_at(a, kNow), pb = host.position_at(b, kNow);
        const double step = k.flags ? 0.1 : 0.01;
        const double h = 1.0 + k.dx * step, v = 1.0 + k.dy * step;
        host.clear_writes();
        scale_drag(k.viewport, k.dx, k.dy, k.flags);
        for (const auto &[axis, factor] : {std::pair{k.h_axis, h}, std::pair{k.v_axis, v}}) {
            const double o = (pa[axis] + pb[axis]) / 2;
            EXPECT_CLOSE(key(a, axis), o + (pa[axis] - o) * factor) << k.viewport << " " << axis;
            EXPECT_CLOSE(key(b, axis), o + (pb[axis] - o) * factor) << k.viewport << " " << axis;
        }
        EXPECT_EQ(written(b).size(), 2u);
    }
}

TEST_F(Menlix, StretchFlatAndScaleUseTheHorizontalFactorAlone) {
    const sim::ItemId a = host.add_item("A", {0, 0, 0}), b = host.add_item("B", {2, 0, 0});
    host.select({a, b});
    // The centre (1, 0, 0) is the origin; "Scale" by 2 moves the items to -1 and 3.
    choose("Method", 2);
    scale_drag(kAlongZ, 100, 77);
    EXPECT_CLOSE(key(a, 0), -1.0);
    EXPECT_CLOSE(key(b, 0), 3.0);
    EXPECT_EQ(key(a, 1), 0.0);
    EXPECT_EQ(key(b, 2), 0.0);

    const sim::ItemId c = host.add_item("C", {4, 6, 8});
    host.select({c, a});
    choose("Method", 1);
    scale_drag(kAlongX, 100, -90);
    EXPECT_CLOSE(key(c, 1), 3 + 3 * 2.0);
    EXPECT_CLOSE(key(c, 2), 4 + 4 * 2.0);
}

TEST_F(Menlix, TargetIsOriginPlusDirectionTimesScaledDistance) {
    // The tool computes origin + (offset * (1 / |offset|)) * (|offset| * factor): the unit direction
    // times the scaled distance. These numbers make that differ in the last bit from origin + offset
    // * factor, so a tool that takes the shorter order fails.
    const sim::ItemId a = host.add_item("A", {0.3, 0.7, 1.1}), b = host.add_item("B", {0, 0, 0});
    host.select({a, b});
    const double h = 1.0 + 13 * 0.01;
    const double o[3] = {0.3 / 2, 0.7 / 2, 1.1 / 2};
    const double off[3] = {0.3 - o[0], 0.7 - o[1], 1.1 - o[2]};
    const double r = std::sqrt(off[0] * off[0] + off[1] * off[1] + off[2] * off[2]);
    bool orders_differ = false;
    double expected[3];
    for (int c = 0; c < 3; ++c) {
        const double d = off[c] * (1.0 / r); // unit length: each component times length / |offset|
        expected[c] = o[c] + d * (r * h);
        orders_differ |= expected[c] != o[c] + off[c] * h;
    }
    ASSERT_TRUE(orders_differ) << "the numbers no longer tell the two orders apart";
    scale_drag(kAlongZ, 13); // "Scale" from activation
    for (int c = 0; c < 3; ++c) EXPECT_EQ(key(a, c), expected[c]) << c;
}

TEST_F(Menlix, ItemOnTheOriginKeepsItsPlaceButIsKeyed) {
    const sim::ItemId a = host.add_item("A", {0.25, -1, 2}), b = host.add_item("B", {3, 3, 3});
    host.select({a, b});
    choose("Origin", 0);
    for (int c = 0; c < 3; ++c) type(origin_field(c), host.position_at(a, kNow)[c]);
    scale_drag(kAlongZ, 250, 0, kAlt);
    EXPECT_EQ(written(a), "XYZ");
    EXPECT_EQ(key(a, 0), 0.25);
    EXPECT_EQ(key(a, 1), -1.0);
    EXPECT_EQ(key(a, 2), 2.0);
}

TEST_F(Menlix, DragBackToThePressKeysTheGatheredPositions) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3}), b = host.add_item("B", {5, -4, 0});
    host.select({a, b});
    choose("Method", 0);
    tool->mouse_down(host.event_in(kAlongY, 3, 3));
    tool->mouse_move(host.event_in(kAlongY, 3, 3, 80, 60));
    tool->mouse_move(host.event_in(kAlongY, 3, 3, 0, 0)); // no compounding: from the press again
    EXPECT_EQ(written(a), "XZ");
    EXPECT_CLOSE(key(a, 0), 1.0);
    EXPECT_CLOSE(key(a, 2), 3.0);
    EXPECT_CLOSE(key(b, 0), 5.0);
    EXPECT_CLOSE(key(b, 2), 0.0);
}

TEST_F(Menlix, DragStartGathersAndKeepsTheAxisOnATie) {
    const sim::ItemId a = host.add_item("A", {1, 1, 1}), b = host.add_item("B", {-1, 0, 2});
    host.select({a, b});
    choose("Method", 0);
    const sim::Vec3 tie{0.5, -0.5, 0.2};
    tool->drag_start(sim::make_event({9, 9, 9}, {0, 0, -1}, 0, 0, 0, kAlongZ));
    tool->drag_start(sim::make_event({9, 9, 9}, tie, 0, 0, 0, kAlongZ));
    tool->mouse_move(sim::make_event({9, 9, 9}, tie, 40, 40, 0, kAlongZ));
    EXPECT_EQ(written(a), "XY") << "drag-start keeps -3 on a tie";

    host.clear_writes();
    tool->mouse_down(sim::make_event({9, 9, 9}, tie, 0, 0, 0, kAlongZ));
    tool->mouse_move(sim::make_event({9, 9, 9}, tie, 40, 40, 0, kAlongZ));
    EXPECT_EQ(written(a), "YZ") << "a tie at mouse-down is X";
}

TEST_F(Menlix, NewMethodActsAtTheNextMove) {
    const sim::ItemId a = host.add_item("A", {1, 1, 1}), b = host.add_item("B", {-1, 0, 2});
    host.select({a, b});
    tool->mouse_down(host.event_in(kAlongZ, 3, 3));
    choose("Method", 1);
    tool->mouse_move(host.event_in(kAlongZ, 3, 3, 10, 10));
    EXPECT_EQ(written(a), "XY");
}

// ---- Factors shown in the panel ----

TEST_F(Menlix, FactorsShowByMethodAndViewAxisRoundedToSingle) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3});
    host.select({a});
    const double h = 1.0 + 7 * 0.01, v = 1.0 + -3 * 0.01;
    choose("Method", 0);
    tool->mouse_down(host.event_in(kAlongX, 3, 3)); // a click before any move shows the start factors
    tool->mouse_up(host.event_in(kAlongX, 3, 3));
    EXPECT_EQ(shown_scale(), (sim::Vec3{1.0, 1.0, 1.0}));
    scale_drag(kAlongX, 7, -3);
    // Along X the Y field shows the horizontal factor, although the keys put it on Z.
    EXPECT_EQ(shown_scale(), (sim::Vec3{1.0, single(h), single(v)}));
    scale_drag(kAlongY, 7, -3);
    EXPECT_EQ(shown_scale(), (sim::Vec3{single(h), 1.0, single(v)}));
    scale_drag(kAlongZ, 7, -3);
    EXPECT_EQ(shown_scale(), (sim::Vec3{single(h), single(v), 1.0}));
    for (int32_t method : {1, 2}) {
        choose("Method", method);
        scale_drag(kAlongX, 7, -3);
        EXPECT_EQ(shown_scale(), (sim::Vec3{single(h), single(h), single(h)}));
    }
    // A move shows them as well as the release.
    tool->mouse_move(host.event_in(kAlongX, 3, 3, 40, 0, kAlt));
    EXPECT_EQ(scale_field(1).float_value, 5.0);
    // Showing leaves the remembered Scale values alone: the next panel opens with 1.0.
    activate();
    EXPECT_EQ(shown_scale(), (sim::Vec3{1.0, 1.0, 1.0}));
}

// ---- Origin cross ----

TEST_F(Menlix, PickSquareIsStrictOnAllFourSides) {
    const sim::ItemId a = host.add_item("A", {50, 50, 0});
    host.select({a});
    choose("Origin", 0);
    sim::Viewport &vp = host.viewport(kAlongZ);
    vp.scale = 1.0; // the custom origin (0, 0, 0) projects to (200, 100)
    vp.origin_x = 200;
    vp.origin_y = 100;
    struct Press {
        double x, y;
        bool picks;
    };
    const Press presses[] = {{209, 91, true},   {191, 109, true},  {200, 100, true}, {210, 100, false},
                             {190, 100, false}, {200, 110, false}, {200, 90, false}};
    for (const Press &p : presses) {
        host.clear_writes();
        tool->mouse_down(host.event_in(kAlongZ, p.x, p.y));
        EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, p.picks ? kPicked : kIdle) << p.x << "," << p.y;
        tool->mouse_move(host.event_in(kAlongZ, p.x, p.y, 50, 50));
        // A picking press drags the origin and keys nothing; any other press scales.
        EXPECT_EQ(written(a), p.picks ? "" : "XYZ") << p.x << "," << p.y;
        if (p.picks) tool->mouse_move(host.event_in(kAlongZ, 200, 100)); // the origin back in place
    }
}

TEST_F(Menlix, CentreOfObjectsNeverPicks) {
    const sim::ItemId a = host.add_item("A", {1, 0.5, 0});
    host.select({a});
    sim::Vec3 at;
    ASSERT_TRUE(host.project(kAlongZ, {1, 0.5, 0}, &at));
    tool->mouse_down(host.event_in(kAlongZ, 3, 3)); // the cross follows the centre
    tool->mouse_down(host.event_in(kAlongZ, at[0], at[1]));
    EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, kIdle);
    tool->mouse_move(host.event_in(kAlongZ, at[0], at[1], 50, 0));
    EXPECT_EQ(written(a), "XYZ");
}

TEST_F(Menlix, CrossIsDrawnAtTheCustomOriginAndFollowsTheCentre) {
    std::vector<sim::DrawOp> ops = tool->draw(kAlongZ);
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0].kind, sim::DrawOp::Colour);
    EXPECT_EQ(ops[0].rgba, kIdle);
    const sim::Viewport &vp = host.viewport(kAlongZ);
    EXPECT_EQ(ops[1].from, (sim::Vec3{vp.origin_x, vp.origin_y - 10, 0.01}));
    EXPECT_EQ(ops[1].to, (sim::Vec3{vp.origin_x, vp.origin_y + 10, 0.01}));
    EXPECT_EQ(ops[2].from, (sim::Vec3{vp.origin_x - 10, vp.origin_y, 0.01}));
    EXPECT_EQ(ops[2].to, (sim::Vec3{vp.origin_x + 10, vp.origin_y, 0.01}));
    EXPECT_EQ(ops[1].coords, 3);
    EXPECT_EQ(ops[2].coords, 3);

    const sim::ItemId a = host.add_item("A", {0, 1, 0}), b = host.add_item("B", {2, 0, 0});
    host.select({a, b});
    tool->mouse_down(host.event_in(kAlongZ, 3, 3));
    sim::Vec3 c;
    ASSERT_TRUE(host.project(kAlongZ, {1, 0.5, 0}, &c));
    ops = tool->draw(kAlongZ);
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[1].from, (sim::Vec3{c[0], c[1] - 10, 0.01}));
    EXPECT_EQ(shown_origin(), (sim::Vec3{1.0, 0.5, 0.0}));

    // A viewport the host cannot project into gets no cross at made-up coordinates.
    host.viewport(kAlongY).fail = true;
    EXPECT_TRUE(tool->draw(kAlongY).empty());
}

TEST_F(Menlix, OriginDragStaysInTheViewPlaneAndSnapsToTheGrid) {
    const sim::ItemId a = host.add_item("A", {7, 7, 7});
    host.select({a});
    choose("Origin", 0);
    choose("Method", 0);
    type(origin_field(2), 0.57);
    const double z0 = single(0.57);
    scale_drag(kAlongZ, 30, -20); // factors 1.3 and 0.8 until the next move
    const sim::Viewport &vp = host.viewport(kAlongZ);
    tool->mouse_down(host.event_in(kAlongZ, vp.origin_x, vp.origin_y)); // picks the cross
    const size_t writes_before = scale_field(0).value_writes + origin_field(0).value_writes;
    host.viewport(kAlongZ).grid = 1.0;
    const host_tool_event e = sim::make_event({2.37, -2.37, 5.0}, {0, 0, 1}, 0, 0, kAlt, kAlongZ);
    tool->mouse_move(e);
    EXPECT_EQ(scale_field(0).value_writes + origin_field(0).value_writes, writes_before)
        << "an origin drag touches no field";
    EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, kPicked) << "white until the next press";
    tool->mouse_up(e);
    EXPECT_EQ(shown_scale(), (sim::Vec3{1.0, 1.0, 1.0})) << "the move reset both factors";
    const sim::Vec3 snapped{23 * 0.1, -23 * 0.1, std::trunc(10 * z0) * 0.1};
    EXPECT_EQ(shown_origin(), (sim::Vec3{single(snapped[0]), single(snapped[1]), single(snapped[2])}));
    EXPECT_EQ(origin_by_collapse(a), snapped);

    // Grid size 0, or no alternative flag: the origin follows the pointer in the plane unsnapped.
    for (const auto &[grid, flags] : {std::pair{0.0, kAlt}, std::pair{1.0, 0}}) {
        host.viewport(kAlongZ).grid = grid;
        sim::Vec3 at;
        ASSERT_TRUE(host.project(kAlongZ, snapped, &at));
        tool->mouse_down(host.event_in(kAlongZ, at[0], at[1]));
        tool->mouse_move(sim::make_event({2.37, -2.37, 5.0}, {0, 0, 1}, 0, 0, flags, kAlongZ));
        EXPECT_EQ(origin_by_collapse(a), (sim::Vec3{2.37, -2.37, snapped[2]})) << grid << " " << flags;
        // Back to the snapped point for the next round.
        ASSERT_TRUE(host.project(kAlongZ, {2.37, -2.37, 0}, &at));
        tool->mouse_down(host.event_in(kAlongZ, at[0], at[1]));
        tool->mouse_move(sim::make_event(snapped, {0, 0, 1}, 0, 0, 0, kAlongZ));
    }
}

// ---- Panel ----

TEST_F(Menlix, SeventeenControlsWithStartValues) {
    struct Expect {
        const char *type;
        const char *label;
    };
    const Expect expected[17] = {{"ChoiceControl", "Origin"}, {"ChoiceControl", "Method"}, {"TextControl", "Scale"},
                                 {"TextControl", "Origin"},   {"FloatControl", " X"},      {"FloatControl", " Y"},
                                 {"FloatControl", " Z"},      {"DragButtonControl", ""},   {"DragButtonControl", ""},
                                 {"DragButtonControl", ""},   {"FloatControl", " X"},      {"FloatControl", " Y"},
                                 {"FloatControl", " Z"},      {"DragButtonControl", ""},   {"DragButtonControl", ""},
                                 {"DragButtonControl", ""},   {"ButtonControl", "Apply"}};
    ASSERT_EQ(panel().controls.size(), 17u);
    for (size_t i = 0; i < 17; ++i) {
        const sim::Control &c = *panel().control(i);
        EXPECT_EQ(c.type_name, expected[i].type) << i;
        EXPECT_EQ(c.label, expected[i].label) << i;
        const bool heading = c.type == sim::ControlType::Text;
        EXPECT_EQ(c.event == nullptr, heading) << i;
        EXPECT_EQ(c.user_data, heading ? nullptr : tool->instance()) << i;
        if (c.type == sim::ControlType::DragButton) {
            EXPECT_EQ((std::pair{c.field_a, c.field_b}), (std::pair{-1, 0})) << i;
        }
    }
    EXPECT_EQ(panel().control(0)->items, (std::vector<std::string>{"Custom", "Center of Objs"}));
    EXPECT_EQ(panel().control(1)->items, (std::vector<std::string>{"Stretch", "Stretch Flat", "Scale"}));
    EXPECT_EQ(panel().title, "Zendro Menlix");
    EXPECT_EQ(panel().width, 277);
    EXPECT_EQ(choice("Origin").int_value, 1);
    EXPECT_EQ(choice("Method").int_value, 2);
    EXPECT_EQ(shown_scale(), (sim::Vec3{1.0, 1.0, 1.0}));
    EXPECT_EQ(shown_origin(), (sim::Vec3{0.0, 0.0, 0.0}));
    EXPECT_STREQ(tool->tool_text(host.event_in(kAlongX, 1, 2, 3, 4, kAlt)), "Menlix");
}

TEST_F(Menlix, ScaleValuesAreRememberedAcrossActivations) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3});
    host.select({a});
    choose("Origin", 0);
    choose("Method", 0);
    type(scale_field(1), 2.5);
    type(origin_field(0), 4.0);
    EXPECT_TRUE(host.writes().empty()) << "typing keys nothing";
    host.user_set_value(scale_field(2), 0.1); // taken by Apply, rounded to single
    apply();
    EXPECT_CLOSE(key(a, 2), 3 * single(0.1)) << "Apply scales by the factor it keeps";
    activate();
    EXPECT_EQ(shown_scale(), (sim::Vec3{1.0, 2.5, 0.10000000149011612}));
    EXPECT_EQ(shown_origin(), (sim::Vec3{0.0, 0.0, 0.0}));
    EXPECT_EQ(choice("Origin").int_value, 1);
    EXPECT_EQ(choice("Method").int_value, 2);
}

TEST_F(Menlix, NudgeRowsAndClamp) {
    struct Row {
        double from;
        int32_t dir;
        float to;
    };
    const Row rows[] = {{0, 1, 0.001f},         {0.005, 1, 0.006f},    {50, 1, 50.5f},        {-50, 1, -49.5f},
                        {100000, 1, 100000.0f}, {-0.005, -1, -0.006f}, {99999, 1, 100000.0f}, {-100000, -1, -100000.0f},
                        {1e30, 1, 100000.0f},   {0.004, 1, 0.005f}, // single-precision steps give 0.0050000004
                        {50, -1, 49.5f}};
    for (int column = 0; column < 2; ++column) {
        sim::Control &field = column == 0 ? scale_field(1) : origin_field(1);
        const int which = column == 0 ? 1 : 4;
        int32_t n = 0;
        drag(which, n); // arms the button
        for (const Row &r : rows) {
            host.user_set_value(field, r.from);
            n += r.dir;
            drag(which, n);
            EXPECT_EQ(field.float_value, static_cast<double>(r.to)) << r.from << " column " << column;
        }
        // An equal value counts as down.
        drag(which, n);
        EXPECT_EQ(field.float_value, static_cast<double>(49.5f - 0.495f)) << "column " << column;
    }
    // The nudged Scale value is remembered for the next panel.
    activate();
    EXPECT_EQ(scale_field(1).float_value, static_cast<double>(49.5f - 0.495f));
}

TEST_F(Menlix, NudgeOnANaNFieldChangesNothing) {
    drag(1, 0);
    host.user_set_value(scale_field(1), kNaN);
    const size_t writes = scale_field(1).value_writes;
    drag(1, 1);
    EXPECT_TRUE(std::isnan(scale_field(1).float_value));
    EXPECT_EQ(scale_field(1).value_writes, writes);
    activate();
    EXPECT_EQ(scale_field(1).float_value, 1.0) << "the remembered value stays";
}

TEST_F(Menlix, ShownCentreAndTypedOriginAreSinglePrecision) {
    const sim::ItemId a = host.add_item("A", {0, 0, 0}), b = host.add_item("B", {0.2, 2.0 / 3, 2e-5});
    host.select({a, b});
    tool->mouse_down(host.event_in(kAlongZ, 3, 3)); // "Center of Objs": the centre goes to the Origin fields
    EXPECT_EQ(shown_origin(), (sim::Vec3{single(0.1), single(1.0 / 3), single(1e-5)}));
    choose("Origin", 0);
    type(origin_field(0), 0.1);
    type(origin_field(1), 1.0 / 3);
    EXPECT_EQ(origin_by_collapse(a), (sim::Vec3{single(0.1), single(1.0 / 3), 1e-5}));
}

TEST_F(Menlix, OriginDragKeepsTheDepthOfTheWorkingOrigin) {
    const sim::ItemId a = host.add_item("A", {7, 7, 7});
    host.select({a});
    choose("Origin", 0);
    type(origin_field(2), 1.0); // both origins at z 1
    drag(5, 0);
    drag(5, 1); // the cross alone to z 1.01
    const sim::Viewport &vp = host.viewport(kAlongZ);
    tool->mouse_down(host.event_in(kAlongZ, vp.origin_x, vp.origin_y)); // picks the cross
    tool->mouse_move(sim::make_event({2, -2, 5}, {0, 0, 1}, 0, 0, 0, kAlongZ));
    EXPECT_EQ(origin_by_collapse(a), (sim::Vec3{2, -2, 1.0}));
}

TEST_F(Menlix, WhatTheHostSeesOfEachPanelEventAndDrag) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3}), b = host.add_item("B", {-1, 0, 2});
    host.select({a, b});
    const std::set<size_t> none, shown{4, 5, 6, 10, 11, 12}; // the Scale and Origin fields
    expect_host_sees({
        {"Origin choice", [&] { choose("Origin", 0); }, none, false},
        {"Method choice", [&] { choose("Method", 1); }, none, false},
        {"Scale X field", [&] { type(scale_field(0), 2.0); }, none, false},
        {"Scale Y field", [&] { type(scale_field(1), 1.0); }, none, false},
        {"Scale Z field", [&] { type(scale_field(2), 1.0); }, none, false},
        {"Origin X field", [&] { type(origin_field(0), 0.5); }, none, false},
        {"Origin Y field", [&] { type(origin_field(1), 0.25); }, none, false},
        {"Origin Z field", [&] { type(origin_field(2), 0.0); }, none, false},
        {"Scale Y drag button's first event", [&] { drag(1, 0); }, none, false},
        {"Scale Y drag button step", [&] { drag(1, 1); }, {5}, false},
        {"Origin Z drag button's first event", [&] { drag(5, 0); }, none, false},
        {"Origin Z drag button step", [&] { drag(5, 1); }, {12}, false},
        {"Apply", [&] { apply(); }, {1}, true}, // the Method choice back to "Stretch"
        {"Apply about the centre of the selection",
         [&] {
             choose("Origin", 1);
             apply();
         },
         {1, 10, 11, 12},
         true},
        {"scaling drag and release", [&] { scale_drag(kAlongZ, 30, -20); }, shown, true},
        {"another release", [&] { tool->mouse_up(host.event_in(kAlongZ, 3, 3)); }, shown, false},
    });
}

TEST_F(Menlix, TypingMovesBothOriginsNudgingOnlyTheCross) {
    const sim::ItemId a = host.add_item("A", {9, 9, 9});
    host.select({a});
    choose("Origin", 0);
    host.viewport(kAlongZ).scale = 1000; // 0.05 world units are 50 pixels
    type(origin_field(0), 5.0);
    sim::Vec3 typed, nudged;
    ASSERT_TRUE(host.project(kAlongZ, {5.0, 0, 0}, &typed));
    ASSERT_TRUE(host.project(kAlongZ, {static_cast<double>(5.05f), 0, 0}, &nudged));
    // The press picks against the working origin, which the typed value moved.
    tool->mouse_down(host.event_in(kAlongZ, typed[0], typed[1]));
    EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, kPicked);

    drag(3, 0);
    drag(3, 1); // 5.0 -> 5.05: the cross moves, the working origin stays
    EXPECT_EQ(tool->draw(kAlongZ)[1].from[0], nudged[0]);
    tool->mouse_down(host.event_in(kAlongZ, nudged[0], nudged[1]));
    EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, kIdle) << "the press gathered instead";
    // That gather took the nudged point as the working origin: a press on it now picks.
    tool->mouse_down(host.event_in(kAlongZ, nudged[0], nudged[1]));
    EXPECT_EQ(tool->draw(kAlongZ)[0].rgba, kPicked);
}

// ---- Apply ----

TEST_F(Menlix, ApplyKeysOnlyAxesWhoseFactorIsNotOne) {
    const sim::ItemId a = host.add_item("A", {0, 0, 0}), b = host.add_item("B", {2, 4, 6});
    host.select({a, b});
    host.user_set_value(scale_field(1), 2.0);
    apply();
    EXPECT_EQ(written(a), "Y");
    EXPECT_EQ(written(b), "Y");
    EXPECT_CLOSE(key(b, 1), 2 + 2 * 2.0);
    EXPECT_CLOSE(key(a, 1), 2 - 2 * 2.0);
    EXPECT_EQ(shown_origin(), (sim::Vec3{1.0, 2.0, 3.0})) << "the centre is written back";
    EXPECT_EQ(choice("Method").int_value, 0) << "Apply resets the method to Stretch";
    host.clear_writes();
    scale_drag(kAlongZ, 10, 10);
    EXPECT_EQ(written(b), "XY") << "and the next drag stretches";
}

TEST_F(Menlix, ApplyTakesTheOriginFieldsAtFullPrecisionAndEachAxisItsOwnFactor) {
    const sim::ItemId a = host.add_item("A", {1, 1, 1});
    host.select({a});
    choose("Origin", 0);
    const double factor[3] = {0.0, 0.5, 2.0}, origin[3] = {0.1, 0.2, 0.1 * 3};
    for (int c = 0; c < 3; ++c) {
        host.user_set_value(scale_field(c), factor[c]);
        host.user_set_value(origin_field(c), origin[c]);
    }
    apply();
    // Factor 0 puts the item on the origin itself.
    EXPECT_EQ(key(a, 0), 0.1);
    EXPECT_CLOSE(key(a, 1), origin[1] + (1 - origin[1]) * 0.5);
    EXPECT_CLOSE(key(a, 2), origin[2] + (1 - origin[2]) * 2.0);
}

TEST_F(Menlix, NonFiniteFactorsKeyNothingOnTheirAxis) {
    const sim::ItemId a = host.add_item("A", {0, 0, 0}), b = host.add_item("B", {2, 4, 6});
    host.select({a, b});
    host.user_set_value(scale_field(0), kNaN);
    host.user_set_value(scale_field(1), 3.0);
    host.user_set_value(scale_field(2), kInf);
    apply();
    EXPECT_EQ(written(a), "Y");
    EXPECT_EQ(written(b), "Y");
    host.clear_writes();
    type(scale_field(0), -kInf);
    host.user_set_value(scale_field(2), 0.0);
    apply();
    EXPECT_EQ(written(b), "YZ");
    EXPECT_EQ(key(b, 2), 3.0) << "factor 0 collapses onto the origin";
    EXPECT_CLOSE(key(b, 1), 2 + (8 - 2) * 3.0) << "from the Y the first Apply keyed";
}

// ---- Empty selection, degenerate and extreme input ----

TEST_F(Menlix, EmptySelectionKeysNothingAndCentresOnZero) {
    const sim::ItemId a = host.add_item("A", {1, 2, 3});
    host.select({a});
    tool->mouse_down(host.event_in(kAlongZ, 3, 3));
    EXPECT_EQ(shown_origin(), (sim::Vec3{1.0, 2.0, 3.0}));
    host.clear_writes();
    host.select({});
    for (int32_t method = 0; method < 3; ++method) {
        choose("Method", method);
        scale_drag(kAlongZ, 70, 20);
    }
    EXPECT_EQ(shown_origin(), (sim::Vec3{0.0, 0.0, 0.0}));
    host.user_set_value(scale_field(0), 2.0);
    apply();
    choose("Origin", 0);
    scale_drag(kAlongZ, 70, 20);
    apply();
    EXPECT_TRUE(host.writes().empty());
}

TEST_F(Menlix, ItemsAllOnTheOriginStayPutForAnyFactor) {
    const sim::ItemId a = host.add_item("A", {1.5, -2, 0.25}), b = host.add_item("B", {1.5, -2, 0.25});
    host.select({a, b});
    for (int32_t dx : {0, -100, INT32_MAX, INT32_MIN}) {
        host.clear_writes();
        scale_drag(kAlongZ, dx, dx, kAlt);
        EXPECT_EQ(written(a), "XYZ") << dx;
        EXPECT_EQ(key(b, 0), 1.5);
        EXPECT_EQ(key(b, 1), -2.0);
        EXPECT_EQ(key(b, 2), 0.25);
    }
}

TEST_F(Menlix, ExtremeDragAmountsAndPositionsStayFinite) {
    choose("Method", 0);
    for (const auto &[dx, dy] : {std::pair{INT32_MAX, INT32_MIN}, std::pair{INT32_MIN, INT32_MAX}}) {
        const sim::ItemId a = host.add_item("A", {0, 0, 0}), b = host.add_item("B", {2, -2, 2});
        host.select({a, b});
        scale_drag(kAlongZ, dx, dy, kAlt);
        const double h = 1.0 + dx * 0.1, v = 1.0 + dy * 0.1;
        EXPECT_NEAR(key(b, 0), 1 + 1 * h, 1e-12 * std::fabs(h));
        EXPECT_NEAR(key(b, 1), -1 - 1 * v, 1e-12 * std::fabs(v));
    }
    // A distance beyond the doubles gives no finite target: those items are left alone.
    const sim::ItemId a = host.add_item("A", {0, 0, 0}), far = host.add_item("Far", {1e200, 0, 0});
    host.select({a, far});
    host.clear_writes();
    scale_drag(kAlongZ, 10);
    EXPECT_EQ(written(far), "");
    EXPECT_EQ(written(a), "");
}

} // namespace
