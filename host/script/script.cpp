// SPDX-License-Identifier: MIT
// Session scripts: the verb table, the tokenizer and parser, the checks and the printer.
#include "host/script/script.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace sim {

namespace {

// ---- Rows of the verb table -------------------------------------------------------------------

constexpr int64_t k_i32_min = INT32_MIN, k_i32_max = INT32_MAX;
constexpr int64_t k_byte_max = int64_t(1) << 53; // allocation sizes: any exact double

ParamRule real(const char *n) { return {n, ValueType::Real, 0, 0, nullptr}; }
ParamRule int32(const char *n, int64_t lo = k_i32_min, int64_t hi = k_i32_max) {
    return {n, ValueType::Int, lo, hi, nullptr};
}
ParamRule word(const char *n, const char *words) { return {n, ValueType::Word, 0, 0, words}; }
ParamRule name(const char *n) { return {n, ValueType::Name, 0, 0, nullptr}; }
ParamRule item(const char *n, const char *special = nullptr) { return {n, ValueType::Item, 0, 0, special}; }
ParamRule channel(const char *n) { return {n, ValueType::Channel, 0, 0, nullptr}; }
ParamRule text(const char *n, const char *special = nullptr) { return {n, ValueType::Text, 0, 0, special}; }
ParamRule ref(const char *n) { return {n, ValueType::Ref, 0, 0, nullptr}; }

OptionRule opt(const char *keyword, std::vector<ParamRule> values = {}) { return {keyword, std::move(values), false}; }
OptionRule rest(const char *keyword, ParamRule each) { return {keyword, {each}, true}; }

const OptionRule k_nth = opt("nth", {int32("N", 1)});
const OptionRule k_tol = opt("tol", {real("T")});

// The overrides every tool event takes; `drag` sets the drag amounts where they are not positional.
std::vector<OptionRule> event_options(bool with_drag) {
    std::vector<OptionRule> o = {opt("in", {int32("VIEWPORT", 0, 255), real("X"), real("Y")}),
                                 opt("point", {real("X"), real("Y"), real("Z")}),
                                 opt("axis", {real("X"), real("Y"), real("Z")})};
    if (with_drag) o.push_back(opt("drag", {int32("DX"), int32("DY")}));
    o.push_back(opt("flags", {int32("FLAGS")}));
    o.push_back(opt("alt"));
    o.push_back(opt("vp", {int32("INDEX")}));
    return o;
}

bool is_word_in(const std::string &w, const char *words) {
    if (!words) return false;
    const char *p = words;
    while (*p) {
        while (*p == ' ') ++p;
        const char *e = p;
        while (*e && *e != ' ') ++e;
        if (e > p && w.size() == static_cast<size_t>(e - p) && std::strncmp(w.c_str(), p, w.size()) == 0) return true;
        p = e;
    }
    return false;
}

const char *none_alone(const Statement &s) {
    if (s.args.size() > 1)
        for (const Value &v : s.args)
            if (v.type == ValueType::Word) return "\"none\" stands alone: it selects nothing";
    return nullptr;
}

bool bad_tolerance(const Statement &s) {
    const Option *t = s.option("tol");
    return t && !t->values.empty() && !(t->values[0].real >= 0.0);
}

const char *tolerance_rule(const Statement &s) {
    return bad_tolerance(s) ? "the tolerance must be 0 or more" : nullptr;
}

const char *expect_key_rule(const Statement &s) {
    if (s.has("created") && s.has("replaced")) return "a key is either created or replaced, not both";
    return tolerance_rule(s);
}

const char *refuse_rule(const Statement &s) {
    if (s.args.empty()) return nullptr;
    const std::string &mode = s.args[0].text;
    if (mode == "all" && s.args.size() > 1) return "\"refuse-alloc all\" takes no count";
    if (mode != "all" && s.args.size() < 2) return "\"refuse-alloc next\" and \"nth\" need a number";
    if (mode != "nth" && s.has("count")) return "\"count\" goes with \"refuse-alloc nth\"";
    return nullptr;
}

const char *say_rule(const Statement &s) {
    if (s.args.size() != 1) return nullptr;
    const std::string &t = s.args[0].text;
    if (t.find_first_of("\r\n") != std::string::npos) return "the text must stay on one line";
    if (!t.empty() &&
        (std::isspace(static_cast<unsigned char>(t.front())) || std::isspace(static_cast<unsigned char>(t.back()))))
        return "the text must not start or end with blanks";
    return nullptr;
}

const char *picture_rule(const Statement &s) {
    if (s.has("panel") == s.has("viewport"))
        return "a picture is of the panel or of one viewport: panel FILE | viewport N FILE";
    if (!s.args.empty() && s.args[0].text.empty()) return "the picture needs a file name";
    return nullptr;
}

std::vector<VerbRule> make_verbs() {
    const std::vector<OptionRule> ev = event_options(true), move = event_options(false);
    const char *on_off = "on off";
    std::vector<VerbRule> v = {
        // Scene
        {"item",
         {name("NAME"), real("X"), real("Y"), real("Z")},
         4,
         false,
         false,
         {opt("rot", {real("H"), real("P"), real("B")}), rest("channels", name("CHANNEL"))},
         "NAME X Y Z [rot H P B] [channels CHANNEL...]",
         nullptr},
        {"key",
         {item("ITEM"), channel("CHANNEL"), real("TIME"), real("VALUE")},
         4,
         false,
         false,
         {k_nth},
         "ITEM CHANNEL TIME VALUE [nth N]",
         nullptr},
        {"select", {item("ITEM", "none")}, 1, true, false, {}, "ITEM... | none", none_alone},
        {"time", {real("TIME")}, 1, false, false, {}, "TIME", nullptr},
        // Viewports
        {"viewport",
         {int32("INDEX", 0, 255)},
         1,
         false,
         false,
         {opt("along", {word("AXIS", "x y z")}), opt("scale", {real("S")}), opt("origin", {real("X"), real("Y")}),
          opt("grid", {real("G")}), opt("fail", {word("STATE", on_off)})},
         "INDEX [along x|y|z] [scale S] [origin X Y] [grid G] [fail on|off]",
         nullptr},
        // Host conditions
        {"missing", {name("SERVICE"), word("STATE", on_off)}, 1, false, false, {}, "SERVICE [on|off]", nullptr},
        {"forbid", {name("SERVICE"), word("STATE", on_off)}, 1, false, false, {}, "SERVICE [on|off]", nullptr},
        {"fail-panel-create", {word("STATE", on_off)}, 0, false, false, {}, "[on|off]", nullptr},
        {"refuse-alloc",
         {word("MODE", "next nth all"), int32("N", 1)},
         1,
         false,
         false,
         {opt("count", {int32("COUNT", 1)}), opt("min", {int32("BYTES", 0, k_byte_max)})},
         "next N | nth K [count N] | all  [min BYTES]",
         refuse_rule},
        {"allow-alloc", {}, 0, false, false, {}, "", nullptr},
        {"limit-panel",
         {int32("WIDTH", 0, 65535), int32("HEIGHT", 0, 65535)},
         2,
         false,
         false,
         {},
         "WIDTH HEIGHT",
         nullptr},
        // Lifecycle
        {"activate", {}, 0, false, false, {opt("expect", {int32("RESULT")})}, "[expect RESULT]", nullptr},
        {"release", {}, 0, false, false, {}, "", nullptr},
        // Tool events
        {"mouse-down",
         {int32("VIEWPORT", 0, 255), real("X"), real("Y")},
         3,
         false,
         false,
         ev,
         "VIEWPORT X Y [event options]",
         nullptr},
        {"drag-start", {}, 0, false, false, ev, "[event options]", nullptr},
        {"mouse-move", {int32("DX"), int32("DY")}, 2, false, false, move, "DX DY [alt] [event options]", nullptr},
        {"mouse-up", {}, 0, false, false, ev, "[event options]", nullptr},
        {"draw", {int32("VIEWPORT")}, 1, false, false, {}, "VIEWPORT", nullptr},
        {"tool-text", {}, 0, false, false, ev, "[event options]", nullptr},
        {"change-query", {}, 0, false, false, {}, "", nullptr},
        {"handle-count", {}, 0, false, false, ev, "[event options]", nullptr},
        {"handle-position", {int32("INDEX")}, 1, false, false, ev, "INDEX [event options]", nullptr},
        {"handle-adjust", {int32("INDEX")}, 1, false, false, ev, "INDEX [event options]", nullptr},
        {"notify", {int32("CODE")}, 1, false, false, {}, "CODE", nullptr},
        // Panel actions
        {"type", {ref("LABEL"), real("VALUE")}, 2, false, false, {k_nth}, "LABEL|#N VALUE [nth N]", nullptr},
        {"drag-button", {ref("LABEL"), int32("VALUE")}, 2, true, false, {k_nth}, "LABEL|#N VALUE... [nth N]", nullptr},
        {"choose", {ref("LABEL"), text("ITEM")}, 2, false, false, {k_nth}, "LABEL|#N ITEM [nth N]", nullptr},
        {"pick", {item("ITEM", "none")}, 1, false, false, {}, "ITEM | none", nullptr},
        {"press", {ref("LABEL")}, 1, false, false, {k_nth}, "LABEL|#N [nth N]", nullptr},
        {"close", {}, 0, false, false, {}, "", nullptr},
        {"panel-key", {int32("KEY", 0, 65535)}, 1, false, false, {}, "KEY", nullptr},
        // Pictures
        {"picture",
         {text("FILE")},
         1,
         false,
         false,
         {opt("panel"), opt("viewport", {int32("N", 0, 255)})},
         "panel FILE | viewport N FILE",
         picture_rule},
        // Narration
        {"say", {text("TEXT")}, 0, false, true, {}, "TEXT", say_rule},
        // Expectations
        {"expect key",
         {item("ITEM"), channel("CHANNEL"), real("VALUE")},
         3,
         false,
         false,
         {k_tol, opt("time", {real("TIME")}), k_nth, opt("created"), opt("replaced")},
         "ITEM CHANNEL VALUE [tol T] [time TIME] [nth N] [created|replaced]",
         expect_key_rule},
        {"expect no-key",
         {item("ITEM"), channel("CHANNEL")},
         2,
         false,
         false,
         {opt("time", {real("TIME")}), k_nth},
         "ITEM CHANNEL [time TIME] [nth N]",
         nullptr},
        {"expect keys", {int32("N", 0)}, 1, false, false, {}, "N", nullptr},
        {"expect no-keys", {}, 0, false, false, {}, "", nullptr},
        {"expect field",
         {ref("LABEL"), real("VALUE")},
         2,
         false,
         false,
         {k_tol, k_nth},
         "LABEL|#N VALUE [tol T] [nth N]",
         tolerance_rule},
        {"expect info", {ref("LABEL"), text("TEXT")}, 2, false, false, {k_nth}, "LABEL|#N TEXT [nth N]", nullptr},
        {"expect choice", {ref("LABEL"), text("ITEM")}, 2, false, false, {k_nth}, "LABEL|#N ITEM [nth N]", nullptr},
        {"expect ops", {int32("VIEWPORT"), int32("N", 0)}, 2, false, false, {}, "VIEWPORT N", nullptr},
        {"expect line",
         {int32("VIEWPORT"), int32("K", 1), real("X1"), real("Y1"), real("Z1"), real("X2"), real("Y2"), real("Z2")},
         8,
         false,
         false,
         {k_tol},
         "VIEWPORT K X1 Y1 Z1 X2 Y2 Z2 [tol T]",
         tolerance_rule},
        {"expect colour",
         {int32("VIEWPORT"), int32("K", 1), real("R"), real("G"), real("B"), real("A")},
         6,
         false,
         false,
         {k_tol},
         "VIEWPORT K R G B A [tol T]",
         tolerance_rule},
        {"expect answer", {text("VALUE", "null")}, 1, false, false, {}, "VALUE | null", nullptr},
        {"expect handle", {real("X"), real("Y"), real("Z")}, 3, false, false, {k_tol}, "X Y Z [tol T]", tolerance_rule},
        {"expect violation", {name("ID")}, 1, false, false, {}, "ID", nullptr},
    };
    return v;
}

// ---- Tokens -----------------------------------------------------------------------------------

struct Token {
    std::string text;
    bool quoted;
};

bool blank(char c) { return c == ' ' || c == '\t'; }

// Splits a line into tokens; returns the reason on a malformed quote.
std::string tokenize(const std::string &line, std::vector<Token> *out) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && blank(line[i])) ++i;
        if (i >= line.size()) break;
        Token t{std::string(), false};
        if (line[i] == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
                    t.text += line[i++];
                    continue;
                }
                t.text += c;
            }
            if (!closed) return "unterminated quote";
            if (i < line.size() && !blank(line[i])) return "a quoted token must be followed by a blank";
        } else {
            while (i < line.size() && !blank(line[i])) {
                if (line[i] == '"') return "a quote inside a word (quote the whole token)";
                t.text += line[i++];
            }
        }
        out->push_back(std::move(t));
    }
    return std::string();
}

