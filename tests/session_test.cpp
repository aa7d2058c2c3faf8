// SPDX-License-Identifier: MIT
// Session scripts and the player: the printer round trip over every verb, the parser's error
// messages, and what the player reports for steps built in code (as a generator makes them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "host/player/player.h"
#include "host/script/script.h"

namespace {

// Every verb of the table at least once, with values that need quoting or exact doubles.
const char k_every_verb[] = R"(item Cube 1 0 0
item "Odd one" -0 2.5 1e300 rot nan inf -inf channels Position.X "Position.X" "rot" "" "a \"b\" \\c"
item Bare 0 0 0 channels
key "Odd one" Position.X 1 0.1 nth 2
select Cube "Odd one"
select none
time 5e-324
viewport 7 along y scale 50 origin 10 20 grid 0.25 fail on
missing "LW Viewport Info 5" off
forbid "Instance Update"
fail-panel-create on
refuse-alloc nth 3 count 2 min 500
refuse-alloc all
allow-alloc
activate expect 2
release
mouse-down 7 40.5 -3 point 1 2 3 axis 0 0 1 drag -2147483648 2147483647 flags 9 alt vp -1
drag-start in 2 1 2
mouse-move 1500 0 alt
mouse-up
draw -4
tool-text
change-query
handle-count
handle-position 2
handle-adjust 0 in 0 5 5
notify 1
type " H" 30 nth 2
drag-button #4 1 2 3
choose Method "Stretch Flat"
pick none
pick "Odd one"
press Apply
close
panel-key 65535
say a "quoted" # remark, kept as written
expect key Cube Position.X 3.03125 tol 0 time 1 nth 1 replaced
expect keys 3
expect no-keys
expect no-key "Odd one" Position.X time 2 nth 2
expect field "#2" 1.7976931348623157e308 tol 1e-6
expect info H 25.000000
expect choice Origin 1
expect ops 1 3
expect line 1 2 0 1 2 3 4 5
expect colour 1 1 1 0.5 0 1 tol 0.01
expect answer null
expect answer "null"
expect handle 0 0 0
expect violation viewport-unknown
limit-panel 200 0
picture panel "a picture.svg"
picture viewport 7 panel.svg
)";

TEST(ScriptText, EveryVerbPrintsAndParsesBackUnchanged) {
    const sim::ParseResult first = sim::parse_script(k_every_verb);
    for (const sim::ScriptError &e : first.errors) ADD_FAILURE() << e.message();
    std::set<std::string> seen;
    for (const sim::Statement &s : first.script.statements) seen.insert(s.verb);
    for (const sim::VerbRule &v : sim::verbs()) EXPECT_TRUE(seen.count(v.verb)) << v.verb << " has no round-trip case";

    const std::string printed = sim::print_script(first.script);
    const sim::ParseResult second = sim::parse_script(printed);
    ASSERT_TRUE(second.ok()) << second.errors[0].message() << "\n" << printed;
    ASSERT_EQ(second.script.statements.size(), first.script.statements.size());
    for (size_t i = 0; i < first.script.statements.size(); ++i)
        EXPECT_EQ(second.script.statements[i], first.script.statements[i])
            << first.script.statements[i].source << "\n printed: " << sim::print_statement(first.script.statements[i]);
    EXPECT_EQ(sim::print_script(second.script), printed);

    // What the parser made of a few of the harder tokens.
    const sim::Statement &odd = first.script.statements[1];
    EXPECT_TRUE(std::signbit(odd.args[1].real));
    EXPECT_TRUE(std::isnan(odd.option("rot")->values[0].real));
    const std::vector<sim::Value> &ch = odd.option("channels")->values;
    ASSERT_EQ(ch.size(), 5u);
    EXPECT_EQ(ch[2].text, "rot");
    EXPECT_EQ(ch[4].text, "a \"b\" \\c");
    EXPECT_TRUE(first.script.statements[2].option("channels")->values.empty());
    EXPECT_EQ(first.script.statements[5].args[0].type, sim::ValueType::Word); // select none
}

