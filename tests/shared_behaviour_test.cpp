// Behaviour the three tool modules share, run on each built module through the host simulator: the
// panel as a user sees it, which channels a drag or Apply keys (span match, missing channels, keys
// already at the current time), an item table that cannot grow, the first events of a session, and
// a press after the marker was dragged.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/alloc_hooks.h"
#include "host/simulator.h"
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
     12},
    {Kind::Strova,
     "strova",
     "zendro_strova",
     {"Rotation.H"},
     {},
     {"Rotation.H", "Rotation.P"},
     // H, P, B with their drag buttons and info fields.
     {{0, 3, 7}, {1, 4, 8}, {2, 5, 9}, {6}},
     2},
    {Kind::Menlix,
     "menlix",
     "zendro_menlix",
     {"Position.X", "Position.Z"},
     {"Position.Y", "Position.Z"},
     {"Position.Y"},
     // Origin; Method; the Scale and Origin headings; Scale and Origin X, Y, Z with their drag buttons.
     {{0}, {1}, {2, 3}, {4, 7, 10, 13}, {5, 8, 11, 14}, {6, 9, 12, 15}, {16}},
     12},
};

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
        case Kind::Menlix: host.user_set_value(ctl(HOST_TYPE_FLOAT, " Y"), 2.0); break;
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

INSTANTIATE_TEST_SUITE_P(Tools, ToolPanel, ::testing::ValuesIn(kCases), case_name);

} // namespace
