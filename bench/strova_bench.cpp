// The additive rotation module's selection snapshot (a press in a viewport) and one heading drag
// move, for 1, 1,000 and 100,000 selected items, each beside a baseline loop that makes the same
// host calls directly with precomputed values. Prints the module / baseline ratio per size and the
// module's heap allocations per move (counted by the simulator's allocation hooks). Trace off
// throughout.
#include "bench/bench_common.h"

namespace {

const char *const kRot[3] = {"Rotation.H", "Rotation.P", "Rotation.B"};
const char *const kInfoLabel[3] = {"H", "P", "B"};
const sim::Vec3 kHeadingView = {0.0, 1.0, 0.0};

// One scene of `n` selected items with the tool active.
struct Scene : bench::Session {
    int64_t n = 0;
    // What the baseline needs precomputed besides the keys (each item's heading), captured from
    // the module's own calls: the three info texts each move shows.
    char texts[2][3][512] = {}; // H, P, B, per move
    host_control *info_field[3] = {};

    explicit Scene(int64_t count) : Session("strova_bench", "zendro_strova"), n(count) {
        std::vector<sim::ItemId> ids;
        ids.reserve(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) {
            const double f = static_cast<double>(i);
            ids.push_back(host.add_item("I", {}, {0.001 * f, -0.002 * f, 0.0}));
        }
        host.select(ids);
        activate();
        sim::Panel &p = *host.last_panel();
        for (int c = 0; c < 3; ++c) info_field[c] = p.find(HOST_TYPE_INFO, kInfoLabel[c])->handle();
        env = envelopes_named(kRot, 1);
        press = sim::make_event({}, kHeadingView);
        moves[0] = sim::make_event({}, kHeadingView, 250);
        moves[1] = sim::make_event({}, kHeadingView, 333);
        tool->mouse_down(press);
        for (int m = 0; m < 2; ++m) {
            target[m] = values_keyed_by(moves[m], env.size());
            // The host kept what fits its length of 10; the texts here are short enough to be whole.
            for (int c = 0; c < 3; ++c)
                std::snprintf(texts[m][c], sizeof texts[m][c], "%s", control(info_field[c]).text_value.c_str());
        }
        // Every heading channel now holds a key at the current time: moves replace keys on both sides.
    }
};

Scene &scene_for(int64_t n) { return bench::scene_for<Scene>(n); }

void set_text(host_control *c, char *text) {
    host_value_text value = {HOST_VALUE_TEXT, text, 10};
    c->set(c, HOST_CTL_VALUE, &value);
}

// ---- Snapshot: the press ----

// The host calls of a snapshot: the selection count, then per item the rotation query and the
// channel walk with names and envelopes, each name tested against the three rotation names.
void BM_SnapshotBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    for (auto _ : state) {
        const host_item *sel = s.interface_info->selected;
        int64_t n = 0;
        while (sel[n]) ++n;
        for (int64_t i = 0; i < n; ++i) {
            double rot[3];
            s.item->param(sel[i], HOST_ITEM_PARAM_ROTATION, s.time->time, rot);
            host_envelope found[3] = {nullptr, nullptr, nullptr};
            s.walk_channels(sel[i], kRot, 3, found);
            benchmark::DoNotOptimize(rot);
            benchmark::DoNotOptimize(found);
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- One drag move ----

// The host calls of a move: the three info texts, then per item the key look-up at the current
// time and the value set of the heading, with the texts and headings already known.
void BM_MoveBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    int64_t i = 0;
    for (auto _ : state) {
        const int m = static_cast<int>(i++ & 1);
        for (int c = 0; c < 3; ++c) set_text(s.info_field[c], s.texts[m][c]);
        s.write_targets(m);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

int main(int argc, char **argv) {
    return bench::run<Scene>(argc, argv, {"snapshot", BM_SnapshotBaseline, BM_MoveBaseline});
}
