// SPDX-License-Identifier: MIT
// Random sessions: the shrinker, which cuts a failing session down to a short script that fails
// the same way (host/random/random.h).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/random/internal.h"

namespace sim {

namespace {

bool numeric(const Value &v) { return v.type == ValueType::Real || v.type == ValueType::Int; }

// Simpler values to try in place of v, simplest first.
std::vector<Value> simpler(const Value &v) {
    std::vector<Value> out;
    if (v.type == ValueType::Int) {
        for (int64_t c : {int64_t(0), int64_t(1), v.integer / 2, v.integer / 16})
            if (std::llabs(c) < std::llabs(v.integer) || (c >= 0 && v.integer < 0 && c <= -v.integer))
                if (c != v.integer) out.push_back(Value::int32(c));
    } else {
        const double x = v.real;
        const double m = std::fabs(x);
        std::vector<double> c = {0.0, 1.0};
        if (std::isfinite(x)) {
            c.push_back(std::trunc(x));
            c.push_back(x / 2);
            if (std::signbit(x)) c.push_back(-x);
        }
        for (double d : c) {
            const bool smaller = std::isnan(x) || std::isinf(x) || std::fabs(d) < m ||
                                 (std::fabs(d) == m && std::signbit(x) && !std::signbit(d)) ||
                                 (std::trunc(x) != x && d == std::trunc(x));
            if (smaller && !(Value::number(d) == v)) out.push_back(Value::number(d));
        }
    }
    return out;
}

// The best session so far and the runs left; every candidate goes through take().
class Shrinker {
public:
    Shrinker(std::vector<Statement> best, const std::string &id, const SessionRunner &run, size_t max_runs)
        : best_(std::move(best)), id_(id), run_(run), max_runs_(max_runs) {}

    std::vector<Statement> shrink() {
        for (int round = 0; round < 4 && runs_left(); ++round) {
            const bool dropped = drop_pass();
            const bool simplified = value_pass();
            if (!dropped && !simplified) break;
        }
        return best_;
    }

private:
    bool runs_left() const { return runs_ < max_runs_; }

    // Makes the candidate the best when it still fails the same way with every step possible.
    bool take(const std::vector<Statement> &candidate) {
        if (!runs_left()) return false;
        ++runs_;
        SessionResult r = run_(candidate);
        int step = -1;
        for (const SessionFinding &f : r.failures)
            if (f.id == id_) {
                step = f.step;
                break;
            }
        if (step < 0 && r.failed && r.id == id_) step = r.step;
        if (step < 0 || r.impossible != 0) return false;
        // Cut what follows the step that showed it, and keep the recorded activation answers.
        r.statements.resize(step > 0 ? static_cast<size_t>(step) : r.statements.size());
        best_ = std::move(r.statements);
        return true;
    }

    // Drops chunks of statements, halving the chunk size, ending with 2 and 1.
    bool drop_pass() {
        bool changed = false;
        for (size_t chunk = std::max<size_t>(best_.size() / 2, 1);; chunk = chunk > 3 ? chunk / 2 : chunk - 1) {
            for (size_t at = 0; at < best_.size() && runs_left();) {
                std::vector<Statement> c;
                c.reserve(best_.size());
                for (size_t i = 0; i < best_.size(); ++i)
                    if (i < at || i >= at + chunk) c.push_back(best_[i]);
                if (take(c)) changed = true;
                else at += chunk <= 2 ? 1 : chunk; // small chunks at every offset: a pair such as release, activate
            }
            if (chunk == 1) break;
        }
        return changed;
    }

    // Per statement: fewer options, fewer selected items and drag values, then simpler numbers.
    // A candidate taken may cut the session short, so every step checks `i` again.
    bool value_pass() {
        bool changed = false;
        for (size_t i = 0; i < best_.size() && runs_left(); ++i) {
            changed = drop_options(i) | changed;
            if (i < best_.size()) changed = drop_args(i) | changed;
            if (i < best_.size()) changed = simplify_values(i) | changed;
        }
        return changed;
    }

    bool drop_options(size_t i) {
        bool changed = false;
        for (size_t o = best_[i].options.size(); o-- > 0 && i < best_.size();) {
            if (best_[i].verb == "activate") continue;
            std::vector<Statement> c = best_;
            c[i].options.erase(c[i].options.begin() + static_cast<std::ptrdiff_t>(o));
            if (take(c)) changed = true;
        }
        return changed;
    }

    // The items of a selection, the values of a drag button (its first one stays).
    bool drop_args(size_t i) {
        bool changed = false;
        const size_t first = best_[i].verb == "select" ? 0 : best_[i].verb == "drag-button" ? 2 : SIZE_MAX;
        for (size_t a = best_[i].args.size(); first != SIZE_MAX && a-- > first && best_[i].args.size() > 1;) {
            std::vector<Statement> c = best_;
            c[i].args.erase(c[i].args.begin() + static_cast<std::ptrdiff_t>(a));
            if (take(c)) changed = true;
            if (i >= best_.size()) break;
        }
        return changed;
    }

    // Tries simpler values in the slot of statement i until none is taken.
    template <typename Slot> bool simplify(size_t i, Slot slot) {
        bool changed = false, again = true;
        while (again && runs_left() && i < best_.size()) {
            again = false;
            Value *now = slot(best_[i]);
            if (!now || !numeric(*now)) break;
            for (const Value &v : simpler(*now)) {
                std::vector<Statement> c = best_;
                *slot(c[i]) = v;
                if (take(c)) {
                    changed = again = true;
                    break;
                }
            }
        }
        return changed;
    }

    bool simplify_values(size_t i) {
        bool changed = false;
        for (size_t a = 0; i < best_.size() && a < best_[i].args.size(); ++a)
            changed = simplify(i, [a](Statement &s) { return a < s.args.size() ? &s.args[a] : nullptr; }) | changed;
        for (size_t o = 0; i < best_.size() && o < best_[i].options.size(); ++o)
            for (size_t v = 0; i < best_.size() && o < best_[i].options.size() && v < best_[i].options[o].values.size();
                 ++v)
                changed = simplify(i,
                                   [o, v](Statement &s) {
                                       return o < s.options.size() && v < s.options[o].values.size()
                                                  ? &s.options[o].values[v]
                                                  : nullptr;
                                   }) |
                          changed;
        return changed;
    }

    std::vector<Statement> best_;
    const std::string &id_;
    const SessionRunner &run_;
    const size_t max_runs_;
    size_t runs_ = 0;
};

} // namespace

std::vector<Statement> shrink_session(std::vector<Statement> statements, const std::string &id,
                                      const SessionRunner &run, size_t max_runs) {
    return Shrinker(std::move(statements), id, run, max_runs).shrink();
}

} // namespace sim
