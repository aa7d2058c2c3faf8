// Behaviour of the additive rotation module, loaded from its built file through the host simulator:
// the viewport drag and its info fields, the snapshot's channel search, the panel with its drag
// buttons and "Apply", and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/sim/alloc_hooks.h"
#include "host/sim/simulator.h"
#include "tests/tool_test.h"

namespace {

constexpr double kDeg = 0.017453292519943295; // degrees to radians, as the tool multiplies
constexpr double kRad = 57.29577951308232;    // radians to degrees
constexpr int32_t kAlt = HOST_TOOL_FLAG_ALT;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Axis vectors: a Y-dominated view drives heading, X pitch, Z bank.
const sim::Vec3 kHeadingView = {0.0, 0.9, 0.1};
const sim::Vec3 kPitchView = {0.8, 0.1, 0.0};
const sim::Vec3 kBankView = {0.0, 0.2, -0.7};
const sim::Vec3 kTie = {0.5, 0.5, 0.1};

enum { H = 0, P = 1, B = 2 };
const char *const kChannel[3] = {"Rotation.H", "Rotation.P", "Rotation.B"};
const char *const kLabel[3] = {"H", "P", "B"};
const char *const kFieldLabel[3] = {" H", " P", " B"};

using ChannelSet = std::set<std::pair<sim::ItemId, std::string>>;

std::string percent_f(double v) {
    char text[512];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

class Strova : public ToolTest {
protected:
    Strova() : ToolTest("zendro_strova") {}

    void SetUp() override {
        // The tool projects and draws nothing, and tells the host of no instance change.
        host.forbid(HOST_SERVICE_VIEWPORT);
        host.forbid(HOST_SERVICE_INSTANCE_UPDATE);
        host.set_time(2.0);
        start();
    }

    sim::Control &field(int which) { return ctl(HOST_TYPE_FLOAT, kFieldLabel[which]); }
    sim::Control &button(int which) { return ctl(HOST_TYPE_DRAG_BUTTON, "", which); }
    sim::Control &info(int which) { return ctl(HOST_TYPE_INFO, kLabel[which]); }
    sim::Control &apply_button() { return ctl(HOST_TYPE_BUTTON, "Apply"); }

    void type(int which, double value) { user_changes(field(which), value); }
    // One drag-button event with drag value n.
    void drag_button(int which, int32_t n) { user_changes(button(which), n); }
    // Makes the next event of drag button `which` a step: an info field takes the memory, then
    // the button's first event arms it with value n.
    void arm(int which, int32_t n) {
        host.fire(info(B));
        drag_button(which, n);
    }

    host_tool_event event(const sim::Vec3 &axis, int32_t dx = 0, int32_t flags = 0) {
        return sim::make_event({0.0, 0.0, 0.0}, axis, dx, 0, flags);
    }
    // A press (mouse-down) and one move with drag amount dx.
    void drag(const sim::Vec3 &axis, int32_t dx, int32_t flags = 0) {
        tool->mouse_down(event(axis));
        tool->mouse_move(event(axis, dx, flags));
    }

    ChannelSet written() const {
        ChannelSet s;
        for (const sim::KeyWrite &w : host.writes()) s.insert({w.item, w.channel});
        return s;
    }
    double key(sim::ItemId item, const char *channel, int occurrence = 0) {
        std::optional<double> v = host.key_at(item, channel, host.time(), occurrence);
        EXPECT_TRUE(v.has_value()) << channel;
        return v.value_or(kNaN);
    }
};

// ---- Viewport drag ----

TEST_F(Strova, FineStepIsATenthOfADegreeAndShowsInTheDrivenInfoField) {
    const sim::ItemId a = host.add_item("A", {}, {0.1, 0.2, 0.3}), b = host.add_item("B", {}, {1.0, -2.0, 3.0});
    host.select({a, b});
    drag(kHeadingView, 25);
    EXPECT_EQ(info(H).text_value, "2.500000");
    EXPECT_EQ(key(a, "Rotation.H"), 0.1 + 25 * 0.1 * kDeg);
    EXPECT_EQ(key(b, "Rotation.H"), 1.0 + 25 * 0.1 * kDeg);
    EXPECT_EQ(written(), (ChannelSet{{a, "Rotation.H"}, {b, "Rotation.H"}}));
    // d × 0.1 first, then × the radians per degree: for 19 the other grouping rounds differently.
    tool->mouse_move(event(kHeadingView, 19));
    EXPECT_EQ(key(a, "Rotation.H"), 0.1 + 19 * 0.1 * kDeg);
}

TEST_F(Strova, CoarseStepIsOneDegree) {
    const sim::ItemId a = host.add_item("A", {}, {0.1, 0.2, 0.3});
    host.select({a});
    drag(kHeadingView, 25, kAlt);
    EXPECT_EQ(info(H).text_value, "25.000000");
    EXPECT_EQ(key(a, "Rotation.H"), 0.1 + 25 * kDeg);
    tool->mouse_up(event(kHeadingView, 90, kAlt)); // the last move's keys stay
    EXPECT_EQ(key(a, "Rotation.H"), 0.1 + 25 * kDeg);
    EXPECT_TRUE(tool->draw(1).empty());
}

TEST_F(Strova, NegativeDragAndNegativeAxisComponent) {
    const sim::ItemId a = host.add_item("A", {}, {0.1, 0.2, 0.3});
    host.select({a});
    drag(kBankView, -40); // Z dominates with a negative component: still bank, same angle sign
    EXPECT_EQ(info(B).text_value, "-4.000000");
    EXPECT_EQ(key(a, "Rotation.B"), 0.3 + -40 * 0.1 * kDeg);
    EXPECT_EQ(written(), (ChannelSet{{a, "Rotation.B"}}));
}

TEST_F(Strova, EveryMoveStartsFromThePressAndAMoveBackToZeroStillKeys) {
    const sim::ItemId a = host.add_item("A", {}, {0.1, 0.2, 0.3});
    host.select({a});
    tool->mouse_down(event(kPitchView));
    for (int32_t dx : {10, 200, 30}) tool->mouse_move(event(kPitchView, dx));
    EXPECT_EQ(key(a, "Rotation.P"), 0.2 + 30 * 0.1 * kDeg);
    host.clear_writes();
    tool->mouse_move(event(kPitchView, 0));
    ASSERT_EQ(host.writes().size(), 1u);
    EXPECT_EQ(key(a, "Rotation.P"), 0.2);
    EXPECT_EQ(host.key_count(a, "Rotation.P"), 1u);
    EXPECT_EQ(info(P).text_value, "0.000000");
}

TEST_F(Strova, AxisVectorPicksTheChannel) {
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    const std::pair<sim::Vec3, int> cases[] = {
        {{0.0, 0.9, 0.1}, H}, {{0.0, -0.9, 0.1}, H}, {{-0.6, 0.5, 0.5}, P}, {{0.1, 0.2, 0.3}, B}};
    for (const auto &c : cases) {
        host.clear_writes();
        drag(c.first, 10);
        EXPECT_EQ(written(), (ChannelSet{{a, kChannel[c.second]}}))
            << c.first[0] << " " << c.first[1] << " " << c.first[2];
    }
}

TEST_F(Strova, TieDrivesPitchAtMouseDownAndKeepsTheChannelAtDragStart) {
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    drag(kHeadingView, 10);
    host.clear_writes();
    drag(kTie, 10);
    EXPECT_EQ(written(), (ChannelSet{{a, "Rotation.P"}}));

    drag(kBankView, 10);
    host.clear_writes();
    EXPECT_EQ(tool->drag_start(event(kTie)), 1);
    tool->mouse_move(event(kTie, 10));
    EXPECT_EQ(written(), (ChannelSet{{a, "Rotation.B"}}));
}

TEST_F(Strova, MoveBeforeAnyPressShowsZeroInEveryInfoField) {
    tool->mouse_move(event(kHeadingView, 25)); // no channel picked yet: no last drag angle changes
    for (int c : {H, P, B}) EXPECT_EQ(info(c).text_value, "0.000000");
}

TEST_F(Strova, InfoFieldsAllRewrittenButOnlyTheDrivenOneChanges) {
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    drag(kHeadingView, 25);
    drag(kPitchView, -7, kAlt);
    EXPECT_EQ(info(H).text_value, "2.500000");
    EXPECT_EQ(info(P).text_value, "-7.000000");
    EXPECT_EQ(info(B).text_value, "0.000000");
    for (int c : {H, P, B}) {
        EXPECT_EQ(info(c).value_writes, 2u) << kLabel[c];
        EXPECT_EQ(info(c).text_length, 10) << kLabel[c];
    }
}

// ---- Allocation ----

TEST_F(Strova, MovesAllocateNothing) {
    ASSERT_TRUE(sim::alloc_hooks_available()) << sim::alloc_hooks_unavailable_reason();
    for (int i = 0; i < 5; ++i) host.add_item("I" + std::to_string(i));
    host.select({1, 2, 3, 4, 5});
    tool->mouse_down(event(kHeadingView));
    sim::AllocScope scope;
    for (int32_t dx = 1; dx <= 20; ++dx) tool->mouse_move(event(kHeadingView, dx));
    EXPECT_EQ(scope.delta().allocations(), 0u);
}

// ---- Panel ----

TEST_F(Strova, TenControlsInOrderWithNoStartValues) {
    sim::Panel &p = panel();
    EXPECT_EQ(p.title, "Zendro Strova");
    struct Expected {
        const char *type;
        int32_t kind, a, b;
        const char *label;
    };
    const Expected expected[10] = {
        {HOST_TYPE_FLOAT, 3, 0, 0, " H"},       {HOST_TYPE_FLOAT, 3, 0, 0, " P"},
        {HOST_TYPE_FLOAT, 3, 0, 0, " B"},       {HOST_TYPE_DRAG_BUTTON, 19, -1, 0, ""},
        {HOST_TYPE_DRAG_BUTTON, 19, -1, 0, ""}, {HOST_TYPE_DRAG_BUTTON, 19, -1, 0, ""},
        {HOST_TYPE_BUTTON, 2, 0, 0, "Apply"},   {HOST_TYPE_INFO, 1, 10, 0, "H"},
        {HOST_TYPE_INFO, 1, 10, 0, "P"},        {HOST_TYPE_INFO, 1, 10, 0, "B"},
    };
    ASSERT_EQ(p.controls.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        const sim::Control &c = *p.controls[i];
        EXPECT_EQ(c.type_name, expected[i].type) << i;
        EXPECT_EQ(c.kind, expected[i].kind) << i;
        EXPECT_EQ(c.label, expected[i].label) << i;
        if (expected[i].kind == 19 || expected[i].kind == 1) {
            EXPECT_EQ(c.field_a, expected[i].a) << i;
            EXPECT_EQ(c.field_b, expected[i].b) << i;
        }
        EXPECT_EQ(c.user_data, tool->instance()) << i;
        EXPECT_NE(c.event, nullptr) << i;
        EXPECT_EQ(c.value_writes, 0u) << i << ": no start value, not even the remembered angles";
    }
    EXPECT_EQ(p.width, 200);
    EXPECT_EQ(p.height, 120);
}

// Control indices and attribute codes of every user-data and callback write, in call order.
std::vector<std::pair<int, int>> hookup_order(const sim::Trace &trace) {
    static const std::regex line(R"(control\.set control=.*\(#(\d+)\) code=(14|16) )");
    std::vector<std::pair<int, int>> out;
    for (const std::string &l : trace.lines()) {
        std::smatch m;
        if (std::regex_search(l, m, line)) out.push_back({std::stoi(m[1]), std::stoi(m[2])});
    }
    return out;
}

TEST_F(Strova, SizeAfterLayoutThenUserDataBeforeEachCallback) {
    std::vector<std::pair<int, int>> expected;
    for (int index : {0, 1, 2, 3, 4, 5, 7, 8, 9, 6}) {
        expected.push_back({index, HOST_CTL_USER_DATA});
        expected.push_back({index, HOST_CTL_EVENT});
    }
    EXPECT_EQ(hookup_order(host.trace()), expected);

    const std::vector<std::string> &lines = host.trace().lines();
    size_t last_placement = 0, size_set = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("control.set") != std::string::npos && lines[i].find(" code=1 ") != std::string::npos)
            last_placement = i;
        if (lines[i].find("LWPanelServices 2.set") != std::string::npos &&
            lines[i].find(" code=2 ") != std::string::npos && !size_set)
            size_set = i;
    }
    EXPECT_GT(last_placement, 0u);
    EXPECT_GT(size_set, last_placement);
}

