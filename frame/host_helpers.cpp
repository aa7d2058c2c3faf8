// SPDX-License-Identifier: MIT
#include "frame/host_helpers.h"

#include "frame/c_runtime.h"

frame_services frame_host;

// ---- Scene ------------------------------------------------------------------------------------

double frame_now(void) { return frame_host.time->time; }

const host_item *frame_selection(void) { return frame_host.interface_info->selected; }

int32_t frame_selection_mean(double mean[3]) {
    double sum[3] = {0.0, 0.0, 0.0};
    int32_t n = 0;
    for (const host_item *it = frame_selection(); *it; ++it, ++n) {
        double pos[3];
        frame_item_param(*it, HOST_ITEM_PARAM_WORLD_POSITION, pos);
        sum[0] += pos[0];
        sum[1] += pos[1];
        sum[2] += pos[2];
    }
    for (int c = 0; c < 3; ++c) mean[c] = n >= 1 ? sum[c] / n : 0.0;
    return n;
}

void frame_item_param(host_item item, int32_t code, double out[3]) {
    frame_host.item->param(item, code, frame_now(), out);
}

void frame_key_write(host_envelope env, double value) {
    if (!env || !isfinite(value)) return;
    const double now = frame_now();
    host_key key = frame_host.envelopes->find_key(env, now);
    if (key) {
        frame_host.envelopes->set_key_value(env, key, HOST_KEY_VALUE, &value);
    } else {
        frame_host.envelopes->create_key(env, now, value);
    }
}

int frame_span_match(const char *name, const char *target) { return name && strspn(name, target) > 9; }

void frame_find_envelopes(host_item item, const char *const *targets, int count, host_envelope *out) {
    for (int t = 0; t < count; ++t) out[t] = nullptr;
    const host_channel_info_v2 *channels = frame_host.channel;
    host_group group = frame_host.item->channel_group(item);
    for (host_channel ch = channels->next_channel(group, nullptr); ch; ch = channels->next_channel(group, ch)) {
        const char *name = channels->channel_name(ch);
        for (int t = 0; t < count; ++t) {
            if (frame_span_match(name, targets[t])) out[t] = channels->channel_envelope(ch);
        }
    }
}

// ---- Viewport ---------------------------------------------------------------------------------

int frame_project(int32_t viewport, const double world[3], double *x, double *y, double *z) {
    *x = *y = *z = NAN;
    frame_host.viewport->project(viewport, world, x, y, z);
    return isfinite(*x) && isfinite(*y);
}

void frame_snap_to_grid(int32_t viewport, double p[3]) {
    const double g = frame_host.viewport->grid_size(viewport);
    if (g == 0.0 || !isfinite(g)) return;
    const double step = g / 10.0;
    // trunc() rather than a conversion to int: the same for every coordinate an int32 can hold,
    // and defined for the ones it cannot.
    for (int i = 0; i < 3; ++i) p[i] = trunc(p[i] * 10.0) * step;
}

void frame_drag_point(const host_tool_event *e, int32_t k, const double anchor[3], double out[3]) {
    for (int i = 0; i < 3; ++i) out[i] = e->point[i];
    if (k >= 1 && k <= 3) out[k - 1] = anchor[k - 1];
    if (e->flags & HOST_TOOL_FLAG_ALT) frame_snap_to_grid(e->viewport, out);
}

// Half the marker's width and height in window pixels: how far it is drawn and can be grabbed.
static const double FRAME_MARKER_HALF = 10.0;

void frame_draw_marker(const host_draw_record *draw, const double world[3], int highlighted) {
    static const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    static const float idle[4] = {171.0f / 255.0f, 188.0f / 255.0f, 188.0f / 255.0f, 1.0f};
    static const double half = FRAME_MARKER_HALF, depth = 0.01;
    double x, y, z;
    if (!frame_project(draw->viewport, world, &x, &y, &z)) return;
    draw->set_colour(draw->display, highlighted ? white : idle);
    const double v0[3] = {x, y - half, depth}, v1[3] = {x, y + half, depth};
    const double h0[3] = {x - half, y, depth}, h1[3] = {x + half, y, depth};
    draw->draw_line(draw->display, v0, v1, HOST_DRAW_WINDOW);
    draw->draw_line(draw->display, h0, h1, HOST_DRAW_WINDOW);
}

