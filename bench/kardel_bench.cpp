// The custom rotation module's gather (a press in a viewport away from the centre's cross) and one
// rotating move about Y, for 1, 1,000 and 100,000 selected items, each beside a baseline loop that
// makes the same host calls directly with precomputed values. Prints the module / baseline ratio
// per size and the module's heap allocations per move (counted by the simulator's allocation
// hooks). Trace off throughout.
#include "bench/bench_common.h"

namespace {

constexpr int32_t kAlongY = 1;
const char *const kTargets[6] = {"Position.X", "Position.Y", "Position.Z", "Rotation.H", "Rotation.P", "Rotation.B"};
const char *const kCentreLabel[3] = {" X", " Y", " Z"};

// One scene of `n` selected items with the tool active.
struct Scene : bench::Session {
    int64_t n = 0;
    // What the baseline needs precomputed besides the keys (each item's X and Z: a turn about Y
    // keys only those), captured from the module's own calls: the heading field each move shows,
    // the centre fields a gather and a move show.
    double heading[2] = {};
    double centre[3] = {};
    host_panel panel_handle = nullptr;
    host_panel_services_v2 *panel = nullptr;
    host_viewport_info_v5 *viewport = nullptr;
    host_control *heading_field = nullptr;
    host_control *centre_field[3] = {};

    explicit Scene(int64_t count) : Session("kardel_bench", "zendro_kardel"), n(count) {
        std::vector<sim::ItemId> ids;
        ids.reserve(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) {
            const double f = static_cast<double>(i);
            ids.push_back(host.add_item("I", {1.0 + f, 0.5 * f, -0.25 * f}, {0.001 * f, 0.0, -0.002 * f}));
        }
        host.select(ids);
        activate();
        panel = static_cast<host_panel_services_v2 *>(host.service(HOST_SERVICE_PANEL));
        viewport = static_cast<host_viewport_info_v5 *>(host.service(HOST_SERVICE_VIEWPORT));
        sim::Panel &p = *host.last_panel();
        panel_handle = p.handle;
        heading_field = p.find(HOST_TYPE_FLOAT, " H")->handle();
        for (int c = 0; c < 3; ++c) centre_field[c] = p.find(HOST_TYPE_FLOAT, kCentreLabel[c])->handle();

        const std::vector<host_envelope> xyz = envelopes_named(kTargets, 3);
        env.reserve(2 * static_cast<size_t>(n));
        for (size_t i = 0; i < xyz.size(); i += 3) {
            env.push_back(xyz[i]);
            env.push_back(xyz[i + 2]);
        }
        press = host.event_in(kAlongY, 40, 40);
        moves[0] = host.event_in(kAlongY, 60, 40, 250, 0);
        moves[1] = host.event_in(kAlongY, 70, 40, 333, 0);
        // A press that grabbed the cross would make the moves key nothing: values_keyed_by stops then.
        tool->mouse_down(press);
        for (int c = 0; c < 3; ++c) centre[c] = control(centre_field[c]).float_value;
        // "Keep" (the method at activation) keys X and Z per item, in selection order.
        for (int m = 0; m < 2; ++m) {
            target[m] = values_keyed_by(moves[m], env.size());
            heading[m] = control(heading_field).float_value;
        }
        // Every X and Z channel now holds a key at the current time: moves replace keys on both sides.
    }
};

Scene &scene_for(int64_t n) { return bench::scene_for<Scene>(n); }

// ---- Gather: the press ----

// The host calls of a press that misses the cross, with "Custom" origin: the pivot and the press
// projected, two passes over the selection (the position query; then the position and rotation
// queries and the channel walk against the six target names), the panel poll and the centre fields.
void BM_GatherBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    const double pivot[3] = {0.0, 0.0, 0.0};
    for (auto _ : state) {
        double win[2][3];
        s.viewport->project(kAlongY, pivot, &win[0][0], &win[0][1], &win[0][2]);
        s.viewport->project(kAlongY, s.press.point, &win[1][0], &win[1][1], &win[1][2]);
        benchmark::DoNotOptimize(win);
        const host_item *sel = s.interface_info->selected;
        double sum[3], pos[3], rot[3];
        const int64_t n = s.position_sum(sum);
        benchmark::DoNotOptimize(sum);
        for (int64_t i = 0; i < n; ++i) {
            s.item->param(sel[i], HOST_ITEM_PARAM_WORLD_POSITION, s.time->time, pos);
            s.item->param(sel[i], HOST_ITEM_PARAM_ROTATION, s.time->time, rot);
            host_envelope found[6] = {};
            s.walk_channels(sel[i], kTargets, 6, found);
            benchmark::DoNotOptimize(pos);
            benchmark::DoNotOptimize(rot);
            benchmark::DoNotOptimize(found);
        }
        if (s.panel->poll(s.panel_handle, 0) >= 0)
            for (int c = 0; c < 3; ++c) bench::set_float(s.centre_field[c], s.centre[c]);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- One rotating move ----

// The host calls of a move: the panel poll, the heading and centre fields, then per item the key
// look-up at the current time and the value set of X and Z, with the values already known.
void BM_MoveBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    int64_t i = 0;
    for (auto _ : state) {
        const int m = static_cast<int>(i++ & 1);
        if (s.panel->poll(s.panel_handle, 0) >= 0) {
            bench::set_float(s.heading_field, s.heading[m]);
            for (int c = 0; c < 3; ++c) bench::set_float(s.centre_field[c], s.centre[c]);
        }
        s.write_targets(m);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

int main(int argc, char **argv) {
    return bench::run<Scene>(argc, argv, {"gather", BM_GatherBaseline, BM_MoveBaseline});
}
