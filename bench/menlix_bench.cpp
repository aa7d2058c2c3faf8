// The distance scaling module's gather (a press in a viewport) and one scaling move, for 1, 1,000
// and 100,000 selected items, each beside a baseline loop that makes the same host calls directly
// with precomputed values. Prints the module / baseline ratio per size and the module's heap
// allocations per move (counted by the simulator's allocation hooks). Trace off throughout.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/alloc_hooks.h"
#include "host/simulator.h"

namespace {

constexpr int32_t kAlongZ = 2;
const char *const kPos[3] = {"Position.X", "Position.Y", "Position.Z"};

// One scene of `n` selected items with the tool active, shared by the four benchmarks of a size
// (the simulator allows one host at a time, so a new size replaces the old scene).
struct Scene {
    int64_t n = 0;
    sim::Host host;
    sim::Module module{sim::module_path("zendro_menlix")};
    std::unique_ptr<sim::Tool> tool;
    // The host's service records, as the module binds them.
    host_interface_info_v7 *interface_info = nullptr;
    host_time_info *time = nullptr;
    host_item_info_v6 *item = nullptr;
    host_channel_info_v2 *channel = nullptr;
    host_envelopes *envelopes = nullptr;
    // The two moves the benchmarks alternate between.
    host_tool_event press{}, moves[2]{};
    // What the baseline needs precomputed, captured from the module's own calls so that both sides
    // hand the host the same numbers (the simulator's cost depends on them): each item's position
    // envelopes, the targets of each move, the six fields a move writes, the three a gather writes.
    std::vector<host_envelope> env;      // 3 per item
    std::vector<double> target[2];       // 3 per item, per move
    double move_fields[2][6] = {};       // Scale X, Y, Z, Origin X, Y, Z
    double gather_fields[3] = {};        // Origin X, Y, Z
    host_control *scale_field[3] = {};
    host_control *origin_field[3] = {};