std::string quoted(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// ---- Numbers ----------------------------------------------------------------------------------

bool parse_real(const std::string &s, double *out, bool *overflow) {
    *overflow = false;
    if (s.empty() || blank(s[0])) return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size()) return false;
    if (errno == ERANGE && std::isinf(v)) {
        *overflow = true;
        return false;
    }
    *out = v;
    return true;
}

bool parse_int(const std::string &s, int64_t *out, bool *overflow) {
    *overflow = false;
    if (s.empty()) return false;
    size_t i = s[0] == '-' || s[0] == '+' ? 1 : 0;
    if (i >= s.size()) return false;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return false;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (errno == ERANGE) {
        *overflow = true;
        return false;
    }
    *out = static_cast<int64_t>(v);
    return true;
}

// A token as the value `p` describes; returns the reason when it cannot be one.
std::string convert(const ParamRule &p, const Token &t, Value *out) {
    bool overflow = false;
    switch (p.type) {
    case ValueType::Real: {
        double v = 0.0;
        if (!parse_real(t.text, &v, &overflow))
            return overflow ? t.text + " is out of range for a double (" + p.name + ")"
                            : quoted(t.text) + " is not a number (" + p.name + ")";
        *out = Value::number(v);
        return std::string();
    }
    case ValueType::Int: {
        int64_t v = 0;
        if (t.text.empty() || !parse_int(t.text, &v, &overflow))
            return overflow ? t.text + " is out of range for " + p.name
                            : quoted(t.text) + " is not an integer (" + p.name + ")";
        *out = Value::int32(v);
        return std::string();
    }
    case ValueType::Ref:
        if (!t.quoted && t.text.size() > 1 && t.text[0] == '#') {
            int64_t v = 0;
            if (!parse_int(t.text.substr(1), &v, &overflow) || t.text[1] == '-' || t.text[1] == '+')
                return quoted(t.text) + " is not a control index (#1, #2, ...; quote a label that starts with #)";
            if (v < 1 || v > k_i32_max) return t.text + ": controls count from #1";
            *out = Value::index(v);
        } else {
            *out = Value::label(t.text);
        }
        return std::string();
    case ValueType::Word: *out = Value::word(t.text); return std::string();
    default:
        if (!t.quoted && is_word_in(t.text, p.words)) *out = Value::word(t.text);
        else *out = {p.type, t.text, 0.0, 0};
        return std::string();
    }
}

