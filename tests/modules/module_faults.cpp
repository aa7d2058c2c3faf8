// SPDX-License-Identifier: MIT
// Small modules with a fault of the module file or of its callbacks, for the command-line host's
// tests: built once per fault as zendro_test_<fault>, with the macro TEST_FAULT_<FAULT> defined to 1
// (tests/modules/CMakeLists.txt). Not deliverables; never installed.
//
//   CRASH_DOWN  a LayoutTool server "Zendro_Faulty" whose activation makes no panel and whose
//               mouse-down writes through a null pointer
//   NODESC      exports no _mod_descrip
//   CLASS       a valid descriptor whose only server is of another class than LayoutTool
//   WORDS       a descriptor whose synchronisation word is wrong
//   NOEND       a server table of 65 LayoutTool records and no all-null end record
//   STARTUP     a start-up routine that writes through a null pointer
//   SERVICE     an activation that also looks up a service the host does not offer
//   SECOND      a server table with a second LayoutTool server
//   REALLOC     an activation that allocates its instance; every mouse-down grows a table with
//               `table = realloc(table, ...)`, so a refused realloc loses the block held
//   ALIGN       a 64-bit descriptor whose alignment word is not zero (the host does not read it)
// All but CRASH_DOWN answer mouse-down without crashing.
#include <stdint.h>
#include <stdlib.h>

#include "interface/host_interface.h"
#include "tests/modules/test_module.h"

// The fault of this build: exactly one of these is 1.
#ifndef TEST_FAULT_CRASH_DOWN
#define TEST_FAULT_CRASH_DOWN 0
#endif
#ifndef TEST_FAULT_NODESC
#define TEST_FAULT_NODESC 0
#endif
#ifndef TEST_FAULT_CLASS
#define TEST_FAULT_CLASS 0
#endif
#ifndef TEST_FAULT_WORDS
#define TEST_FAULT_WORDS 0
#endif
#ifndef TEST_FAULT_NOEND
#define TEST_FAULT_NOEND 0
#endif
#ifndef TEST_FAULT_STARTUP
#define TEST_FAULT_STARTUP 0
#endif
#ifndef TEST_FAULT_SERVICE
#define TEST_FAULT_SERVICE 0
#endif
#ifndef TEST_FAULT_SECOND
#define TEST_FAULT_SECOND 0
#endif
#ifndef TEST_FAULT_REALLOC
#define TEST_FAULT_REALLOC 0
#endif
#ifndef TEST_FAULT_ALIGN
#define TEST_FAULT_ALIGN 0
#endif
static_assert(TEST_FAULT_CRASH_DOWN + TEST_FAULT_NODESC + TEST_FAULT_CLASS + TEST_FAULT_WORDS + TEST_FAULT_NOEND +
                      TEST_FAULT_STARTUP + TEST_FAULT_SERVICE + TEST_FAULT_SECOND + TEST_FAULT_REALLOC +
                      TEST_FAULT_ALIGN ==
                  1,
              "define exactly one TEST_FAULT_<FAULT> to 1");