TEST_F(Strova, NudgeRowsComputeInDoubleAndStoreSingle) {
    struct Row {
        double start;
        bool up;
        double after;
    };
    const Row rows[] = {
        {50.0, true, 50.5},
        {50.0, false, 49.5},
        {-50.0, true, -49.5},
        {-50.0, false, -50.5},
        {0.0, true, 0.001f},
        {0.0, false, -0.001f},
        {0.005, true, 0.006f},
        {0.005, false, 0.004f},
        {99999.0, true, 100000.0},
        {-99999.0, false, -100000.0},
        // Single-precision arithmetic would give 0.0050000004 here.
        {0.004, true, 0.005f},
    };
    for (const Row &r : rows) {
        host.user_set_value(field(H), r.start);
        arm(H, 10);
        drag_button(H, r.up ? 11 : 10); // an unchanged drag value steps down
        EXPECT_EQ(field(H).float_value, r.after) << r.start << (r.up ? " up" : " down");
    }
}

TEST_F(Strova, NudgeKeepsStepping) {
    host.user_set_value(field(P), 50.0);
    arm(P, 0);
    drag_button(P, 1);
    drag_button(P, 2);
    EXPECT_EQ(field(P).float_value, static_cast<double>(51.005f));
    host.user_set_value(field(P), 99999.0);
    for (int32_t n = 3; n < 6; ++n) {
        drag_button(P, n);
        EXPECT_EQ(field(P).float_value, 100000.0) << n;
    }
}