    explicit Scene(int64_t count) : n(count) {
        host.trace().enable(false);
        host.set_write_log(false);
        host.set_time(1.0);
        std::vector<sim::ItemId> ids;
        ids.reserve(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) {
            const double f = static_cast<double>(i);
            ids.push_back(host.add_item("I", {f, 0.5 * f, -0.25 * f}));
        }
        host.select(ids);
        if (!module.ok()) {
            std::fprintf(stderr, "menlix_bench: %s\n", module.error().c_str());
            std::exit(1);
        }
        module.startup();
        tool = std::make_unique<sim::Tool>(host, module);
        if (tool->activate() != 0) std::exit(1);

        interface_info = static_cast<host_interface_info_v7 *>(host.service(HOST_SERVICE_INTERFACE));
        time = static_cast<host_time_info *>(host.service(HOST_SERVICE_TIME));
        item = static_cast<host_item_info_v6 *>(host.service(HOST_SERVICE_ITEM));
        channel = static_cast<host_channel_info_v2 *>(host.service(HOST_SERVICE_CHANNEL));
        envelopes = static_cast<host_envelopes *>(host.service(HOST_SERVICE_ENVELOPES));
        sim::Panel &p = *host.last_panel();
        static const char *const labels[3] = {" X", " Y", " Z"};
        for (int c = 0; c < 3; ++c) {
            scale_field[c] = p.find(HOST_TYPE_FLOAT, labels[c], 0)->handle();
            origin_field[c] = p.find(HOST_TYPE_FLOAT, labels[c], 1)->handle();
        }
        env.assign(static_cast<size_t>(3 * n), nullptr);
        for (int64_t i = 0; i < n; ++i) {
            const host_item it = interface_info->selected[i];
            const host_group g = item->channel_group(it);
            for (host_channel ch = channel->next_channel(g, nullptr); ch; ch = channel->next_channel(g, ch)) {
                const char *name = channel->channel_name(ch);
                for (int c = 0; c < 3; ++c)
                    if (std::strcmp(name, kPos[c]) == 0) env[static_cast<size_t>(3 * i + c)] = channel->channel_envelope(ch);
            }
        }
        press = host.event_in(kAlongZ, 3, 3);
        moves[0] = host.event_in(kAlongZ, 3, 3, 50, 10);
        moves[1] = host.event_in(kAlongZ, 3, 3, 60, 23);
        tool->mouse_down(press);
        for (int c = 0; c < 3; ++c) gather_fields[c] = control(origin_field[c]).float_value;
        // "Scale" (the method at activation) keys every axis, items in selection order, X, Y, Z.
        for (int m = 0; m < 2; ++m) {
            host.clear_writes();
            host.set_write_log(true);
            tool->mouse_move(moves[m]);
            host.set_write_log(false);
            for (const sim::KeyWrite &w : host.writes()) target[m].push_back(w.value);
            if (target[m].size() != env.size()) {
                std::fprintf(stderr, "menlix_bench: %zu keys for %zu channels\n", target[m].size(), env.size());
                std::exit(1);
            }
            for (int c = 0; c < 3; ++c) {
                move_fields[m][c] = control(scale_field[c]).float_value;
                move_fields[m][3 + c] = control(origin_field[c]).float_value;
            }
        }
        host.clear_writes();
        // Every position channel now holds a key at the current time: moves replace keys on both sides.
    }
    sim::Control &control(host_control *handle) { return *host.find_control(handle); }
    ~Scene() {
        tool.reset();
        if (!host.clean()) std::fprintf(stderr, "menlix_bench: %s\n", host.report().c_str());
    }
};

std::unique_ptr<Scene> g_scene;

Scene &scene_for(int64_t n) {
    if (!g_scene || g_scene->n != n) {
        g_scene.reset();
        g_scene = std::make_unique<Scene>(n);
    }
    return *g_scene;
}

void set_float(host_control *c, double v) {
    host_value_float value = {HOST_VALUE_FLOAT, 0, v};
    c->set(c, HOST_CTL_VALUE, &value);
}

// ---- Gather: the press ----

void BM_GatherModule(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(s.tool->mouse_down(s.press));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The host calls of a gather in "Center of Objs" mode: two passes over the selection with the
// position query, the channel walk with names and envelopes, the three Origin fields.
void BM_GatherBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    for (auto _ : state) {
        const host_item *sel = s.interface_info->selected;
        double sum[3] = {0, 0, 0}, pos[3];
        int64_t n = 0;
        for (const host_item *it = sel; *it; ++it, ++n) {
            s.item->param(*it, HOST_ITEM_PARAM_WORLD_POSITION, s.time->time, pos);
            for (int c = 0; c < 3; ++c) sum[c] += pos[c];
        }
        for (int c = 0; c < 3; ++c) set_float(s.origin_field[c], s.gather_fields[c]);
        for (int64_t i = 0; i < n; ++i) {
            s.item->param(sel[i], HOST_ITEM_PARAM_WORLD_POSITION, s.time->time, pos);
            const host_group g = s.item->channel_group(sel[i]);
            host_envelope found[3];
            for (host_channel ch = s.channel->next_channel(g, nullptr); ch; ch = s.channel->next_channel(g, ch)) {
                const char *name = s.channel->channel_name(ch);
                for (int c = 0; c < 3; ++c)
                    if (std::strspn(name, kPos[c]) > 9) found[c] = s.channel->channel_envelope(ch);
            }
            benchmark::DoNotOptimize(found);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- One scaling move ----

void BM_MoveModule(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    s.tool->mouse_down(s.press);
    const sim::AllocCounts before = sim::alloc_counts();
    int64_t i = 0;
    for (auto _ : state) s.tool->mouse_move(s.moves[i++ & 1]);
    const sim::AllocCounts after = sim::alloc_counts();
    state.counters["allocs_per_move"] = benchmark::Counter(
        static_cast<double>(after.allocations() - before.allocations()) / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The host calls of a move: the six panel fields, then per item and axis the key look-up at the
// current time and the value set, with the targets already known.
void BM_MoveBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    const size_t n = static_cast<size_t>(state.range(0));
    int64_t i = 0;
    for (auto _ : state) {
        const int m = static_cast<int>(i++ & 1);
        const double *fields = s.move_fields[m];
        const double *target = s.target[m].data();
        for (int c = 0; c < 3; ++c) set_float(s.scale_field[c], fields[c]);
        for (int c = 0; c < 3; ++c) set_float(s.origin_field[c], fields[3 + c]);
        for (size_t k = 0; k < 3 * n; ++k) {
            const host_envelope e = s.env[k];
            const double now = s.time->time;
            host_key key = s.envelopes->find_key(e, now);
            if (key) {
                s.envelopes->set_key_value(e, key, HOST_KEY_VALUE, const_cast<double *>(&target[k]));
            } else {
                s.envelopes->create_key(e, now, target[k]);
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Sizes outermost, so one scene serves the four benchmarks of a size.
void register_all() {
    for (int64_t n : {int64_t{1}, int64_t{1000}, int64_t{100000}}) {
        benchmark::RegisterBenchmark("gather/module", BM_GatherModule)->Arg(n);
        benchmark::RegisterBenchmark("gather/baseline", BM_GatherBaseline)->Arg(n);
        benchmark::RegisterBenchmark("move/module", BM_MoveModule)->Arg(n);
        benchmark::RegisterBenchmark("move/baseline", BM_MoveBaseline)->Arg(n);
    }
}

// Console output as usual, then the module / baseline ratio per operation and size, on CPU time
// (steadier than wall time on a shared machine).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        // One run, or with --benchmark_repetitions the median of them.
        for (const Run &r : runs) {
            if (r.error_occurred) continue;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type != Run::RT_Iteration && !median) continue;
            const std::string name = r.run_name.str();
            times_[name] = r.GetAdjustedCPUTime();
            auto it = r.counters.find("allocs_per_move");
            if (it != r.counters.end()) allocs_[name] = it->second.value;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-8s %8s %17s %17s %8s %12s\n", "op", "items", "module (cpu)", "baseline (cpu)", "ratio",
                    "allocs/move");
        for (const char *op : {"gather", "move"}) {
            for (const char *n : {"1", "1000", "100000"}) {
                const std::string m = std::string(op) + "/module/" + n, b = std::string(op) + "/baseline/" + n;
                if (!times_.count(m) || !times_.count(b)) continue;
                std::printf("%-8s %8s %14.1f %s %14.1f %s %8.3f", op, n, times_[m], unit(), times_[b], unit(),
                            times_[m] / times_[b]);
                if (allocs_.count(m)) std::printf(" %12.3f", allocs_[m]);
                std::printf("\n");
            }
        }
        if (!sim::alloc_hooks_available())
            std::printf("allocation counts unavailable: %s\n", sim::alloc_hooks_unavailable_reason());
    }

private:
    static const char *unit() { return "ns"; }
    std::map<std::string, double> times_, allocs_;
};

} // namespace

int main(int argc, char **argv) {
    // The built modules, unless the caller points elsewhere.
    setenv("ZENDRO_MODULE_DIR", ZENDRO_BENCH_MODULE_DIR, 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    register_all();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    g_scene.reset();
    return 0;
}
