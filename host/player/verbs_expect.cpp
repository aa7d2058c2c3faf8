// SPDX-License-Identifier: MIT
// Handlers of the expect verbs: keys and key writes, the panel's controls, the last drawing, the
// last answer, the handle position and the violations of the last action.
#include "host/player/state.h"

#include <cstdlib>

namespace sim {

using namespace play;

void Player::State::do_expect_key(const Statement &st) {
    const ItemId id = item_of(st.args[0]);
    const std::string &ch = st.args[1].text;
    const int64_t nth = nth_of(st);
    const Option *at = st.option("time");
    const double t = at ? at->values[0].real : host.time();
    std::string where = st.args[0].text + " " + ch + (nth > 1 ? " (" + ordinal(nth) + ")" : std::string()) +
                        " at time " + format_real(t);
    if (!id || !has_channel(id, ch, nth)) return failed("no channel " + where);
    const int occ = static_cast<int>(nth - 1);
    const std::optional<double> got = host.key_at(id, ch, t, occ);
    if (!got) return failed("no key on " + where);
    const double want = st.args[2].real;
    if (!near(*got, want, tolerance(st)))
        return failed("the key on " + where + " is " + format_real(*got) + ", expected " + format_real(want));
    if (!st.has("created") && !st.has("replaced")) return;
    // The module's last write of the key says whether it was created or replaced.
    const std::vector<KeyWrite> &all = host.writes();
    for (size_t i = all.size(); i-- > 0;) {
        const KeyWrite &w = all[i];
        if (w.item == id && w.channel == ch && w.occurrence == occ && w.time == t) {
            if (w.created != st.has("created"))
                failed("the module's last write " + std::string(w.created ? "created" : "replaced") + " the key on " +
                       where);
            return;
        }
    }
    failed("the module wrote no key on " + where);
}

// The module wrote no key on the channel at the time in the session so far; keys the scene
// put there do not count.
void Player::State::do_expect_no_key(const Statement &st) {
    const ItemId id = item_of(st.args[0]);
    const std::string &ch = st.args[1].text;
    const int64_t nth = nth_of(st);
    const Option *at = st.option("time");
    const double t = at ? at->values[0].real : host.time();
    const std::string where = st.args[0].text + " " + ch + (nth > 1 ? " (" + ordinal(nth) + ")" : std::string()) +
                              " at time " + format_real(t);
    if (!id || !has_channel(id, ch, nth)) return failed("no channel " + where);
    const int occ = static_cast<int>(nth - 1);
    for (const KeyWrite &w : host.writes())
        if (w.item == id && w.channel == ch && w.occurrence == occ && w.time == t)
            return failed("the module " + std::string(w.created ? "created" : "replaced") + " a key on " + where +
                          " (" + format_real(w.value) + ")");
}

void Player::State::expect_count(size_t want) {
    const size_t got = writes_end - writes_begin;
    if (got == want) return;
    std::string list;
    for (size_t i = writes_begin; i < writes_end && i < writes_begin + 6; ++i) {
        const KeyWrite &w = host.writes()[i];
        list += std::string(list.empty() ? ": " : ", ") + host.item_name(w.item) + " " + w.channel + " " +
                (w.created ? "+" : "=") + format_real(w.value);
    }
    failed("the last action wrote " + std::to_string(got) + " key(s), expected " + std::to_string(want) + list +
           (got > 6 ? ", ..." : ""));
}

void Player::State::do_expect_keys(const Statement &st) { expect_count(static_cast<size_t>(st.args[0].integer)); }
void Player::State::do_expect_no_keys(const Statement &) { expect_count(0); }
Control *Player::State::expected_control(ControlType type, const Statement &st) {
    if (!panel()) {
        failed("there is no panel (no activation made one)");
        return nullptr;
    }
    std::string why;
    Control *c = find(type, st.args[0], st, &why);
    if (!c) failed(why);
    return c;
}

void Player::State::do_expect_field(const Statement &st) {
    Control *c = expected_control(ControlType::Float, st);
    if (c && !near(c->float_value, st.args[1].real, tolerance(st)))
        failed(quote(trim(c->label)) + " shows " + format_real(c->float_value) + ", expected " +
               format_real(st.args[1].real));
}

void Player::State::do_expect_info(const Statement &st) {
    Control *c = expected_control(ControlType::Info, st);
    if (c && c->text_value != st.args[1].text)
        failed(quote(trim(c->label)) + " shows " + quote(c->text_value) + ", expected " + quote(st.args[1].text));
}

void Player::State::do_expect_choice(const Statement &st) {
    Control *c = expected_control(ControlType::Choice, st);
    if (!c) return;
    const int64_t want = choice_index(*c, st.args[1].text);
    if (want < 0)
        return failed(quote(trim(c->label)) + " has no item " + quote(st.args[1].text) +
                      " (items: " + choice_items(*c) + ")");
    if (c->int_value != want) {
        const bool named = c->int_value >= 0 && static_cast<size_t>(c->int_value) < c->items.size();
        failed(quote(trim(c->label)) + " shows " +
               (named ? quote(c->items[static_cast<size_t>(c->int_value)]) : std::string("index")) + " (" +
               std::to_string(c->int_value) + "), expected " + quote(st.args[1].text));
    }
}

const std::vector<DrawOp> *Player::State::drawing(const Statement &st) {
    auto it = drawings.find(as_int32(st.args[0].integer));
    if (it == drawings.end()) failed("no drawing of viewport " + std::to_string(st.args[0].integer) + " yet");
    return it == drawings.end() ? nullptr : &it->second;
}

// The k-th (from 1) operation of that kind, or null with the reason recorded.
const DrawOp *Player::State::draw_op(const Statement &st, DrawOp::Kind kind) {
    const std::vector<DrawOp> *ops = drawing(st);
    if (!ops) return nullptr;
    int64_t k = st.args[1].integer, count = 0;
    for (const DrawOp &op : *ops)
        if (op.kind == kind && (++count == k)) return &op;
    failed("the last drawing of viewport " + std::to_string(st.args[0].integer) + " has " + std::to_string(count) +
           (kind == DrawOp::Line ? " line(s)" : " colour(s)") + ", not " + std::to_string(k));
    return nullptr;
}

void Player::State::do_expect_ops(const Statement &st) {
    const std::vector<DrawOp> *ops = drawing(st);
    if (ops && static_cast<int64_t>(ops->size()) != st.args[1].integer)
        failed("the last drawing of viewport " + std::to_string(st.args[0].integer) + " has " +
               std::to_string(ops->size()) + " operation(s), expected " + std::to_string(st.args[1].integer));
}

void Player::State::do_expect_line(const Statement &st) {
    const DrawOp *op = draw_op(st, DrawOp::Line);
    if (!op) return;
    const double tol = tolerance(st);
    bool ok = true;
    Vec3 from, to;
    for (size_t i = 0; i < 3; ++i) {
        from[i] = st.args[2 + i].real;
        to[i] = st.args[5 + i].real;
        ok = ok && near(op->from[i], from[i], tol) && near(op->to[i], to[i], tol);
    }
    if (!ok)
        failed("line " + std::to_string(st.args[1].integer) + " runs " + vec_text(op->from) + " to " +
               vec_text(op->to) + ", expected " + vec_text(from) + " to " + vec_text(to));
}

void Player::State::do_expect_colour(const Statement &st) {
    const DrawOp *op = draw_op(st, DrawOp::Colour);
    if (!op) return;
    bool ok = true;
    std::string got, want;
    for (size_t i = 0; i < 4; ++i) {
        ok = ok && near(op->rgba[i], st.args[2 + i].real, tolerance(st));
        got += (i ? ", " : "") + format_real(op->rgba[i]);
        want += (i ? ", " : "") + format_real(st.args[2 + i].real);
    }
    if (!ok) failed("colour " + std::to_string(st.args[1].integer) + " is (" + got + "), expected (" + want + ")");
}

void Player::State::do_expect_answer(const Statement &st) {
    const Value &v = st.args[0];
    const bool want_null = v.type == ValueType::Word;
    switch (answer.kind) {
    case Answer::Kind::None: return failed("no callback has answered yet");
    case Answer::Kind::Null:
        if (!want_null) failed("the answer was null, expected " + quote(v.text));
        return;
    case Answer::Kind::Text:
        if (want_null || answer.text != v.text)
            failed("the answer was " + quote(answer.text) + ", expected " + (want_null ? "null" : quote(v.text)));
        return;
    case Answer::Kind::Int: {
        char *end = nullptr;
        const long long want = std::strtoll(v.text.c_str(), &end, 10);
        if (want_null || v.text.empty() || *end != '\0' || want != answer.value)
            failed("the answer was " + std::to_string(answer.value) + ", expected " + (want_null ? "null" : v.text));
        return;
    }
    }
}

void Player::State::do_expect_handle(const Statement &st) {
    if (!has_handle) return failed("no handle-position has answered yet");
    const Vec3 want = {st.args[0].real, st.args[1].real, st.args[2].real};
    for (size_t i = 0; i < 3; ++i)
        if (!near(handle[i], want[i], tolerance(st)))
            return failed("the handle position is " + vec_text(handle) + ", expected " + vec_text(want));
}

void Player::State::do_expect_violation(const Statement &st) {
    const std::string &id = st.args[0].text;
    bool found = false;
    std::string seen;
    for (size_t i = action_findings; i < findings.size(); ++i) {
        Finding &f = findings[i];
        if (f.kind != Finding::Kind::Violation) continue;
        if (f.id == id) {
            f.expected = true;
            found = true;
        } else if (seen.find(f.id) == std::string::npos) {
            seen += (seen.empty() ? "" : ", ") + f.id;
        }
    }
    if (!found)
        failed("the last action recorded no violation " + id +
               (seen.empty() ? std::string(" (it recorded none)") : " (it recorded " + seen + ")"));
}

} // namespace sim
