// SPDX-License-Identifier: MIT
// zendro_host's command line: the usage text lists every option of every verb's table with its
// help in one column, and the table-driven parser reads words as the usage says.
#include "apps/command_line.h"

#include <gtest/gtest.h>
#include <sstream>

#include "host/check/check.h"

namespace {

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Each option is in the synopsis as "[NAME VALUE]" and starts a help line "  NAME VALUE  help...",
// the help of every option starting in the same column.
template <class Rule> void expect_listed(const std::string &usage, const std::vector<Rule> &rules, size_t *column) {
    for (const Rule &r : rules) {
        const std::string word = std::string(r.name) + (r.value_name ? std::string(" ") + r.value_name : "");
        EXPECT_NE(usage.find("[" + word + "]"), std::string::npos) << word;
        const std::string help_start = std::string(r.help).substr(0, std::string(r.help).find(' '));
        bool found = false;
        for (const std::string &line : lines_of(usage)) {
            if (line.compare(0, word.size() + 3, "  " + word + " ") != 0) continue;
            const size_t at = line.find_first_not_of(' ', word.size() + 2);
            if (line.compare(at, help_start.size(), help_start) != 0) continue;
            found = true;
            EXPECT_GE(at, word.size() + 4) << line;
            if (*column == 0) *column = at;
            EXPECT_EQ(at, *column) << line;
        }
        EXPECT_TRUE(found) << "no help line for " << word;
    }
}

TEST(Usage, ListsEveryOptionOfEveryVerbInOneColumn) {
    const std::string usage = cli::usage_text();
    size_t column = 0;
    expect_listed(usage, cli::play_option_rules(), &column);
    expect_listed(usage, sim::check_option_rules(), &column);
    for (const std::string &line : lines_of(usage)) EXPECT_LE(line.size(), 100u) << line;
    const std::string check = cli::usage_text("check");
    EXPECT_EQ(check.rfind("usage: zendro_host check MODULE... [--only-failed]", 0), 0u) << check;
    EXPECT_EQ(check.find("zendro_host play"), std::string::npos);
}

TEST(Parser, ReadsWordsThroughTheTable) {
    const auto parse = [](std::vector<std::string> words, cli::PlayCommand *c, std::vector<std::string> *operands,
                          std::string *error) {
        return cli::parse_options(words, cli::play_option_rules(), c, operands, error);
    };
    cli::PlayCommand c;
    std::vector<std::string> operands;
    std::string error;
    ASSERT_EQ(parse({"m.so", "--quiet", "--server", "-x", "-", "--channels", "A,,B"}, &c, &operands, &error),
              cli::ParseStatus::Ok);
    EXPECT_TRUE(c.quiet);
    EXPECT_FALSE(c.player.trace);
    EXPECT_EQ(c.player.server, "-x"); // a value is taken as it is, even when it looks like an option
    EXPECT_EQ(c.player.write_targets, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(operands, (std::vector<std::string>{"m.so", "-"}));

    EXPECT_EQ(parse({"--frobnicate"}, &c, &operands, &error), cli::ParseStatus::Error);
    EXPECT_EQ(error, "unknown option --frobnicate");
    EXPECT_EQ(parse({"m.so", "--server"}, &c, &operands, &error), cli::ParseStatus::Error);
    EXPECT_EQ(error, "--server needs NAME");
    EXPECT_EQ(parse({"--channels", ","}, &c, &operands, &error), cli::ParseStatus::Error);
    EXPECT_EQ(error, "--channels needs names");
    EXPECT_EQ(parse({"--frobnicate", "-h"}, &c, &operands, &error), cli::ParseStatus::Help);

    // check's words: the modules apart, the option words kept as given for the workers.
    sim::CheckOptions o;
    ASSERT_EQ(sim::parse_check_options({"a.so", "--seed", "7", "b.so", "--only-failed"}, &o, &error),
              cli::ParseStatus::Ok);
    EXPECT_EQ(o.modules, (std::vector<std::string>{"a.so", "b.so"}));
    EXPECT_EQ(o.words, (std::vector<std::string>{"--seed", "7", "--only-failed"}));
    EXPECT_EQ(o.seed, 7u);
    EXPECT_EQ(sim::check_options_problem(o), "");
    o.filter = "nothing-matches";
    EXPECT_EQ(sim::check_options_problem(o), "no check matches the filter \"nothing-matches\" (see --list)");
}

} // namespace