const char *type_phrase(ValueType t) {
    switch (t) {
    case ValueType::Real: return "a number";
    case ValueType::Int: return "an integer";
    case ValueType::Ref: return "a control label or #N";
    case ValueType::Word: return "a keyword";
    case ValueType::Item: return "an item name";
    case ValueType::Channel: return "a channel name";
    default: return "a text";
    }
}

std::string words_list(const char *words) {
    std::string out;
    for (const char *p = words; *p; ++p) out += *p == ' ' ? std::string(", ") : std::string(1, *p);
    return out;
}

// The reason a value cannot stand for `p`, or empty.
std::string check_value(const ParamRule &p, const Value &v) {
    switch (p.type) {
    case ValueType::Real:
        if (v.type != ValueType::Real) return std::string(p.name) + " must be a number";
        return std::string();
    case ValueType::Int:
        if (v.type != ValueType::Int) return std::string(p.name) + " must be an integer";
        if (v.integer < p.lo || v.integer > p.hi)
            return std::to_string(v.integer) + " is out of range for " + p.name + " (" + std::to_string(p.lo) + ".." +
                   std::to_string(p.hi) + ")";
        return std::string();
    case ValueType::Word:
        if (v.type != ValueType::Word || !is_word_in(v.text, p.words))
            return "unknown keyword " + quoted(v.text) + " for " + p.name + " (one of: " + words_list(p.words) + ")";
        return std::string();
    case ValueType::Ref:
        if (v.type != ValueType::Ref || v.integer < 0) return std::string(p.name) + " must be " + type_phrase(p.type);
        return std::string();
    default:
        if (v.type == p.type) return std::string();
        if (v.type == ValueType::Word && is_word_in(v.text, p.words)) return std::string();
        return std::string(p.name) + " must be " + type_phrase(p.type);
    }
}

