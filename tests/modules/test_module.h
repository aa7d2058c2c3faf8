// SPDX-License-Identifier: MIT
// Pieces every test-only module shares: the descriptor record it exports and the plain start-up and
// shut-down routines. Header-only and C runtime only, like the modules themselves; each module
// still defines its one exported record, `_mod_descrip`, from test_module_descriptor().
#ifndef HOST_TESTING_TEST_MODULE_H
#define HOST_TESTING_TEST_MODULE_H

#include <stdint.h>

#include "interface/host_interface.h"

namespace {

// The descriptor of a module with these routines and server table. `sync` is HOST_MODULE_SYNC
// except in a module that is meant to carry a wrong one. constexpr, so that the record is constant
// data in the module file, ready before any code of the module runs.
constexpr host_module_descriptor test_module_descriptor(uint32_t sync, void *(HOST_CALL *startup)(void),
                                                        void(HOST_CALL *shutdown)(void *),
                                                        const host_server_record *servers) {
    return host_module_descriptor {
        sync, HOST_MODULE_DESCRIPTOR_VERSION, HOST_MODULE_INTERFACE_VERSION,
#if HOST_PTR64
            0,
#endif
            startup, shutdown, servers,
    };
}

// Start-up as the host expects it: nothing to set up, the agreed result.
inline void *HOST_CALL test_module_startup(void) {
    return reinterpret_cast<void *>(static_cast<intptr_t>(HOST_MODULE_STARTUP_RESULT));
}
inline void HOST_CALL test_module_shutdown(void *) {}

} // namespace

#endif
