// Shared harness of the tool benchmarks: the session a scene is built on, the direct key write the
// baselines make, the measured module move, and the reporter that prints the module / baseline
// ratio per operation and size (CPU time, steadier than wall time on a shared machine).
#ifndef BENCH_BENCH_COMMON_H
#define BENCH_BENCH_COMMON_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/sim/alloc_hooks.h"
#include "host/sim/simulator.h"

namespace bench {

// The key write the modules make, made directly: find the key at the current time, then set it or
// create one.
inline void key_write(const host_envelopes *envelopes, host_envelope env, double now, const double *value) {
    host_key key = envelopes->find_key(env, now);
    if (key) {
        envelopes->set_key_value(env, key, HOST_KEY_VALUE, const_cast<double *>(value));
    } else {
        envelopes->create_key(env, now, *value);
    }
}

// A float field set as the modules set it.
inline void set_float(host_control *c, double v) {
    host_value_float value = {HOST_VALUE_FLOAT, 0, v};
    c->set(c, HOST_CTL_VALUE, &value);
}

// The host with the tool active, trace and write log off, at time 1, and the service records as
// the module binds them. The items are added and selected by the benchmark before activate().
struct Session {
    const char *name; // the benchmark's name, for messages
    sim::Host host;
    sim::Module module;
    std::unique_ptr<sim::Tool> tool;
    host_interface_info_v7 *interface_info = nullptr;
    host_time_info *time = nullptr;
    host_item_info_v6 *item = nullptr;
    host_channel_info_v2 *channel = nullptr;
    host_envelopes *envelopes = nullptr;
    // Set by the scene: the press, the two moves the benchmarks alternate between, the envelopes a
    // move keys in write order, and the values each move keys into them.
    host_tool_event press{}, moves[2]{};
    std::vector<host_envelope> env;
    std::vector<double> target[2];

    Session(const char *bench_name, const char *module_name) : name(bench_name), module(sim::module_path(module_name)) {
        host.trace().enable(false);
        host.set_write_log(false);
        host.set_time(1.0);
    }
    ~Session() {
        tool.reset();
        if (!host.clean()) std::fprintf(stderr, "%s: %s\n", name, host.report().c_str());
    }

    void activate() {
        if (!module.ok()) fail(module.error().c_str());
        module.startup();
        tool = std::make_unique<sim::Tool>(host, module);
        if (tool->activate() != 0) fail("activation failed");
        interface_info = static_cast<host_interface_info_v7 *>(host.service(HOST_SERVICE_INTERFACE));
        time = static_cast<host_time_info *>(host.service(HOST_SERVICE_TIME));
        item = static_cast<host_item_info_v6 *>(host.service(HOST_SERVICE_ITEM));
        channel = static_cast<host_channel_info_v2 *>(host.service(HOST_SERVICE_CHANNEL));
        envelopes = static_cast<host_envelopes *>(host.service(HOST_SERVICE_ENVELOPES));
    }

    // Per selected item, the envelope of the channel named exactly like each of the `count` names.
    std::vector<host_envelope> envelopes_named(const char *const *names, int count) const {
        std::vector<host_envelope> out;
        for (const host_item *it = interface_info->selected; *it; ++it) {
            const size_t first = out.size();
            out.resize(first + static_cast<size_t>(count), nullptr);
            const host_group g = item->channel_group(*it);
            for (host_channel ch = channel->next_channel(g, nullptr); ch; ch = channel->next_channel(g, ch))
                for (int c = 0; c < count; ++c)
                    if (std::strcmp(channel->channel_name(ch), names[c]) == 0)
                        out[first + static_cast<size_t>(c)] = channel->channel_envelope(ch);
        }
        return out;
    }

    // The values one move keys, in write order, so a baseline hands the host the same numbers (the
    // simulator's cost depends on them). Stops when the count is not `expected`.
    std::vector<double> values_keyed_by(const host_tool_event &move, size_t expected) {
        host.clear_writes();
        host.set_write_log(true);
        tool->mouse_move(move);
        host.set_write_log(false);
        std::vector<double> values;
        for (const sim::KeyWrite &w : host.writes()) values.push_back(w.value);
        host.clear_writes();
        if (values.size() != expected) {
            std::fprintf(stderr, "%s: %zu keys for %zu channels\n", name, values.size(), expected);
            std::exit(1);
        }
        return values;
    }

