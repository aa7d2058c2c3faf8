// SPDX-License-Identifier: MIT
// The panel toolkit behind "LWPanelServices 2": panels, controls with their descriptors, geometry
// and values, the control records' get and set routines, and the user's side (values, events,
// closing, keys).
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "host/sim/internal.h"
#include "host/sim/macho.h"

namespace sim {

namespace {

struct TypeInfo {
    const char *name;
    ControlType type;
    int32_t kind;
    int32_t w, h;
};

// Type names, descriptor kinds and the sizes the toolkit gives each control.
const TypeInfo k_types[] = {
    {HOST_TYPE_CHOICE, ControlType::Choice, HOST_CTL_CHOICE, 140, 20},
    {HOST_TYPE_TEXT, ControlType::Text, HOST_CTL_TEXT, 80, 16},
    {HOST_TYPE_FLOAT, ControlType::Float, HOST_CTL_FLOAT, 60, 20},
    {HOST_TYPE_DRAG_BUTTON, ControlType::DragButton, HOST_CTL_DRAG_BUTTON, 20, 20},
    {HOST_TYPE_BUTTON, ControlType::Button, HOST_CTL_BUTTON, 60, 20},
    {HOST_TYPE_INFO, ControlType::Info, HOST_CTL_INFO, 80, 20},
    {HOST_TYPE_ITEM_LIST, ControlType::List, HOST_CTL_ITEM_LIST, 120, 20},
};
const TypeInfo k_unknown_type = {"?", ControlType::Unknown, -1, 50, 20};

const TypeInfo &type_info(const char *name) {
    if (name)
        for (const TypeInfo &t : k_types)
            if (std::strcmp(t.name, name) == 0) return t;
    return k_unknown_type;
}

const TypeInfo &type_info(ControlType type) {
    for (const TypeInfo &t : k_types)
        if (t.type == type) return t;
    return k_unknown_type;
}

constexpr int32_t k_gap = 5;         // between stacked controls
constexpr int32_t k_shared_edge = 2; // depth of a strip two control boxes may share
constexpr size_t k_list_limit = 256; // longest item or line list read from a descriptor

const char *form_name(int32_t code) {
    switch (code) {
    case HOST_VALUE_TEXT: return "text form (1)";
    case HOST_VALUE_INT: return "integer form (2)";
    case HOST_VALUE_FLOAT: return "floating form (3)";
    default: return "an unknown form";
    }
}

int32_t value_type(const void *value) {
    int32_t t;
    std::memcpy(&t, value, sizeof t);
    return t;
}

std::string describe(const Control &c) {
    return c.type_name + " " + quote(c.label.c_str()) + " (#" + std::to_string(c.index) + ")";
}

// The value form attribute 4 takes for a control type, or 0 when the type has no value.
int32_t value_form(ControlType type) {
    switch (type) {
    case ControlType::Choice:
    case ControlType::DragButton:
    case ControlType::List: return HOST_VALUE_INT;
    case ControlType::Float: return HOST_VALUE_FLOAT;
    case ControlType::Info: return HOST_VALUE_TEXT;
    default: return 0;
    }
}

std::vector<std::string> read_list(const char *const *list) {
    std::vector<std::string> out;
    for (size_t i = 0; list && list[i] && i < k_list_limit; ++i) out.push_back(list[i]);
    return out;
}

} // namespace

// ---- Checks -----------------------------------------------------------------------------------

Panel *Services::check_panel(Host &h, host_panel panel, const char *operation) {
    Panel *p = h.find_panel(panel);
    if (!p) {
        h.violation(violation_id::panel_unknown, "a panel from create panel",
                    hex(panel) + std::string(" in ") + operation,
                    panel ? "a handle of another kind passed as a panel" : "the module uses a panel it never got");
        return nullptr;
    }
    if (p->destroyed) {
        h.violation(violation_id::panel_stale, "a live panel",
                    std::string("panel ") + quote(p->title.c_str()) + " after destroy in " + operation,
                    "the module keeps using its panel after destroying it");
        return nullptr;
    }
    return p;
}

Control *Services::check_control(Host &h, host_control *control, const char *operation) {
    Control *c = h.find_control(control);
    if (!c) {
        h.violation(violation_id::control_unknown, "a control from add control",
                    hex(control) + std::string(" in ") + operation,
                    "a stale pointer, or a record that is not a control");
        return nullptr;
    }
    if (!c->alive) {
        h.violation(violation_id::control_stale, "a control of a live panel",
                    describe(*c) + " after its panel was destroyed",
                    "the module keeps module-level control handles past the release of its panel");
        return nullptr;
    }
    return c;
}

// ---- "LWPanelServices 2" ----------------------------------------------------------------------

host_panel HOST_CALL Services::panel_create(const char *title, void *reserved) {
    Host *h = Host::current();
    if (!h) return nullptr;
    allowed(*h, HOST_SERVICE_PANEL, "create");
    if (!title) h->violation(violation_id::panel_title_null, "a panel title", "null", "the module passed no title");
    if (reserved)
        h->violation(violation_id::panel_create_reserved, "0 as the second argument", hex(reserved),
                     "the module passes a stray value");
    host_panel handle = nullptr;
    if (!h->fail_panel_create_ && h->panels_.size() < HANDLE_INDEX_MASK) {
        auto p = std::make_unique<Panel>();
        p->title = title ? title : "";
        p->handle = make_handle<host_panel>(TAG_PANEL, static_cast<uint32_t>(h->panels_.size()));
        handle = p->handle;
        h->panels_.push_back(std::move(p));
    }
    if (h->tracing())
        h->trace_.add('.', format("module->host LWPanelServices 2.create title=%s -> %s%s", quote(title).c_str(),
                                  hex(handle).c_str(), h->fail_panel_create_ ? " (made to fail)" : ""));
    return handle;
}

void HOST_CALL Services::panel_destroy(host_panel panel) {
    Host *h = Host::current();
    if (!h) return;
    allowed(*h, HOST_SERVICE_PANEL, "destroy");
    if (h->tracing()) h->trace_.add('.', "module->host LWPanelServices 2.destroy panel=" + hex(panel));
    Panel *p = check_panel(*h, panel, "LWPanelServices 2.destroy");
    if (!p) return;
    p->destroyed = true;
    p->open = false;
    for (auto &c : p->controls) c->alive = false;
}

int32_t HOST_CALL Services::panel_open(host_panel panel, int32_t flags) {
    Host *h = Host::current();
    if (!h) return 0;
    allowed(*h, HOST_SERVICE_PANEL, "open");
    if (h->tracing())
        h->trace_.add('.', format("module->host LWPanelServices 2.open panel=%s flags=%d", hex(panel).c_str(),
                                  static_cast<int>(flags)));
    if (flags != 0)
        h->violation(violation_id::panel_open_flags, "flags 0", std::to_string(flags),
                     "the module asks for a blocking or other open");
    Panel *p = check_panel(*h, panel, "LWPanelServices 2.open");
    if (!p) return 0;
    p->open = true;
    ++p->open_calls;
    // What the user is shown from now on: every control inside the panel, none on another.
    h->check_layout(*p);
    return 1;
}

int32_t HOST_CALL Services::panel_poll(host_panel panel, int32_t flags) {
    Host *h = Host::current();
    if (!h) return -1;
    allowed(*h, HOST_SERVICE_PANEL, "poll");
    if (flags != 0)
        h->violation(violation_id::panel_poll_flags, "flags 0", std::to_string(flags),
                     "the module polls with a stray flag");
    Panel *p = check_panel(*h, panel, "LWPanelServices 2.poll");
    const int32_t answer = p && p->open ? 0 : -1;
    if (h->tracing())
        h->trace_.add('.', format("module->host LWPanelServices 2.poll panel=%s -> %d", hex(panel).c_str(),
                                  static_cast<int>(answer)));
    return answer;
}

void HOST_CALL Services::panel_close(host_panel panel) {
    Host *h = Host::current();
    if (!h) return;
    allowed(*h, HOST_SERVICE_PANEL, "close");
    if (h->tracing()) h->trace_.add('.', "module->host LWPanelServices 2.close panel=" + hex(panel));
    Panel *p = check_panel(*h, panel, "LWPanelServices 2.close");
    if (!p) return;
    if (!p->open)
        h->violation(violation_id::panel_close_not_open, "close only while poll answers 0 or more",
                     std::string("close of panel ") + quote(p->title.c_str()) +
                         (p->closed_by_user ? " after the user closed it" : " that is not open"),
                     "the module closes without polling first");
    p->open = false;
    ++p->close_calls;
}

namespace {

// Sets the panel's width or height (`code`) to `v`, cut to a limit the session set (0: none);
// answers the value as the trace shows it.
std::string set_panel_size(Panel &p, int32_t code, int32_t v, int32_t limit) {
    const int32_t made = limit > 0 && v > limit ? limit : v;
    if (code == HOST_PANEL_W) {
        p.width = made;
        p.asked_width = v;
        ++p.width_sets;
    } else {
        p.height = made;
        p.asked_height = v;
        ++p.height_sets;
    }
    return std::to_string(v) + (made != v ? " (limited to " + std::to_string(made) + ")" : std::string());
}

} // namespace

void HOST_CALL Services::panel_set(host_panel panel, int32_t code, void *value) {
    Host *h = Host::current();
    if (!h) return;
    allowed(*h, HOST_SERVICE_PANEL, "set");
    Panel *p = check_panel(*h, panel, "LWPanelServices 2.set");
    std::string shown = hex(value);
    if (p && (code == HOST_PANEL_W || code == HOST_PANEL_H)) {
        if (!value) {
            h->violation(violation_id::panel_attribute_value_null, "the address of an int32", "null",
                         "the module passed the value instead of its address");
        } else {
            int32_t v;
            std::memcpy(&v, value, sizeof v);
            shown = set_panel_size(*p, code, v, code == HOST_PANEL_W ? h->panel_limit_w_ : h->panel_limit_h_);
        }
    } else if (p && code == HOST_PANEL_KEY_CALLBACK) {
        if (!value)
            h->violation(violation_id::panel_attribute_value_null, "the key callback routine", "null",
                         "the module passed no routine for attribute 13");
        p->key_callback = reinterpret_cast<host_panel_key_fn>(value);
    } else if (p) {
        h->violation(violation_id::panel_attribute_unknown, "panel attribute 2, 3 or 13",
                     "attribute " + std::to_string(code), "the module sets a panel attribute the tools never use");
    }
    if (h->tracing())
        h->trace_.add('.', format("module->host LWPanelServices 2.set panel=%s code=%d value=%s", hex(panel).c_str(),
                                  static_cast<int>(code), shown.c_str()));
}

host_control *HOST_CALL Services::add_control(host_panel panel, const char *type_name, host_control_desc *desc,
                                              const char *label) {
    Host *h = Host::current();
    if (!h) return nullptr;
    allowed(*h, HOST_SERVICE_PANEL, "add_control");
    Panel *p = check_panel(*h, panel, "LWPanelServices 2.add_control");
    host_control *answer = nullptr;
    if (p) {
        const TypeInfo &t = type_info(type_name);
        auto c = std::make_unique<Control>();
        fill_with_traps(c->record, TRAP_CONTROL);
        c->record.get = control_get;
        c->record.set = control_set;
        c->panel = p;
        c->index = p->controls.size();
        c->type = t.type;
        c->type_name = type_name ? type_name : "";
        if (!label)
            h->violation(violation_id::control_label_null, "a label (possibly empty)", "null",
                         "the module passed no label");
        c->label = label ? label : "";
        if (t.type == ControlType::Unknown)
            h->violation(violation_id::control_type_unknown, "one of the toolkit's type names", quote(type_name),
                         "a misspelt control type name");
        if (!desc) {
            h->violation(violation_id::descriptor_null, "a control descriptor", "null for " + c->type_name,
                         "the module passed no descriptor");
        } else {
            c->kind = desc->kind;
            if (t.type != ControlType::Unknown && desc->kind != t.kind)
                h->violation(violation_id::descriptor_kind_mismatch,
                             "kind " + std::to_string(t.kind) + " for " + c->type_name,
                             "kind " + std::to_string(desc->kind), "the descriptor of another control type was passed");
            else if (t.type == ControlType::Choice) {
                c->field_a = desc->choice.vertical;
                if (!desc->choice.items)
                    h->violation(violation_id::descriptor_choice_items_null, "a list of item texts", "null",
                                 "the choice was built without its items");
                c->items = read_list(desc->choice.items);
                if (desc->choice.items && c->items.empty())
                    h->violation(violation_id::descriptor_choice_empty, "at least one item", "an empty list",
                                 "the choice's item list starts with its terminator");
                if (desc->choice.vertical != 0)
                    h->violation(violation_id::descriptor_field, "0 after the choice items",
                                 std::to_string(desc->choice.vertical), "the trailing field was left unset");
            } else if (t.type == ControlType::Text) {
                if (!desc->text.lines)
                    h->violation(violation_id::descriptor_text_lines_null, "a list of text lines (possibly empty)",
                                 "null", "the heading was built without its (empty) line list");
                c->items = read_list(desc->text.lines);
            } else if (t.type == ControlType::DragButton || t.type == ControlType::Info) {
                c->field_a = desc->pair.first;
                c->field_b = desc->pair.second;
                const bool drag = t.type == ControlType::DragButton;
                const int32_t want = drag ? -1 : 10;
                if (c->field_a != want || c->field_b != 0)
                    h->violation(drag ? violation_id::descriptor_drag_button_fields
                                      : violation_id::descriptor_info_fields,
                                 drag ? "(-1, 0)" : "(10, 0)",
                                 "(" + std::to_string(c->field_a) + ", " + std::to_string(c->field_b) + ")",
                                 "the pair fields were left unset or swapped");
            } else if (t.type == ControlType::List) {
                c->list_global = desc->item_list.global;
                c->list_item_type = desc->item_list.item_type;
                c->field_a = desc->item_list.count;
                c->field_b = desc->item_list.width;
                if (!desc->item_list.global || desc->item_list.global != h->panel_.global)
                    h->violation(violation_id::descriptor_list_global,
                                 "the panel services' stored global function " +
                                     hex(reinterpret_cast<void *>(h->panel_.global)),
                                 hex(reinterpret_cast<void *>(desc->item_list.global)),
                                 "activation did not store the global function in the panel services before the build");
                if (desc->item_list.item_type != HOST_ITEM_LIST_ITEM_TYPE)
                    h->violation(violation_id::descriptor_list_item_type, "item type 5",
                                 std::to_string(desc->item_list.item_type),
                                 "the list was asked for another kind of item");
                if (desc->item_list.list || desc->item_list.count != 0 || desc->item_list.width != 0)
                    h->violation(violation_id::descriptor_field, "list none, count 0, width 0",
                                 hex(desc->item_list.list) + ", " + std::to_string(desc->item_list.count) + ", " +
                                     std::to_string(desc->item_list.width),
                                 "the trailing fields were left unset");
            }
        }
        // Stacked down the left edge from the panel's corner, by the toolkit's own sizes.
        c->x = 0;
        c->y = 0;
        for (const auto &prev : p->controls) c->y += type_info(prev->type).h + k_gap;
        c->w = t.w;
        c->h = t.h;
        answer = c->handle();
        h->controls_[answer] = c.get();
        p->controls.push_back(std::move(c));
    }
    if (h->tracing())
        h->trace_.add('.', format("module->host LWPanelServices 2.add_control panel=%s type=%s kind=%d label=%s -> %s",
                                  hex(panel).c_str(), quote(type_name).c_str(),
                                  desc ? static_cast<int>(desc->kind) : -1, quote(label).c_str(), hex(answer).c_str()));
    return answer;
}

// ---- Control records --------------------------------------------------------------------------

namespace {

bool check_form(Host &h, const Control &c, int32_t code, int32_t got, int32_t want) {
    if (got == want) return true;
    h.violation(violation_id::control_value_form,
                std::string(form_name(want)) + " for attribute " + std::to_string(code) + " of " + describe(c),
                form_name(got) + std::string(" (type code ") + std::to_string(got) + ")",
                "the value record's type code does not fit the control type");
    return false;
}

// The form attribute `code` takes on the control, or 0 (after recording why) when it takes none.
int32_t attribute_form(Host &h, const Control &c, int32_t code, int32_t got, bool reading) {
    if (code >= HOST_CTL_X && code <= HOST_CTL_H) return HOST_VALUE_INT;
    if (code == HOST_CTL_EVENT || code == HOST_CTL_USER_DATA) return HOST_VALUE_INT;
    if (code == HOST_CTL_VALUE) {
        // An info field's value may be read in the integer form: the additive rotation tool's
        // drag-button event, which also serves its info fields, reads every firing control so.
        if (reading && c.type == ControlType::Info && got == HOST_VALUE_INT) return HOST_VALUE_INT;
        const int32_t form = value_form(c.type);
        if (!form)
            h.violation(violation_id::control_no_value, "no value access on " + describe(c),
                        std::string(reading ? "get" : "set") + " of attribute 4",
                        "headings and buttons carry no value");
        return form;
    }
    h.violation(violation_id::control_attribute_unknown, "control attribute 0-4, 14 or 16",
                "attribute " + std::to_string(code) + " on " + describe(c),
                "the module uses an attribute the tools never use");
    return 0;
}

} // namespace

namespace {

// Writes attribute `code` into a value record of the right form; answers the value as the trace
// shows it ("(unwritten)" when a text had no room), formatted only when the host traces.
std::string read_attribute(Host &h, const Control &c, int32_t code, int32_t form, void *value) {
    if (code == HOST_CTL_EVENT || code == HOST_CTL_USER_DATA) {
        host_value_pointer *v = static_cast<host_value_pointer *>(value);
        v->pointer = code == HOST_CTL_EVENT ? reinterpret_cast<void *>(c.event) : c.user_data;
        return h.tracing() ? hex(v->pointer) : std::string();
    }
    if (form == HOST_VALUE_INT) {
        host_value_int *v = static_cast<host_value_int *>(value);
        const int32_t geometry[4] = {c.x, c.y, c.w, c.h};
        v->value = code <= HOST_CTL_H ? geometry[code] : (c.type == ControlType::Info ? 0 : c.int_value);
        return h.tracing() ? std::to_string(v->value) : std::string();
    }
    if (form == HOST_VALUE_FLOAT) {
        host_value_float *v = static_cast<host_value_float *>(value);
        v->value = c.float_value;
        return h.tracing() ? num(v->value) : std::string();
    }
    host_value_text *v = static_cast<host_value_text *>(value);
    if (!v->text || v->length <= 0) {
        h.violation(violation_id::control_text_buffer, "a buffer and a positive length",
                    hex(v->text) + " of length " + std::to_string(v->length), "the module passed no room");
        return "(unwritten)";
    }
    const size_t n = std::min(c.text_value.size(), static_cast<size_t>(v->length) - 1);
    std::memcpy(v->text, c.text_value.data(), n);
    v->text[n] = '\0';
    return h.tracing() ? quote(v->text) : std::string();
}

} // namespace

void HOST_CALL Services::control_get(host_control *control, int32_t code, void *value) {
    Host *h = Host::current();
    if (!h) return;
    allowed(*h, HOST_SERVICE_PANEL, "control get");
    Control *c = check_control(*h, control, "get control attribute");
    std::string shown = "(unwritten)";
    if (c && !value)
        h->violation(violation_id::control_value_null, "a value record", "null", "the module passed no value record");
    if (c && value) {
        const int32_t got = value_type(value);
        const int32_t form = attribute_form(*h, *c, code, got, true);
        if (form && check_form(*h, *c, code, got, form)) shown = read_attribute(*h, *c, code, form, value);
    }
    if (h->tracing())
        h->trace_.add('.',
                      format("module->host control.get control=%s code=%d -> %s",
                             c ? describe(*c).c_str() : hex(control).c_str(), static_cast<int>(code), shown.c_str()));
}

namespace {

// A text value, read no further than the length handed over; false when it was refused.
bool store_text(Host &h, Control &c, const host_value_text *v, std::string *shown) {
    if (!v->text) {
        h.violation(violation_id::control_text_null, "a text", "null", "the module passed no text");
        return false;
    }
    if (v->length < 0) {
        h.violation(violation_id::control_text_length_negative, "a length of 0 or more", std::to_string(v->length),
                    "an unset length field");
        return false;
    }
    const size_t limit = static_cast<size_t>(v->length);
    size_t n = 0;
    while (n < limit && v->text[n]) ++n;
    c.text_value.assign(v->text, n);
    c.text_length = v->length;
    c.text_unterminated = n == limit;
    if (h.tracing()) *shown = quote(c.text_value.c_str()) + " length=" + std::to_string(v->length);
    return true;
}

// The control's value (attribute 4) in the form its type takes; false when it was refused.
bool store_value(Host &h, Control &c, int32_t form, const void *value, std::string *shown) {
    if (form == HOST_VALUE_INT) {
        const int32_t v = static_cast<const host_value_int *>(value)->value;
        if (c.type == ControlType::Choice && (v < 0 || static_cast<size_t>(v) >= c.items.size()))
            h.violation(violation_id::control_choice_range,
                        "an index 0.." + std::to_string(static_cast<int>(c.items.size()) - 1) + " for " + describe(c),
                        std::to_string(v), "the instance's choice field holds an out-of-range value");
        c.int_value = v;
        if (h.tracing()) *shown = std::to_string(v);
        return true;
    }
    if (form == HOST_VALUE_FLOAT) {
        c.float_value = static_cast<const host_value_float *>(value)->value;
        if (h.tracing()) *shown = num(c.float_value);
        return true;
    }
    return store_text(h, c, static_cast<const host_value_text *>(value), shown);
}

// Counts a value write. The user closed the panel and the module did not open it again: the
// value shows nowhere. The custom rotation tool stops writing then, the other tools keep their
// fields current for the next activation; both are sound, so it is a warning, once per panel.
void count_value_write(Host &h, Control &c) {
    ++c.value_writes;
    if (c.panel->closed_by_user) ++c.writes_while_user_closed;
    Panel &p = *c.panel;
    if (p.closed_by_user && !p.open && !p.destroyed && !p.write_after_close_warned) {
        p.write_after_close_warned = true;
        h.warning(violation_id::panel_write_after_user_close,
                  "the module set the value of " + describe(c) + " of panel " + quote(p.title.c_str()) +
                      " after the user closed it; the panel shows nothing until the module opens it again");
    }
}

// Sets attribute `code` from a value record of the right form; answers the value as the trace
// shows it ("(refused)" when it was not stored), formatted only when the host traces.
std::string store_attribute(Host &h, Control &c, int32_t code, int32_t form, const void *value) {
    if (code == HOST_CTL_EVENT || code == HOST_CTL_USER_DATA) {
        const host_value_pointer *v = static_cast<const host_value_pointer *>(value);
        if (code == HOST_CTL_EVENT) c.event = reinterpret_cast<host_control_event_fn>(v->pointer);
        else c.user_data = v->pointer;
        return h.tracing() ? hex(v->pointer) : std::string();
    }
    if (code <= HOST_CTL_H) {
        const int32_t v = static_cast<const host_value_int *>(value)->value;
        int32_t *geometry[4] = {&c.x, &c.y, &c.w, &c.h};
        *geometry[code] = v;
        ++c.geometry_writes;
        return h.tracing() ? std::to_string(v) : std::string();
    }
    std::string shown = "(refused)";
    if (store_value(h, c, form, value, &shown)) count_value_write(h, c);
    return shown;
}

} // namespace

void HOST_CALL Services::control_set(host_control *control, int32_t code, void *value) {
    Host *h = Host::current();
    if (!h) return;
    allowed(*h, HOST_SERVICE_PANEL, "control set");
    Control *c = check_control(*h, control, "set control attribute");
    std::string shown = "(refused)";
    if (c && !value)
        h->violation(violation_id::control_value_null, "a value record", "null", "the module passed no value record");
    if (c && value) {
        const int32_t got = value_type(value);
        const int32_t form = attribute_form(*h, *c, code, got, false);
        if (form && check_form(*h, *c, code, got, form)) shown = store_attribute(*h, *c, code, form, value);
    }
    if (h->tracing())
        h->trace_.add('.',
                      format("module->host control.set control=%s code=%d value=%s",
                             c ? describe(*c).c_str() : hex(control).c_str(), static_cast<int>(code), shown.c_str()));
}

// ---- Layout ---------------------------------------------------------------------------------

namespace {

std::string box(const Control &c) {
    return describe(c) + format(" at (%d, %d) %dx%d", static_cast<int>(c.x), static_cast<int>(c.y),
                                static_cast<int>(c.w), static_cast<int>(c.h));
}

// Length of the overlap of [a, a + la) and [b, b + lb); 0 or less when they do not overlap.
int64_t shared(int64_t a, int64_t la, int64_t b, int64_t lb) { return std::min(a + la, b + lb) - std::max(a, b); }

} // namespace

std::vector<LayoutProblem> layout_check(const Panel &panel) {
    std::vector<LayoutProblem> problems;
    const std::string of = "panel " + quote(panel.title.c_str());
    const int32_t width = panel.shown_width(), height = panel.shown_height();
    for (const auto &c : panel.controls) {
        const int64_t right = int64_t{c->x} + c->w, bottom = int64_t{c->y} + c->h;
        auto outside = [&](const std::string &text) {
            problems.push_back({LayoutProblem::Outside, c->index, c->index, box(*c) + text});
        };
        if (c->x < 0 || c->y < 0) outside(" starts left of or above the corner of " + of);
        if (right > width)
            outside(format(" reaches x %lld, beyond the width %d of ", static_cast<long long>(right),
                           static_cast<int>(width)) +
                    of);
        if (bottom > height)
            outside(format(" reaches y %lld, below the height %d of ", static_cast<long long>(bottom),
                           static_cast<int>(height)) +
                    of);
    }
    for (size_t i = 0; i < panel.controls.size(); ++i) {
        const Control &a = *panel.controls[i];
        for (size_t j = i + 1; j < panel.controls.size(); ++j) {
            const Control &b = *panel.controls[j];
            if (shared(a.x, a.w, b.x, b.w) > k_shared_edge && shared(a.y, a.h, b.y, b.h) > k_shared_edge)
                problems.push_back({LayoutProblem::Overlap, a.index, b.index, box(a) + " overlaps " + box(b)});
        }
    }
    return problems;
}

std::vector<std::string> layout_problems(const Panel &panel) {
    std::vector<std::string> texts;
    for (LayoutProblem &p : layout_check(panel)) texts.push_back(std::move(p.text));
    return texts;
}

std::vector<LayoutProblem> Host::check_layout(Panel &p) {
    if (p.destroyed) return {};
    std::vector<LayoutProblem> problems = layout_check(p);
    const std::string of = "panel " + quote(p.title.c_str());
    for (const LayoutProblem &problem : problems) {
        if (std::find(p.layout_reported.begin(), p.layout_reported.end(), problem.text) != p.layout_reported.end())
            continue;
        p.layout_reported.push_back(problem.text);
        if (problem.kind == LayoutProblem::Overlap) {
            violation(violation_id::panel_controls_overlap,
                      format("controls of %s that share at most a %d-pixel strip", of.c_str(),
                             static_cast<int>(k_shared_edge)),
                      problem.text,
                      "two controls placed on the same spot, or a position worked out from a neighbour's size "
                      "that the toolkit reports differently");
            continue;
        }
        std::string cause;
        if (p.asked_width != p.width || p.asked_height != p.height)
            cause = format("the host made the panel %dx%d, smaller than the %dx%d the module asked for",
                           static_cast<int>(p.width), static_cast<int>(p.height), static_cast<int>(p.asked_width),
                           static_cast<int>(p.asked_height));
        else if (p.control(problem.first) && (p.control(problem.first)->x < 0 || p.control(problem.first)->y < 0))
            cause = "a position worked out below zero, from a neighbour's size or an offset";
        else
            cause = "the panel's size was set from a control other than the lowest or widest, or before the "
                    "layout was final";
        violation(violation_id::panel_control_outside,
                  format("every control inside %s, (0, 0) to (%d, %d)", of.c_str(), static_cast<int>(p.shown_width()),
                         static_cast<int>(p.shown_height())),
                  problem.text, cause);
    }
    return problems;
}

void Host::limit_panel_size(int32_t width, int32_t height) {
    panel_limit_w_ = width > 0 ? width : 0;
    panel_limit_h_ = height > 0 ? height : 0;
}

// ---- The user's side --------------------------------------------------------------------------

void Host::user_set_value(Control &c, int32_t value) {
    if (c.type == ControlType::Float) {
        user_set_value(c, static_cast<double>(value));
        return;
    }
    if (c.type != ControlType::Choice && c.type != ControlType::DragButton && c.type != ControlType::List)
        throw std::logic_error("sim::Host::user_set_value: " + c.type_name + " takes no integer value");
    c.int_value = value;
    if (tracing()) trace_.add('~', "user sets " + describe(c) + " = " + std::to_string(value));
}

void Host::user_set_value(Control &c, double value) {
    if (c.type != ControlType::Float)
        throw std::logic_error("sim::Host::user_set_value: " + c.type_name + " takes no floating value");
    c.float_value = value;
    if (tracing()) trace_.add('~', "user sets " + describe(c) + " = " + num(value));
}

void Host::user_set_value(Control &c, const std::string &text) {
    if (c.type != ControlType::Info)
        throw std::logic_error("sim::Host::user_set_value: " + c.type_name + " takes no text");
    c.text_value = text;
    if (tracing()) trace_.add('~', "user sets " + describe(c) + " = " + quote(text.c_str()));
}

bool Host::fire(Control &c) {
    if (!c.alive) throw std::logic_error("sim::Host::fire: the control's panel was destroyed");
    if (!c.panel->open) throw std::logic_error("sim::Host::fire: the control's panel is not open");
    if (!c.event) return false;
    if (tracing()) trace_.add('B', "host->module control event " + describe(c) + " user_data=" + hex(c.user_data));
    c.event(c.handle(), c.user_data);
    if (tracing()) trace_.add('E', "host->module control event " + describe(c));
    return true;
}

void Host::user_close(Panel &p) {
    if (p.destroyed || !p.open) throw std::logic_error("sim::Host::user_close: the panel is not open");
    p.open = false;
    p.closed_by_user = true;
    if (tracing()) trace_.add('~', "user closes panel " + quote(p.title.c_str()));
}

uint16_t Host::press_key(Panel &p, uint16_t key) {
    if (p.destroyed) throw std::logic_error("sim::Host::press_key: the panel was destroyed");
    if (!p.key_callback) {
        violation(violation_id::panel_key_callback_missing, "a key callback set with panel attribute 13", "none",
                  "activation did not set attribute 13");
        return 0;
    }
    if (tracing())
        trace_.add('B', format("host->module panel key %s key=%u", quote(p.title.c_str()).c_str(),
                               static_cast<unsigned>(key)));
    uint16_t answer;
    if (macho_address(reinterpret_cast<const void *>(p.key_callback))) {
        // The Apple arm64 convention has the caller widen an argument narrower than 32 bits, and a
        // callee built for it may use the whole register; the Linux one leaves the upper bits
        // undefined. A Mach-O module's callback is therefore called with the key zero-extended
        // to 32 bits: its low 16 bits, the key, are where the declared type puts them, so the call
        // matches the declared one with the upper bits defined. (The cast goes through host_slot,
        // the type that matches any routine, as a cast between two routine types must.)
        using widened_key_fn = uint16_t(HOST_CALL *)(host_panel panel, void *user_data, uint32_t key);
        answer = reinterpret_cast<widened_key_fn>(reinterpret_cast<host_slot>(p.key_callback))(
            p.handle, nullptr, static_cast<uint32_t>(key));
    } else answer = p.key_callback(p.handle, nullptr, key);
    if (tracing()) trace_.add('E', format("host->module panel key -> %u", static_cast<unsigned>(answer)));
    return answer;
}

} // namespace sim
