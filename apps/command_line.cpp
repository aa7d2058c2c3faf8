// SPDX-License-Identifier: MIT
// zendro_host's verbs: play's option rules, and the usage text made from every verb's rules
// (apps/command_line.h).
#include "apps/command_line.h"

#include <algorithm>
#include <sstream>

#include "host/check/check.h"

namespace cli {

namespace {

std::string opt_trace(PlayCommand &c, const std::string &) {
    c.player.trace = true;
    return std::string();
}
std::string opt_quiet(PlayCommand &c, const std::string &) {
    c.quiet = true;
    return std::string();
}
std::string opt_server(PlayCommand &c, const std::string &v) {
    c.player.server = v; // empty: the module's first LayoutTool server
    return std::string();
}
// Empty names between commas are dropped; a list with no name at all is refused.
std::string opt_channels(PlayCommand &c, const std::string &v) {
    c.player.write_targets.clear();
    std::istringstream in(v);
    std::string part;
    while (std::getline(in, part, ','))
        if (!part.empty()) c.player.write_targets.push_back(part);
    return c.player.write_targets.empty() ? "--channels needs names" : std::string();
}
// Only the name is taken here; whether the folder can be made and written to is tried once the
// whole command line is known good (apps/zendro_host.cpp).
std::string opt_pictures(PlayCommand &c, const std::string &v) {
    c.player.pictures_dir = v;
    return v.empty() ? "--pictures needs a folder" : std::string();
}

// Where the usage text wraps.
constexpr size_t k_width = 100;

struct OptionDoc {
    std::string word; // "--server NAME"
    std::string help;
};

struct VerbDoc {
    const char *name;
    const char *operands;
    const char *summary;
    std::vector<const char *> exit_status; // one line per status
    std::vector<OptionDoc> options;
};

template <class Rule> std::vector<OptionDoc> docs_of(const std::vector<Rule> &rules) {
    std::vector<OptionDoc> docs;
    for (const Rule &r : rules)
        docs.push_back(
            {std::string(r.name) + (r.value_name ? std::string(" ") + r.value_name : std::string()), r.help});
    return docs;
}

std::vector<VerbDoc> verbs() {
    return {
        {"play",
         "MODULE SCRIPT",
         "loads the module file, plays the session script against it through the host simulator and reports "
         "every key written and every failure with its script line (docs/sessions.md)",
         {"0 all held", "1 a violation, failed expectation, impossible step or crash",
          "2 bad command line, script or module file"},
         docs_of(play_option_rules())},
        {"check",
         "MODULE...",
         "runs the conformance checks of a LayoutTool module on each MODULE file, each in a process of its own, "
         "and prints one line per check and a summary (docs/validator.md)",
         {"0 every check passed or was skipped", "1 a check failed", "2 bad command line"},
         docs_of(sim::check_option_rules())},
    };
}

std::vector<std::string> split_words(const std::string &text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

// Appends the units separated by blanks to `out`, whose last line is `column` wide; a unit that
// would pass k_width starts a new line indented to `indent`. A unit is never split.
void append_wrapped(std::string *out, size_t column, size_t indent, const std::vector<std::string> &units) {
    bool first = true;
    for (const std::string &u : units) {
        if (!first && column + 1 + u.size() > k_width) {
            *out += "\n" + std::string(indent, ' ');
            column = indent;
            first = true;
        }
        if (!first) {
            *out += ' ';
            ++column;
        }
        *out += u;
        column += u.size();
        first = false;
    }
    *out += '\n';
}

} // namespace

const std::vector<OptionRule<PlayCommand>> &play_option_rules() {
    static const std::vector<OptionRule<PlayCommand>> rules = {
        {"--trace", nullptr, "also print every call between host and module, after the session", opt_trace},
        {"--quiet", nullptr, "print only the warnings, the failures and the summary line", opt_quiet},
        {"--server", "NAME", "activate the LayoutTool server of that name (default: the module's first)", opt_server},
        {"--channels", "A,B,...",
         "the channel names the tool may key (default: Position.X,Position.Y,Position.Z,Rotation.H,Rotation.P,"
         "Rotation.B)",
         opt_channels},
        {"--pictures", "DIR",
         "write SVG pictures of the panel and of every viewport into DIR after each step that acts "
         "(line-0007-panel.svg, line-0007-viewport-2.svg, ...)",
         opt_pictures},
    };
    return rules;
}

std::string usage_text(const char *verb) {
    std::vector<VerbDoc> shown;
    for (VerbDoc &v : verbs())
        if (!verb || std::string(verb) == v.name) shown.push_back(std::move(v));
    // One help column for every verb shown: two blanks, the widest option with its value, two blanks.
    size_t column = 0;
    for (const VerbDoc &v : shown)
        for (const OptionDoc &o : v.options) column = std::max(column, o.word.size());
    column += 4;

    std::string out;
    for (size_t i = 0; i < shown.size(); ++i) {
        const std::string head = std::string(i == 0 ? "usage: " : "       ") + "zendro_host " + shown[i].name + " ";
        std::vector<std::string> units = split_words(shown[i].operands);
        for (const OptionDoc &o : shown[i].options) units.push_back("[" + o.word + "]");
        out += head;
        append_wrapped(&out, head.size(), head.size(), units);
    }
    for (const VerbDoc &v : shown) {
        out += "\n" + std::string(v.name) + ": ";
        append_wrapped(&out, std::string(v.name).size() + 2, 0, split_words(v.summary));
        for (const OptionDoc &o : v.options) {
            out += "  " + o.word + std::string(column - 2 - o.word.size(), ' ');
            append_wrapped(&out, column, column, split_words(o.help));
        }
        const std::string exit_head = "exit status: ";
        for (size_t i = 0; i < v.exit_status.size(); ++i)
            out += (i == 0 ? exit_head : std::string(exit_head.size(), ' ')) + v.exit_status[i] + "\n";
    }
    return out;
}

} // namespace cli
