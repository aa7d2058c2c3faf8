// SPDX-License-Identifier: MIT
// The command line of zendro_host. Each verb has one table of option rules (name, value name, help
// line, and how the value is taken and validated); one parser reads any verb's words through its
// table, and the usage text is made from the same tables, so an option added to a table is parsed,
// shown in the synopsis and explained at once.
//
//   cli::PlayCommand play;
//   std::vector<std::string> operands;
//   std::string error;
//   switch (cli::parse_options(words, cli::play_option_rules(), &play, &operands, &error)) ...
//   std::fputs(cli::usage_text("play").c_str(), stdout);
//
// play's rules are play_option_rules() below; check's are sim::check_option_rules()
// (host/check/check.h), whose rows have the same four members.
#ifndef APPS_COMMAND_LINE_H
#define APPS_COMMAND_LINE_H

#include <string>
#include <vector>

#include "host/player/player.h"

namespace cli {

// One option of a verb. `value_name` is null for a flag. `apply` takes the value (empty for a
// flag) into the verb's options and answers an error message, or empty when the value is good.
template <class Options> struct OptionRule {
    const char *name;       // "--server"
    const char *value_name; // "NAME"
    const char *help;       // one sentence, without a final full stop
    std::string (*apply)(Options &options, const std::string &value);
};

enum class ParseStatus { Ok, Help, Error };

// Reads a verb's words (those after the verb): a word of two or more characters that starts with
// '-' is an option and must be a rule's name, followed by a value when the rule names one; any
// other word is an operand, kept in order. "--help" or "-h" anywhere asks for the usage. Stops at
// the first bad option with `error` set ("unknown option --x", "--server needs NAME", or what
// the rule's `apply` answered).
template <class Rule, class Options>
ParseStatus parse_options(const std::vector<std::string> &words, const std::vector<Rule> &rules, Options *options,
                          std::vector<std::string> *operands, std::string *error) {
    for (const std::string &w : words)
        if (w == "--help" || w == "-h") return ParseStatus::Help;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &w = words[i];
        if (w.size() < 2 || w[0] != '-') {
            operands->push_back(w);
            continue;
        }
        const Rule *rule = nullptr;
        for (const Rule &r : rules)
            if (w == r.name) rule = &r;
        if (!rule) {
            *error = "unknown option " + w;
            return ParseStatus::Error;
        }
        std::string value;
        if (rule->value_name) {
            if (i + 1 >= words.size()) {
                *error = w + " needs " + rule->value_name;
                return ParseStatus::Error;
            }
            value = words[++i];
        }
        *error = rule->apply(*options, value);
        if (!error->empty()) return ParseStatus::Error;
    }
    return ParseStatus::Ok;
}

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
