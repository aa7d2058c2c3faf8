// Library and instance checks every tool module must pass, run on the built module files through
// the host simulator: the descriptor and server table as the host reads them, start-up, the
// service look-ups of activation, its result codes, the callback table, and release.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "host/sim/alloc_hooks.h"
#include "host/sim/simulator.h"

namespace {

struct ModuleCase {
    const char *file;        // deliverable base name
    const char *server;      // server name
    const char *panel_title; // the tool's panel
    bool instance_update;    // binds "Instance Update" as an eleventh service
};

const ModuleCase kModules[] = {
    {"zendro_kardel", "Zendro_Kardel", "Zendro Kardel", true},
    {"zendro_strova", "Zendro_Strova", "Zendro Strova", false},
    {"zendro_menlix", "Zendro_Menlix", "Zendro Menlix", false},
};

class ModuleFrame : public ::testing::TestWithParam<ModuleCase> {
protected:
    sim::Host host;
    sim::Module module{sim::module_path(GetParam().file)};

    void SetUp() override {
        host.trace().enable(true);
        ASSERT_TRUE(module.ok()) << module.error();
    }
    void TearDown() override { EXPECT_TRUE(host.clean()) << host.report(); }
};

TEST_P(ModuleFrame, DescriptorLayoutAsTheHostReadsIt) {
    const std::vector<unsigned char> bytes = module.descriptor_bytes();
    const bool wide = sizeof(void *) == 8;
    ASSERT_EQ(bytes.size(), wide ? 40u : 24u);
    uint32_t word[3];
    std::memcpy(word, bytes.data(), sizeof word);
    EXPECT_EQ(word[0], 0x04121994u);
    EXPECT_EQ(word[1], 3u);
    EXPECT_EQ(word[2], 0x300u);
    if (wide) {
        uint32_t pad;
        std::memcpy(&pad, bytes.data() + 12, 4);
        EXPECT_EQ(pad, 0u);
    }
    // The start-up routine sits at 16 on x86-64 and at 12 on 32-bit x86.
    void *startup = nullptr;
    std::memcpy(&startup, bytes.data() + (wide ? 16 : 12), sizeof startup);
    EXPECT_EQ(startup, reinterpret_cast<void *>(module.descriptor()->startup));
    void *servers = nullptr;
    std::memcpy(&servers, bytes.data() + (wide ? 32 : 20), sizeof servers);
    EXPECT_EQ(servers, static_cast<const void *>(module.descriptor()->servers));
}

TEST_P(ModuleFrame, OneServerRecordThenTheNullRecord) {
    ASSERT_EQ(module.server_count(), 1u);
    EXPECT_TRUE(module.terminated());
    const host_server_record *s = module.servers()[0];
    EXPECT_STREQ(s->class_name, "LayoutTool");
    EXPECT_STREQ(s->server_name, GetParam().server);
    EXPECT_NE(s->activate, nullptr);
    EXPECT_EQ(s->tags, nullptr);
}

TEST_P(ModuleFrame, StartupAnswersFourEveryTime) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(reinterpret_cast<uintptr_t>(module.startup()), 4u);
    module.shutdown();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(module.startup()), 4u);
}

TEST_P(ModuleFrame, ServicesLookedUpInTheFixedOrderWithModeZero) {
    module.startup();
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    std::vector<std::string> expected = {"Info Messages 3",    "LWPanelServices 2", "LW Command Interface",
                                         "LW Viewport Info 5", "Product Info",      "LW Interface Info 7",
                                         "LW Item Info 6",     "LW Time Info",      "Channel Info 2",
                                         "Animation Envelopes"};
    if (GetParam().instance_update) expected.push_back("Instance Update");
    EXPECT_EQ(host.lookup_names(), expected);
    for (const sim::Lookup &l : host.lookups()) EXPECT_EQ(l.mode, 0) << l.name;
    // The panel services hold the global function before the panel is built.
    EXPECT_EQ(host.panel_services().global, host.global_function());
}

TEST_P(ModuleFrame, ActivationOpensThePanelAndFillsSlotsZeroToEleven) {
    module.startup();
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    ASSERT_NE(tool.instance(), nullptr);
    for (int s = 0; s <= 11; ++s) EXPECT_TRUE(tool.slot_filled(s)) << "slot " << s;
    EXPECT_EQ(tool.slot(12), sim::Tool::sentinel(12));
    sim::Panel *p = host.last_panel();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->title, GetParam().panel_title);
    EXPECT_TRUE(p->open);
    ASSERT_NE(p->key_callback, nullptr);
    EXPECT_EQ(host.press_key(*p, 0x1234), 0x1234);
    EXPECT_EQ(host.press_key(*p, 0xFFFF), 0xFFFF);
    EXPECT_EQ(tool.change_query(), 3); // the panel build marks a change
}

TEST_P(ModuleFrame, SimpleCallbacks) {
    module.startup();
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    const host_tool_event e = sim::make_event({1, 2, 3}, {0, 1, 0}, 5, 6, 8, 1);
    EXPECT_EQ(tool.handle_count(e), 0);
    double pos[3] = {7.0, 8.0, 9.0};
    EXPECT_EQ(tool.handle_position(e, 0, pos), 1);
    EXPECT_EQ(tool.handle_position(e, 4, pos), 5);
    // Any index the host passes: the answer wraps instead of overflowing (the sanitizer build stops
    // on a signed overflow).
    EXPECT_EQ(tool.handle_position(e, INT32_MAX, pos), INT32_MIN);
    EXPECT_EQ(tool.handle_position(e, -1, pos), 0);
    EXPECT_EQ(pos[0], 7.0);
    EXPECT_EQ(pos[1], 8.0);
    EXPECT_EQ(pos[2], 9.0);
    EXPECT_EQ(tool.handle_adjust(e, 0), 0);
    for (int code : {0, 2, -1, 1}) tool.notify(code);
    EXPECT_EQ(tool.change_query(), 3);
    EXPECT_EQ(host.total_key_count(), 0u);
}