TEST(ScriptText, BuiltStatementsPrintExactly) {
    sim::Statement move = sim::statement("mouse-move", {sim::Value::int32(1500), sim::Value::int32(0)});
    move.set("alt").set("vp", {sim::Value::int32(-1)});
    EXPECT_EQ(sim::print_statement(move), "mouse-move 1500 0 alt vp -1");
    EXPECT_EQ(sim::check_statement(move), "");

    const double values[] = {0.1,
                             -0.0,
                             1.0 / 3.0,
                             1e-310,
                             std::numeric_limits<double>::max(),
                             -2.5e-7,
                             1e21,
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::infinity()};
    for (double v : values) {
        const sim::Statement s = sim::statement("time", {sim::Value::number(v)});
        const sim::ParseResult r = sim::parse_script(sim::print_statement(s));
        ASSERT_TRUE(r.ok()) << sim::print_statement(s);
        EXPECT_EQ(r.script.statements[0], s) << sim::print_statement(s);
    }
    EXPECT_EQ(sim::format_real(0.1), "0.1");
    EXPECT_EQ(sim::format_real(-0.0), "-0");

    // A built statement is checked like a parsed one.
    EXPECT_EQ(sim::check_statement(sim::statement("time", {sim::Value::text_of("soon")})), "TIME must be a number");
    EXPECT_EQ(sim::check_statement(sim::statement("panel-key", {sim::Value::int32(70000)})),
              "70000 is out of range for KEY (0..65535)");
    sim::ScriptChecker checker;
    const sim::Statement key = sim::statement("key", {sim::Value::item("A"), sim::Value::channel("Position.X"),
                                                      sim::Value::number(0), sim::Value::number(1)});
    EXPECT_EQ(checker.check(key), "item \"A\" is not defined (define it with \"item\" first)");
    const sim::Statement item = sim::statement(
        "item", {sim::Value::name("A"), sim::Value::number(0), sim::Value::number(0), sim::Value::number(0)});
    EXPECT_EQ(checker.check(item), "");
    EXPECT_EQ(checker.check(key), "");
}

struct BadLine {
    const char *line;   // the second line of a script whose first defines item Cube
    const char *reason; // what the parser says about it
};

void PrintTo(const BadLine &c, std::ostream *orule) { *orule << c.line; }

class ScriptErrors : public ::testing::TestWithParam<BadLine> {};

TEST_P(ScriptErrors, NameTheLineTheStatementAndTheReason) {
    const BadLine &c = GetParam();
    const sim::ParseResult r =
        sim::parse_script(std::string("item Cube 0 0 0 channels Position.X Position.X\n") + c.line);
    ASSERT_EQ(r.errors.size(), 1u) << c.line;
    EXPECT_EQ(r.errors[0].message(), std::string("line 2: ") + c.line + ": " + c.reason);
}

