// The distance scaling module's gather (a press in a viewport) and one scaling move, for 1, 1,000
// and 100,000 selected items, each beside a baseline loop that makes the same host calls directly
// with precomputed values. Prints the module / baseline ratio per size and the module's heap
// allocations per move (counted by the simulator's allocation hooks). Trace off throughout.
#include "bench/bench_common.h"

namespace {

constexpr int32_t kAlongZ = 2;
const char *const kPos[3] = {"Position.X", "Position.Y", "Position.Z"};

// One scene of `n` selected items with the tool active.
struct Scene : bench::Session {
    int64_t n = 0;
    // What the baseline needs precomputed besides the keys (each item's X, Y, Z), captured from
    // the module's own calls: the six fields a move writes, the three a gather writes.
    double move_fields[2][6] = {}; // Scale X, Y, Z, Origin X, Y, Z
    double gather_fields[3] = {};  // Origin X, Y, Z
    host_control *scale_field[3] = {};
    host_control *origin_field[3] = {};

    explicit Scene(int64_t count) : Session("menlix_bench", "zendro_menlix"), n(count) {
        std::vector<sim::ItemId> ids;
        ids.reserve(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) {
            const double f = static_cast<double>(i);
            ids.push_back(host.add_item("I", {f, 0.5 * f, -0.25 * f}));
        }
        host.select(ids);
        activate();
        sim::Panel &p = *host.last_panel();
        static const char *const labels[3] = {" X", " Y", " Z"};
        for (int c = 0; c < 3; ++c) {
            scale_field[c] = p.find(HOST_TYPE_FLOAT, labels[c], 0)->handle();
            origin_field[c] = p.find(HOST_TYPE_FLOAT, labels[c], 1)->handle();
        }
        env = envelopes_named(kPos, 3);
        press = host.event_in(kAlongZ, 3, 3);
        moves[0] = host.event_in(kAlongZ, 3, 3, 50, 10);
        moves[1] = host.event_in(kAlongZ, 3, 3, 60, 23);
        tool->mouse_down(press);
        for (int c = 0; c < 3; ++c) gather_fields[c] = control(origin_field[c]).float_value;
        // "Scale" (the method at activation) keys every axis, items in selection order, X, Y, Z.
        for (int m = 0; m < 2; ++m) {
            target[m] = values_keyed_by(moves[m], env.size());
            for (int c = 0; c < 3; ++c) {
                move_fields[m][c] = control(scale_field[c]).float_value;
                move_fields[m][3 + c] = control(origin_field[c]).float_value;
            }
        }
        // Every position channel now holds a key at the current time: moves replace keys on both sides.
    }
};

Scene &scene_for(int64_t n) { return bench::scene_for<Scene>(n); }

// ---- Gather: the press ----

// The host calls of a gather in "Center of Objs" mode: two passes over the selection with the
// position query, the channel walk with names and envelopes, the three Origin fields.
void BM_GatherBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    for (auto _ : state) {
        const host_item *sel = s.interface_info->selected;
        double sum[3], pos[3];
        const int64_t n = s.position_sum(sum);
        for (int c = 0; c < 3; ++c) bench::set_float(s.origin_field[c], s.gather_fields[c]);
        for (int64_t i = 0; i < n; ++i) {
            s.item->param(sel[i], HOST_ITEM_PARAM_WORLD_POSITION, s.time->time, pos);
            host_envelope found[3];
            s.walk_channels(sel[i], kPos, 3, found);
            benchmark::DoNotOptimize(found);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- One scaling move ----

// The host calls of a move: the six panel fields, then per item and axis the key look-up at the
// current time and the value set, with the targets already known.
void BM_MoveBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    int64_t i = 0;
    for (auto _ : state) {
        const int m = static_cast<int>(i++ & 1);
        const double *fields = s.move_fields[m];
        for (int c = 0; c < 3; ++c) bench::set_float(s.scale_field[c], fields[c]);
        for (int c = 0; c < 3; ++c) bench::set_float(s.origin_field[c], fields[3 + c]);
        s.write_targets(m);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

int main(int argc, char **argv) {
    return bench::run<Scene>(argc, argv, {"gather", BM_GatherBaseline, BM_MoveBaseline});
}
