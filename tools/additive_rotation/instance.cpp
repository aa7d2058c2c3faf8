// SPDX-License-Identifier: MIT
// The additive rotation tool's definition for the frame: services, sizes, remembered settings, start
// values, panel, tool text and viewport behaviour.
#include "tools/additive_rotation/strova.h"

const char frame_server_name[] = "Zendro_Strova";

strova_module_state strova_module;

// The remembered H, P, B angles start at 1. An instance starts with axis code 0 (no channel until
// a press picks one) and everything else at zero: drag angle and last drag angles.
// The tool never projects or draws: it needs no viewport service.
const frame_tool frame_tool_definition = {
    FRAME_NEEDS_PANEL | FRAME_NEEDS_SCENE,
    sizeof(strova_instance),
    sizeof(strova_item),
    strova_module.remembered,
    1.0f,
    0,
    nullptr,
    strova_build_panel,
    "Strova",
    &strova_viewport,
};
