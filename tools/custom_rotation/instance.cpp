// SPDX-License-Identifier: MIT
// The custom rotation tool's instance: start values, remembered settings, the definition the frame activates.
#include "tools/custom_rotation/kardel.h"

const char frame_server_name[] = "Zendro_Kardel";

kardel_module_state kardel_module;

static void kardel_set_defaults(void) {
    for (float &angle : kardel_module.remembered) angle = 0.0f;
}

static void kardel_init_instance(frame_instance *base) {
    kardel_instance *inst = reinterpret_cast<kardel_instance *>(base);
    inst->base.axis = 1;
    inst->method = KARDEL_METHOD_KEEP;
    inst->origin = KARDEL_ORIGIN_CUSTOM;
    // The rest starts at zero: item count, centre grabbed, angle, pivot, centre.
}

const frame_tool frame_tool_definition = {
    FRAME_NEEDS_PANEL | FRAME_NEEDS_VIEWPORT | FRAME_NEEDS_SCENE | FRAME_NEEDS_INSTANCE_UPDATE,
    sizeof(kardel_instance),
    sizeof(kardel_item),
    kardel_set_defaults,
    kardel_init_instance,
    kardel_build_panel,
    "Zendro Kardel",
    &kardel_viewport,
};