    // The channel walk a gather makes for one item, made directly: each channel's name tested
    // against the `count` target names with the span rule, the envelope of each match into found[].
    void walk_channels(host_item it, const char *const *names, int count, host_envelope *found) const {
        const host_group g = item->channel_group(it);
        for (host_channel ch = channel->next_channel(g, nullptr); ch; ch = channel->next_channel(g, ch)) {
            const char *channel_name = channel->channel_name(ch);
            for (int c = 0; c < count; ++c)
                if (std::strspn(channel_name, names[c]) > 9) found[c] = channel->channel_envelope(ch);
        }
    }

    // The first pass of a gather, made directly: the world position of every selected item summed
    // into sum[]; returns the item count.
    int64_t position_sum(double sum[3]) const {
        int64_t n = 0;
        double pos[3];
        sum[0] = sum[1] = sum[2] = 0.0;
        for (const host_item *it = interface_info->selected; *it; ++it, ++n) {
            item->param(*it, HOST_ITEM_PARAM_WORLD_POSITION, time->time, pos);
            for (int c = 0; c < 3; ++c) sum[c] += pos[c];
        }
        return n;
    }

    // The keys of move m, written directly with the values already known.
    void write_targets(int m) const {
        const double *values = target[m].data();
        for (size_t k = 0; k < env.size(); ++k) key_write(envelopes, env[k], time->time, &values[k]);
    }

    sim::Control &control(host_control *handle) { return *host.find_control(handle); }

    [[noreturn]] void fail(const char *why) const {
        std::fprintf(stderr, "%s: %s\n", name, why);
        std::exit(1);
    }
};

// One scene per size, shared by the benchmarks of that size; the simulator allows one host at a
// time, so a new size replaces the old scene.
template <typename Scene> std::unique_ptr<Scene> &current_scene() {
    static std::unique_ptr<Scene> scene;
    return scene;
}
template <typename Scene> Scene &scene_for(int64_t n) {
    std::unique_ptr<Scene> &scene = current_scene<Scene>();
    if (!scene || scene->n != n) {
        scene.reset();
        scene = std::make_unique<Scene>(n);
    }
    return *scene;
}

// The module's press, repeated.
template <typename Scene> void press_module(benchmark::State &state) {
    Scene &s = scene_for<Scene>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(s.tool->mouse_down(s.press));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The module's move after one press, alternating between the two moves; counts the heap
// allocations per move into the counter "allocs_per_move".
template <typename Scene> void move_module(benchmark::State &state) {
    Scene &s = scene_for<Scene>(state.range(0));
    s.tool->mouse_down(s.press);
    const sim::AllocCounts before = sim::alloc_counts();
    int64_t i = 0;
    for (auto _ : state) s.tool->mouse_move(s.moves[i++ & 1]);
    const sim::AllocCounts after = sim::alloc_counts();
    state.counters["allocs_per_move"] = benchmark::Counter(
        static_cast<double>(after.allocations() - before.allocations()) / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

using Function = void (*)(benchmark::State &);

// The name of the press operation and the two baselines; the module side is the scene's press and moves.
struct Operations {
    const char *press; // "gather" or "snapshot"
    Function press_baseline, move_baseline;
};

// Console output as usual, then the ratio table: one run, or with --benchmark_repetitions the median.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(const char *press) : press_(press) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
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
        std::printf("\n%-9s %8s %17s %17s %8s %12s\n", "op", "items", "module (cpu)", "baseline (cpu)", "ratio",
                    "allocs/move");
        for (const char *op : {press_, "move"}) {
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
    const char *press_;
    std::map<std::string, double> times_, allocs_;
};

// Registers the four benchmarks for 1, 1,000 and 100,000 items (sizes outermost, so one scene serves
// the four of a size), runs them with the ratio table, then drops the last scene.
template <typename Scene> int run(int argc, char **argv, const Operations &ops) {
    // The built modules, unless the caller points elsewhere.
    setenv("ZENDRO_MODULE_DIR", ZENDRO_BENCH_MODULE_DIR, 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const std::string press = ops.press;
    for (int64_t n : {int64_t{1}, int64_t{1000}, int64_t{100000}}) {
        benchmark::RegisterBenchmark((press + "/module").c_str(), press_module<Scene>)->Arg(n);
        benchmark::RegisterBenchmark((press + "/baseline").c_str(), ops.press_baseline)->Arg(n);
        benchmark::RegisterBenchmark("move/module", move_module<Scene>)->Arg(n);
        benchmark::RegisterBenchmark("move/baseline", ops.move_baseline)->Arg(n);
    }
    RatioReporter reporter(ops.press);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    current_scene<Scene>().reset();
    return 0;
}

} // namespace bench

#endif // BENCH_BENCH_COMMON_H
