// SPDX-License-Identifier: MIT
// Pieces shared by the simulator's own source files: handle tags, trap tables, text formatting for
// the trace, and the allocation hooks a loaded module's imports are pointed at.
#ifndef HOST_INTERNAL_H
#define HOST_INTERNAL_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/sim/simulator.h"

namespace sim {

// ---- Handles ----------------------------------------------------------------------------------
// Tagged indices: tag in bits 28-31, index in bits 0-27. Items are untagged ids.
enum HandleTag : uint32_t { TAG_GROUP = 1, TAG_CHANNEL = 2, TAG_ENVELOPE = 3, TAG_KEY = 4, TAG_PANEL = 5 };
constexpr uint32_t HANDLE_INDEX_MASK = 0x0FFFFFFFu;

template <typename H> H make_handle(HandleTag tag, uint32_t index) {
    return reinterpret_cast<H>(static_cast<uintptr_t>((static_cast<uint32_t>(tag) << 28) | index));
}
// The index of a handle with that tag, or -1 when the handle carries another tag or is not 32-bit.
template <typename H> int64_t handle_index(H handle, HandleTag tag) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(handle);
    if (v > 0xFFFFFFFFu || (v >> 28) != tag) return -1;
    return static_cast<int64_t>(v & HANDLE_INDEX_MASK);
}

// ---- Traps ------------------------------------------------------------------------------------
enum TrapService {
    TRAP_INFO_MESSAGES,
    TRAP_COMMAND,
    TRAP_ITEM,
    TRAP_CHANNEL,
    TRAP_ENVELOPES,
    TRAP_VIEWPORT,
    TRAP_PANEL,
    TRAP_CONTROL,
    TRAP_DRAW,
    TRAP_SERVICE_COUNT
};
constexpr int TRAP_SLOTS = 16;
// The trap routine of (service, slot): a distinct function for each pair.
host_slot trap(TrapService service, int slot);
const char *trap_service_name(TrapService service);

// Fills every pointer-sized slot of a record with the service's traps.
template <typename R> void fill_with_traps(R &record, TrapService service) {
    static_assert(sizeof(R) % sizeof(host_slot) == 0, "record is not a whole number of slots");
    host_slot *slots = reinterpret_cast<host_slot *>(&record);
    for (size_t i = 0; i < sizeof(R) / sizeof(host_slot); ++i) slots[i] = trap(service, static_cast<int>(i));
}

// ---- Text -------------------------------------------------------------------------------------
#if defined(__GNUC__) && !defined(_WIN32)
#define SIM_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define SIM_PRINTF(a, b)
#endif
std::string format(const char *fmt, ...) SIM_PRINTF(1, 2);
// format's body, on the arguments format was given; the attribute lets the compiler check that
// `fmt` is a format it checked.
std::string vformat(const char *fmt, va_list args) SIM_PRINTF(1, 0);
std::string quote(const char *text); // "text", or null
std::string hex(const void *p);
std::string num(double v); // shortest round-trip form, as session scripts write it (format_real)
std::string vec(const double v[3]);

// ---- Module files (tool.cpp, keeper.cpp) --------------------------------------------------------
// The system's loader, or the simulator's own for a Mach-O file; the error says why it failed.
void *open_library(const std::string &path, std::string *error);
void *find_symbol(void *library, const char *name);
void close_library(void *library);

// A loaded image: its extent, and the address and size of each stretch of its writable memory
// (for a copy that puts a reset image back in its just-loaded state).
struct ImageMemory {
    uintptr_t low = 0, high = 0;
    std::vector<std::pair<unsigned char *, size_t>> writable;
};
bool image_memory(void *library, ImageMemory *out, std::string *why);

