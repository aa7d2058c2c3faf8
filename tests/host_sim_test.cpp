// SPDX-License-Identifier: MIT
// The host simulator's own checks: that its records sit where the interface puts them, that it
// traps and flags what a module has no business doing, that it evaluates the scene as documented,
// and that modules loaded at run time reach it (and the allocation hooks) as a real host's would.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "host/sim/alloc_hooks.h"
#include "host/sim/simulator.h"

namespace {

template <typename T> T *service(sim::Host &h, const char *name) {
    return static_cast<T *>(h.global_function()(name, 0));
}

// A slot of a record, by position, called with no arguments (as a trap is reached).
template <typename R> void call_slot(R *record, size_t slot) {
    host_slot s;
    std::memcpy(&s, reinterpret_cast<unsigned char *>(record) + slot * sizeof(void *), sizeof s);
    s();
}

host_envelope envelope_of(sim::Host &h, sim::ItemId item, const char *channel_name, int occurrence = 0) {
    auto *items = service<host_item_info_v6>(h, HOST_SERVICE_ITEM);
    auto *ch = service<host_channel_info_v2>(h, HOST_SERVICE_CHANNEL);
    host_group g = items->channel_group(sim::Host::item_handle(item));
    for (host_channel c = ch->next_channel(g, nullptr); c; c = ch->next_channel(g, c))
        if (std::strcmp(ch->channel_name(c), channel_name) == 0 && occurrence-- == 0) return ch->channel_envelope(c);
    return nullptr;
}

// ---- Traps and look-ups -----------------------------------------------------------------------

TEST(HostTraps, UnnamedSlotsNameServiceAndSlot) {
    sim::Host host;
    call_slot(service<host_item_info_v6>(host, HOST_SERVICE_ITEM), 3);
    call_slot(static_cast<host_slot *>(host.service(HOST_SERVICE_INFO_MESSAGES)), 7);
    call_slot(service<host_envelopes>(host, HOST_SERVICE_ENVELOPES), 11);
    call_slot(service<host_panel_services_v2>(host, HOST_SERVICE_PANEL), 4);
    ASSERT_EQ(host.violations().size(), 4u) << host.report();
    EXPECT_EQ(host.violations()[0].id, "service-trap-called");
    EXPECT_NE(host.violations()[0].message.find("LW Item Info 6 slot 3 called"), std::string::npos);
    EXPECT_NE(host.violations()[1].message.find("Info Messages 3 slot 7"), std::string::npos);
    EXPECT_NE(host.violations()[2].message.find("Animation Envelopes slot 11"), std::string::npos);
    EXPECT_NE(host.violations()[3].message.find("LWPanelServices 2 slot 4"), std::string::npos);
}

TEST(HostTraps, NamedSlotsHoldRoutinesAndUnnamedOnesDistinctTraps) {
    sim::Host host;
    auto *env = service<host_envelopes>(host, HOST_SERVICE_ENVELOPES);
    host_slot slots[16];
    std::memcpy(slots, env, sizeof slots);
    for (int i = 0; i < 16; ++i)
        for (int j = i + 1; j < 16; ++j) EXPECT_NE(slots[i], slots[j]) << i << " " << j;
    // The panel services' data slot starts empty, for activation to fill.
    EXPECT_EQ(service<host_panel_services_v2>(host, HOST_SERVICE_PANEL)->global, nullptr);
    EXPECT_TRUE(host.clean()) << host.report();
}

TEST(HostLookups, LoggedInOrderWithMissingAndUnknownNames) {
    sim::Host host;
    host.set_missing(HOST_SERVICE_VIEWPORT);
    host_global_fn global = host.global_function();
    EXPECT_NE(global(HOST_SERVICE_TIME, 0), nullptr);
    EXPECT_EQ(global(HOST_SERVICE_VIEWPORT, 0), nullptr);
    EXPECT_EQ(reinterpret_cast<intptr_t>(global(HOST_SERVICE_PRODUCT, 0)), sim::Host::product_info_value);
    EXPECT_TRUE(host.clean()) << host.report();
    EXPECT_EQ(global("LW Item Info 5", 0), nullptr);
    EXPECT_TRUE(host.has_violation("lookup-unknown-service"));
    global(HOST_SERVICE_TIME, 1);
    EXPECT_TRUE(host.has_violation("lookup-mode-nonzero"));
    const std::vector<std::string> expected = {HOST_SERVICE_TIME, HOST_SERVICE_VIEWPORT, HOST_SERVICE_PRODUCT,
                                               "LW Item Info 5", HOST_SERVICE_TIME};
    EXPECT_EQ(host.lookup_names(), expected);
    EXPECT_FALSE(host.lookups()[1].answered);
}

TEST(HostLookups, ForbiddenServiceFlagsEveryCall) {
    sim::Host host;
    host.forbid(HOST_SERVICE_VIEWPORT);
    auto *vp = service<host_viewport_info_v5>(host, HOST_SERVICE_VIEWPORT);
    EXPECT_TRUE(host.clean()) << "binding a forbidden service is allowed";
    vp->grid_size(0);
    double x, y, z;
    const double w[3] = {0, 0, 0};
    vp->project(0, w, &x, &y, &z);
    EXPECT_EQ(host.violation_count("service-forbidden-called"), 2u) << host.report();
}

// ---- Scene ------------------------------------------------------------------------------------

TEST(HostScene, KeyEvaluationExactThenEarlierThenEarliestThenBase) {
    sim::Host host;
    const sim::ItemId a = host.add_item("A", {7, 8, 9});
    host.add_key(a, "Position.X", 10.0, 1.0);
    host.add_key(a, "Position.X", 20.0, 2.0);
    host.add_key(a, "Position.X", 5.0, 0.5);
    EXPECT_EQ(host.value_at(a, "Position.X", 20.0), 2.0); // exact
    EXPECT_EQ(host.value_at(a, "Position.X", 15.0), 1.0); // latest before, not the earliest
    EXPECT_EQ(host.value_at(a, "Position.X", 99.0), 2.0);
    EXPECT_EQ(host.value_at(a, "Position.X", 1.0), 0.5); // before every key: the earliest
    EXPECT_EQ(host.value_at(a, "Position.Y", 1.0), 8.0); // no keys: the base value
    EXPECT_EQ(host.position_at(a, 15.0), (sim::Vec3{1.0, 8.0, 9.0}));
}

TEST(HostScene, ParamQueryAnswersCodes8And5AtTheCurrentTime) {
    sim::Host host;
    const sim::ItemId a = host.add_item("A", {1, 2, 3}, {0.1, 0.2, 0.3});
    host.add_key(a, "Rotation.P", 2.0, 1.5);
    host.set_time(2.0);
    auto *items = service<host_item_info_v6>(host, HOST_SERVICE_ITEM);
    double out[3] = {0, 0, 0};
    items->param(sim::Host::item_handle(a), HOST_ITEM_PARAM_WORLD_POSITION, 2.0, out);
    EXPECT_EQ(out[0], 1.0);
    EXPECT_EQ(out[2], 3.0);
    items->param(sim::Host::item_handle(a), HOST_ITEM_PARAM_ROTATION, 2.0, out);
    EXPECT_EQ(out[0], 0.1);
    EXPECT_EQ(out[1], 1.5);
    EXPECT_TRUE(host.clean()) << host.report();

    items->param(sim::Host::item_handle(a), HOST_ITEM_PARAM_ROTATION, 0.0, out);
    EXPECT_TRUE(host.has_violation("time-mismatch"));
    double untouched[3] = {-1, -1, -1};
    items->param(sim::Host::item_handle(a), 6, 2.0, untouched);
    EXPECT_TRUE(host.has_violation("item-param-code"));
    EXPECT_EQ(untouched[0], -1.0);
    items->param(nullptr, HOST_ITEM_PARAM_WORLD_POSITION, 2.0, untouched);
    EXPECT_TRUE(host.has_violation("item-none"));
    items->param(sim::Host::item_handle(5), HOST_ITEM_PARAM_WORLD_POSITION, 2.0, untouched);
    EXPECT_TRUE(host.has_violation("item-unknown"));
    EXPECT_EQ(untouched[0], -1.0);
}

TEST(HostScene, ChannelWalkFollowsTheItemsOwnListAndFlagsForeignChannels) {
    sim::Host host;
    const sim::ItemId a = host.add_item("A", {}, {}, {"Position.XTra", "Scale.X", "Position.XTra"});
    const sim::ItemId b = host.add_item("B");
    auto *items = service<host_item_info_v6>(host, HOST_SERVICE_ITEM);
    auto *ch = service<host_channel_info_v2>(host, HOST_SERVICE_CHANNEL);
    host_group ga = items->channel_group(sim::Host::item_handle(a));
    std::vector<std::string> names;
    for (host_channel c = ch->next_channel(ga, nullptr); c; c = ch->next_channel(ga, c))
        names.push_back(ch->channel_name(c));
    EXPECT_EQ(names, (std::vector<std::string>{"Position.XTra", "Scale.X", "Position.XTra"}));
    host_group gb = items->channel_group(sim::Host::item_handle(b));
    names.clear();
    for (host_channel c = ch->next_channel(gb, nullptr); c; c = ch->next_channel(gb, c))
        names.push_back(ch->channel_name(c));
    EXPECT_EQ(names, sim::Host::default_channels());
    EXPECT_TRUE(host.clean()) << host.report();

    host_channel first_of_a = ch->next_channel(ga, nullptr);
    EXPECT_EQ(ch->next_channel(gb, first_of_a), nullptr);
    EXPECT_TRUE(host.has_violation("channel-foreign"));
    EXPECT_NE(host.report().find("a channel of item \"A\" while walking item \"B\""), std::string::npos);
    // An envelope is not a channel, and a channel not a group.
    ch->channel_name(reinterpret_cast<host_channel>(ch->channel_envelope(first_of_a)));
    EXPECT_TRUE(host.has_violation("channel-unknown"));
    ch->next_channel(reinterpret_cast<host_group>(first_of_a), nullptr);
    EXPECT_TRUE(host.has_violation("group-unknown"));
}

// ---- Key writes -------------------------------------------------------------------------------

TEST(HostKeys, FindSetCreateAtTheCurrentTimeOnASelectedItem) {
    sim::Host host;
    const sim::ItemId a = host.add_item("A");
    host.add_key(a, "Position.Y", 1.0, 4.0);
    host.select({a});
    host.set_time(1.0);
    auto *env = service<host_envelopes>(host, HOST_SERVICE_ENVELOPES);
    host_envelope ey = envelope_of(host, a, "Position.Y");
    host_key k = env->find_key(ey, 1.0);
    ASSERT_NE(k, nullptr);
    double v = 6.0;
    env->set_key_value(ey, k, HOST_KEY_VALUE, &v);
    host_envelope ex = envelope_of(host, a, "Position.X");
    EXPECT_EQ(env->find_key(ex, 1.0), nullptr);
    EXPECT_NE(env->create_key(ex, 1.0, 2.5), nullptr);
    EXPECT_TRUE(host.clean()) << host.report();
    EXPECT_EQ(host.key_count(a, "Position.Y"), 1u);
    EXPECT_EQ(host.key_at(a, "Position.Y", 1.0), 6.0);
    EXPECT_EQ(host.key_at(a, "Position.X", 1.0), 2.5);
    ASSERT_EQ(host.writes().size(), 2u);
    EXPECT_FALSE(host.writes()[0].created);
    EXPECT_TRUE(host.writes()[1].created);
    EXPECT_EQ(host.writes()[1].channel, "Position.X");
}

TEST(HostKeys, WritesOutsideTheSelectionsTargetChannelsAreFlaggedAndRefused) {
    sim::Host host;
    const sim::ItemId a = host.add_item("A", {}, {}, {"Position.X", "Scale.X", "Position.XTra"});
    const sim::ItemId b = host.add_item("B");
    host.select({a});
    auto *env = service<host_envelopes>(host, HOST_SERVICE_ENVELOPES);
    env->create_key(envelope_of(host, a, "Position.XTra"), 0.0, 1.0); // span match: a target
    EXPECT_TRUE(host.clean()) << host.report();
    env->create_key(envelope_of(host, b, "Position.X"), 0.0, 1.0);
    EXPECT_TRUE(host.has_violation("envelope-write-unselected-item"));
    env->create_key(envelope_of(host, a, "Scale.X"), 0.0, 1.0);
    EXPECT_TRUE(host.has_violation("envelope-write-non-target-channel"));
    // The messages name the items as the script does.
    ASSERT_EQ(host.violations().size(), 2u);
    EXPECT_NE(host.violations()[0].message.find("on item \"B\" channel \"Position.X\""), std::string::npos);
    EXPECT_NE(host.violations()[1].message.find("on item \"A\" channel \"Scale.X\""), std::string::npos);
    EXPECT_EQ(host.key_count(b, "Position.X"), 0u);
    EXPECT_EQ(host.key_count(a, "Scale.X"), 0u);

    host.set_write_targets({"Rotation.H", "Rotation.P", "Rotation.B"});
    host.clear_violations();
    env->create_key(envelope_of(host, a, "Position.X"), 0.0, 1.0);
    EXPECT_TRUE(host.has_violation("envelope-write-non-target-channel"));
}

TEST(HostKeys, BadKeyArgumentsAreFlagged) {
    sim::Host host;
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    host.add_key(a, "Position.X", 0.0, 1.0);
    auto *env = service<host_envelopes>(host, HOST_SERVICE_ENVELOPES);
    host_envelope ex = envelope_of(host, a, "Position.X"), ey = envelope_of(host, a, "Position.Y");
    host_key kx = env->find_key(ex, 0.0);
    double v = 3.0;
    env->set_key_value(ey, kx, HOST_KEY_VALUE, &v);
    EXPECT_TRUE(host.has_violation("key-foreign-envelope"));
    env->set_key_value(ex, kx, 1, &v);
    EXPECT_TRUE(host.has_violation("key-set-attribute"));
    env->set_key_value(ex, kx, HOST_KEY_VALUE, nullptr);
    EXPECT_TRUE(host.has_violation("key-set-value-null"));
    double nan = std::nan("");
    env->set_key_value(ex, kx, HOST_KEY_VALUE, &nan);
    EXPECT_TRUE(host.has_violation("key-value-non-finite"));
    EXPECT_EQ(host.key_at(a, "Position.X", 0.0), 1.0) << "refused writes change nothing";
    env->create_key(ex, 0.0, 2.0);
    EXPECT_TRUE(host.has_violation("key-create-duplicate"));
    EXPECT_EQ(host.key_count(a, "Position.X"), 1u);
    env->find_key(ex, 0.5);
    EXPECT_TRUE(host.has_violation("time-mismatch"));
    env->find_key(reinterpret_cast<host_envelope>(kx), 0.0);
    EXPECT_TRUE(host.has_violation("envelope-unknown"));
}

// ---- Viewports --------------------------------------------------------------------------------

TEST(HostViewports, ProjectionMatchesTheCppFunctionAndFailureLeavesOutputsUntouched) {
    sim::Host host;
    auto *vp = service<host_viewport_info_v5>(host, HOST_SERVICE_VIEWPORT);
    const double w[3] = {1.0, 2.0, 3.0};
    double x = 0, y = 0, z = 0;
    EXPECT_EQ(vp->project(2, w, &x, &y, &z), 1);
    EXPECT_EQ(x, 420.0); // 320 + 100 * 1
    EXPECT_EQ(y, 40.0);  // 240 - 100 * 2
    EXPECT_EQ(z, 3.0);
    sim::Vec3 out{};
    ASSERT_TRUE(host.project(0, {1, 2, 3}, &out)); // looking along X: window shows (y, z)
    EXPECT_EQ(out, (sim::Vec3{520.0, -60.0, 1.0}));
    const sim::Vec3 back = host.world_at(0, out[0], out[1], 1.0);
    EXPECT_EQ(back, (sim::Vec3{1, 2, 3}));

    host.viewport(2).fail = true;
    x = y = z = -7;
    EXPECT_EQ(vp->project(2, w, &x, &y, &z), 0);
    EXPECT_EQ(x, -7.0);
    EXPECT_EQ(y, -7.0);
    EXPECT_EQ(z, -7.0);
    EXPECT_TRUE(host.clean()) << host.report();
    vp->project(9, w, &x, &y, &z);
    EXPECT_TRUE(host.has_violation("viewport-unknown"));
}

// ---- Panels -----------------------------------------------------------------------------------

struct PanelFixture : ::testing::Test {
    sim::Host host;
    host_panel_services_v2 *ps = service<host_panel_services_v2>(host, HOST_SERVICE_PANEL);
    host_panel panel = ps->create("Test", nullptr);
    PanelFixture() { size(400, 300); } // room for what the tests add; opening checks the layout
    void size(int32_t width, int32_t height) {
        ps->set(panel, HOST_PANEL_W, &width);
        ps->set(panel, HOST_PANEL_H, &height);
    }
    host_control *add(const char *type, host_control_desc desc, const char *label = "") {
        return ps->add_control(panel, type, &desc, label);
    }
    static host_control_desc plain(int32_t kind) {
        host_control_desc d;
        std::memset(&d, 0, sizeof d);
        d.kind = kind;
        return d;
    }
};

TEST_F(PanelFixture, DescriptorsAreParsedAndCheckedPerType) {
    static const char *const items[] = {"Keep", "Rotate", nullptr};
    static const char *const none[] = {nullptr};
    host_control_desc choice = plain(HOST_CTL_CHOICE);
    choice.choice.items = items;
    add(HOST_TYPE_CHOICE, choice, "Method");
    host_control_desc drag = plain(HOST_CTL_DRAG_BUTTON);
    drag.pair.first = -1;
    add(HOST_TYPE_DRAG_BUTTON, drag);
    host_control_desc info = plain(HOST_CTL_INFO);
    info.pair.first = 10;
    add(HOST_TYPE_INFO, info, "H");
    ps->global = host.global_function();
    host_control_desc list = plain(HOST_CTL_ITEM_LIST);
    list.item_list.global = host.global_function();
    list.item_list.item_type = 5;
    add(HOST_TYPE_ITEM_LIST, list);
    ASSERT_TRUE(host.clean()) << host.report();
    sim::Panel *p = host.last_panel();
    EXPECT_EQ(p->control(0)->items, (std::vector<std::string>{"Keep", "Rotate"}));
    EXPECT_EQ(p->find(HOST_TYPE_INFO, "H"), p->control(2));

    add(HOST_TYPE_FLOAT, plain(HOST_CTL_BUTTON));
    EXPECT_TRUE(host.has_violation("descriptor-kind-mismatch"));
    choice.choice.items = none;
    add(HOST_TYPE_CHOICE, choice);
    EXPECT_TRUE(host.has_violation("descriptor-choice-empty"));
    drag.pair.first = 0;
    add(HOST_TYPE_DRAG_BUTTON, drag);
    EXPECT_TRUE(host.has_violation("descriptor-drag-button-fields"));
    info.pair.first = 9;
    add(HOST_TYPE_INFO, info);
    EXPECT_TRUE(host.has_violation("descriptor-info-fields"));
    ps->global = nullptr; // the module never stored the global function
    add(HOST_TYPE_ITEM_LIST, list);
    EXPECT_TRUE(host.has_violation("descriptor-list-global"));
}

TEST_F(PanelFixture, NewControlsGetDistinctGeometry) {
    host_control *a = add(HOST_TYPE_FLOAT, plain(HOST_CTL_FLOAT));
    host_control *b = add(HOST_TYPE_DRAG_BUTTON, [] {
        host_control_desc d = plain(HOST_CTL_DRAG_BUTTON);
        d.pair.first = -1;
        return d;
    }());
    host_value_int v = {HOST_VALUE_INT, -1};
    a->get(a, HOST_CTL_Y, &v);
    const int32_t ya = v.value;
    b->get(b, HOST_CTL_Y, &v);
    EXPECT_GT(v.value, ya);
    b->get(b, HOST_CTL_W, &v);
    EXPECT_EQ(v.value, 20);
    v.value = 123;
    b->set(b, HOST_CTL_X, &v);
    EXPECT_EQ(host.find_control(b)->x, 123);
    EXPECT_TRUE(host.clean()) << host.report();
}

TEST_F(PanelFixture, LayoutProblemsAreControlsOutsideThePanelAndOverlapsDeeperThanTwoPixels) {
    const host_control_desc field = plain(HOST_CTL_FLOAT);
    host_control *a = add(HOST_TYPE_FLOAT, field, " A"), *b = add(HOST_TYPE_FLOAT, field, " B");
    auto place = [](host_control *c, int32_t x, int32_t y) {
        host_value_int v = {HOST_VALUE_INT, x};
        c->set(c, HOST_CTL_X, &v);
        v.value = y;
        c->set(c, HOST_CTL_Y, &v);
    };
    int32_t width = 120, height = 38;
    ps->set(panel, HOST_PANEL_W, &width);
    ps->set(panel, HOST_PANEL_H, &height);
    place(a, 0, 0);
    place(b, 58, 18); // 60x20 fields sharing a 2-pixel strip each way
    const sim::Panel &p = *host.last_panel();
    EXPECT_EQ(sim::layout_problems(p), std::vector<std::string>{});
    place(b, 57, 17);
    EXPECT_EQ(sim::layout_problems(p), std::vector<std::string>{"FloatControl \" A\" (#0) at (0, 0) 60x20 overlaps "
                                                                "FloatControl \" B\" (#1) at (57, 17) 60x20"});
    place(b, 70, 19);
    EXPECT_EQ(sim::layout_problems(p),
              (std::vector<std::string>{
                  "FloatControl \" B\" (#1) at (70, 19) 60x20 reaches x 130, beyond the width 120 of panel \"Test\"",
                  "FloatControl \" B\" (#1) at (70, 19) 60x20 reaches y 39, below the height 38 of panel \"Test\""}));
    EXPECT_TRUE(host.clean()) << host.report();
}

// The toolkit grows a side the module never set to hold the controls; a side it set still bounds
// them. Controls stack down the left edge, 60 wide: the set width of 50 is too narrow for both.
TEST_F(PanelFixture, UnsetPanelSideGrowsToHoldTheControls) {
    host_panel unsized = ps->create("Unsized", nullptr);
    int32_t width = 50;
    ps->set(unsized, HOST_PANEL_W, &width);
    host_control_desc field = plain(HOST_CTL_FLOAT);
    ps->add_control(unsized, HOST_TYPE_FLOAT, &field, " A");
    ps->add_control(unsized, HOST_TYPE_FLOAT, &field, " B");
    ps->open(unsized, 0);
    const sim::Panel &p = *host.last_panel();
    EXPECT_EQ(p.shown_height(), p.controls[1]->y + p.controls[1]->h);
    EXPECT_EQ(host.violation_count("panel-control-outside"), 2u) << host.report();
    EXPECT_EQ(host.report().find("below the height"), std::string::npos) << host.report();
}

TEST_F(PanelFixture, OpeningRecordsEachLayoutProblemOnceAsAViolation) {
    host.limit_panel_size(100, 0); // the toolkit cuts widths above 100, leaves heights alone
    size(150, 60);
    const host_control_desc field = plain(HOST_CTL_FLOAT);
    host_control *a = add(HOST_TYPE_FLOAT, field, " A"), *b = add(HOST_TYPE_FLOAT, field, " B");
    host_value_int v = {HOST_VALUE_INT, 80};
    b->set(b, HOST_CTL_X, &v); // 80..140: beyond the 100 the panel was made
    v.value = 0;
    b->set(b, HOST_CTL_Y, &v);
    v.value = 10;
    a->set(a, HOST_CTL_X, &v); // 10..70 on the same row: overlaps nothing
    const sim::Panel &p = *host.last_panel();
    EXPECT_EQ(p.width, 100);
    EXPECT_EQ(p.asked_width, 150);
    EXPECT_EQ(p.height, 60);
    ASSERT_TRUE(host.clean()) << host.report(); // nothing is checked before the panel opens
    v.value = 50;
    a->set(a, HOST_CTL_X, &v); // now 50..110 against 80..140
    ps->open(panel, 0);
    EXPECT_EQ(host.violation_count("panel-controls-overlap"), 1u);
    ASSERT_EQ(host.violation_count("panel-control-outside"), 2u) << host.report();
    EXPECT_NE(host.violations()[0].message.find("smaller than the 150x60 the module asked for"), std::string::npos)
        << host.violations()[0].message;
    EXPECT_EQ(host.check_layout(*host.last_panel()).size(), 3u);
    EXPECT_EQ(host.violations().size(), 3u) << "a problem already recorded is not recorded again";
}

TEST_F(PanelFixture, ValueRecordsAreReadAtThePinnedOffsets) {
    host_control *f = add(HOST_TYPE_FLOAT, plain(HOST_CTL_FLOAT));
    // Floating form built by hand: type 3 at byte 0, the double at byte 8.
    alignas(8) unsigned char rec[16] = {};
    const int32_t type = HOST_VALUE_FLOAT;
    const double value = 0.1;
    std::memcpy(rec, &type, 4);
    std::memcpy(rec + 8, &value, 8);
    f->set(f, HOST_CTL_VALUE, rec);
    EXPECT_EQ(host.find_control(f)->float_value, 0.1);

    // Pointer form: type 2 at byte 0, the pointer at byte 8 (x86-64) or 4 (32-bit).
    int marker = 0;
    void *ptr = &marker;
    alignas(8) unsigned char prec[16] = {};
    const int32_t int_type = HOST_VALUE_INT;
    std::memcpy(prec, &int_type, 4);
    std::memcpy(prec + (sizeof(void *) == 8 ? 8 : 4), &ptr, sizeof ptr);
    f->set(f, HOST_CTL_USER_DATA, prec);
    EXPECT_EQ(host.find_control(f)->user_data, &marker);
    alignas(8) unsigned char out[16] = {};
    std::memcpy(out, &int_type, 4);
    f->get(f, HOST_CTL_USER_DATA, out);
    void *read_back = nullptr;
    std::memcpy(&read_back, out + (sizeof(void *) == 8 ? 8 : 4), sizeof read_back);
    EXPECT_EQ(read_back, &marker);
    EXPECT_TRUE(host.clean()) << host.report();

    host_value_int wrong = {HOST_VALUE_INT, 1};
    f->set(f, HOST_CTL_VALUE, &wrong);
    EXPECT_TRUE(host.has_violation("control-value-form"));
    f->get(f, 15, &wrong);
    EXPECT_TRUE(host.has_violation("control-attribute-unknown"));
}

TEST_F(PanelFixture, InfoTextIsReadNoFurtherThanTheLengthHandedOver) {
    host_control_desc info = plain(HOST_CTL_INFO);
    info.pair.first = 10;
    host_control *c = add(HOST_TYPE_INFO, info, "H");
    char text[] = "123456789012345";
    host_value_text v = {HOST_VALUE_TEXT, text, 10};
    c->set(c, HOST_CTL_VALUE, &v);
    const sim::Control *ctl = host.find_control(c);
    EXPECT_EQ(ctl->text_value, "1234567890");
    EXPECT_EQ(ctl->text_length, 10);
    EXPECT_TRUE(ctl->text_unterminated);
    char shortText[] = "2.500000";
    v.text = shortText;
    c->set(c, HOST_CTL_VALUE, &v);
    EXPECT_EQ(ctl->text_value, "2.500000");
    EXPECT_FALSE(ctl->text_unterminated);
    EXPECT_TRUE(host.clean()) << host.report();
    v.length = -1;
    c->set(c, HOST_CTL_VALUE, &v);
    EXPECT_TRUE(host.has_violation("control-text-length-negative"));
}

TEST_F(PanelFixture, UserCloseMakesPollNegativeAndLaterWritesAreTracked) {
    host_control *f = add(HOST_TYPE_FLOAT, plain(HOST_CTL_FLOAT));
    ps->open(panel, 0);
    EXPECT_EQ(ps->poll(panel, 0), 0);
    host_value_float v = {HOST_VALUE_FLOAT, 0, 1.0};
    f->set(f, HOST_CTL_VALUE, &v);
    host.user_close(*host.last_panel());
    EXPECT_LT(ps->poll(panel, 0), 0);
    f->set(f, HOST_CTL_VALUE, &v);
    EXPECT_EQ(host.find_control(f)->value_writes, 2u);
    EXPECT_EQ(host.last_panel()->writes_while_user_closed(), 1u);
    EXPECT_TRUE(host.clean()) << host.report();
    ps->close(panel);
    EXPECT_TRUE(host.has_violation("panel-close-not-open"));
}

TEST_F(PanelFixture, DestroyedPanelsAndTheirControlsAreStale) {
    host_control *f = add(HOST_TYPE_FLOAT, plain(HOST_CTL_FLOAT));
    ps->destroy(panel);
    EXPECT_TRUE(host.clean()) << host.report();
    host_value_float v = {HOST_VALUE_FLOAT, 0, 1.0};
    f->get(f, HOST_CTL_VALUE, &v);
    EXPECT_TRUE(host.has_violation("control-stale"));
    EXPECT_LT(ps->poll(panel, 0), 0);
    EXPECT_TRUE(host.has_violation("panel-stale"));
}

TEST_F(PanelFixture, FiringCallsTheEventCallbackWithControlAndUserData) {
    static host_control *seen_control;
    static void *seen_data;
    struct Cb {
        static void HOST_CALL fired(host_control *c, void *d) {
            seen_control = c;
            seen_data = d;
        }
        static uint16_t HOST_CALL key(host_panel, void *, uint16_t k) { return static_cast<uint16_t>(k + 1); }
    };
    host_control *f = add(HOST_TYPE_FLOAT, plain(HOST_CTL_FLOAT));
    int marker = 0;
    host_value_pointer p = {HOST_VALUE_INT, &marker};
    f->set(f, HOST_CTL_USER_DATA, &p);
    p.pointer = reinterpret_cast<void *>(&Cb::fired);
    f->set(f, HOST_CTL_EVENT, &p);
    ps->set(panel, HOST_PANEL_KEY_CALLBACK, reinterpret_cast<void *>(&Cb::key));
    ps->open(panel, 0);
    sim::Control &c = *host.find_control(f);
    host.user_set_value(c, 2.5);
    EXPECT_TRUE(host.fire(c));
    EXPECT_EQ(seen_control, f);
    EXPECT_EQ(seen_data, &marker);
    EXPECT_EQ(c.float_value, 2.5);
    EXPECT_EQ(host.press_key(*host.last_panel(), 41), 42);
    EXPECT_TRUE(host.clean()) << host.report();
}

TEST(HostPanels, CreateFailsWhenTold) {
    sim::Host host;
    host.fail_panel_create();
    EXPECT_EQ(service<host_panel_services_v2>(host, HOST_SERVICE_PANEL)->create("X", nullptr), nullptr);
    EXPECT_EQ(host.panel_count(), 0u);
}

// ---- Trace ------------------------------------------------------------------------------------

TEST(HostTrace, RecordsServiceCallsAndStaysEmptyWhenOff) {
    sim::Host host;
    const sim::ItemId a = host.add_item("A", {1, 0, 0});
    double out[3];
    auto *items = service<host_item_info_v6>(host, HOST_SERVICE_ITEM);
    items->param(sim::Host::item_handle(a), HOST_ITEM_PARAM_WORLD_POSITION, 0.0, out);
    EXPECT_NE(host.trace().text().find("LW Item Info 6.param item=0x1 code=8 time=0 -> (1,0,0)"), std::string::npos)
        << host.trace().text();
    host.trace().clear();
    host.trace().enable(false);
    items->param(sim::Host::item_handle(a), HOST_ITEM_PARAM_WORLD_POSITION, 0.0, out);
    EXPECT_TRUE(host.trace().lines().empty());
}

// ---- Modules and tool sessions ----------------------------------------------------------------

struct ProbeFixture : ::testing::Test {
    sim::Host host;
    sim::Module module{sim::module_path("zendro_test_probe")};
    void SetUp() override { ASSERT_TRUE(module.ok()) << module.error(); }
};

TEST_F(ProbeFixture, LoadsDescriptorAndServerTable) {
    const std::vector<unsigned char> bytes = module.descriptor_bytes();
    ASSERT_EQ(bytes.size(), sizeof(void *) == 8 ? 40u : 24u);
    uint32_t sync;
    std::memcpy(&sync, bytes.data(), 4);
    EXPECT_EQ(sync, 0x04121994u);
    EXPECT_EQ(module.server_count(), 1u);
    EXPECT_TRUE(module.terminated());
    EXPECT_NE(module.find_server("LayoutTool", "Zendro_Probe"), nullptr);
    EXPECT_EQ(reinterpret_cast<intptr_t>(module.startup()), 4);
    EXPECT_FALSE(sim::Module("no/such/module.so").ok());
}

TEST_F(ProbeFixture, ActivationFillsSlots0To11AndLeavesSlot12) {
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0) << host.report();
    for (int s = 0; s < 12; ++s) EXPECT_TRUE(tool.slot_filled(s)) << s;
    EXPECT_EQ(tool.slot(12), sim::Tool::sentinel(12));
    EXPECT_EQ(tool.change_query(), 0);
    const host_tool_event e = host.event_in(2, 320, 240, 25);
    EXPECT_EQ(tool.mouse_down(e), 1);
    tool.mouse_move(e);
    EXPECT_EQ(tool.change_query(), 3);
    EXPECT_STREQ(tool.tool_text(e), "Probe");
    tool.notify(2);
    ASSERT_EQ(host.instance_updates().size(), 1u);
    EXPECT_EQ(host.instance_updates()[0].instance, tool.instance());
    tool.release();
    EXPECT_TRUE(host.last_panel()->destroyed);
    EXPECT_TRUE(host.clean()) << host.report();
    tool.mouse_move(e);
    EXPECT_TRUE(host.has_violation("tool-instance-released"));
}

