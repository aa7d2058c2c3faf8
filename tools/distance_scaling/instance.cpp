// SPDX-License-Identifier: MIT
// The distance scaling tool's instance: start values, remembered settings, the definition the frame activates.
#include "tools/distance_scaling/menlix.h"

const char frame_server_name[] = "Zendro_Menlix";

menlix_module_state menlix_module;

// First activation of the loaded module only: the Scale fields open at 1.0.
static void menlix_set_defaults(void) {
    for (float &factor : menlix_module.scale) factor = 1.0f;
}

static void menlix_init_instance(frame_instance *base) {
    menlix_instance *inst = reinterpret_cast<menlix_instance *>(base);
    inst->base.axis = 1;
    inst->method = MENLIX_METHOD_SCALE;
    inst->origin_mode = MENLIX_ORIGIN_CENTRE;
    inst->origin_picked = 0;
    inst->horizontal = 1.0;
    inst->vertical = 1.0;
    for (int i = 0; i < 3; ++i) inst->working_origin[i] = inst->custom_origin[i] = 0.0;
}

// No "Instance Update": this tool never asks the host to refresh it.
const frame_tool frame_tool_definition = {
    FRAME_NEEDS_PANEL | FRAME_NEEDS_VIEWPORT | FRAME_NEEDS_SCENE,
    sizeof(menlix_instance),
    sizeof(menlix_item),
    menlix_set_defaults,
    menlix_init_instance,
    menlix_build_panel,
    "Menlix",
    &menlix_viewport,
};