bool is_keyword_of(const VerbRule &rule, const std::string &token) {
    for (const OptionRule &o : rule.options)
        if (token == o.keyword) return true;
    return false;
}

// The statement's words after the verb, typed by its row. Returns the reason on a bad token.
std::string parse_tokens(const VerbRule &rule, const std::vector<Token> &tokens, size_t first, Statement *s) {
    std::vector<const Token *> positional;
    for (size_t i = first; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        const OptionRule *o = t.quoted ? nullptr : option_rule(rule, t.text);
        if (!o) {
            positional.push_back(&t);
            continue;
        }
        if (s->has(o->keyword)) return std::string("option \"") + o->keyword + "\" given twice";
        Option opt_value{o->keyword, {}};
        const size_t want = o->rest ? tokens.size() - i - 1 : o->values.size();
        if (tokens.size() - i - 1 < want)
            return std::string("\"") + o->keyword + "\" takes " + std::to_string(want) + " value" +
                   (want == 1 ? "" : "s");
        for (size_t k = 0; k < want; ++k) {
            Value v;
            const std::string why = convert(o->rest ? o->values[0] : o->values[k], tokens[i + 1 + k], &v);
            if (!why.empty()) return why;
            opt_value.values.push_back(std::move(v));
        }
        i += want;
        s->options.push_back(std::move(opt_value));
    }
    for (size_t k = 0; k < positional.size(); ++k) {
        const ParamRule *p = arg_rule(rule, k);
        if (!p) return "wrong number of arguments; usage: " + usage(rule);
        Value v;
        const std::string why = convert(*p, *positional[k], &v);
        if (!why.empty()) return why;
        s->args.push_back(std::move(v));
    }
    return std::string();
}

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string expect_subjects() {
    std::string out;
    for (const VerbRule &v : verbs())
        if (std::strncmp(v.verb, "expect ", 7) == 0) out += (out.empty() ? "" : ", ") + std::string(v.verb + 7);
    return out;
}