std::string case_name(const ::testing::TestParamInfo<BadLine> &info) {
    std::string name = std::to_string(info.index) + "_";
    for (const char *p = info.param.line; *p && *p != ' '; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    Parser, ScriptErrors,
    ::testing::Values(
        BadLine{"jump 3", "unknown statement \"jump\""},
        BadLine{"expect",
                "expect what? one of: key, no-key, keys, no-keys, field, info, choice, ops, line, colour, answer, "
                "handle, violation"},
        BadLine{"expect weather sunny",
                "unknown expectation \"weather\" (one of: key, no-key, keys, no-keys, field, info, "
                "choice, ops, line, colour, answer, handle, violation)"},
        BadLine{"mouse-move 10", "wrong number of arguments; usage: mouse-move DX DY [alt] [event options]"},
        BadLine{"release now", "wrong number of arguments; usage: release"},
        BadLine{"select Ghost", "item \"Ghost\" is not defined (define it with \"item\" first)"},
        BadLine{"key Cube Position.Y 0 1", "item \"Cube\" has no channel \"Position.Y\""},
        BadLine{"key Cube Position.X 0 1 nth 3", "item \"Cube\" has 2 channels named \"Position.X\", not 3"},
        BadLine{"time 1,5", "\"1,5\" is not a number (TIME)"},
        BadLine{"time 1e999", "1e999 is out of range for a double (TIME)"},
        BadLine{"notify -2147483649", "-2147483649 is out of range for CODE (-2147483648..2147483647)"},
        BadLine{"notify 99999999999999999999", "99999999999999999999 is out of range for CODE"},
        BadLine{"handle-position 1.5", "\"1.5\" is not an integer (INDEX)"},
        BadLine{"viewport 2 along w", "unknown keyword \"w\" for AXIS (one of: x, y, z)"},
        BadLine{"mouse-down 9 1 1", "viewport 9 is not defined (0 to 3 exist; add others with a viewport statement)"},
        BadLine{"item Cube 1 1 1", "item \"Cube\" is already defined"}, BadLine{"type \"H 3", "unterminated quote"},
        BadLine{"type H\"x\" 3", "a quote inside a word (quote the whole token)"},
        BadLine{"type H 3 nth 1 nth 2", "option \"nth\" given twice"},
        BadLine{"item B 0 0 0 rot 1 2", "\"rot\" takes 3 values"},
        BadLine{"type #2 3 nth 2", "\"nth\" goes with a label, not with #N"},
        BadLine{"press #0", "#0: controls count from #1"},
        BadLine{"select none Cube", "\"none\" stands alone: it selects nothing"},
        BadLine{"refuse-alloc next", "\"refuse-alloc next\" and \"nth\" need a number"},
        BadLine{"refuse-alloc all 2", "\"refuse-alloc all\" takes no count"},
        BadLine{"expect key Cube Position.X 1 created replaced", "a key is either created or replaced, not both"},
        BadLine{"expect field X 1 tol -1", "the tolerance must be 0 or more"},
        BadLine{"picture x.svg", "a picture is of the panel or of one viewport: panel FILE | viewport N FILE"},
        BadLine{"picture viewport 5 x.svg",
                "viewport 5 is not defined (0 to 3 exist; add others with a viewport statement)"},
        BadLine{"limit-panel 200", "wrong number of arguments; usage: limit-panel WIDTH HEIGHT"}),
    case_name);

// ---- The player, with statements built in code ------------------------------------------------

// The schema (what parses) and the player's handler table (what plays) are two tables keyed by
// the verb: every verb that parses has exactly one handler, and no handler waits for a verb.
TEST(PlayerVerbs, EveryVerbOfTheSchemaHasExactlyOneHandlerAndEveryHandlerAVerb) {
    std::multiset<std::string> handled;
    for (const std::string &v : sim::Player::handled_verbs()) handled.insert(v);
    std::set<std::string> schema;
    for (const sim::VerbRule &rule : sim::verbs()) {
        schema.insert(rule.verb);
        EXPECT_EQ(handled.count(rule.verb), 1u) << rule.verb;
    }
    for (const std::string &v : handled) EXPECT_EQ(schema.count(v), 1u) << v << " has a handler but no schema row";
}

// Each step is one more line of a script, parsed with the lines before it, so items it names are
// defined and its line number is its place in the script.
class PlayerSession : public ::testing::Test {
protected:
    sim::Player player;
    std::string text;
    void SetUp() override { ASSERT_TRUE(player.load(sim::module_path("zendro_kardel"))) << player.error(); }
    sim::StepResult step(const std::string &statement) {
        text += statement + "\n";
        const sim::ParseResult r = sim::parse_script(text);
        EXPECT_TRUE(r.ok()) << r.errors[0].message();
        return r.ok() ? player.step(r.script.statements.back()) : sim::StepResult();
    }
};

TEST_F(PlayerSession, StepsAUserCannotTakeAreImpossibleAndNothingEscapes) {
    const char *const before_activation[] = {"type H 3", "mouse-move 10 0", "release", "close"};
    for (const char *t : before_activation) EXPECT_TRUE(step(t).impossible()) << t;
    step("item A 0 0 0");
    step("activate");
    const char *const refused[] = {"activate",          "choose Method Spin", "press #5",
                                   "drag-button Q 1 2", "mouse-up",           "mouse-move 10 0"};
    for (const char *t : refused) {
        const sim::StepResult r = step(t);
        ASSERT_TRUE(r.impossible()) << t;
        EXPECT_EQ(r.findings[0].line, static_cast<int>(std::count(text.begin(), text.end(), '\n')));
        EXPECT_EQ(r.findings[0].statement, t);
    }
    step("close");
    EXPECT_EQ(step("type H 3").findings[0].message, "the panel is closed");
    // A statement no parser would make: wrong argument count, an item never defined.
    const sim::StepResult bad = player.step(sim::statement("mouse-move", {sim::Value::int32(1)}));
    ASSERT_EQ(bad.findings.size(), 1u);
    EXPECT_EQ(bad.findings[0].id, "statement-invalid");
    EXPECT_TRUE(player.step(sim::statement("select", {sim::Value::item("Ghost")})).impossible());
    EXPECT_TRUE(player.step(sim::statement("pick", {sim::Value::item("Ghost")})).impossible());
    EXPECT_TRUE(player.host().clean()) << player.host().report();
}

TEST_F(PlayerSession, ExpectViolationAbsolvesOnlyTheLastActionsViolations) {
    for (const char *t : {"item A 0 0 0", "select A", "forbid \"LW Viewport Info 5\"", "activate"}) step(t);
    const sim::StepResult press = step("mouse-down 2 40 40");
    ASSERT_FALSE(press.findings.empty());
    EXPECT_EQ(press.findings[0].kind, sim::Finding::Kind::Violation);
    EXPECT_EQ(press.findings[0].id, "service-forbidden-called");
    EXPECT_GT(player.failures(), 0u);
    EXPECT_TRUE(step("expect violation service-forbidden-called").ok());
    EXPECT_EQ(player.failures(), 0u);
    step("mouse-move 100 0");
    const sim::StepResult none = step("expect violation service-forbidden-called");
    ASSERT_EQ(none.findings.size(), 1u);
    EXPECT_EQ(none.findings[0].message,
              "the last action recorded no violation service-forbidden-called (it recorded none)");
}

TEST_F(PlayerSession, AccessorsFollowTheSession) {
    size_t observed = 0;
    player.set_observer([&](const sim::Statement &, const sim::StepResult &) { ++observed; });
    for (const char *t : {"time 0", "item A 1 0 0", "item B 0 3 0", "select A B", "activate"}) step(t);
    EXPECT_EQ(player.item_id("B"), 2);
    EXPECT_EQ(player.items()[0].position, (sim::Vec3{1, 0, 0}));
    step("mouse-down 1 40 40");
    EXPECT_TRUE(player.pressing());
    EXPECT_EQ(player.press_viewport(), 1);
    EXPECT_EQ(step("mouse-move 9000 0").keys_written, 4u);
    const sim::KeyWrites w = player.last_writes();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0].item, 1);
    EXPECT_TRUE(w[0].created);
    step("mouse-up");
    EXPECT_FALSE(player.pressing());
    step("draw 1");
    ASSERT_NE(player.last_drawing(1), nullptr);
    EXPECT_EQ(player.last_drawing(2), nullptr);
    // The second " X" field is not there; the first has its drag button right beside it.
    sim::Control *x = player.control(sim::ControlType::Float, "X");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(player.control(sim::ControlType::Float, "X", 2), nullptr);
    EXPECT_EQ(player.drag_button_beside(*x), player.control_at(sim::ControlType::DragButton, 4));
    EXPECT_EQ(observed, 9u);
    player.finish();
    EXPECT_EQ(player.tool(), nullptr);
    EXPECT_TRUE(step("activate").impossible());
    EXPECT_EQ(player.failures(), 1u);
}

