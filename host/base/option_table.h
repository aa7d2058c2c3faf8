// SPDX-License-Identifier: MIT
// A command's options as one table of rules (name, value name, help line, and how the value is
// taken and validated), and the one parser that reads a command's words through such a table.
// zendro_host's verbs (apps/command_line.h) and the validator's workers (host/check/) read their
// words with it, and the usage text is made from the same tables.
//
//   std::vector<std::string> operands;
//   std::string error;
//   switch (cli::parse_options(words, cli::play_option_rules(), &play, &operands, &error)) ...
#ifndef HOST_BASE_OPTION_TABLE_H
#define HOST_BASE_OPTION_TABLE_H

#include <string>
#include <vector>

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
// the rule's `apply` answered). `option_words`, when given, receives the option words as given
// (each option and its value, not the operands), to hand the same options on to a worker.
template <class Rule, class Options>
ParseStatus parse_options(const std::vector<std::string> &words, const std::vector<Rule> &rules, Options *options,
                          std::vector<std::string> *operands, std::string *error,
                          std::vector<std::string> *option_words = nullptr) {
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
        if (option_words) {
            option_words->push_back(w);
            if (rule->value_name) option_words->push_back(value);
        }
    }
    return ParseStatus::Ok;
}

} // namespace cli

#endif // HOST_BASE_OPTION_TABLE_H
