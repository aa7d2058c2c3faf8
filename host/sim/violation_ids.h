// SPDX-License-Identifier: MIT
// Every violation id the host reports: the simulator's violations and warnings, the module-file
// inspector's and the module loader's errors ("id: message"), the player's findings and the
// validator's failures. Each id is kebab-case with its area first; the constant is the id with
// underscores. docs/validator.md lists the same ids ("Violation ids"), and the test
// check-ids-documented keeps the two the same.
#ifndef HOST_SIM_VIOLATION_IDS_H
#define HOST_SIM_VIOLATION_IDS_H

namespace sim::violation_id {

// ---- The module file (host/sim/binary.h, host/sim/macho.h, the check module-file-format) ----
constexpr char binary_unreadable[] = "binary-unreadable";         // the file cannot be opened or read
constexpr char binary_too_large[] = "binary-too-large";           // the file is larger than 256 MiB
constexpr char binary_unknown_format[] = "binary-unknown-format"; // neither ELF nor PE nor Mach-O
constexpr char binary_truncated[] = "binary-truncated";           // shorter than its fixed headers
constexpr char binary_outside_file[] = "binary-outside-file";     // a table or name lies beyond the file's end
constexpr char binary_malformed[] = "binary-malformed";           // a header or table is inconsistent
constexpr char binary_macho_no_slice[] = "binary-macho-no-slice"; // a universal file without this processor's slice
constexpr char binary_macho_32_bit[] = "binary-macho-32-bit";     // a 32-bit Mach-O file
// Mach-O features this host's loader does not implement (chained fixups, weak or thread-local binds)
constexpr char binary_macho_unsupported[] = "binary-macho-unsupported";
constexpr char binary_macho_export_trie[] = "binary-macho-export-trie";   // the export trie is damaged
constexpr char binary_macho_signature[] = "binary-macho-signature";       // the code signature is missing or wrong
constexpr char module_file_format[] = "module-file-format";               // a library format of another platform
constexpr char module_pointer_width[] = "module-pointer-width";           // another pointer width than the host's
constexpr char module_machine[] = "module-machine";                       // built for another processor
constexpr char module_not_shared_library[] = "module-not-shared-library"; // an executable or object file

// ---- Loading the module and reading its descriptor (host/sim/tool.cpp, host/sim/macho_load.cpp) ----
constexpr char module_load[] = "module-load"; // the system's loader refused the file
// The Mach-O loader's reasons, which follow "module-load: cannot load FILE: " in the message:
constexpr char macho_wrong_processor[] = "macho-wrong-processor";         // no slice for this processor
constexpr char macho_not_loadable[] = "macho-not-loadable";               // not a bundle or a library
constexpr char macho_unknown_import[] = "macho-unknown-import";           // imports a symbol the host lacks
constexpr char macho_malformed[] = "macho-malformed";                     // the image cannot be mapped
constexpr char macho_not_supported[] = "macho-not-supported";             // no Mach-O loader in this build
constexpr char module_descriptor_missing[] = "module-descriptor-missing"; // the descriptor symbol is not exported
constexpr char module_exports_extra[] = "module-exports-extra";           // symbols besides the descriptor are exported
constexpr char module_descriptor_sync[] = "module-descriptor-sync";       // a wrong synchronisation word
constexpr char module_descriptor_version[] = "module-descriptor-version"; // a wrong descriptor version
constexpr char module_descriptor_interface[] = "module-descriptor-interface";       // a wrong interface version
constexpr char module_descriptor_alignment[] = "module-descriptor-alignment";       // 64-bit: a non-zero alignment word
constexpr char module_descriptor_routine_null[] = "module-descriptor-routine-null"; // no start-up or shut-down routine
constexpr char module_server_table_missing[] = "module-server-table-missing";       // the server table is null
constexpr char module_server_table_unterminated[] = "module-server-table-unterminated"; // no all-null record in 64
constexpr char module_server_missing[] = "module-server-missing";       // no LayoutTool server (of that name)
constexpr char server_record_incomplete[] = "server-record-incomplete"; // a LayoutTool record lacks name or activation
constexpr char server_table_extra_record[] = "server-table-extra-record"; // a second LayoutTool server
constexpr char module_startup_answer[] = "module-startup-answer";         // start-up answered other than 4
constexpr char module_error[] = "module-error";                           // a load error that names no id

// ---- Service lookups and traps (host/sim/services.cpp, host/sim/trace.cpp) ----
constexpr char lookup_name_null[] = "lookup-name-null";                 // the global function got no name
constexpr char lookup_mode_nonzero[] = "lookup-mode-nonzero";           // a lookup with a mode other than 0
constexpr char lookup_unknown_service[] = "lookup-unknown-service";     // a service name the host does not offer
constexpr char service_trap_called[] = "service-trap-called";           // a call into a slot no module may use
constexpr char service_forbidden_called[] = "service-forbidden-called"; // a call of a service a session forbade

// ---- The tool's activation and callbacks (host/sim/tool.cpp, host/check/lifecycle_checks.cpp) ----
constexpr char tool_server_missing[] = "tool-server-missing";                       // no server record to activate
constexpr char tool_local_record_callbacks[] = "tool-local-record-callbacks";       // callbacks in a module-local table
constexpr char tool_instance_released[] = "tool-instance-released";                 // a callback after release
constexpr char tool_not_active[] = "tool-not-active";                               // a callback without an active tool
constexpr char tool_callback_unfilled[] = "tool-callback-unfilled";                 // a callback slot 0 to 11 left null
constexpr char tool_callback_reserved_written[] = "tool-callback-reserved-written"; // the reserved slot 12 changed
constexpr char activation_answer[] = "activation-answer";               // activation answered other than expected
constexpr char activation_instance_null[] = "activation-instance-null"; // activation stored no instance
constexpr char instance_update_class[] = "instance-update-class";       // instance update names another class
constexpr char instance_update_instance[] = "instance-update-instance"; // instance update of a dead instance

// ---- Drawing (host/sim/tool.cpp) ----
constexpr char draw_display_mismatch[] = "draw-display-mismatch"; // a drawing record's display data changed
constexpr char draw_argument_null[] = "draw-argument-null";       // a colour or end point that is null

// ---- Memory (host/sim/alloc_hooks.h) ----
constexpr char memory_free_unknown[] = "memory-free-unknown";       // a free or realloc of a block not held
constexpr char memory_leak_at_release[] = "memory-leak-at-release"; // blocks still held after release

// ---- Time, items, channels and keys (host/sim/services.cpp) ----
constexpr char time_mismatch[] = "time-mismatch";                   // a key read or written at another time
constexpr char item_none[] = "item-none";                           // no item where one is needed
constexpr char item_unknown[] = "item-unknown";                     // an item id the host never gave out
constexpr char item_param_code[] = "item-param-code";               // an item parameter the tools never read
constexpr char item_param_output_null[] = "item-param-output-null"; // no output array for an item parameter
constexpr char group_unknown[] = "group-unknown";                   // a handle that is no channel group
constexpr char channel_unknown[] = "channel-unknown";               // a handle that is no channel
constexpr char channel_foreign[] = "channel-foreign";               // a channel of another item's group
constexpr char envelope_unknown[] = "envelope-unknown";             // a handle that is no envelope
constexpr char envelope_write_unselected_item[] = "envelope-write-unselected-item";       // a key on an unselected item
constexpr char envelope_write_non_target_channel[] = "envelope-write-non-target-channel"; // a key in another channel
constexpr char key_value_non_finite[] = "key-value-non-finite";                           // a NaN or infinite key value
constexpr char key_create_duplicate[] = "key-create-duplicate"; // a second key at the same time
constexpr char key_unknown[] = "key-unknown";                   // a handle that is no key
constexpr char key_foreign_envelope[] = "key-foreign-envelope"; // a key set through another envelope
constexpr char key_set_attribute[] = "key-set-attribute";       // a key attribute other than its value
constexpr char key_set_value_null[] = "key-set-value-null";     // no value for set key value

// ---- Viewports (host/sim/services.cpp) ----
constexpr char viewport_unknown[] = "viewport-unknown";             // a viewport index the host did not report
constexpr char viewport_argument_null[] = "viewport-argument-null"; // a null point or output address

// ---- Panels (host/sim/panel.cpp, host/check/lifecycle_checks.cpp) ----
constexpr char panel_unknown[] = "panel-unknown";                 // a handle that is no panel
constexpr char panel_stale[] = "panel-stale";                     // a panel used after its destruction
constexpr char panel_title_null[] = "panel-title-null";           // create panel without a title
constexpr char panel_create_reserved[] = "panel-create-reserved"; // create panel with a non-zero second argument
constexpr char panel_open_flags[] = "panel-open-flags";           // open with flags other than 0
constexpr char panel_poll_flags[] = "panel-poll-flags";           // poll with flags other than 0
constexpr char panel_close_not_open[] = "panel-close-not-open";   // close of a panel that is not open
constexpr char panel_attribute_value_null[] = "panel-attribute-value-null";   // a panel attribute without a value
constexpr char panel_attribute_unknown[] = "panel-attribute-unknown";         // a panel attribute other than 2, 3, 13
constexpr char panel_control_outside[] = "panel-control-outside";             // a control beyond its panel's edges
constexpr char panel_controls_overlap[] = "panel-controls-overlap";           // two controls overlap
constexpr char panel_key_callback_missing[] = "panel-key-callback-missing";   // a key press without a key callback
constexpr char panel_not_open[] = "panel-not-open";                           // activation left its panel closed
constexpr char release_panel_left_open[] = "release-panel-left-open";         // the panel still open after release
constexpr char release_panel_not_destroyed[] = "release-panel-not-destroyed"; // the panel not destroyed at release
// A warning, never a failure: a control's value set while the user had closed the panel
constexpr char panel_write_after_user_close[] = "panel-write-after-user-close";

// ---- Controls and their descriptors (host/sim/panel.cpp) ----
constexpr char control_unknown[] = "control-unknown";                           // a pointer that is no control
constexpr char control_stale[] = "control-stale";                               // a control of a destroyed panel
constexpr char control_label_null[] = "control-label-null";                     // add control without a label
constexpr char control_type_unknown[] = "control-type-unknown";                 // a type name the toolkit lacks
constexpr char descriptor_null[] = "descriptor-null";                           // add control without a descriptor
constexpr char descriptor_kind_mismatch[] = "descriptor-kind-mismatch";         // a descriptor of another control type
constexpr char descriptor_choice_items_null[] = "descriptor-choice-items-null"; // a choice without its items
constexpr char descriptor_choice_empty[] = "descriptor-choice-empty";           // a choice with no item
constexpr char descriptor_field[] = "descriptor-field";                         // a trailing field left unset
constexpr char descriptor_text_lines_null[] = "descriptor-text-lines-null";     // a heading without its line list
constexpr char descriptor_drag_button_fields[] = "descriptor-drag-button-fields"; // a drag button's fields unset
constexpr char descriptor_info_fields[] = "descriptor-info-fields";               // an info field's fields unset
constexpr char descriptor_list_global[] = "descriptor-list-global";       // an item list with another global function
constexpr char descriptor_list_item_type[] = "descriptor-list-item-type"; // an item list of another item type
constexpr char control_value_form[] = "control-value-form";               // a value form that does not fit the control
constexpr char control_no_value[] = "control-no-value";                   // a value access on a heading or button
constexpr char control_attribute_unknown[] = "control-attribute-unknown"; // a control attribute the tools never use
constexpr char control_value_null[] = "control-value-null";               // get or set without a value record
constexpr char control_text_buffer[] = "control-text-buffer";             // a text read without room
constexpr char control_choice_range[] = "control-choice-range";           // a choice index out of range
constexpr char control_text_null[] = "control-text-null";                 // a text value that is null
constexpr char control_text_length_negative[] = "control-text-length-negative"; // a text of negative length

// ---- The player (host/player/) ----
constexpr char expect_failed[] = "expect-failed";                     // an expect statement did not hold
constexpr char step_impossible[] = "step-impossible";                 // a step no user could take then
constexpr char alloc_hooks_unavailable[] = "alloc-hooks-unavailable"; // a refusal without the allocation hooks
constexpr char picture_unwritable[] = "picture-unwritable";           // a picture file cannot be written
constexpr char statement_invalid[] = "statement-invalid";             // a statement the script checker refuses
constexpr char player_error[] = "player-error";                       // the player itself failed

// ---- Isolated workers and random sessions (host/check/, host/random/) ----
constexpr char session_crash[] = "session-crash";         // the module crashed the worker
constexpr char session_timeout[] = "session-timeout";     // the worker hung past its time limit
constexpr char session_error[] = "session-error";         // the random sessions could not run
constexpr char worker_error[] = "worker-error";           // a worker ended without a result
constexpr char script_invalid[] = "script-invalid";       // a generated session the script checker refuses
constexpr char script_unwritable[] = "script-unwritable"; // a shrunk script cannot be saved

} // namespace sim::violation_id

#endif
