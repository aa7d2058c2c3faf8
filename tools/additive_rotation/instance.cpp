// SPDX-License-Identifier: MIT
// The additive rotation tool's instance: start values, remembered settings, the definition the frame activates.
#include "tools/additive_rotation/strova.h"

const char frame_server_name[] = "Zendro_Strova";

strova_module_state strova_module;

static void strova_set_defaults(void) {
    for (float &angle : strova_module.remembered) angle = 1.0f;
}

static void strova_init_instance(frame_instance *base) {
    strova_instance *inst = reinterpret_cast<strova_instance *>(base);
    inst->base.axis = 0; // no channel until a press picks one
    for (double &angle : inst->last_drag) angle = 0.0;
    // The rest starts at zero: item count, drag angle.
}

// The tool never projects or draws: it needs no viewport service.
const frame_tool frame_tool_definition = {
    FRAME_NEEDS_PANEL | FRAME_NEEDS_SCENE,
    sizeof(strova_instance),
    sizeof(strova_item),
    strova_set_defaults,
    strova_init_instance,
    strova_build_panel,
    "Strova",
    &strova_viewport,
};
