// SPDX-License-Identifier: MIT
// The command line of zendro_host. Each verb has one table of option rules (name, value name, help
// line, and how the value is taken and validated); one parser (host/base/option_table.h) reads any
// verb's words through its table, and the usage text is made from the same tables, so an option
// added to a table is parsed, shown in the synopsis and explained at once.
//
//   cli::PlayCommand play;
//   std::vector<std::string> operands;
//   std::string error;
//   switch (cli::parse_options(words, cli::play_option_rules(), &play, &operands, &error)) ...
//   std::fputs(cli::usage_text("play").c_str(), stdout);
//
// play's rules are play_option_rules() below; check's are sim::check_option_rules()
// (host/check/check.h).
#ifndef APPS_COMMAND_LINE_H
#define APPS_COMMAND_LINE_H

#include <string>
#include <vector>

#include "host/base/option_table.h"
#include "host/player/player.h"

namespace cli {

// What play's options set: the player's options, and how much of the report is printed.
struct PlayCommand {
    sim::PlayerOptions player;
    bool quiet = false;
};
const std::vector<OptionRule<PlayCommand>> &play_option_rules();

// The usage of one verb ("play", "check"), or of every verb when `verb` is null: the synopsis
// lines, then per verb what it does, its options with their help aligned in one column, and its
// exit status. Lines are wrapped at 100 columns.
std::string usage_text(const char *verb = nullptr);

} // namespace cli

#endif // APPS_COMMAND_LINE_H
