// The fixture the tool module tests share: a strict simulated host, the module loaded from its built
// file as the host loads it, the tool activated; at the end the host must have seen no violation.
#ifndef TESTS_TOOL_TEST_H
#define TESTS_TOOL_TEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/sim/simulator.h"

// Thrown when a test asks for a control or panel the module did not make: the test stops there and
// GoogleTest reports it as a failure with this message, instead of the test dereferencing null.
struct MissingControl : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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

    // The panel of the latest activation.
    sim::Panel &panel() {
        sim::Panel *p = host.last_panel();
        if (!p) throw MissingControl("the module created no panel");
        return *p;
    }
    // The occurrence-th control (from 0) of the type with the label, in creation order.
    sim::Control &ctl(const char *type, const char *label, int occurrence = 0) {
        sim::Control *c = panel().find(type, label, occurrence);
        if (!c) {
            throw MissingControl("panel \"" + panel().title + "\" has no " + type + " labelled \"" + label +
                                 "\" (occurrence " + std::to_string(occurrence) + " from 0; " +
                                 std::to_string(panel().controls.size()) + " controls)");
        }
        return *c;
    }
    // As a user: change the control's value, then its callback runs.
    template <typename Value> void user_changes(sim::Control &c, Value value) {
        host.user_set_value(c, value);
        host.fire(c);
    }
    void choose(const char *label, int32_t value) { user_changes(ctl(HOST_TYPE_CHOICE, label), value); }
    void apply() { host.fire(ctl(HOST_TYPE_BUTTON, "Apply")); }

    // What the host saw of one action: the controls whose value the module wrote (creation indices),
    // the "Instance Update" calls, the keys written, and the change query's answer afterwards.
    struct Seen {
        std::set<size_t> written;
        size_t updates = 0;
        size_t keys = 0;
        int32_t change = 0;
    };
    template <typename Action> Seen host_sees(Action action) {
        std::vector<size_t> before;
        for (const auto &c : panel().controls) before.push_back(c->value_writes);
        const size_t updates = host.instance_updates().size(), keys = host.writes().size();
        action();
        Seen seen;
        for (size_t i = 0; i < before.size(); ++i)
            if (panel().controls[i]->value_writes != before[i]) seen.written.insert(i);
        seen.updates = host.instance_updates().size() - updates;
        seen.keys = host.writes().size() - keys;
        seen.change = tool->change_query();
        return seen;
    }

    // One user action and what the host must see of it.
    struct SeenRow {
        const char *what;
        std::function<void()> act;
        std::set<size_t> written; // controls whose value the module writes
        bool keys;                // whether it writes any key
    };
    // Plays the rows in order; after each the change query must answer 3.
    void expect_host_sees(const std::vector<SeenRow> &rows) {
        for (const SeenRow &r : rows) {
            const Seen seen = host_sees(r.act);
            EXPECT_EQ(seen.written, r.written) << r.what;
            EXPECT_EQ(seen.keys > 0, r.keys) << r.what;
            EXPECT_EQ(seen.change, 3) << r.what;
        }
    }
};

#endif // TESTS_TOOL_TEST_H