TEST_F(ProbeFixture, ModuleWritesReachTheSceneAndTheTrace) {
    const sim::ItemId a = host.add_item("A");
    host.select({a});
    host.set_time(3.0);
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    tool.mouse_move(sim::make_event({0, 0, 0}, {0, 0, 1}, 25));
    tool.mouse_move(sim::make_event({0, 0, 0}, {0, 0, 1}, 30));
    EXPECT_EQ(host.keys(a, "Position.X").size(), 1u);
    EXPECT_EQ(host.key_at(a, "Position.X", 3.0), 30.0);
    const std::string trace = host.trace().text();
    EXPECT_NE(trace.find("B host->module mouse_move"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Animation Envelopes.create_key"), std::string::npos) << trace;
    EXPECT_TRUE(host.clean()) << host.report();
}

TEST_F(ProbeFixture, DrawingRecordsOperationsAndTrapsItsUnnamedRoutines) {
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    const std::vector<sim::DrawOp> ops = tool.draw(2);
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].kind, sim::DrawOp::Colour);
    EXPECT_EQ(ops[0].rgba[3], 1.0f);
    EXPECT_EQ(ops[1].kind, sim::DrawOp::Line);
    EXPECT_EQ(ops[1].to, (sim::Vec3{3, 4, 0.01}));
    EXPECT_EQ(ops[1].coords, HOST_DRAW_WINDOW);
    EXPECT_TRUE(host.clean()) << host.report();
    tool.draw(7);
    ASSERT_TRUE(host.has_violation("service-trap-called"));
    EXPECT_NE(host.first_violation()->message.find("drawing record"), std::string::npos);
}

