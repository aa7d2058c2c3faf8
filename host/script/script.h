// SPDX-License-Identifier: MIT
// Session scripts: a line-based language that stages a scene, host conditions and a user's actions
// for the host simulator, and states what should come of them. docs/sessions.md is the reference
// for users; this header is the reference for code that reads, builds, edits or prints scripts.
//
// A script is a list of statements. Each statement is a verb ("mouse-move", "expect key", ...)
// with positional arguments and keyword options, both typed by the verb's row in the schema table
// (verbs()). The parser turns text into statements and makes every check that needs nothing
// loaded: the verb, the argument count, numbers and their ranges, keywords, items used before they
// are defined, channels an item lacks, viewports that do not exist. The printer turns statements
// back into text that parses to the same statements, so code may build statements, edit them
// (drop one, replace a number) and print the result:
//
//   sim::Statement s = sim::statement("mouse-move", {sim::Value::int32(1500), sim::Value::int32(0)});
//   s.set("alt");                                   // a keyword option without values
//   std::string line = sim::print_statement(s);     // "mouse-move 1500 0 alt"
//   sim::ParseResult r = sim::parse_script(line);   // r.script.statements[0] == s
//
// Adding a verb is one row in the table in script.cpp and one handler in host/player (a verbs_*.cpp
// and its row in handlers.cpp).
#ifndef HOST_SCRIPT_H
#define HOST_SCRIPT_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sim {

// ---- Statements -------------------------------------------------------------------------------

enum class ValueType : uint8_t {
    Name,    // a name being defined or given as it is: an item name in "item", a service, an id
    Item,    // an item defined earlier by an "item" statement
    Channel, // a channel name of the item given before it
    Text,    // free text: a choice item, an info text, a callback answer, narration
    Word,    // one of the parameter's keywords ("x", "on", ...) or a special word ("none")
    Ref,     // a panel control: its label, or "#N", the N-th control of the statement's kind
    Real,    // a double; nan, inf, -inf and -0 included
    Int,     // an integer within the parameter's range (int32 unless the row says otherwise)
};

struct Value {
    ValueType type = ValueType::Text;
    std::string text;    // Name, Item, Channel, Text, Word; Ref by label
    double real = 0.0;   // Real
    int64_t integer = 0; // Int; Ref by index (1-based, 0 = by label)

    static Value name(const std::string &s) { return {ValueType::Name, s, 0.0, 0}; }
    static Value item(const std::string &s) { return {ValueType::Item, s, 0.0, 0}; }
    static Value channel(const std::string &s) { return {ValueType::Channel, s, 0.0, 0}; }
    static Value text_of(const std::string &s) { return {ValueType::Text, s, 0.0, 0}; }
    static Value word(const std::string &s) { return {ValueType::Word, s, 0.0, 0}; }
    static Value label(const std::string &s) { return {ValueType::Ref, s, 0.0, 0}; }
    static Value index(int64_t n) { return {ValueType::Ref, std::string(), 0.0, n}; }
    static Value number(double v) { return {ValueType::Real, std::string(), v, 0}; }
    static Value int32(int64_t v) { return {ValueType::Int, std::string(), 0.0, v}; }
};
// Same type and content; NaN equals NaN, -0 differs from 0 (what the printer keeps apart).
bool operator==(const Value &a, const Value &b);
inline bool operator!=(const Value &a, const Value &b) { return !(a == b); }

struct Option {
    std::string keyword;
    std::vector<Value> values;
};

struct Statement {
    int line = 0; // 1-based line in the script text; 0 for a statement built in code
    std::string verb;
    std::vector<Value> args;     // positional, in the row's order
    std::vector<Option> options; // keyword options, any order (printed in the row's order)
    std::string source;          // the line as written (parser only; empty when built)

    const Option *option(const std::string &keyword) const;
    Option *option(const std::string &keyword);
    bool has(const std::string &keyword) const { return option(keyword) != nullptr; }
    // Adds the option, or replaces its values when present. Returns *this for chaining.
    Statement &set(const std::string &keyword, std::vector<Value> values = {});
    Statement &unset(const std::string &keyword);
};
// Same verb, arguments and options (line and source are not compared; option order is ignored).
bool operator==(const Statement &a, const Statement &b);
inline bool operator!=(const Statement &a, const Statement &b) { return !(a == b); }

inline Statement statement(const std::string &verb, std::vector<Value> args = {}) {
    Statement s;
    s.verb = verb;
    s.args = std::move(args);
    return s;
}

struct Script {
    std::vector<Statement> statements;
};