TEST_P(ModuleFrame, PanelRefusedGivesTwoAndLeavesNothingBehind) {
    module.startup();
    host.fail_panel_create();
    sim::Tool tool(host, module);
    EXPECT_EQ(tool.activate(), 2);
    // The host will not call release for a failed activation: the module must not leave the instance.
    EXPECT_EQ(tool.instance(), nullptr);
    for (int s = 0; s <= 12; ++s) EXPECT_EQ(tool.slot(s), sim::Tool::sentinel(s)) << "slot " << s;
    // A later activation in the same loaded module works.
    host.fail_panel_create(false);
    sim::Tool again(host, module);
    EXPECT_EQ(again.activate(), 0);
}

TEST_P(ModuleFrame, MissingServiceRefusesActivationCleanly) {
    module.startup();
    for (const char *name : {"LWPanelServices 2", "LW Time Info", "Animation Envelopes"}) {
        host.set_missing(name);
        sim::Tool tool(host, module);
        EXPECT_EQ(tool.activate(), 2) << name;
        EXPECT_EQ(tool.instance(), nullptr) << name;
        host.set_missing(name, false);
    }
    // Services bound but never used may be absent.
    for (const char *name : {"Info Messages 3", "LW Command Interface", "Product Info"}) host.set_missing(name);
    sim::Tool tool(host, module);
    EXPECT_EQ(tool.activate(), 0);
}

TEST_P(ModuleFrame, ReleaseClosesAnOpenPanelAndDestroysIt) {
    module.startup();
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    sim::Panel *p = host.last_panel();
    tool.release();
    EXPECT_EQ(p->close_calls, 1u);
    EXPECT_TRUE(p->destroyed);
}

TEST_P(ModuleFrame, ReleaseAfterTheUserClosedThePanelOnlyDestroysIt) {
    module.startup();
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    sim::Panel *p = host.last_panel();
    host.user_close(*p);
    tool.release();
    EXPECT_EQ(p->close_calls, 0u);
    EXPECT_TRUE(p->destroyed);
}

TEST_P(ModuleFrame, ToolTextIgnoresTheEvent) {
    module.startup();
    sim::Tool tool(host, module);
    ASSERT_EQ(tool.activate(), 0);
    const char *a = tool.tool_text(sim::make_event({0, 0, 0}, {1, 0, 0}));
    const char *b = tool.tool_text(sim::make_event({5, 5, 5}, {0, 0, 1}, 99, -3, 8, 2));
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a, b);
}

// Every block the module allocates is its own to free: at release, and at a refused activation,
// for which the host calls no release.
TEST_P(ModuleFrame, EveryBlockIsFreedAtReleaseAndAtARefusedActivation) {
    module.startup();
    std::vector<sim::ItemId> items;
    for (int i = 0; i < 6; ++i) items.push_back(host.add_item("I", {1.0 + i, 2, 3}));
    const host_tool_event press = host.event_in(2, 5, 5); // far from any centre or origin handle
    {
        SCOPED_TRACE("a session: presses on two, six, then no items, then one");
        const size_t before = sim::alloc_live_blocks();
        sim::Tool tool(host, module);
        ASSERT_EQ(tool.activate(), 0);
        EXPECT_GT(sim::alloc_live_blocks(), before);
        host.select({items[0], items[1]});
        tool.mouse_down(press);
        host.select(items);
        tool.mouse_down(press);
        host.select({}); // the table is given back while nothing is selected
        tool.mouse_down(press);
        host.select({items[0]});
        tool.mouse_down(press);
        tool.release();
        EXPECT_EQ(sim::alloc_live_blocks(), before);
    }
    {
        SCOPED_TRACE("a refused item-table resize");
        const size_t before = sim::alloc_live_blocks();
        sim::Tool tool(host, module);
        ASSERT_EQ(tool.activate(), 0);
        host.select({items[0]});
        tool.mouse_down(press);
        const size_t held = sim::alloc_live_blocks(), bytes = sim::alloc_live_bytes();
        host.select(items);
        sim::AllocScope scope;
        sim::alloc_fail_next(1);
        tool.mouse_down(press);
        EXPECT_EQ(scope.delta().failed_calls, 1u) << "the press asked for a larger table";
        EXPECT_EQ(sim::alloc_live_blocks(), held) << "the module keeps its old table";
        EXPECT_EQ(sim::alloc_live_bytes(), bytes);
        tool.release();
        EXPECT_EQ(sim::alloc_live_blocks(), before);
    }
    {
        SCOPED_TRACE("activation answers 2: the panel is refused");
        const size_t before = sim::alloc_live_blocks();
        host.fail_panel_create();
        sim::Tool tool(host, module);
        EXPECT_EQ(tool.activate(), 2);
        host.fail_panel_create(false);
        EXPECT_EQ(sim::alloc_live_blocks(), before);
    }
    {
        SCOPED_TRACE("activation answers 1: its first allocation is refused");
        const size_t before = sim::alloc_live_blocks();
        sim::AllocScope scope;
        sim::alloc_fail_next(1);
        sim::Tool tool(host, module);
        EXPECT_EQ(tool.activate(), 1);
        EXPECT_EQ(scope.delta().failed_calls, 1u);
        EXPECT_EQ(sim::alloc_live_blocks(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleFrame, ::testing::ValuesIn(kModules),
                         [](const ::testing::TestParamInfo<ModuleCase> &p) { return std::string(p.param.file); });

} // namespace
