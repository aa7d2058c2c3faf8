// SPDX-License-Identifier: MIT
// The plug-in frame shared by the three tools: the bound host services, the common head of every
// tool instance, the description a tool gives of itself, and the activation and release routines
// built on them. The module descriptor and server table (module.cpp) point at these.
#ifndef FRAME_FRAME_H
#define FRAME_FRAME_H

#include "interface/host_interface.h"

// ---- Bound services -------------------------------------------------------------------------

// The host's services, bound by every activation, always in the same order. Module-level: shared
// by every instance of the loaded module, valid until the next activation rebinds them.
struct frame_services {
    void *info_messages;                     // "Info Messages 3": bound, never used
    host_panel_services_v2 *panel;           // "LWPanelServices 2"
    void *command;                           // "LW Command Interface": bound, never used
    host_viewport_info_v5 *viewport;         // "LW Viewport Info 5"
    int32_t product;                         // "Product Info": a value, kept as a 32-bit word; never used
    host_interface_info_v7 *interface_info;  // "LW Interface Info 7"
    host_item_info_v6 *item;                 // "LW Item Info 6"
    host_time_info *time;                    // "LW Time Info"
    host_channel_info_v2 *channel;           // "Channel Info 2"
    host_envelopes *envelopes;               // "Animation Envelopes"
    host_instance_update_fn instance_update; // "Instance Update"; only for tools that bind it
};
extern frame_services frame_host;

// Services a tool relies on; activation refuses (result 2) when the host lacks one of them.
enum frame_service_mask : unsigned {
    FRAME_NEEDS_PANEL = 1u << 0,
    FRAME_NEEDS_VIEWPORT = 1u << 1,
    FRAME_NEEDS_SCENE = 1u << 2, // interface, item, time, channel and envelope services
    FRAME_NEEDS_INSTANCE_UPDATE = 1u << 3,
};

// ---- Tool instance ----------------------------------------------------------------------------

// First member of every tool's instance. The instance is owned by the module: allocated by
// activation, freed by the release callback (or by activation itself when it fails).
struct frame_instance {
    host_global_fn global; // the host's service look-up, as handed to activation
    int32_t changed;       // 1 once anything changed; the change query then answers HOST_CHANGE_QUERY_CHANGED
    // Axis code of the last press or drag start, from the view's axis vector: 1 X, 2 Y, 3 Z, negated
    // when the tool keeps the sign and that component is not positive. Each tool gives its start.
    int32_t axis;
    int32_t item_count;    // records the last gather filled; never more than item_capacity
    void *items;           // item table, owned by the instance (malloc/realloc/free); may be null
    int32_t item_capacity; // records the item table can hold
    host_panel panel;      // the tool's panel, from its creation to the release callback; never none
                           // once activation succeeded (a panel that cannot be made fails it)
};

// How a tool works in the viewports, defined in its viewport.cpp. The frame answers a press and a
// drag start: both pick the axis code from the event's axis vector, a press starting from 1 and a
// drag start from the current code, so that a tie keeps it. A drag start then gathers; a press
// gathers unless it grabbed the tool's marker. The callbacks, with C linkage, fill slots 1, 9 and 10
// of the host's tool-callback table. [main]
struct frame_viewport {
    int signed_axis;                                             // the axis code keeps the view's sign
    void (*gather)(frame_instance *inst);                        // reads the selection anew
    int (*grab)(frame_instance *inst, const host_tool_event *e); // 1 when a press grabs the marker; may be null
    void(HOST_CALL *draw)(void *inst, const host_draw_record *draw);
    void(HOST_CALL *mouse_move)(void *inst, const host_tool_event *e);
    void(HOST_CALL *mouse_up)(void *inst, const host_tool_event *e);
};

// What a tool tells the frame about itself. Each module defines exactly one, `frame_tool_definition`.
struct frame_tool {
    unsigned needs;       // frame_service_mask bits
    size_t instance_size; // bytes of the tool's instance; starts with a frame_instance
    size_t item_size;     // bytes of one item record
    // The remembered settings, three module-level numbers; each is given `settings_default` at the
    // first activation of the loaded module only.
    float *settings;
    float settings_default;
    // The axis code of a fresh instance.
    int32_t start_axis;
    // Further start values of a fresh instance (zeroed beforehand, global function, axis code and
    // item table set); null when everything else starts at zero.
    void (*init_instance)(frame_instance *inst);
    // Builds the tool's panel; returns none when the panel services cannot create it.
    host_panel (*build_panel)(frame_instance *inst);
    // The text the tool-text callback answers, owned by the module.
    const char *tool_text;
    // The tool in the viewports; the frame fills the other slots of the host's table with its own.
    const frame_viewport *viewport;
};
extern const frame_tool frame_tool_definition;
// The tool's server name, e.g. "Zendro_Kardel"; each module defines it once.
extern const char frame_server_name[];

// Activation routine of every tool (the server record points here). Returns 0 when the instance is
// ready, 1 when the instance cannot be allocated, 2 when the panel cannot be created or a needed
// service is missing; on 1 or 2 nothing stays allocated and the local record's instance slot is
// null. [main]
extern "C" int32_t HOST_CALL frame_activate(int32_t version, host_global_fn global, void *local, void *server_data);

// Release callback body shared by the tools: closes the panel while it is open, destroys it, frees
// the item table and the instance. Counterpart to frame_activate(). [main]
extern "C" void HOST_CALL frame_release(void *inst);

// The common simple callbacks.
extern "C" const char *HOST_CALL frame_tool_text(void *inst, const host_tool_event *e); // the tool's text
extern "C" int32_t HOST_CALL frame_change_query(void *inst);                            // HOST_CHANGE_QUERY_*
extern "C" int32_t HOST_CALL frame_handle_count(void *inst, const host_tool_event *e);  // 0
extern "C" int32_t HOST_CALL frame_handle_position(void *inst, const host_tool_event *e, int32_t index,
                                                   double pos[3]); // index + 1
extern "C" int32_t HOST_CALL frame_handle_adjust(void *inst, const host_tool_event *e, int32_t index);
extern "C" int32_t HOST_CALL frame_drag_start(void *inst, const host_tool_event *e); // 1
extern "C" int32_t HOST_CALL frame_mouse_down(void *inst, const host_tool_event *e); // 1
extern "C" void HOST_CALL frame_notify(void *inst, int32_t code);                    // code 1 marks a change

// Resizes the instance's item table to `count` records of `item_size` bytes and sets the item count
// to the number of records a gather may fill and key from: `count`, or 0 when the table cannot be
// resized (the old table is kept, never lost, and holds nothing to key from). A count of 0 frees
// the table. Returns that usable count.
int32_t frame_resize_items(frame_instance *inst, int32_t count, size_t item_size);

// The initialisation marker of the remembered settings: 333 once the defaults were given.
extern int32_t frame_settings_marker;

#endif // FRAME_FRAME_H