namespace {

int32_t g_instance; // what activation hands out as the instance

// REALLOC: the instance and its table, freed at release.
struct grower {
    unsigned char *table;
    size_t size;
};

void HOST_CALL faulty_void(void *inst) {
    if (TEST_FAULT_REALLOC && inst) {
        grower *g = static_cast<grower *>(inst);
        free(g->table);
        free(g);
    }
}
void HOST_CALL faulty_draw(void *, const host_draw_record *) {}
const char *HOST_CALL faulty_text(void *, const host_tool_event *) { return "Faulty"; }
int32_t HOST_CALL faulty_query(void *) { return 0; }
int32_t HOST_CALL faulty_zero(void *, const host_tool_event *) { return 0; }
int32_t HOST_CALL faulty_position(void *, const host_tool_event *, int32_t index, double *) { return index + 1; }
int32_t HOST_CALL faulty_adjust(void *, const host_tool_event *, int32_t) { return 0; }
void HOST_CALL faulty_event(void *, const host_tool_event *) {}
void HOST_CALL faulty_notify(void *, int32_t) {}

int32_t HOST_CALL faulty_crash(void *inst, const host_tool_event *) {
    if (TEST_FAULT_REALLOC) {
        grower *g = static_cast<grower *>(inst);
        g->size += 64;
        g->table = static_cast<unsigned char *>(realloc(g->table, g->size)); // loses the block when refused
        if (!g->table) g->size = 0;
        return 1;
    }
    if (!TEST_FAULT_CRASH_DOWN) return 1;
    volatile int32_t *volatile nowhere = nullptr;
    *nowhere = 1;
    return 1;
}

int32_t HOST_CALL faulty_activate(int32_t, host_global_fn global, void *local_record, void *) {
    host_local_record *local = static_cast<host_local_record *>(local_record);
    if (TEST_FAULT_SERVICE) global("Fancy Service 9", 0);
    if (TEST_FAULT_REALLOC) {
        grower *g = static_cast<grower *>(calloc(1, sizeof(grower)));
        if (!g) return 1;
        local->instance = g;
    } else local->instance = &g_instance;
    host_tool_callbacks *t = local->callbacks;
    t->release = faulty_void;
    t->draw = faulty_draw;
    t->tool_text = faulty_text;
    t->change_query = faulty_query;
    t->handle_count = faulty_zero;
    t->handle_position = faulty_position;
    t->drag_start = faulty_zero;
    t->handle_adjust = faulty_adjust;
    t->mouse_down = faulty_crash;
    t->mouse_move = faulty_event;
    t->mouse_up = faulty_event;
    t->notify = faulty_notify;
    return 0;
}

void *HOST_CALL faulty_startup(void) {
    if (TEST_FAULT_STARTUP) {
        volatile int32_t *volatile nowhere = nullptr;
        *nowhere = 1;
    }
    return reinterpret_cast<void *>(static_cast<intptr_t>(4));
}

#if TEST_FAULT_NOEND
#define FAULTY_RECORD \
    { HOST_CLASS_LAYOUT_TOOL, "Zendro_Faulty", faulty_activate, nullptr }
#define FAULTY_RECORDS_8                                                                                     \
    FAULTY_RECORD, FAULTY_RECORD, FAULTY_RECORD, FAULTY_RECORD, FAULTY_RECORD, FAULTY_RECORD, FAULTY_RECORD, \
        FAULTY_RECORD
const host_server_record faulty_servers[65] = {FAULTY_RECORDS_8, FAULTY_RECORDS_8, FAULTY_RECORDS_8,
                                               FAULTY_RECORDS_8, FAULTY_RECORDS_8, FAULTY_RECORDS_8,
                                               FAULTY_RECORDS_8, FAULTY_RECORDS_8, FAULTY_RECORD};
#else
const host_server_record faulty_servers[] = {
    {TEST_FAULT_CLASS ? "LayoutGeneric" : HOST_CLASS_LAYOUT_TOOL, "Zendro_Faulty", faulty_activate, nullptr},
#if TEST_FAULT_SECOND
    {HOST_CLASS_LAYOUT_TOOL, "Zendro_Faulty_Second", faulty_activate, nullptr},
#endif
    host_server_record{}, // the end record: all null
};
#endif

} // namespace

#if TEST_FAULT_NODESC
#define FAULTY_DESCRIPTOR faulty_descriptor_elsewhere
#else
#define FAULTY_DESCRIPTOR _mod_descrip
#endif

namespace {
constexpr host_module_descriptor faulty_descriptor(host_module_descriptor d) {
#if TEST_FAULT_ALIGN && HOST_PTR64
    d.alignment = 0xA1u;
#endif
    return d;
}
} // namespace

extern "C" HOST_EXPORT const host_module_descriptor FAULTY_DESCRIPTOR;
extern "C" const host_module_descriptor FAULTY_DESCRIPTOR = faulty_descriptor(test_module_descriptor(
    TEST_FAULT_WORDS ? 0x94191204u : HOST_MODULE_SYNC, faulty_startup, test_module_shutdown, faulty_servers));