int frame_marker_grabbed(const host_tool_event *e, const double anchor[3]) {
    const double half = FRAME_MARKER_HALF;
    double ax, ay, az, px, py, pz;
    frame_project(e->viewport, anchor, &ax, &ay, &az);
    frame_project(e->viewport, e->point, &px, &py, &pz);
    return ax - half < px && px < ax + half && ay - half < py && py < ay + half;
}

// ---- Panel ------------------------------------------------------------------------------------

int frame_panel_open(host_panel panel) { return frame_host.panel->poll(panel, 0) >= 0; }

int32_t frame_get_int(host_control *control, int32_t code) {
    host_value_int v = {HOST_VALUE_INT, 0};
    control->get(control, code, &v);
    return v.value;
}

void frame_set_int(host_control *control, int32_t code, int32_t value) {
    host_value_int v = {HOST_VALUE_INT, value};
    control->set(control, code, &v);
}

double frame_get_float(host_control *control) {
    host_value_float v = {HOST_VALUE_FLOAT, 0, 0.0};
    control->get(control, HOST_CTL_VALUE, &v);
    return v.value;
}

void frame_set_float(host_control *control, double value) {
    host_value_float v = {HOST_VALUE_FLOAT, 0, value};
    control->set(control, HOST_CTL_VALUE, &v);
}

void frame_set_text(host_control *control, char *text, int32_t length) {
    host_value_text v = {HOST_VALUE_TEXT, text, length};
    control->set(control, HOST_CTL_VALUE, &v);
}

void frame_set_user_data(host_control *control, void *data) {
    host_value_pointer v = {HOST_VALUE_INT, data};
    control->set(control, HOST_CTL_USER_DATA, &v);
}

void frame_set_event(host_control *control, host_control_event_fn callback) {
    host_value_pointer v = {HOST_VALUE_INT, reinterpret_cast<void *>(callback)};
    control->set(control, HOST_CTL_EVENT, &v);
}

void frame_place(host_control *control, int32_t x, int32_t y) {
    frame_set_int(control, HOST_CTL_X, x);
    frame_set_int(control, HOST_CTL_Y, y);
}

void frame_hook_up(host_control *const *controls, int count, void *data, host_control_event_fn callback) {
    for (int i = 0; i < count; ++i) {
        frame_set_user_data(controls[i], data);
        frame_set_event(controls[i], callback);
    }
}

static host_control *frame_add(host_panel panel, const char *type, host_control_desc *desc, const char *label) {
    return frame_host.panel->add_control(panel, type, desc, label);
}

static host_control *frame_add_choice(host_panel panel, const char *label, const char *const *items) {
    host_control_desc d = {};
    d.choice = {HOST_CTL_CHOICE, items, 0};
    return frame_add(panel, HOST_TYPE_CHOICE, &d, label);
}

// A text control without lines.
static host_control *frame_add_heading(host_panel panel, const char *label) {
    static const char *const no_lines[] = {nullptr};
    host_control_desc d = {};
    d.text = {HOST_CTL_TEXT, no_lines};
    return frame_add(panel, HOST_TYPE_TEXT, &d, label);
}

host_control *frame_add_float(host_panel panel, const char *label) {
    host_control_desc d = {};
    d.plain = {HOST_CTL_FLOAT};
    return frame_add(panel, HOST_TYPE_FLOAT, &d, label);
}

host_control *frame_add_drag_button(host_panel panel) {
    host_control_desc d = {};
    d.pair = {HOST_CTL_DRAG_BUTTON, -1, 0};
    return frame_add(panel, HOST_TYPE_DRAG_BUTTON, &d, "");
}

host_control *frame_add_button(host_panel panel, const char *label) {
    host_control_desc d = {};
    d.plain = {HOST_CTL_BUTTON};
    return frame_add(panel, HOST_TYPE_BUTTON, &d, label);
}

void frame_panel_size(host_panel panel, int32_t width, int32_t height) {
    frame_host.panel->set(panel, HOST_PANEL_W, &width);
    frame_host.panel->set(panel, HOST_PANEL_H, &height);
}

void frame_panel_fit(host_panel panel, host_control *bottom) {
    const int32_t y = frame_get_int(bottom, HOST_CTL_Y);
    const int32_t h = frame_get_int(bottom, HOST_CTL_H);
    int32_t height = y + h + h; // its bottom edge, then a margin as tall as the control itself
    frame_host.panel->set(panel, HOST_PANEL_H, &height);
}

