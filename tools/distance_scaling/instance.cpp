// SPDX-License-Identifier: MIT
// The distance scaling tool's definition for the frame: services, sizes, remembered settings, start
// values, panel, tool text and viewport behaviour.
#include "tools/distance_scaling/menlix.h"

const char frame_server_name[] = "Zendro_Menlix";

menlix_module_state menlix_module;

static void menlix_init_instance(frame_instance *base) {
    menlix_instance *inst = reinterpret_cast<menlix_instance *>(base);
    inst->method = MENLIX_METHOD_SCALE;
    inst->origin_mode = MENLIX_ORIGIN_CENTRE;
    inst->origin_picked = 0;
    inst->horizontal = 1.0;
    inst->vertical = 1.0;
    for (int i = 0; i < 3; ++i) inst->working_origin[i] = inst->custom_origin[i] = 0.0;
}

// The Scale fields open at 1.0 at the first activation of the loaded module; an instance starts
// with view axis 1. No "Instance Update": this tool never asks the host to refresh it.
const frame_tool frame_tool_definition = {
    FRAME_NEEDS_PANEL | FRAME_NEEDS_VIEWPORT | FRAME_NEEDS_SCENE,
    sizeof(menlix_instance),
    sizeof(menlix_item),
    menlix_module.scale,
    1.0f,
    1,
    menlix_init_instance,
    menlix_build_panel,
    "Menlix",
    &menlix_viewport,
};
