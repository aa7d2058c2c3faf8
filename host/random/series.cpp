// SPDX-License-Identifier: MIT
// Random sessions played one after another in one process, the module kept loaded and reset
// between them unless a session may have changed what a reset does not put back
// (host/random/random.h, SessionSeries).
#include <string>
#include <utility>
#include <vector>

#include "host/random/internal.h"
#include "host/sim/alloc_hooks.h"
#include "host/sim/simulator.h"

namespace sim {

SessionSeries::SessionSeries(std::string module_path, const RandomSessionOptions &options)
    : module_(std::move(module_path)), options_(options) {
    if (!options.reload_each_session) keeper_.reset(new ModuleKeeper);
    else loading_ = "reload";
}

SessionSeries::~SessionSeries() = default;

template <typename Play> SessionResult SessionSeries::play(Play session) {
    const size_t blocks = alloc_live_blocks();
    SessionResult r = session();
    if (!keeper_ || r.load_failed) return r;
    if (!keeper_->refusal().empty()) {
        // Not kept, and it will not be: every later session loads it afresh without asking again.
        loading_ = "reload: " + keeper_->refusal();
        keeper_.reset();
        return r;
    }
    loading_ = "reset";
    // A block still held, or one allocated while loading and changed since, lies outside the
    // memory a reset puts back. A refused allocation alone leaves nothing there: what the module
    // made of the refusal is in its writable memory.
    const bool kept_block = alloc_live_blocks() != blocks || !keeper_->intact(module_);
    if (r.failed || kept_block) keeper_->forget(module_);
    if (!r.failed && kept_block) ++kept_blocks_;
    return r;
}

SessionResult SessionSeries::random(uint64_t seed, std::FILE *progress) {
    return play([&] { return random_session(module_, seed, options_, progress); });
}

SessionResult SessionSeries::replay(const std::vector<Statement> &statements, std::FILE *progress) {
    return play([&] { return replay_session(module_, statements, options_, progress); });
}

} // namespace sim
