// SPDX-License-Identifier: MIT
// Host operations the three tools share, written once: the selection and the key write at the
// current time, the channel walk with the span name match, the marker in the viewports, panel
// controls and the two-column panel layout, the drag nudge of the panels' drag buttons and the
// dominant-axis choice. All of them go through the services bound in `frame_host`. [main]
#ifndef FRAME_HOST_HELPERS_H
#define FRAME_HOST_HELPERS_H

#include "frame/frame.h"

// ---- Scene ------------------------------------------------------------------------------------

// Degrees to radians and back, as the tools multiply.
#define FRAME_DEG_TO_RAD 0.017453292519943295
#define FRAME_RAD_TO_DEG 57.29577951308232

// The current time, read from the time record at the moment of the call.
double frame_now(void);

// The selected items, ended by a null item.
const host_item *frame_selection(void);

// The mean world position of the selected items at the current time into mean[3] (the sum divided
// by the count; 0 when nothing is selected); returns how many items are selected.
int32_t frame_selection_mean(double mean[3]);

// The item's parameter `code` at the current time into out[3].
void frame_item_param(host_item item, int32_t code, double out[3]);

// Stores `value` at the current time in `env`: the key found there gets the value, otherwise one
// key is created. Nothing is written when `env` is none (the item lacks that channel) or when the
// value is not finite (a NaN or infinity would corrupt the scene).
void frame_key_write(host_envelope env, double value);

// 1 when `name` belongs to `target`: the leading run of `name` made only of characters occurring in
// `target` (strspn) is longer than 9 characters.
int frame_span_match(const char *name, const char *target);

// Walks the item's channel group and stores, for each of the `count` target names, the envelope of
// the last channel that matches it; a target no channel matches gets none. Every channel is tested
// against every target.
void frame_find_envelopes(host_item item, const char *const *targets, int count, host_envelope *out);

// ---- Viewport ---------------------------------------------------------------------------------

// Projects a world point to window pixel coordinates of `viewport`. Returns 1 when x and y came
// back finite; the outputs start as NaN, so a projection the host cannot make never yields stale
// numbers.
int frame_project(int32_t viewport, const double world[3], double *x, double *y, double *z);

// Snaps each coordinate c to trunc(10 c) (g / 10), g the viewport's grid size; unchanged when the
// viewport has no grid (0) or an unusable one (not finite).
void frame_snap_to_grid(int32_t viewport, double p[3]);

// Where a drag puts a grabbed marker: the event's point moved into the plane through `anchor`
// square to world axis k (1 X, 2 Y, 3 Z; any other k leaves the point as it is), then snapped to
// the grid when the event carries the alternative flag.
void frame_drag_point(const host_tool_event *e, int32_t k, const double anchor[3], double out[3]);

// Draws the tools' marker at a world point: a plus sign 20 pixels across in window coordinates
// (depth 0.01), white while `highlighted`, else grey-blue (171, 188, 188)/255; the vertical stroke,
// then the horizontal one. Nothing is drawn where the host cannot project the point.
void frame_draw_marker(const host_draw_record *draw, const double world[3], int highlighted);

// 1 when the press `e` grabs a marker held at `anchor`: its point projects strictly within half
// the marker's width (10 pixels) of the projected anchor, on both window axes.
int frame_marker_grabbed(const host_tool_event *e, const double anchor[3]);

// ---- Panel ------------------------------------------------------------------------------------

// 1 while the panel is open (poll panel answers 0 or more).
int frame_panel_open(host_panel panel);

// Control attributes in the integer form (geometry, choice and drag-button values, list items).
int32_t frame_get_int(host_control *control, int32_t code);
void frame_set_int(host_control *control, int32_t code, int32_t value);
// A floating control's value.
double frame_get_float(host_control *control);
void frame_set_float(host_control *control, double value);
// A value rounded to single precision, as the tools keep and show panel numbers.
inline double frame_single(double value) { return static_cast<double>(static_cast<float>(value)); }
// An info control's text; `length` is the length handed to the host.
void frame_set_text(host_control *control, char *text, int32_t length);
// Pointer-form attributes: user data and the control event callback.
void frame_set_user_data(host_control *control, void *data);
void frame_set_event(host_control *control, host_control_event_fn callback);
// Moves a control: x, then y.
void frame_place(host_control *control, int32_t x, int32_t y);
// Gives each of the `count` controls `data` as its user data, then `callback` as its event callback.
void frame_hook_up(host_control *const *controls, int count, void *data, host_control_event_fn callback);

// Adding controls to a panel; each returns the control the host made. Labels are borrowed for the
// call.
host_control *frame_add_float(host_panel panel, const char *label);
host_control *frame_add_drag_button(host_panel panel); // unlabelled, descriptor (-1, 0)
host_control *frame_add_button(host_panel panel, const char *label);
// Sets the panel's width, then its height, in pixels.
void frame_panel_size(host_panel panel, int32_t width, int32_t height);
// Sets the panel's height so that `bottom`, the lowest control, shows whole, with its own height
// again as a margin below it. Reads the control's y, then its height.
void frame_panel_fit(host_panel panel, host_control *bottom);

// ---- Two-column panel -------------------------------------------------------------------------
// The custom rotation and distance scaling panels share one layout: a heading over each of two
// columns of three number fields, every field followed by its drag button, and "Apply" under the
// right column. The choices and the headings stay where the panel services put them.

// One column of such a panel, its controls top to bottom.
struct frame_column {
    host_control *heading;
    host_control *field[3];
    host_control *button[3]; // each field's drag button
};

