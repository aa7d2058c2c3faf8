// The additive rotation module's selection snapshot (a press in a viewport) and one heading drag
// move, for 1, 1,000 and 100,000 selected items, each beside a baseline loop that makes the same
// host calls directly with precomputed values. Prints the module / baseline ratio per size and the
// module's heap allocations per move (counted by the simulator's allocation hooks). Trace off
// throughout.
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

const char *const kRot[3] = {"Rotation.H", "Rotation.P", "Rotation.B"};
const char *const kInfoLabel[3] = {"H", "P", "B"};
const sim::Vec3 kHeadingView = {0.0, 1.0, 0.0};

// One scene of `n` selected items with the tool active, shared by the four benchmarks of a size
// (the simulator allows one host at a time, so a new size replaces the old scene).
struct Scene {
    int64_t n = 0;
    sim::Host host;
    sim::Module module{sim::module_path("zendro_strova")};
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
    // hand the host the same numbers: each item's heading envelope, the heading each move keys,
    // and the three info texts each move shows.
    std::vector<host_envelope> env; // 1 per item
    std::vector<double> target[2];  // 1 per item, per move
    char texts[2][3][512] = {};     // H, P, B, per move
    host_control *info_field[3] = {};

    explicit Scene(int64_t count) : n(count) {
        host.trace().enable(false);
        host.set_write_log(false);
        host.set_time(1.0);
        std::vector<sim::ItemId> ids;
        ids.reserve(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) {
            const double f = static_cast<double>(i);
            ids.push_back(host.add_item("I", {}, {0.001 * f, -0.002 * f, 0.0}));
        }
        host.select(ids);
        if (!module.ok()) {
            std::fprintf(stderr, "strova_bench: %s\n", module.error().c_str());
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
        for (int c = 0; c < 3; ++c) info_field[c] = p.find(HOST_TYPE_INFO, kInfoLabel[c])->handle();
        env.assign(static_cast<size_t>(n), nullptr);
        for (int64_t i = 0; i < n; ++i) {
            const host_item it = interface_info->selected[i];
            const host_group g = item->channel_group(it);
            for (host_channel ch = channel->next_channel(g, nullptr); ch; ch = channel->next_channel(g, ch))
                if (std::strcmp(channel->channel_name(ch), kRot[0]) == 0)
                    env[static_cast<size_t>(i)] = channel->channel_envelope(ch);
        }
        press = sim::make_event({}, kHeadingView);
        moves[0] = sim::make_event({}, kHeadingView, 250);
        moves[1] = sim::make_event({}, kHeadingView, 333);
        tool->mouse_down(press);
        for (int m = 0; m < 2; ++m) {
            host.clear_writes();
            host.set_write_log(true);
            tool->mouse_move(moves[m]);
            host.set_write_log(false);
            for (const sim::KeyWrite &w : host.writes()) target[m].push_back(w.value);
            if (target[m].size() != env.size()) {
                std::fprintf(stderr, "strova_bench: %zu keys for %zu channels\n", target[m].size(), env.size());
                std::exit(1);
            }
            // The host kept what fits its length of 10; the texts here are short enough to be whole.
            for (int c = 0; c < 3; ++c)
                std::snprintf(texts[m][c], sizeof texts[m][c], "%s", control(info_field[c]).text_value.c_str());
        }
        host.clear_writes();
        // Every heading channel now holds a key at the current time: moves replace keys on both sides.
    }
    sim::Control &control(host_control *handle) { return *host.find_control(handle); }
    ~Scene() {
        tool.reset();
        if (!host.clean()) std::fprintf(stderr, "strova_bench: %s\n", host.report().c_str());
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

void set_text(host_control *c, char *text) {
    host_value_text value = {HOST_VALUE_TEXT, text, 10};
    c->set(c, HOST_CTL_VALUE, &value);
}

// ---- Snapshot: the press ----

void BM_SnapshotModule(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(s.tool->mouse_down(s.press));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

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
            const host_group g = s.item->channel_group(sel[i]);
            host_envelope found[3] = {nullptr, nullptr, nullptr};
            for (host_channel ch = s.channel->next_channel(g, nullptr); ch; ch = s.channel->next_channel(g, ch)) {
                const char *name = s.channel->channel_name(ch);
                for (int c = 0; c < 3; ++c)
                    if (std::strspn(name, kRot[c]) > 9) found[c] = s.channel->channel_envelope(ch);
            }
            benchmark::DoNotOptimize(rot);
            benchmark::DoNotOptimize(found);
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- One drag move ----

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

// The host calls of a move: the three info texts, then per item the key look-up at the current
// time and the value set of the heading, with the texts and headings already known.
void BM_MoveBaseline(benchmark::State &state) {
    Scene &s = scene_for(state.range(0));
    const size_t n = static_cast<size_t>(state.range(0));
    int64_t i = 0;
    for (auto _ : state) {
        const int m = static_cast<int>(i++ & 1);
        for (int c = 0; c < 3; ++c) set_text(s.info_field[c], s.texts[m][c]);
        const double *target = s.target[m].data();
        for (size_t k = 0; k < n; ++k) {
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
        benchmark::RegisterBenchmark("snapshot/module", BM_SnapshotModule)->Arg(n);
        benchmark::RegisterBenchmark("snapshot/baseline", BM_SnapshotBaseline)->Arg(n);
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
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            times_[r.benchmark_name()] = r.GetAdjustedCPUTime();
            auto it = r.counters.find("allocs_per_move");
            if (it != r.counters.end()) allocs_[r.benchmark_name()] = it->second.value;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-9s %8s %17s %17s %8s %12s\n", "op", "items", "module (cpu)", "baseline (cpu)", "ratio",
                    "allocs/move");
        for (const char *op : {"snapshot", "move"}) {
            for (const char *n : {"1", "1000", "100000"}) {
                const std::string m = std::string(op) + "/module/" + n, b = std::string(op) + "/baseline/" + n;
                if (!times_.count(m) || !times_.count(b)) continue;
                std::printf("%-9s %8s %14.1f ns %14.1f ns %8.3f", op, n, times_[m], times_[b], times_[m] / times_[b]);
                if (allocs_.count(m)) std::printf(" %12.3f", allocs_[m]);
                std::printf("\n");
            }
        }
        if (!sim::alloc_hooks_available())
            std::printf("allocation counts unavailable: %s\n", sim::alloc_hooks_unavailable_reason());
    }

private:
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