// Parses one trimmed, non-empty, non-comment line. Returns the reason on a fault.
std::string parse_line(const std::string &line, Statement *s) {
    if (line.compare(0, 3, "say") == 0 && (line.size() == 3 || blank(line[3]))) {
        s->verb = "say";
        s->args.push_back(Value::text_of(trim(line.substr(3))));
        return std::string();
    }
    std::vector<Token> tokens;
    const std::string why = tokenize(line, &tokens);
    if (!why.empty()) return why;
    if (tokens.empty()) return "empty statement";
    if (tokens[0].quoted) return "a statement starts with its verb, unquoted";
    std::string verb = tokens[0].text;
    size_t first = 1;
    if (verb == "expect") {
        if (tokens.size() < 2 || tokens[1].quoted) return "expect what? one of: " + expect_subjects();
        verb += " " + tokens[1].text;
        first = 2;
        if (!find_verb(verb))
            return "unknown expectation " + quoted(tokens[1].text) + " (one of: " + expect_subjects() + ")";
    }
    const VerbRule *rule = find_verb(verb);
    if (!rule) return "unknown statement " + quoted(verb);
    s->verb = verb;
    return parse_tokens(*rule, tokens, first, s);
}

// A token of a name-like value, quoted when it would otherwise read differently.
std::string print_token(const std::string &text, const VerbRule &rule, const ParamRule &p) {
    bool quote = text.empty() || text[0] == '#' || is_keyword_of(rule, text) || is_word_in(text, p.words);
    for (char c : text)
        if (blank(c) || c == '"' || c == '\\') quote = true;
    return quote ? quoted(text) : text;
}