// ---- Allocation hooks (alloc_hooks.cpp, imports.cpp) ------------------------------------------
// What a module's malloc, calloc, realloc and free imports are pointed at.
void *hook_malloc(size_t size);
void *hook_calloc(size_t n, size_t size);
void *hook_realloc(void *p, size_t size);
void hook_free(void *p);
// Points the loaded library's imports of the four at the hooks, before anything in it is called.
// Returns false with the reason when it cannot; the module then calls the C runtime directly.
bool redirect_allocations(void *library, std::string *why);
// Puts back what redirect_allocations changed, once the last load of the library is undone; called
// just before the library is unloaded.
void restore_allocations(void *library);
// Keeps the first redirection failure for alloc_hooks_unavailable_reason().
void note_redirect_failure(const std::string &why);

// ---- Service routines -------------------------------------------------------------------------
// Every routine handed to a module. They answer for Host::current().
struct Services {
    static void install(Host &host);

    // Global function and the bare functions.
    static void *HOST_CALL global(const char *name, int32_t mode);
    static int32_t HOST_CALL instance_update(const char *class_name, void *instance);

    // "LW Item Info 6"
    static void HOST_CALL item_param(host_item item, int32_t code, double time, double out[3]);
    static host_group HOST_CALL item_channel_group(host_item item);
    // "Channel Info 2"
    static host_channel HOST_CALL next_channel(host_group group, host_channel previous);
    static const char *HOST_CALL channel_name(host_channel channel);
    static host_envelope HOST_CALL channel_envelope(host_channel channel);
    // "Animation Envelopes"
    static host_key HOST_CALL create_key(host_envelope env, double time, double value);
    static host_key HOST_CALL find_key(host_envelope env, double time);
    static int32_t HOST_CALL set_key_value(host_envelope env, host_key key, int32_t attr, void *value);
    // set_key_value's checks of its key and value arguments; each records what is wrong.
    static bool key_of_envelope(Host &h, int64_t envelope, int64_t k, host_key key);
    static bool key_value_argument(Host &h, int32_t attr, const void *value);
    // "LW Viewport Info 5"
    static int32_t HOST_CALL project(int32_t viewport, const double world[3], double *x, double *y, double *z);
    static double HOST_CALL grid_size(int32_t viewport);
    // "LWPanelServices 2"
    static host_panel HOST_CALL panel_create(const char *title, void *reserved);
    static void HOST_CALL panel_destroy(host_panel panel);
    static int32_t HOST_CALL panel_open(host_panel panel, int32_t flags);
    static int32_t HOST_CALL panel_poll(host_panel panel, int32_t flags);
    static void HOST_CALL panel_close(host_panel panel);
    static void HOST_CALL panel_set(host_panel panel, int32_t code, void *value);
    static host_control *HOST_CALL add_control(host_panel panel, const char *type_name, host_control_desc *desc,
                                               const char *label);
    // Control records
    static void HOST_CALL control_get(host_control *control, int32_t code, void *value);
    static void HOST_CALL control_set(host_control *control, int32_t code, void *value);
    // Drawing record
    static void HOST_CALL draw_set_colour(void *display, const float rgba[4]);
    static void HOST_CALL draw_line(void *display, const double from[3], const double to[3], int32_t coords);

    // Checks shared by the routines; each records a violation and answers false on a fault.
    static bool allowed(Host &h, const char *service, const char *operation);
    static bool check_time(Host &h, double time, const char *operation);
    static int64_t check_item(Host &h, host_item item, const char *operation);
    static int64_t check_envelope(Host &h, host_envelope env, const char *operation);
    static bool check_write(Host &h, uint32_t channel, double value, const char *operation);
    static Panel *check_panel(Host &h, host_panel panel, const char *operation);
    static Control *check_control(Host &h, host_control *control, const char *operation);
    static void log_write(Host &h, uint32_t channel, double time, double value, bool created);
};

// The drawing handed to one draw callback: the record, and what the module drew through it.
struct Drawing {
    host_draw_record record;
    std::vector<DrawOp> ops;
};

} // namespace sim

#endif // HOST_INTERNAL_H