// The texts of one column: its heading and the labels of its three fields.
struct frame_column_labels {
    const char *heading;
    const char *field[3];
};

// The texts of a two-column panel. The items of both choices (ended by null) must stay valid while
// the panel exists.
struct frame_columns_texts {
    const char *title;
    const char *const *origin_items; // the "Origin" choice
    const char *const *method_items; // the "Method" choice
    frame_column_labels left, right;
};

// The controls of a two-column panel, replaced by every panel build.
struct frame_columns_controls {
    host_control *origin_choice; // "Origin"
    host_control *method_choice; // "Method"
    frame_column left, right;
    host_control *apply; // "Apply"
};

// Creates a two-column panel at its opening size, 277 x 300 pixels, and adds, in this order: the
// "Origin" and "Method" choices, the left heading, the right heading, the left fields, their drag
// buttons, the right fields, theirs, and "Apply". The right column shows `point`, whose fields open
// at 0: the point is set to 0 with them, so the tool's marker and the fields agree from the first
// draw (a fresh instance holds 0 already). Returns none, with nothing added and the point kept,
// when the panel services cannot make the panel.
host_panel frame_columns_panel(const frame_columns_texts *texts, frame_columns_controls *controls, double point[3]);

// Places the columns and "Apply". The left column starts at the x of the Origin choice, its first row 10
// pixels below the left heading's bottom edge; each further row overlaps the field above by 2
// pixels, and each drag button follows its field. The right column, its heading level with the
// left one, starts two drag-button widths plus 70 pixels to the right, row for row; "Apply" stands
// under its last field. Every position comes from the geometry the host reports for the controls.
void frame_place_columns(const frame_columns_controls *controls);

// Hooks the panel's controls up, `data` their user data: the two choices, the left fields, the
// right fields and `extra` (when not null) to `changed`, in that order; the six drag buttons, left
// column first, to `nudge`; "Apply" to `apply`.
void frame_hook_up_columns(const frame_columns_controls *controls, host_control *extra, void *data,
                           host_control_event_fn changed, host_control_event_fn nudge, host_control_event_fn apply);

// Takes a value the user set in a choice or field of the panel into what the tool keeps: a
// choice's index into *origin or *method; a left field's value, as typed, into left[row] in
// single precision; a right field's value, rounded to single precision, into right[row]. Reads
// the one control's value. Returns the row (0 to 2) when a right field changed, 3 for any other of
// these controls, -1 when `control` is none of them (nothing is read).
int frame_columns_changed(const frame_columns_controls *controls, host_control *control, int32_t *origin,
                          int32_t *method, float left[3], double right[3]);

// ---- Drag nudge -------------------------------------------------------------------------------
// A panel's drag button steps the number field beside it. The first event of a newly used button
// only arms it; every later event steps the field by one hundredth of its magnitude (0.001 while
// that step would be under 0.0001), up when the button's value grew past the remembered one, down
// otherwise (also when it stayed), and keeps the result within [-100000, 100000].

// Which precision a panel's nudge computes in.
enum frame_nudge_precision {
    FRAME_NUDGE_SINGLE, // value, step and result in single precision
    FRAME_NUDGE_DOUBLE, // step and result in double, the result then rounded to single precision
};

// The drag button that sent the last accepted event and its value then. Module-level per tool,
// empty at load, never reset.
struct frame_drag_memory {
    host_control *button;
    int32_t value;
};

// Accepts an event of `button`, whose value is now `n`. Returns 1 when the event may step the
// button's field; 0 when the button is newly used: it is remembered with n, and the event changes
// nothing else.
int frame_nudge_accept(frame_drag_memory *memory, host_control *button, int32_t n);

// Steps a field holding `value` for an accepted event whose button value is now `n`. Returns 1
// with the clamped result in *out, n then remembered; 0 when no step applies (a NaN field, or an
// infinite one stepped down), leaving the memory and *out alone.
int frame_nudge_step(frame_drag_memory *memory, int32_t n, double value, frame_nudge_precision precision, float *out);

// One drag button of a panel, the field it steps and where the stepped value is kept: a
// single-precision setting or a double (one of the two; the other is null).
struct frame_nudge_row {
    host_control *button;
    host_control *field;
    float *single_store;
    double *double_store;
};

// The three rows of a column of a two-column panel, into rows[3]: each drag button steps its field
// into `singles` or `doubles` (one of them; the other is null), row for row.
void frame_column_rows(const frame_column *column, float *singles, double *doubles, frame_nudge_row rows[3]);

// The drag-button event of a panel whose buttons are `rows`: reads the button's value, then the
// field of its row (before the event is accepted), accepts and steps; a step sets the field and
// then the row's store. Returns 1 when a field was stepped; 0 for an arming event, a button of no
// row or a field no step applies to.
int frame_nudge_rows(frame_drag_memory *memory, host_control *button, const frame_nudge_row *rows, int count,
                     frame_nudge_precision precision);

// ---- Dominant axis ----------------------------------------------------------------------------

// The axis whose component of `axis` is strictly the largest in magnitude: 1 X, 2 Y, 3 Z, negated
// when `signed_code` and that component is not positive. On a tie (or a NaN) the code stays
// `current`.
int32_t frame_dominant_axis(const double axis[3], int32_t current, int signed_code);

// The axis number of a code, signed or not: 1 X, 2 Y, 3 Z (anything else is no axis).
inline int32_t frame_axis_number(int32_t code) { return code < 0 ? -code : code; }

#endif // FRAME_HOST_HELPERS_H