TEST_F(Strova, InfoFieldTakesTheDragMemoryAndStepsNothing) {
    host.user_set_value(field(P), 50.0);
    arm(P, 0);
    host.fire(info(P)); // takes the memory
    host.fire(info(P)); // and has no field to step
    drag_button(P, 1);  // so this only arms again
    EXPECT_EQ(field(P).float_value, 50.0);
    for (int c : {H, P, B}) EXPECT_EQ(info(c).value_writes, 0u);
    EXPECT_EQ(field(B).value_writes, 0u);
}

TEST_F(Strova, ApplyAddsTheTypedAnglesInSinglePrecisionEachTime) {
    const sim::ItemId a = host.add_item("A", {}, {0.1, 0.2, 0.3}), b = host.add_item("B", {}, {-1.0, 0.0, 2.0});
    host.select({a, b});
    type(H, 0.1);
    type(B, -30.0);
    apply();
    const double h = static_cast<double>(0.1f) * kDeg, bank = -30.0 * kDeg;
    EXPECT_EQ(key(a, "Rotation.H"), 0.1 + h);
    EXPECT_EQ(key(b, "Rotation.B"), 2.0 + bank);
    EXPECT_EQ(written(), (ChannelSet{{a, "Rotation.H"}, {a, "Rotation.B"}, {b, "Rotation.H"}, {b, "Rotation.B"}}));
    apply();
    EXPECT_EQ(key(a, "Rotation.H"), 0.1 + h + h);
    EXPECT_EQ(key(b, "Rotation.B"), 2.0 + bank + bank);
    EXPECT_EQ(host.key_count(a, "Rotation.H"), 1u);
    EXPECT_EQ(host.writes().size(), 8u);
    for (int c : {H, P, B}) EXPECT_EQ(info(c).value_writes, 0u) << "Apply leaves the info fields alone";
}

