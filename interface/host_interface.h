// SPDX-License-Identifier: MIT
// The binary interface between Layout (the host) and a tool module: every record, slot and
// callback the modules and the host simulator exchange, declared once, each followed by pins on
// its byte offsets and size for both pointer widths.
//
// Conventions used in the comments:
//   [main]      called on the host's interface thread, one call at a time (the only thread there is).
//   "owned by the host" / "owned by the module": who frees it and when.
//   Slots are pointer-sized positions in a record, counted from 0; an unnamed slot is declared as
//   `host_slot` and MUST NOT be called by a module.
//
// Rationale: records are plain C structs without #pragma pack. Where the host reads a double at
// the same offset in every build (the floating value record, the tool event), the layout is made
// explicit with named padding, because the 32-bit Linux ABI aligns a double to 4 inside a struct
// while Windows aligns it to 8.
#ifndef FRAME_HOST_INTERFACE_H
#define FRAME_HOST_INTERFACE_H

// C11 spells static_assert through <assert.h>; in C++ it is a keyword (and a macOS module build
// has no <assert.h>).
#ifndef __cplusplus
#include <assert.h>
#endif
#include <stddef.h>
#include <stdint.h>

// ---- ABI macros -------------------------------------------------------------------------------

// Every routine crossing the interface uses the C calling convention.
#if defined(_WIN32) && !defined(_WIN64)
#define HOST_CALL __cdecl
#else
#define HOST_CALL
#endif

#if defined(_WIN32)
#define HOST_EXPORT __declspec(dllexport)
#else
#define HOST_EXPORT __attribute__((visibility("default")))
#endif

#if UINTPTR_MAX > 0xFFFFFFFFu
#define HOST_PTR64 1
#else
#define HOST_PTR64 0
#endif