TEST_F(ProbeFixture, PanelCreateFailureGivesActivationResult2) {
    host.fail_panel_create();
    sim::Tool tool(host, module);
    EXPECT_EQ(tool.activate(), 2);
    EXPECT_FALSE(tool.active());
    tool.change_query();
    EXPECT_TRUE(host.has_violation("tool-not-active"));
}

// ---- Allocation hooks -------------------------------------------------------------------------

TEST_F(ProbeFixture, AllocationHooksCountAndFailTheModulesAllocations) {
    ASSERT_TRUE(sim::alloc_hooks_available()) << sim::alloc_hooks_unavailable_reason();
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    const host_tool_event e = sim::make_event({0, 0, 0}, {0, 0, 1}, 64);
    sim::AllocCounts moved;
    {
        sim::AllocScope scope;
        tool.mouse_move(e); // one block allocated and freed by the module; the host's own pass no hook
        moved = scope.delta();
    }
    EXPECT_EQ(moved.malloc_calls, 1u);
    EXPECT_EQ(moved.free_calls, 1u);
    tool.release();

    sim::Tool second(host, module);
    int32_t result;
    sim::AllocCounts activation;
    {
        sim::AllocScope scope;
        sim::alloc_fail_next(1);
        result = second.activate(); // the instance allocation is the module's first
        activation = scope.delta();
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(activation.failed_calls, 1u);
    EXPECT_EQ(activation.allocations(), 1u); // the compiler may turn malloc + memset into calloc
}

TEST_F(ProbeFixture, HeldBlocksFollowTheModulesCallsAndTheFailurePlan) {
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    const size_t blocks = sim::alloc_live_blocks(), bytes = sim::alloc_live_bytes(); // the instance
    sim::AllocScope scope;
    tool.notify(3); // malloc(40)
    EXPECT_EQ(sim::alloc_live_blocks(), blocks + 1);
    EXPECT_EQ(sim::alloc_live_bytes(), bytes + 40);
    sim::alloc_fail_after(1, 1, 100); // the 40-byte requests below do not qualify
    tool.notify(6);                   // realloc to 4000: let through
    EXPECT_EQ(sim::alloc_live_bytes(), bytes + 4000);
    tool.notify(6); // refused: the module keeps its block
    EXPECT_EQ(scope.delta().failed_calls, 1u);
    EXPECT_EQ(sim::alloc_live_blocks(), blocks + 1);
    EXPECT_EQ(sim::alloc_live_bytes(), bytes + 4000);
    tool.notify(6); // the plan is spent
    tool.notify(4); // free
    EXPECT_EQ(sim::alloc_live_blocks(), blocks);
    EXPECT_EQ(sim::alloc_live_bytes(), bytes);
    tool.notify(8); // calloc(5, 8)
    EXPECT_EQ(sim::alloc_live_bytes(), bytes + 40);
    tool.notify(7); // realloc to 0: held or freed, as the C runtime answers
    tool.notify(4); // frees what that answered (free(null) when it freed the block)
    EXPECT_EQ(sim::alloc_live_blocks(), blocks);
    EXPECT_EQ(sim::alloc_live_bytes(), bytes);
    const sim::AllocCounts d = scope.delta();
    EXPECT_EQ(d.malloc_calls, 1u);
    EXPECT_EQ(d.calloc_calls, 1u);
    EXPECT_EQ(d.realloc_calls, 4u);
    EXPECT_EQ(d.failed_calls, 1u);
    EXPECT_EQ(d.unknown_frees, 0u);
    EXPECT_TRUE(host.clean()) << host.report();
}

// Passed on, any of these would abort the process or corrupt the heap.
TEST_F(ProbeFixture, FreeOfABlockTheModuleDoesNotHoldIsReportedAndNotPassedOn) {
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    const size_t blocks = sim::alloc_live_blocks();
    sim::AllocScope scope;
    tool.notify(3);
    tool.notify(4);
    tool.notify(4); // the same block again
    ASSERT_EQ(host.violation_count("memory-free-unknown"), 1u);
    EXPECT_NE(host.first_violation()->message.find("already freed"), std::string::npos) << host.report();
    tool.notify(6); // realloc of the freed block: answered null
    tool.notify(5); // a static object's address
    ASSERT_EQ(host.violation_count("memory-free-unknown"), 3u);
    EXPECT_NE(host.violations().back().message.find("never allocated"), std::string::npos) << host.report();
    EXPECT_EQ(sim::alloc_live_blocks(), blocks);
    EXPECT_EQ(scope.delta().unknown_frees, 3u);
}

} // namespace