// ---- Two-column panel -------------------------------------------------------------------------

static const int32_t FRAME_COLUMNS_PANEL_W = 277;
static const int32_t FRAME_COLUMNS_PANEL_H = 300;
static const int32_t FRAME_HEADING_GAP = 10; // pixels from a heading's bottom edge to the first row
static const int32_t FRAME_ROW_OVERLAP = 2;  // pixels a row overlaps the field above it
static const int32_t FRAME_COLUMN_GAP = 70;  // pixels beyond the left column's two button widths

host_panel frame_columns_panel(const frame_columns_texts *texts, frame_columns_controls *controls, double point[3]) {
    host_panel panel = frame_host.panel->create(texts->title, nullptr);
    if (!panel) return nullptr;
    for (int c = 0; c < 3; ++c) point[c] = 0.0;
    frame_column *left = &controls->left, *right = &controls->right;
    frame_panel_size(panel, FRAME_COLUMNS_PANEL_W, FRAME_COLUMNS_PANEL_H);
    controls->origin_choice = frame_add_choice(panel, "Origin", texts->origin_items);
    controls->method_choice = frame_add_choice(panel, "Method", texts->method_items);
    left->heading = frame_add_heading(panel, texts->left.heading);
    right->heading = frame_add_heading(panel, texts->right.heading);
    for (int r = 0; r < 3; ++r) left->field[r] = frame_add_float(panel, texts->left.field[r]);
    for (int r = 0; r < 3; ++r) left->button[r] = frame_add_drag_button(panel);
    for (int r = 0; r < 3; ++r) right->field[r] = frame_add_float(panel, texts->right.field[r]);
    for (int r = 0; r < 3; ++r) right->button[r] = frame_add_drag_button(panel);
    controls->apply = frame_add_button(panel, "Apply");
    return panel;
}

void frame_hook_up_columns(const frame_columns_controls *controls, host_control *extra, void *data,
                           host_control_event_fn changed, host_control_event_fn nudge, host_control_event_fn apply) {
    host_control *const *lf = controls->left.field, *const *lb = controls->left.button;
    host_control *const *rf = controls->right.field, *const *rb = controls->right.button;
    host_control *const with_values[] = {
        controls->origin_choice, controls->method_choice, lf[0], lf[1], lf[2], rf[0], rf[1], rf[2], extra};
    host_control *const buttons[] = {lb[0], lb[1], lb[2], rb[0], rb[1], rb[2]};
    frame_hook_up(with_values, extra ? 9 : 8, data, changed);
    frame_hook_up(buttons, 6, data, nudge);
    frame_hook_up(&controls->apply, 1, data, apply);
}

int frame_columns_changed(const frame_columns_controls *controls, host_control *control, int32_t *origin,
                          int32_t *method, float left[3], double right[3]) {
    if (control == controls->origin_choice) {
        *origin = frame_get_int(control, HOST_CTL_VALUE);
        return 3;
    }
    if (control == controls->method_choice) {
        *method = frame_get_int(control, HOST_CTL_VALUE);
        return 3;
    }
    for (int r = 0; r < 3; ++r) {
        if (control == controls->left.field[r]) {
            left[r] = static_cast<float>(frame_get_float(control));
            return 3;
        }
        if (control == controls->right.field[r]) {
            right[r] = frame_single(frame_get_float(control));
            return r;
        }
    }
    return -1;
}