// Pins: a field's byte offset and a record's size in the x86-64 and in the 32-bit x86 build. A
// record laid out otherwise than the host reads it fails the build on the target that is wrong.
#define HOST_PICK(o64, o32) (HOST_PTR64 ? (size_t)(o64) : (size_t)(o32))
#define HOST_PIN(T, f, o64, o32) \
    static_assert(offsetof(T, f) == HOST_PICK(o64, o32), #T "." #f " offset differs from the host's layout")
#define HOST_SIZE(T, s64, s32) \
    static_assert(sizeof(T) == HOST_PICK(s64, s32), #T " size differs from the host's layout")

// A slot no module uses. The host fills it with something a module must not call.
typedef void(HOST_CALL *host_slot)(void);

// ---- Handles ----------------------------------------------------------------------------------
// Opaque pointer-sized values that only the host interprets; a null handle is "none" and ends a
// list or a walk.

typedef struct host_item_s *host_item;         // scene item; the list control reports it as a sign-widened int32
typedef struct host_group_s *host_group;       // channel group of an item
typedef struct host_channel_s *host_channel;   // animation channel
typedef struct host_envelope_s *host_envelope; // a channel's envelope (its keys)
typedef struct host_key_s *host_key;           // one key of an envelope
typedef struct host_panel_s *host_panel;       // a floating panel built with the panel services
typedef struct host_control_s host_control;    // a control record; see host_control_s below

// ---- Look-up names ----------------------------------------------------------------------------

#define HOST_CLASS_LAYOUT_TOOL "LayoutTool"

#define HOST_SERVICE_INFO_MESSAGES "Info Messages 3"
#define HOST_SERVICE_PANEL "LWPanelServices 2"
#define HOST_SERVICE_COMMAND "LW Command Interface"
#define HOST_SERVICE_VIEWPORT "LW Viewport Info 5"
#define HOST_SERVICE_PRODUCT "Product Info"
#define HOST_SERVICE_INTERFACE "LW Interface Info 7"
#define HOST_SERVICE_ITEM "LW Item Info 6"
#define HOST_SERVICE_TIME "LW Time Info"
#define HOST_SERVICE_CHANNEL "Channel Info 2"
#define HOST_SERVICE_ENVELOPES "Animation Envelopes"
#define HOST_SERVICE_INSTANCE_UPDATE "Instance Update"

// The host's service look-up: (look-up name, mode) -> service record, function or value, or null
// when the host has no such service. Tools always pass mode 0. The result is owned by the host and
// stays valid while the module is loaded. [main]
typedef void *(HOST_CALL *host_global_fn)(const char *name, int32_t mode);

// ---- Module descriptor and server table -------------------------------------------------------

#define HOST_MODULE_SYNC 0x04121994u
#define HOST_MODULE_DESCRIPTOR_VERSION 3
#define HOST_MODULE_INTERFACE_VERSION 0x300u
#define HOST_MODULE_DESCRIPTOR_SYMBOL "_mod_descrip"
// What start-up answers, as a pointer-sized value, however often it is called.
#define HOST_MODULE_STARTUP_RESULT 4

// Activation: (version, not read; global function; local record; server data, not read).
// Returns 0 when the instance is ready, 1 when it cannot be allocated, 2 when its panel cannot be
// created. [main]
typedef int32_t(HOST_CALL *host_activate_fn)(int32_t version, host_global_fn global, void *local, void *server_data);

// One server of a module. The table ends with a record whose four pointers are all null.
typedef struct host_server_record {
    const char *class_name;    // "LayoutTool"
    const char *server_name;   // e.g. "Zendro_Kardel"
    host_activate_fn activate; // the tool's activation routine
    const void *tags;          // tag list; null (the modules supply none)
} host_server_record;
HOST_PIN(host_server_record, class_name, 0, 0);
HOST_PIN(host_server_record, server_name, 8, 4);
HOST_PIN(host_server_record, activate, 16, 8);
HOST_PIN(host_server_record, tags, 24, 12);
HOST_SIZE(host_server_record, 32, 16);

// The record a module exports as `_mod_descrip`; read by the host right after loading.
typedef struct host_module_descriptor {
    uint32_t sync;              // HOST_MODULE_SYNC
    int32_t version;            // HOST_MODULE_DESCRIPTOR_VERSION
    uint32_t interface_version; // HOST_MODULE_INTERFACE_VERSION
#if HOST_PTR64
    uint32_t alignment; // zero; the 8-byte pointers that follow need it
#endif
    void *(HOST_CALL *startup)(void);        // returns HOST_MODULE_STARTUP_RESULT; called once after loading
    void(HOST_CALL *shutdown)(void *unused); // counterpart to startup(); argument not read
    const host_server_record *servers;       // server table, owned by the module
} host_module_descriptor;
HOST_PIN(host_module_descriptor, sync, 0, 0);
HOST_PIN(host_module_descriptor, version, 4, 4);
HOST_PIN(host_module_descriptor, interface_version, 8, 8);
HOST_PIN(host_module_descriptor, startup, 16, 12);
HOST_PIN(host_module_descriptor, shutdown, 24, 16);
HOST_PIN(host_module_descriptor, servers, 32, 20);
HOST_SIZE(host_module_descriptor, 40, 24);

// ---- Tool event and drawing record ------------------------------------------------------------

// Bit of host_tool_event.flags that selects a tool's alternative (coarse) step.
#define HOST_TOOL_FLAG_ALT 8

// Passed by the host to the viewport callbacks; owned by the host, borrowed for the call. Only the
// named fields are read. Same offsets in every build.
typedef struct host_tool_event {
    unsigned char reserved0[24];
    double point[3]; // world point under the pointer, world units
    unsigned char reserved48[48];
    double axis[3]; // axis vector of the viewport; the dominant component picks the drag axis
    unsigned char reserved120[104];
    int32_t dx; // first drag amount, counted from the button press
    int32_t dy; // second drag amount, counted from the button press
    unsigned char reserved232[4];
    int32_t flags;       // HOST_TOOL_FLAG_ALT selects the alternative step
    int32_t viewport;    // viewport index, for the viewport service
    int32_t reserved244; // keeps the size equal in every build
} host_tool_event;
HOST_PIN(host_tool_event, point, 24, 24);
HOST_PIN(host_tool_event, axis, 96, 96);
HOST_PIN(host_tool_event, dx, 224, 224);
HOST_PIN(host_tool_event, dy, 228, 228);
HOST_PIN(host_tool_event, flags, 236, 236);
HOST_PIN(host_tool_event, viewport, 240, 240);
HOST_SIZE(host_tool_event, 248, 248);

// Coordinate code of draw_line for window pixel coordinates.
#define HOST_DRAW_WINDOW 3

// Passed to the draw callback; owned by the host, borrowed for the call.
typedef struct host_draw_record {
    int32_t viewport; // viewport being drawn
    int32_t reserved4;
    void *display; // display data; passed back first to every drawing routine
    void(HOST_CALL *set_colour)(void *display, const float rgba[4]);
    host_slot reserved_slots[4];
    void(HOST_CALL *draw_line)(void *display, const double from[3], const double to[3], int32_t coords);
} host_draw_record;
HOST_PIN(host_draw_record, viewport, 0, 0);
HOST_PIN(host_draw_record, display, 8, 8);
HOST_PIN(host_draw_record, set_colour, 16, 12);
HOST_PIN(host_draw_record, draw_line, 56, 32);
HOST_SIZE(host_draw_record, 64, 36);

// ---- Tool-callback table and local record -----------------------------------------------------

// Answers of the change-query callback: the instance changed since activation, or not.
#define HOST_CHANGE_QUERY_CHANGED 3
#define HOST_CHANGE_QUERY_UNCHANGED 0

// Filled by activation, slots 0 to 11; slot 12 is left as the host gave it. Owned by the host.
// Every callback takes the instance first. [main]
typedef struct host_tool_callbacks {
    void(HOST_CALL *release)(void *inst);                                     // 0: counterpart to activation
    void(HOST_CALL *draw)(void *inst, const host_draw_record *draw);          // 1
    const char *(HOST_CALL *tool_text)(void *inst, const host_tool_event *e); // 2: text owned by the module
    int32_t(HOST_CALL *change_query)(void *inst);                             // 3: HOST_CHANGE_QUERY_*
    int32_t(HOST_CALL *handle_count)(void *inst, const host_tool_event *e);   // 4
    int32_t(HOST_CALL *handle_position)(void *inst, const host_tool_event *e, int32_t index,
                                        double pos[3]);                                     // 5: index + 1
    int32_t(HOST_CALL *drag_start)(void *inst, const host_tool_event *e);                   // 6: 1
    int32_t(HOST_CALL *handle_adjust)(void *inst, const host_tool_event *e, int32_t index); // 7: 0
    int32_t(HOST_CALL *mouse_down)(void *inst, const host_tool_event *e);                   // 8: 1
    void(HOST_CALL *mouse_move)(void *inst, const host_tool_event *e);                      // 9
    void(HOST_CALL *mouse_up)(void *inst, const host_tool_event *e);                        // 10
    void(HOST_CALL *notify)(void *inst, int32_t code);                                      // 11: code 1 marks a change
    void *reserved12;                                                                       // 12: left untouched
} host_tool_callbacks;
HOST_PIN(host_tool_callbacks, release, 0, 0);
HOST_PIN(host_tool_callbacks, draw, 8, 4);
HOST_PIN(host_tool_callbacks, tool_text, 16, 8);
HOST_PIN(host_tool_callbacks, change_query, 24, 12);
HOST_PIN(host_tool_callbacks, handle_count, 32, 16);
HOST_PIN(host_tool_callbacks, handle_position, 40, 20);
HOST_PIN(host_tool_callbacks, drag_start, 48, 24);
HOST_PIN(host_tool_callbacks, handle_adjust, 56, 28);
HOST_PIN(host_tool_callbacks, mouse_down, 64, 32);
HOST_PIN(host_tool_callbacks, mouse_move, 72, 36);
HOST_PIN(host_tool_callbacks, mouse_up, 80, 40);
HOST_PIN(host_tool_callbacks, notify, 88, 44);
HOST_PIN(host_tool_callbacks, reserved12, 96, 48);
HOST_SIZE(host_tool_callbacks, 104, 52);

// Handed to activation; owned by the host.
typedef struct host_local_record {
    void *instance;                 // written by activation: the new tool instance
    host_tool_callbacks *callbacks; // the host's tool-callback table
} host_local_record;
HOST_PIN(host_local_record, instance, 0, 0);
HOST_PIN(host_local_record, callbacks, 8, 4);
HOST_SIZE(host_local_record, 16, 8);

// ---- Scene services ---------------------------------------------------------------------------

// "LW Interface Info 7": data. Only the selection is read.
typedef struct host_interface_info_v7 {
    unsigned char reserved0[8];
    const host_item *selected; // selected items in selection order, ended by a null item; owned by the host
} host_interface_info_v7;
HOST_PIN(host_interface_info_v7, selected, 8, 8);
HOST_SIZE(host_interface_info_v7, 16, 12);

// "LW Time Info": data. The current time is read at the moment of each use.
typedef struct host_time_info {
    double time; // current time, the host's unit; every key is written here
} host_time_info;
HOST_PIN(host_time_info, time, 0, 0);
HOST_SIZE(host_time_info, 8, 8);

// Parameter codes of host_item_info_v6.param.
#define HOST_ITEM_PARAM_ROTATION 5       // heading, pitch, bank in radians
#define HOST_ITEM_PARAM_WORLD_POSITION 8 // world position, world units

// "LW Item Info 6".
typedef struct host_item_info_v6 {
    host_slot reserved0[9];
    // 9: the item's parameter `code` at `time` into out[3]. [main]
    void(HOST_CALL *param)(host_item item, int32_t code, double time, double out[3]);
    host_slot reserved10[3];
    // 13: the item's channel group. [main]
    host_group(HOST_CALL *channel_group)(host_item item);
} host_item_info_v6;
HOST_PIN(host_item_info_v6, param, 72, 36);
HOST_PIN(host_item_info_v6, channel_group, 104, 52);
HOST_SIZE(host_item_info_v6, 112, 56);

// "Channel Info 2".
typedef struct host_channel_info_v2 {
    host_slot reserved0[1];
    // 1: the channel after `previous` in the group (the first for none); none at the end. [main]
    host_channel(HOST_CALL *next_channel)(host_group group, host_channel previous);
    host_slot reserved2[1];
    // 3: the channel's name, owned by the host, valid while the channel exists. [main]
    const char *(HOST_CALL *channel_name)(host_channel channel);
    host_slot reserved4[4];
    // 8: the channel's envelope. [main]
    host_envelope(HOST_CALL *channel_envelope)(host_channel channel);
} host_channel_info_v2;
HOST_PIN(host_channel_info_v2, next_channel, 8, 4);
HOST_PIN(host_channel_info_v2, channel_name, 24, 12);
HOST_PIN(host_channel_info_v2, channel_envelope, 64, 32);
HOST_SIZE(host_channel_info_v2, 72, 36);

// Key attribute code of set_key_value: the key's value (a double, passed by address).
#define HOST_KEY_VALUE 0

// "Animation Envelopes".
typedef struct host_envelopes {
    host_slot reserved0[10];
    // 10: a new key at `time` holding `value`. [main]
    host_key(HOST_CALL *create_key)(host_envelope env, double time, double value);
    host_slot reserved11[1];
    // 12: the key at exactly `time`, or none. [main]
    host_key(HOST_CALL *find_key)(host_envelope env, double time);
    host_slot reserved13[2];
    // 15: sets attribute `attr` of `key` from the value at `value` (a double for HOST_KEY_VALUE). [main]
    int32_t(HOST_CALL *set_key_value)(host_envelope env, host_key key, int32_t attr, void *value);
} host_envelopes;
HOST_PIN(host_envelopes, create_key, 80, 40);
HOST_PIN(host_envelopes, find_key, 96, 48);
HOST_PIN(host_envelopes, set_key_value, 120, 60);
HOST_SIZE(host_envelopes, 128, 64);

// "LW Viewport Info 5".
typedef struct host_viewport_info_v5 {
    host_slot reserved0[10];
    // 10: projects a world point into the viewport's window pixel coordinates. The result says
    // whether the projection could be made; when it could not, the outputs may be left unwritten.
    int32_t(HOST_CALL *project)(int32_t viewport, const double world[3], double *win_x, double *win_y, double *win_z);
    host_slot reserved11[3];
    // 14: the viewport's grid size in world units (0 when it has none). [main]
    double(HOST_CALL *grid_size)(int32_t viewport);
} host_viewport_info_v5;
HOST_PIN(host_viewport_info_v5, project, 80, 40);
HOST_PIN(host_viewport_info_v5, grid_size, 112, 56);
HOST_SIZE(host_viewport_info_v5, 120, 60);

// "Instance Update": a bare function. Tells the host that `instance` of class `class_name` changed.
typedef int32_t(HOST_CALL *host_instance_update_fn)(const char *class_name, void *instance);

// ---- Panel services ---------------------------------------------------------------------------

// Value record type codes.
#define HOST_VALUE_TEXT 1
#define HOST_VALUE_INT 2
#define HOST_VALUE_FLOAT 3

// Control attribute codes.
#define HOST_CTL_X 0
#define HOST_CTL_Y 1
#define HOST_CTL_W 2
#define HOST_CTL_H 3
#define HOST_CTL_VALUE 4
#define HOST_CTL_EVENT 14
#define HOST_CTL_USER_DATA 16

// Panel attribute codes.
#define HOST_PANEL_W 2
#define HOST_PANEL_H 3
#define HOST_PANEL_KEY_CALLBACK 13

// Value records, passed by address to get/set control attribute; borrowed for the call.
typedef struct host_value_int {
    int32_t type; // HOST_VALUE_INT
    int32_t value;
} host_value_int;
HOST_PIN(host_value_int, value, 4, 4);
HOST_SIZE(host_value_int, 8, 8);

typedef struct host_value_float {
    int32_t type;      // HOST_VALUE_FLOAT
    int32_t reserved4; // the double sits at 8 in every build
    double value;
} host_value_float;
HOST_PIN(host_value_float, value, 8, 8);
HOST_SIZE(host_value_float, 16, 16);

typedef struct host_value_text {
    int32_t type;   // HOST_VALUE_TEXT
    char *text;     // on set: the text, borrowed for the call; on get: the caller's buffer
    int32_t length; // buffer length in bytes
} host_value_text;
HOST_PIN(host_value_text, text, 8, 4);
HOST_PIN(host_value_text, length, 16, 8);
HOST_SIZE(host_value_text, 24, 12);

// Pointer form (attributes 14 and 16): an integer-form record whose pointer follows the type.
typedef struct host_value_pointer {
    int32_t type; // HOST_VALUE_INT
    void *pointer;
} host_value_pointer;
HOST_PIN(host_value_pointer, pointer, 8, 4);
HOST_SIZE(host_value_pointer, 16, 8);

// Control event callback: (control that fired, its user data). [main]
typedef void(HOST_CALL *host_control_event_fn)(host_control *control, void *user_data);
// Panel key callback: (panel, user data, 16-bit key code); returns the key code. [main]
typedef uint16_t(HOST_CALL *host_panel_key_fn)(host_panel panel, void *user_data, uint16_t key);

// A control; the handle points at this record, owned by the host until its panel is destroyed.
struct host_control_s {
    host_slot reserved0;
    // 1: reads attribute `code` into *value (integer form for geometry and integer values). [main]
    void(HOST_CALL *get)(host_control *control, int32_t code, void *value);
    // 2: sets attribute `code` from *value. [main]
    void(HOST_CALL *set)(host_control *control, int32_t code, void *value);
};
HOST_PIN(host_control, get, 8, 4);
HOST_PIN(host_control, set, 16, 8);
HOST_SIZE(host_control, 24, 12);

// Control descriptor kinds and type names.
#define HOST_CTL_INFO 1
#define HOST_CTL_BUTTON 2
#define HOST_CTL_FLOAT 3
#define HOST_CTL_CHOICE 9
#define HOST_CTL_TEXT 12
#define HOST_CTL_ITEM_LIST 16
#define HOST_CTL_DRAG_BUTTON 19

#define HOST_TYPE_CHOICE "ChoiceControl"
#define HOST_TYPE_TEXT "TextControl"
#define HOST_TYPE_FLOAT "FloatControl"
#define HOST_TYPE_DRAG_BUTTON "DragButtonControl"
#define HOST_TYPE_BUTTON "ButtonControl"
#define HOST_TYPE_INFO "InfoControl"
#define HOST_TYPE_ITEM_LIST "LWListControl"

// Descriptor forms, one per kind; add_control reads the kind first. Borrowed for the call, except
// the text lists, which MUST stay valid while the panel exists (the modules use static lists).
typedef struct host_desc_plain { // FloatControl, ButtonControl
    int32_t kind;
} host_desc_plain;
HOST_SIZE(host_desc_plain, 4, 4);

typedef struct host_desc_choice { // ChoiceControl
    int32_t kind;
    const char *const *items; // item texts ended by null
    int32_t vertical;         // 0
} host_desc_choice;
HOST_PIN(host_desc_choice, items, 8, 4);
HOST_PIN(host_desc_choice, vertical, 16, 8);
HOST_SIZE(host_desc_choice, 24, 12);

typedef struct host_desc_text { // TextControl
    int32_t kind;
    const char *const *lines; // text lines ended by null; the tools pass an empty list
} host_desc_text;
HOST_PIN(host_desc_text, lines, 8, 4);
HOST_SIZE(host_desc_text, 16, 8);

typedef struct host_desc_pair { // DragButtonControl (-1, 0), InfoControl (10, 0)
    int32_t kind;
    int32_t first;
    int32_t second;
} host_desc_pair;
HOST_PIN(host_desc_pair, first, 4, 4);
HOST_PIN(host_desc_pair, second, 8, 8);
HOST_SIZE(host_desc_pair, 12, 12);

// The item type of an item list control: the only one the tools build.
#define HOST_ITEM_LIST_ITEM_TYPE 5

typedef struct host_desc_item_list { // LWListControl
    int32_t kind;
    host_global_fn global; // the panel global function
    int32_t item_type;     // HOST_ITEM_LIST_ITEM_TYPE
    const host_item *list; // none
    int32_t count;         // 0
    int32_t width;         // 0
} host_desc_item_list;
HOST_PIN(host_desc_item_list, global, 8, 4);
HOST_PIN(host_desc_item_list, item_type, 16, 8);
HOST_PIN(host_desc_item_list, list, 24, 12);
HOST_PIN(host_desc_item_list, count, 32, 16);
HOST_PIN(host_desc_item_list, width, 36, 20);
HOST_SIZE(host_desc_item_list, 40, 24);

typedef union host_control_desc {
    int32_t kind;
    host_desc_plain plain;
    host_desc_choice choice;
    host_desc_text text;
    host_desc_pair pair;
    host_desc_item_list item_list;
} host_control_desc;
HOST_SIZE(host_control_desc, 40, 24);

// "LWPanelServices 2".
typedef struct host_panel_services_v2 {
    // 0: a new panel titled `title` (borrowed for the call), or none. [main]
    host_panel(HOST_CALL *create)(const char *title, void *reserved);
    // 1: destroys the panel and its controls; counterpart to create(). [main]
    void(HOST_CALL *destroy)(host_panel panel);
    // 2: shows the panel; returns at once, the panel stays up. [main]
    int32_t(HOST_CALL *open)(host_panel panel, int32_t flags);
    // 3: negative when the panel is not open. [main]
    int32_t(HOST_CALL *poll)(host_panel panel, int32_t flags);
    host_slot reserved4[1];
    // 5: closes an open panel. [main]
    void(HOST_CALL *close)(host_panel panel);
    host_slot reserved6[1];
    // 7: sets panel attribute `code` from the value at `value`; for the key callback (13) `value`
    // is the routine itself. [main]
    void(HOST_CALL *set)(host_panel panel, int32_t code, void *value);
    // 8: adds a control of `type_name` described by `desc`, labelled `label`. [main]
    host_control *(HOST_CALL *add_control)(host_panel panel, const char *type_name, host_control_desc *desc,
                                           const char *label);
    host_slot reserved9[3];
    // 12: data slot; activation stores the global function here before building a panel.
    host_global_fn global;
} host_panel_services_v2;
HOST_PIN(host_panel_services_v2, create, 0, 0);
HOST_PIN(host_panel_services_v2, destroy, 8, 4);
HOST_PIN(host_panel_services_v2, open, 16, 8);
HOST_PIN(host_panel_services_v2, poll, 24, 12);
HOST_PIN(host_panel_services_v2, close, 40, 20);
HOST_PIN(host_panel_services_v2, set, 56, 28);
HOST_PIN(host_panel_services_v2, add_control, 64, 32);
HOST_PIN(host_panel_services_v2, global, 96, 48);
HOST_SIZE(host_panel_services_v2, 104, 52);

#endif // FRAME_HOST_INTERFACE_H