std::string print_value(const VerbRule &rule, const ParamRule &p, const Value &v) {
    switch (v.type) {
    case ValueType::Real: return format_real(v.real);
    case ValueType::Int: return std::to_string(v.integer);
    case ValueType::Word: return v.text;
    case ValueType::Ref:
        if (v.integer > 0) return "#" + std::to_string(v.integer);
        return print_token(v.text, rule, p);
    default: return print_token(v.text, rule, p);
    }
}

bool same_values(const std::vector<Value> &a, const std::vector<Value> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

} // namespace

// ---- Statements -------------------------------------------------------------------------------

bool operator==(const Value &a, const Value &b) {
    if (a.type != b.type) return false;
    switch (a.type) {
    case ValueType::Real:
        if (std::isnan(a.real) || std::isnan(b.real)) return std::isnan(a.real) && std::isnan(b.real);
        return a.real == b.real && std::signbit(a.real) == std::signbit(b.real);
    case ValueType::Int: return a.integer == b.integer;
    case ValueType::Ref: return a.integer == b.integer && (a.integer > 0 || a.text == b.text);
    default: return a.text == b.text;
    }
}

const Option *Statement::option(const std::string &keyword) const {
    for (const Option &o : options)
        if (o.keyword == keyword) return &o;
    return nullptr;
}

Option *Statement::option(const std::string &keyword) {
    for (Option &o : options)
        if (o.keyword == keyword) return &o;
    return nullptr;
}

Statement &Statement::set(const std::string &keyword, std::vector<Value> values) {
    if (Option *o = option(keyword)) o->values = std::move(values);
    else options.push_back({keyword, std::move(values)});
    return *this;
}

Statement &Statement::unset(const std::string &keyword) {
    for (auto it = options.begin(); it != options.end(); ++it)
        if (it->keyword == keyword) {
            options.erase(it);
            break;
        }
    return *this;
}

bool operator==(const Statement &a, const Statement &b) {
    if (a.verb != b.verb || !same_values(a.args, b.args) || a.options.size() != b.options.size()) return false;
    for (const Option &o : a.options) {
        const Option *p = b.option(o.keyword);
        if (!p || !same_values(o.values, p->values)) return false;
    }
    return true;
}

// ---- Schema -----------------------------------------------------------------------------------

const std::vector<VerbRule> &verbs() {
    static const std::vector<VerbRule> table = make_verbs();
    return table;
}

const VerbRule *find_verb(const std::string &verb) {
    // Looked up for every statement played: an index, made once.
    static const std::unordered_map<std::string, const VerbRule *> index = [] {
        std::unordered_map<std::string, const VerbRule *> m;
        for (const VerbRule &v : verbs()) m.emplace(v.verb, &v);
        return m;
    }();
    const auto it = index.find(verb);
    return it == index.end() ? nullptr : it->second;
}