TEST_F(PlayerSession, ExpectNoKeyFailsOnlyOnAKeyTheModuleWroteAtThatTime) {
    for (const char *t : {"time 0", "item A 1 0 0", "item B 0 3 0", "key B Position.X 0 7", "select A", "activate",
                          "mouse-down 1 40 40", "mouse-move 9000 0"})
        step(t);
    EXPECT_TRUE(step("expect no-key B Position.X").ok()) << "a key the scene put there";
    EXPECT_TRUE(step("expect no-key A Position.X time 1").ok());
    const sim::StepResult keyed = step("expect no-key A Position.X");
    ASSERT_EQ(keyed.findings.size(), 1u);
    EXPECT_EQ(keyed.findings[0].message.rfind("the module created a key on A Position.X at time 0 (", 0), 0u)
        << keyed.findings[0].message;
}

// ---- Pictures -----------------------------------------------------------------------------------

TEST(PlayerPictures, PictureSetsShowTheToolsMarkerWithoutADrawStatement) {
    sim::PlayerOptions o;
    o.pictures_dir = "session-test-steps";
    sim::Player player(o);
    ASSERT_TRUE(player.load(sim::module_path("zendro_kardel"))) << player.error();
    const sim::ParseResult r = sim::parse_script("item A 1 0 0\nselect A\nactivate\n");
    ASSERT_TRUE(r.ok());
    for (const sim::Statement &s : r.script.statements) EXPECT_TRUE(player.step(s).ok());
    std::ifstream in("session-test-steps/line-0003-viewport-2.svg");
    const std::string svg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(svg.find("stroke=\"#abbcbc\""), std::string::npos) << "the centre cross in its colour\n" << svg;
    EXPECT_EQ(player.last_drawing(2), nullptr) << "the script drew nothing";
}

