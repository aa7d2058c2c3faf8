// SPDX-License-Identifier: MIT
// The custom rotation tool's definition for the frame: services, sizes, remembered settings, start
// values, panel, tool text and viewport behaviour.
#include "tools/custom_rotation/kardel.h"

const char frame_server_name[] = "Zendro_Kardel";

kardel_module_state kardel_module;

// The remembered H, P, B angles start at 0. An instance starts with axis 1 (so that a move before any
// press is defined) and everything else at zero: method "Keep", origin "Custom", nothing grabbed,
// angle 0, pivot and centre at the world origin.
static_assert(KARDEL_METHOD_KEEP == 0 && KARDEL_ORIGIN_CUSTOM == 0, "a zeroed instance starts with Keep and Custom");
const frame_tool frame_tool_definition = {
    FRAME_NEEDS_PANEL | FRAME_NEEDS_VIEWPORT | FRAME_NEEDS_SCENE | FRAME_NEEDS_INSTANCE_UPDATE,
    sizeof(kardel_instance),
    sizeof(kardel_item),
    kardel_module.remembered,
    0.0f,
    1,
    nullptr,
    kardel_build_panel,
    "Zendro Kardel",
    &kardel_viewport,
};
