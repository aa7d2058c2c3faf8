// The fixture the tool module tests share: a strict simulated host, the module loaded from its built
// file as the host loads it, the tool activated; at the end the host must have seen no violation.
#ifndef TESTS_TOOL_TEST_H
#define TESTS_TOOL_TEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "host/simulator.h"

class ToolTest : public ::testing::Test {
protected:
    explicit ToolTest(const char *module_name) : module(sim::module_path(module_name)) {}

    sim::Host host;
    sim::Module module;
    std::unique_ptr<sim::Tool> tool;

    // A fixture that sets the host up first (forbidden services, the time) calls this from its SetUp.
    void start() {
        ASSERT_TRUE(module.ok()) << module.error();
        module.startup();
        activate();
    }
    // A new session of the tool, replacing the current one.
    void activate() {
        tool.reset();
        tool = std::make_unique<sim::Tool>(host, module);
        ASSERT_EQ(tool->activate(), 0);
    }
    void SetUp() override { start(); }
    void TearDown() override {
        tool.reset();
        EXPECT_TRUE(host.clean()) << host.report();
    }

    sim::Panel &panel() { return *host.last_panel(); }
    // The occurrence-th control of the type with the label, in creation order.
    sim::Control &ctl(const char *type, const char *label, int occurrence = 0) {
        sim::Control *c = panel().find(type, label, occurrence);
        EXPECT_NE(c, nullptr) << type << " " << label << " " << occurrence;
        return *c;
    }
    // As a user: change the control's value, then its callback runs.
    template <typename Value> void user_changes(sim::Control &c, Value value) {
        host.user_set_value(c, value);
        host.fire(c);
    }
    void choose(const char *label, int32_t value) { user_changes(ctl(HOST_TYPE_CHOICE, label), value); }
    void apply() { host.fire(ctl(HOST_TYPE_BUTTON, "Apply")); }
};

#endif // TESTS_TOOL_TEST_H
