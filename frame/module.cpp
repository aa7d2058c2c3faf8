// SPDX-License-Identifier: MIT
// The module descriptor the host reads after loading, the server table it points to, and the
// start-up and shut-down routines. `_mod_descrip` is the only symbol a module exports.
#include "frame/frame.h"

// ---- Start-up and shut-down ----

// Returns the pointer-sized HOST_MODULE_STARTUP_RESULT however often it is called; does nothing else.
static void *HOST_CALL frame_startup(void) {
    return reinterpret_cast<void *>(static_cast<uintptr_t>(HOST_MODULE_STARTUP_RESULT));
}

// Counterpart to frame_startup(); the argument is not read, the remembered settings stay.
static void HOST_CALL frame_shutdown(void *) {}

// ---- Server table and descriptor ----

// One real server and the all-null record that ends the table.
static const host_server_record frame_servers[2] = {
    {HOST_CLASS_LAYOUT_TOOL, frame_server_name, frame_activate, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

extern "C" {
HOST_EXPORT extern const host_module_descriptor _mod_descrip;
const host_module_descriptor _mod_descrip = {
    HOST_MODULE_SYNC,
    HOST_MODULE_DESCRIPTOR_VERSION,
    HOST_MODULE_INTERFACE_VERSION,
#if HOST_PTR64
    0,
#endif
    frame_startup,
    frame_shutdown,
    frame_servers,
};
}