void frame_place_columns(const frame_columns_controls *controls) {
    const frame_column *left = &controls->left, *right = &controls->right;
    host_control *const apply = controls->apply;
    host_control *const *lf = left->field, *const *lb = left->button;
    host_control *const *rf = right->field, *const *rb = right->button;
    const int32_t x0 = frame_get_int(controls->origin_choice, HOST_CTL_X);
    const int32_t heading_y = frame_get_int(left->heading, HOST_CTL_Y);
    int32_t row[3];
    row[0] = heading_y + frame_get_int(left->heading, HOST_CTL_H) + FRAME_HEADING_GAP;
    row[1] = row[0] + frame_get_int(lf[0], HOST_CTL_H) - FRAME_ROW_OVERLAP;
    row[2] = row[1] + frame_get_int(lf[1], HOST_CTL_H) - FRAME_ROW_OVERLAP;
    const int32_t x1 = x0 + 2 * frame_get_int(lb[0], HOST_CTL_W) + FRAME_COLUMN_GAP;

    // The placements go to the host in one fixed order: the left column row by row, the right
    // heading after the first row; then the right column on the rows the left one took, "Apply"
    // under the last field before that field's drag button.
    for (int r = 0; r < 3; ++r) {
        frame_place(lf[r], x0, row[r]);
        frame_place(lb[r], x0 + frame_get_int(lf[r], HOST_CTL_W), row[r]);
        if (r == 0) frame_place(right->heading, x1, heading_y);
    }
    for (int r = 0; r < 3; ++r) {
        const int32_t y = frame_get_int(lf[r], HOST_CTL_Y);
        frame_place(rf[r], x1, y);
        if (r == 2) frame_place(apply, x1, y + frame_get_int(rf[r], HOST_CTL_H));
        frame_place(rb[r], x1 + frame_get_int(rf[r], HOST_CTL_W), y);
    }
}

// ---- Drag nudge -------------------------------------------------------------------------------

static const float FRAME_NUDGE_LIMIT = 100000.0f;

int frame_nudge_accept(frame_drag_memory *memory, host_control *button, int32_t n) {
    if (button == memory->button) return 1;
    memory->button = button;
    memory->value = n;
    return 0;
}

int frame_nudge_step(frame_drag_memory *memory, int32_t n, double value, frame_nudge_precision precision, float *out) {
    const bool up = n > memory->value;
    float result;
    if (precision == FRAME_NUDGE_SINGLE) {
        const float v = static_cast<float>(value);
        const float s = v / 100.0f;
        float r = v;
        if (s > 0.0f) r = up ? v + s : v - s;
        if (s < 0.0f) r = up ? v - s : v + s;
        if (-0.0001f < s && s < 0.0001f) r = up ? v + 0.001f : v - 0.001f;
        result = r;
    } else {
        const double s = value / 100.0;
        double r = value;
        if (s > 0.0) r = up ? value + s : value - s;
        if (s < 0.0) r = up ? value - s : value + s;
        if (-0.0001 < s && s < 0.0001) r = up ? value + 0.001 : value - 0.001;
        result = static_cast<float>(r);
    }
    // A NaN field (or infinity stepped down) matches no rule: leave everything as it is.
    if (isnan(result)) return 0;

    memory->value = n;
    if (result > FRAME_NUDGE_LIMIT) result = FRAME_NUDGE_LIMIT;
    if (result < -FRAME_NUDGE_LIMIT) result = -FRAME_NUDGE_LIMIT;
    *out = result;
    return 1;
}

void frame_column_rows(const frame_column *column, float *singles, double *doubles, frame_nudge_row rows[3]) {
    for (int r = 0; r < 3; ++r) {
        rows[r] = {column->button[r], column->field[r], singles ? &singles[r] : nullptr,
                   doubles ? &doubles[r] : nullptr};
    }
}

int frame_nudge_rows(frame_drag_memory *memory, host_control *button, const frame_nudge_row *rows, int count,
                     frame_nudge_precision precision) {
    const frame_nudge_row *row = nullptr;
    for (int i = 0; i < count; ++i) {
        if (rows[i].button == button) row = &rows[i];
    }
    const int32_t n = frame_get_int(button, HOST_CTL_VALUE);
    const double value = row ? frame_get_float(row->field) : 0.0;
    if (!frame_nudge_accept(memory, button, n) || !row) return 0;
    float stepped;
    if (!frame_nudge_step(memory, n, value, precision, &stepped)) return 0;
    frame_set_float(row->field, static_cast<double>(stepped));
    if (row->single_store) *row->single_store = stepped;
    if (row->double_store) *row->double_store = static_cast<double>(stepped);
    return 1;
}

// ---- Dominant axis ----------------------------------------------------------------------------

int32_t frame_dominant_axis(const double axis[3], int32_t current, int signed_code) {
    const double a[3] = {fabs(axis[0]), fabs(axis[1]), fabs(axis[2])};
    int32_t code = current;
    for (int32_t i = 0; i < 3; ++i) {
        const double other1 = a[(i + 1) % 3], other2 = a[(i + 2) % 3];
        if (a[i] > other1 && a[i] > other2) code = (signed_code && !(axis[i] > 0.0)) ? -(i + 1) : (i + 1);
    }
    return code;
}
