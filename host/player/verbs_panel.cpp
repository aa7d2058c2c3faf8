// SPDX-License-Identifier: MIT
// Handlers of the panel verbs: what a user does on the panel of the latest activation (type into
// a field, drag a drag button, choose, pick an item, press a button, close it, press a key).
#include "host/player/state.h"

namespace sim {

using namespace play;

Control *Player::State::user_control(ControlType type, const Statement &st) {
    if (!usable_panel()) return nullptr;
    std::string why;
    Control *c = find(type, st.args[0], st, &why);
    if (!c) impossible(why);
    return c;
}

void Player::State::do_type(const Statement &st) {
    if (Control *c = user_control(ControlType::Float, st)) {
        host.user_set_value(*c, st.args[1].real);
        host.fire(*c);
    }
}

void Player::State::do_drag_button(const Statement &st) {
    if (!usable_panel()) return;
    const Value &ref = st.args[0];
    Control *b = ref.integer > 0 ? control_at(ControlType::DragButton, ref.integer) : nullptr;
    if (!b && ref.integer == 0 && !trim(ref.text).empty()) b = control(ControlType::DragButton, ref.text, nth_of(st));
    if (!b) {
        std::string why;
        Control *field = ref.integer > 0 ? nullptr : find(ControlType::Float, ref, st, &why);
        if (ref.integer > 0) why = "no " HOST_TYPE_DRAG_BUTTON " #" + std::to_string(ref.integer);
        if (field && !(b = beside(*field)))
            why = "no " HOST_TYPE_DRAG_BUTTON " beside " + field->type_name + " " + quote(field->label);
        if (!b) return impossible(why);
    }
    for (size_t i = 1; i < st.args.size(); ++i) {
        if (!usable_panel()) return;
        host.user_set_value(*b, as_int32(st.args[i].integer));
        host.fire(*b);
    }
}

void Player::State::do_choose(const Statement &st) {
    Control *c = user_control(ControlType::Choice, st);
    if (!c) return;
    const int64_t i = choice_index(*c, st.args[1].text);
    if (i < 0)
        return impossible(quote(trim(c->label)) + " has no item " + quote(st.args[1].text) +
                          " (items: " + choice_items(*c) + ")");
    host.user_set_value(*c, static_cast<int32_t>(i));
    host.fire(*c);
}

void Player::State::do_pick(const Statement &st) {
    if (!usable_panel()) return;
    Control *list = control_at(ControlType::List, 1);
    if (!list) return impossible(std::string("the panel has no ") + HOST_TYPE_ITEM_LIST);
    const ItemId id = st.args[0].type == ValueType::Word ? 0 : item_of(st.args[0]);
    if (st.args[0].type != ValueType::Word && !id)
        return impossible("item " + quote(st.args[0].text) + " is not defined");
    host.user_pick_item(*list, id);
    host.fire(*list);
}

void Player::State::do_press(const Statement &st) {
    if (Control *c = user_control(ControlType::Button, st)) host.fire(*c);
}

void Player::State::do_close(const Statement &) {
    if (Panel *p = usable_panel()) host.user_close(*p);
}

void Player::State::do_panel_key(const Statement &st) {
    if (Panel *p = usable_panel()) answer_int(host.press_key(*p, static_cast<uint16_t>(st.args[0].integer)));
}

} // namespace sim