TEST_F(PlayerSession, PanelPictureShowsValuesAsAUserSeesThemAndTheLayoutProblemsAreViolations) {
    for (const char *t : {"item \"A<&>\" 0 0 0", "select \"A<&>\"", "limit-panel 0 150"}) step(t);
    const sim::StepResult opened = step("activate"); // Apply's bottom edge is at 152
    ASSERT_EQ(opened.findings.size(), 1u);
    EXPECT_EQ(opened.findings[0].id, "panel-control-outside");
    for (const char *t : {"type H 0.1", "type P 1e20", "type B -2.5e-7", "pick \"A<&>\"", "choose Method Rotate"})
        step(t);
    const std::string svg = player.panel_picture();
    for (const char *shown : {">0.1<", ">1e+20<", ">-2.5e-07<", ">A&lt;&amp;&gt;<", ">Custom<", ">Rotate<",
                              "Zendro Kardel \xE2\x80\x94 open", "outside: ButtonControl &quot;Apply&quot;"})
        EXPECT_NE(svg.find(shown), std::string::npos) << shown << "\n" << svg;
    EXPECT_TRUE(step("picture panel session-test-panel.svg").ok()) << "a problem is recorded once";
    step("close");
    EXPECT_NE(player.panel_picture().find("closed by the user"), std::string::npos);
}

TEST_F(PlayerSession, ViewportPictureFramesWhatIsFiniteAndNamesWhatIsLeftOut) {
    for (const char *t : {"item Near 0.5 0 0", "item Far 1e300 0 0", "item Lost nan 0 0", "select Near Far Lost",
                          "activate", "mouse-down 2 40 40", "mouse-move 4500 0", "mouse-move 9000 0", "draw 2"})
        step(t);
    // A quarter turn about Z through the centre at the origin, in two steps.
    const std::vector<sim::Vec3> &path = player.path(player.item_id("Near"));
    ASSERT_EQ(path.size(), 2u);
    EXPECT_NEAR(path[1][1], 0.5, 1e-12);
    const std::string svg = player.viewport_picture(2);
    EXPECT_NE(svg.find("left out: Far before (1e+300, 0.0, 0.0)"), std::string::npos) << svg;
    EXPECT_NE(svg.find("left out: Lost before (nan, 0.0, 0.0)"), std::string::npos) << svg;
    EXPECT_NE(svg.find("stroke=\"#abbcbc\""), std::string::npos) << "the centre cross in its colour";
    // Every attribute value is a plain number or word: nothing of the far or lost items reached one.
    const std::regex attribute("=\"([^\"]*)\"");
    for (std::sregex_iterator it(svg.begin(), svg.end(), attribute), end; it != end; ++it) {
        const std::string v = (*it)[1];
        EXPECT_EQ(v.find_first_of("+"), std::string::npos) << v;
        EXPECT_EQ(v.find("nan"), std::string::npos) << v;
        EXPECT_EQ(v.find("inf"), std::string::npos) << v;
    }
}

} // namespace