std::string usage(const VerbRule &rule) {
    std::string out = rule.verb;
    if (*rule.usage_tail) out += std::string(" ") + rule.usage_tail;
    return out;
}

const ParamRule *arg_rule(const VerbRule &rule, size_t i) {
    if (i < rule.args.size()) return &rule.args[i];
    if (rule.repeat_last && !rule.args.empty()) return &rule.args.back();
    return nullptr;
}

const OptionRule *option_rule(const VerbRule &rule, const std::string &keyword) {
    for (const OptionRule &o : rule.options)
        if (keyword == o.keyword) return &o;
    return nullptr;
}

// ---- Checks -----------------------------------------------------------------------------------

std::string clip_echo(const std::string &text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string ScriptError::message() const {
    return "line " + std::to_string(line) + ": " + clip_echo(statement) + ": " + clip_echo(reason, 2 * k_echo_limit);
}

std::string check_statement(const Statement &s) {
    const VerbRule *rule = find_verb(s.verb);
    if (!rule) return "unknown statement " + quoted(s.verb);
    const size_t n = s.args.size();
    if (n < rule->required || (n > rule->args.size() && !rule->repeat_last) || (rule->raw_text && n != 1))
        return "wrong number of arguments; usage: " + usage(*rule);
    for (size_t i = 0; i < n; ++i) {
        const std::string why = check_value(*arg_rule(*rule, i), s.args[i]);
        if (!why.empty()) return why;
    }
    for (size_t i = 0; i < s.options.size(); ++i) {
        const Option &o = s.options[i];
        const OptionRule *orule = option_rule(*rule, o.keyword);
        if (!orule) return "unknown option " + quoted(o.keyword) + "; usage: " + usage(*rule);
        for (size_t k = 0; k < i; ++k)
            if (s.options[k].keyword == o.keyword) return "option " + quoted(o.keyword) + " given twice";
        if (!orule->rest && o.values.size() != orule->values.size())
            return quoted(o.keyword) + " takes " + std::to_string(orule->values.size()) + " value" +
                   (orule->values.size() == 1 ? "" : "s");
        for (size_t k = 0; k < o.values.size(); ++k) {
            const std::string why = check_value(orule->rest ? orule->values[0] : orule->values[k], o.values[k]);
            if (!why.empty()) return why;
        }
    }
    if (s.has("nth"))
        for (const Value &v : s.args)
            if (v.type == ValueType::Ref && v.integer > 0) return "\"nth\" goes with a label, not with #N";
    if (rule->extra)
        if (const char *why = rule->extra(s)) return why;
    return std::string();
}

ScriptChecker::ScriptChecker() : viewports_{0, 1, 2, 3} {}

const std::vector<std::string> *ScriptChecker::channels(const std::string &item) const {
    auto it = items_.find(item);
    return it == items_.end() ? nullptr : &it->second;
}

std::string ScriptChecker::viewport_problem(const Statement &s) const {
    const Option *in = s.option("in");
    const Option *pictured = s.verb == "picture" ? s.option("viewport") : nullptr;
    for (const int64_t *v : {in ? &in->values[0].integer : nullptr, pictured ? &pictured->values[0].integer : nullptr,
                             s.verb == "mouse-down" ? &s.args[0].integer : nullptr})
        if (v && !has_viewport(*v))
            return "viewport " + std::to_string(*v) +
                   " is not defined (0 to 3 exist; add others with a viewport statement)";
    return std::string();
}

std::string ScriptChecker::item_problem(const Statement &s) const {
    const std::string *last_item = nullptr;
    for (const Value &v : s.args) {
        if (v.type == ValueType::Item) {
            auto refused = refused_items_.find(v.text);
            if (!has_item(v.text) && refused != refused_items_.end())
                return "item " + quoted(v.text) + " is not defined: its definition on line " +
                       std::to_string(refused->second) + " was refused";
            if (!has_item(v.text)) return "item " + quoted(v.text) + " is not defined (define it with \"item\" first)";
            last_item = &v.text;
        } else if (v.type == ValueType::Channel && last_item) {
            const Option *nth = s.option("nth");
            const int64_t want = nth ? nth->values[0].integer : 1;
            int64_t found = 0;
            for (const std::string &c : items_.at(*last_item)) found += c == v.text;
            if (found == 0) return "item " + quoted(*last_item) + " has no channel " + quoted(v.text);
            if (found < want)
                return "item " + quoted(*last_item) + " has " + std::to_string(found) + " channel" +
                       (found == 1 ? "" : "s") + " named " + quoted(v.text) + ", not " + std::to_string(want);
        }
    }
    return std::string();
}

void ScriptChecker::take_definitions(const Statement &s) {
    if (s.verb == "item") {
        const Option *ch = s.option("channels");
        std::vector<std::string> names;
        if (ch)
            for (const Value &v : ch->values) names.push_back(v.text);
        else names = {"Position.X", "Position.Y", "Position.Z", "Rotation.H", "Rotation.P", "Rotation.B"};
        items_[s.args[0].text] = names;
    } else if (s.verb == "viewport") {
        viewports_.insert(s.args[0].integer);
    }
}

std::string ScriptChecker::check(const Statement &s) {
    std::string why = check_statement(s);
    if (why.empty()) why = viewport_problem(s);
    if (why.empty()) why = item_problem(s);
    if (why.empty() && s.verb == "item" && has_item(s.args[0].text))
        why = "item " + quoted(s.args[0].text) + " is already defined";
    if (why.empty()) take_definitions(s);
    return why;
}

// ---- Parser and printer -----------------------------------------------------------------------

ParseResult parse_script(const std::string &text) {
    ParseResult result;
    ScriptChecker checker;
    size_t pos = 0;
    int line_no = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (line_no == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        Statement s;
        s.line = line_no;
        s.source = line;
        std::string why = parse_line(line, &s);
        if (why.empty()) why = checker.check(s);
        if (!why.empty()) {
            std::vector<Token> tokens;
            if (tokenize(line, &tokens).empty() && tokens.size() > 1 && !tokens[0].quoted && tokens[0].text == "item")
                checker.refused_item(tokens[1].text, line_no);
            result.errors.push_back({line_no, line, why});
            continue;
        }
        result.script.statements.push_back(std::move(s));
    }
    return result;
}

std::string print_statement(const Statement &s) {
    const VerbRule *rule = find_verb(s.verb);
    if (!rule) return s.verb;
    if (rule->raw_text) return s.args.empty() || s.args[0].text.empty() ? s.verb : s.verb + " " + s.args[0].text;
    std::string out = s.verb;
    for (size_t i = 0; i < s.args.size(); ++i) {
        const ParamRule *p = arg_rule(*rule, i);
        if (p) out += " " + print_value(*rule, *p, s.args[i]);
    }
    for (const OptionRule &orule : rule->options) {
        const Option *o = s.option(orule.keyword);
        if (!o) continue;
        out += std::string(" ") + orule.keyword;
        for (size_t k = 0; k < o->values.size(); ++k) {
            const ParamRule &p = orule.rest ? orule.values[0] : orule.values[k < orule.values.size() ? k : 0];
            out += " " + print_value(*rule, p, o->values[k]);
        }
    }
    return out;
}

std::string print_name(const std::string &name) {
    bool quote = name.empty() || name[0] == '#';
    for (char c : name)
        if (blank(c) || c == '"' || c == '\\') quote = true;
    return quote ? quoted(name) : name;
}

std::string print_script(const Script &script) {
    std::string out;
    for (const Statement &s : script.statements) out += print_statement(s) + "\n";
    return out;
}

std::string format_real(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[40];
    for (int precision = 6; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

} // namespace sim