TEST_F(Strova, WhatTheHostSeesOfEachPanelEventAndDrag) {
    const sim::ItemId a = host.add_item("A", {}, {0.1, 0.2, 0.3});
    host.select({a});
    const std::set<size_t> none;
    expect_host_sees({
        {"H field", [&] { type(H, 10.0); }, none, false},
        {"P field", [&] { type(P, -5.0); }, none, false},
        {"B field", [&] { type(B, 0.5); }, none, false},
        {"H drag button's first event", [&] { drag_button(H, 0); }, none, false},
        {"H drag button step", [&] { drag_button(H, 1); }, {0}, false},
        {"info field", [&] { host.fire(info(P)); }, none, false},
        {"P drag button's first event", [&] { drag_button(P, 0); }, none, false},
        {"P drag button step", [&] { drag_button(P, 1); }, {1}, false},
        {"Apply", [&] { apply(); }, none, true},
        {"drag", [&] { drag(kHeadingView, 25); }, {7, 8, 9}, true}, // every info field
        {"mouse-up", [&] { tool->mouse_up(event(kHeadingView, 25)); }, none, false},
    });
}

TEST_F(Strova, ApplyWithZeroAnglesWritesNothing) {
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    apply(); // the fields start at the toolkit's 0
    type(H, 0.0);
    type(P, -0.0);
    apply();
    EXPECT_TRUE(host.writes().empty());
    EXPECT_EQ(host.find_key_calls(), 0u);
}