// ---- Schema -----------------------------------------------------------------------------------

struct ParamRule {
    const char *name; // placeholder in usage lines and messages, e.g. "X"
    ValueType type;
    int64_t lo, hi;    // Int: the accepted range
    const char *words; // Word: the keywords, blank-separated; Item/Text: special words taken
                       // when unquoted (e.g. "none"); null when there are none
};

struct OptionRule {
    const char *keyword;
    std::vector<ParamRule> values; // fixed count; with `rest`, one entry describing each value
    bool rest;                     // takes every token after the keyword
};

struct VerbRule {
    const char *verb;            // "mouse-move", "expect key"
    std::vector<ParamRule> args; // positional
    size_t required;             // how many of `args` must be given; the others are optional
    bool repeat_last;            // the last positional may repeat
    bool raw_text;               // one Text argument: the rest of the line as written (say)
    std::vector<OptionRule> options;
    const char *usage_tail; // what follows the verb in the usage line
    // Rules the row's types cannot say (options that exclude each other, ...). Null, or a reason.
    const char *(*extra)(const Statement &s);
};

// Every verb, in the order docs/sessions.md lists them.
const std::vector<VerbRule> &verbs();
const VerbRule *find_verb(const std::string &verb);
// "mouse-move DX DY [in VIEWPORT X Y] [alt] ..."
std::string usage(const VerbRule &rule);
// The rule of positional argument `i` (the repeated last one for the rest), or null.
const ParamRule *arg_rule(const VerbRule &rule, size_t i);
const OptionRule *option_rule(const VerbRule &rule, const std::string &keyword);

// ---- Checks -----------------------------------------------------------------------------------

// Text echoed in a message (a statement as written, a reason that quotes a token): whole up to
// `limit` bytes, else its first `limit` bytes (not splitting a UTF-8 character) and
// "... (N bytes)", so that one huge line cannot flood a report.
constexpr size_t k_echo_limit = 300;
std::string clip_echo(const std::string &text, size_t limit = k_echo_limit);

struct ScriptError {
    int line;
    std::string statement; // as written, or as printed for a statement built in code
    std::string reason;
    std::string message() const; // "line N: <statement>: <reason>", each clipped (clip_echo)
};

// Checks one statement against its row alone (verb, counts, types, ranges, keywords, the row's
// extra rule). Returns the reason, or an empty string.
std::string check_statement(const Statement &s);

// Checks statements in script order with what the earlier ones defined: items and their channels,
// viewports. A generator feeds it the statements it makes, in order.
class ScriptChecker {
public:
    ScriptChecker();
    // The reason the statement cannot stand here, or empty; a good statement is taken into the
    // context (an item becomes defined, a viewport exists).
    std::string check(const Statement &s);
    bool has_item(const std::string &name) const { return items_.count(name) != 0; }
    const std::vector<std::string> *channels(const std::string &item) const;
    bool has_viewport(int64_t index) const { return viewports_.count(index) != 0; }
    // An "item" statement on `line` that defines `name` was refused: a later use of the name says
    // so instead of calling the item undefined.
    void refused_item(const std::string &name, int line) { refused_items_[name] = line; }

private:
    // The steps of check: the viewports and the items with their channels the statement names,
    // then what it defines.
    std::string viewport_problem(const Statement &s) const;
    std::string item_problem(const Statement &s) const;
    void take_definitions(const Statement &s);

    std::map<std::string, std::vector<std::string>> items_;
    std::map<std::string, int> refused_items_;
    std::set<int64_t> viewports_;
};

// ---- Parser and printer -----------------------------------------------------------------------

struct ParseResult {
    Script script; // the statements that parsed and passed the checks
    std::vector<ScriptError> errors;
    bool ok() const { return errors.empty(); }
};

// Parses a whole script (blank lines and lines starting with '#' are skipped; CR LF and a UTF-8
// byte order mark are accepted) and checks it with a ScriptChecker.
ParseResult parse_script(const std::string &text);

// The canonical text of a statement, without a line end: options in the row's order, tokens
// quoted where needed, doubles in their shortest exact form.
std::string print_statement(const Statement &s);
std::string print_script(const Script &script); // one statement per line

// A name (item, channel) as a script writes it: quoted when it is empty, starts with '#' or holds
// a blank, a quote or a backslash.
std::string print_name(const std::string &name);

// A double as the printer writes it: the shortest form that reads back exactly; "nan", "inf",
// "-inf", "-0".
std::string format_real(double v);

} // namespace sim

#endif // HOST_SCRIPT_H