TEST_F(Strova, NonFiniteTypedAnglesKeyNothingButTheOthersApply) {
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    for (double bad : {kNaN, kInf, -kInf, 1e300 /* beyond single precision */}) {
        host.clear_writes();
        type(H, bad);
        type(P, 0.0);
        type(B, 1.0);
        apply();
        EXPECT_EQ(written(), (ChannelSet{{a, "Rotation.B"}})) << bad;
    }
    EXPECT_EQ(host.key_count(a, "Rotation.H"), 0u);
}

TEST_F(Strova, SecondActivationStartsItsPanelEmptyAndItsDragAnglesAtZero) {
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    type(H, 10.0);
    drag(kHeadingView, 25);
    tool->release();
    sim::Tool second(host, module);
    ASSERT_EQ(second.activate(), 0);
    ASSERT_EQ(host.panel_count(), 2u);
    for (int c : {H, P, B}) EXPECT_EQ(field(c).value_writes, 0u) << "remembered angles are not shown";
    second.mouse_down(event(kPitchView));
    second.mouse_move(event(kPitchView, 10));
    EXPECT_EQ(info(H).text_value, "0.000000");
    EXPECT_EQ(info(P).text_value, "1.000000");
    second.release();
}

// ---- Bad input ----

TEST_F(Strova, EmptySelectionKeysNothingButShowsTheAngle) {
    drag(kHeadingView, 25);
    type(H, 10.0);
    apply();
    EXPECT_TRUE(host.writes().empty());
    EXPECT_EQ(info(H).text_value, "2.500000");
}

TEST_F(Strova, HugeAngleTextIsCutByTheHostNotOverflowed) {
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    for (int32_t dx : {INT32_MIN, INT32_MAX}) {
        const double press = host.rotation_at(a, host.time())[B];
        drag(kBankView, dx, kAlt);
        const std::string full = percent_f(dx * kDeg * kRad);
        ASSERT_GT(full.size(), 10u);
        EXPECT_EQ(info(B).text_value, full.substr(0, 10));
        EXPECT_EQ(info(B).text_length, 10);
        EXPECT_TRUE(info(B).text_unterminated);
        EXPECT_EQ(info(H).text_value, "0.000000");
        EXPECT_EQ(key(a, "Rotation.B"), press + dx * kDeg);
    }
}

TEST_F(Strova, ExtremeDragAmountsKeyOnlyTheSelectedItems) {
    const sim::ItemId a = host.add_item("A", {}, {0.1, 0.2, 0.3}), b = host.add_item("B"), idle = host.add_item("Idle");
    host.select({a, b});
    for (int32_t dx : {INT32_MAX, INT32_MIN}) {
        for (int32_t flags : {0, kAlt, -1}) {
            for (const sim::Vec3 &view : {kHeadingView, kPitchView, kBankView}) drag(view, dx, flags);
        }
    }
    ASSERT_FALSE(host.writes().empty());
    for (const sim::KeyWrite &w : host.writes()) {
        EXPECT_NE(w.item, idle);
        EXPECT_TRUE(std::isfinite(w.value));
        EXPECT_EQ(w.channel.compare(0, 9, "Rotation."), 0) << w.channel;
    }
    for (const std::string &channel : sim::Host::default_channels()) EXPECT_EQ(host.key_count(idle, channel), 0u);
}

} // namespace
