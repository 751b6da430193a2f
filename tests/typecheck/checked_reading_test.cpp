#include <cstdio>
#include <unistd.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "language/system.h"
#include "language/query_list.h"
#include "typecheck/checked_reading.h"
#include "typecheck/type_checker.h"
#include "frontend/parser.h"
#include "frontend/system_builder.h"

namespace tc_test {
namespace {

using namespace ZOLT;

struct Finding
{
    int32_t line;
    std::string message;
    bool operator==(const Finding&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Finding& f) { return os << f.line << ": " << f.message; }

std::vector<Finding> findings(const std::vector<diagnostic_t>& list)
{
    std::vector<Finding> out;
    for (const diagnostic_t& d : list) {
        out.push_back({d.start.line, d.message});
    }
    return out;
}

std::string modelPath(const std::string& name) { return std::string(MIRVEK_TEST_MODELS) + "/" + name; }

// Reads and checks a textual fixture; returns what the door returned.
bool readFixture(const std::string& name, TimedAutomataSystem& system)
{
    FILE* file = std::fopen(modelPath(name).c_str(), "r");
    EXPECT_NE(file, nullptr) << name;
    if (file == nullptr) {
        return false;
    }
    bool ok = readCheckedTextModelFile(file, &system, true);
    std::fclose(file);
    return ok;
}

TEST(CheckedReading, TextDoors)
{
    {
        TimedAutomataSystem system;
        EXPECT_TRUE(readFixture("tc_clean.xta", system));
        EXPECT_EQ(findings(system.getErrors()), std::vector<Finding>{});
        EXPECT_EQ(findings(system.getWarnings()),
                  (std::vector<Finding>{{9, "$Expression_does_not_have_any_effect"}}));
    }
    {
        TimedAutomataSystem system;
        EXPECT_FALSE(readFixture("tc_syntax.xta", system));
        ASSERT_FALSE(system.getErrors().empty());
        for (const diagnostic_t& d : system.getErrors()) {
            EXPECT_NE(d.message, "$Invalid_initialiser");
            EXPECT_GE(d.start.line, 3);
        }
    }
    {
        TimedAutomataSystem system;
        EXPECT_FALSE(readCheckedTextModelBuffer("int i = 2.5;\nprocess P() { state A; init A; }\nsystem P;\n", &system, true));
        EXPECT_EQ(findings(system.getErrors()), (std::vector<Finding>{{1, "$Invalid_initialiser"}}));
    }
    {
        // An error about a double constant is reported on the line where it stands.
        TimedAutomataSystem system;
        EXPECT_FALSE(readCheckedTextModelBuffer("int a;\nint[0,1.5] b;\nprocess P() { state A; init A; }\nsystem P;\n",
                                                &system, true));
        EXPECT_EQ(findings(system.getErrors()), (std::vector<Finding>{{2, "$Integer_expected"}}));
    }
}


using Findings = std::vector<Finding>;

// Each fixture covers the messages of one part of the checker, in walk order.
TEST(CheckedReading, ModelFixtures)
{
    struct Case
    {
        const char* file;
        bool ok;
        Findings errors;
        Findings warnings;
    };
    const std::string invariant = "$Expression_of_type (constraint) $cannot_be_used_as_an_invariant";
    const Case cases[] = {
        {"tc_locations.xta", false,
         {{7, invariant}, {8, "$Invariant_must_be_side-effect_free"}, {9, "$Number_expected"}}, {}},
        {"tc_edges.xta", false,
         {{15, "$Expression_of_type (constraint) $cannot_be_used_as_a_guard"},
          {16, "$Guard_must_be_side-effect_free"},
          {17, "$Channel_expected"},
          {18, "$Synchronisation_must_be_side-effect_free"},
          {19, "$Invalid_assignment_expression"},
          {21, "$Expression_of_type (double) $cannot_be_used_as_a_probability"},
          {22, "$Probability_must_be_side-effect_free"},
          {23, "$CSP_and_IO_synchronisations_cannot_be_mixed"},
          {24, "$CSP_and_IO_synchronisations_cannot_be_mixed"}},
         {{12, "$Clock_guards_are_not_allowed_on_urgent_edges"},
          {12, "$Strict_bounds_on_urgent_edges_may_not_make_sense"},
          {13, "$It_may_be_needed_to_add_a_guard_involving_the_target_invariant"}}},
        {"tc_functions.xta", false,
         {{5, "$Invalid_return_type"},
          {7, "$Boolean_expected"},
          // Reported at the written type, not at the const the builder wraps around it.
          {7, "$Scalar_set_or_integer_expected"},
          {8, "$Incompatible_argument"},
          {9, "$Invalid_assignment_expression"},
          {10, "$Initialiser_must_be_side-effect_free"},
          {10, "$Assertion_must_be_side-effect_free"},
          {12, "Dynamic constructs are only allowed on edges!"}},
         // Starting a process is an effect, though it writes no variable.
         {{9, "$Expression_does_not_have_any_effect"}}},
        {"tc_system.xta", false,
         {// The builder places the parameters of an IO declaration at the end of the system line.
          {11, "$Must_be_computable_at_compile_time"},
          {11, "$Integer_expected"},
          // Mixed modes are reported without position.
          {1, "$CSP_and_IO_synchronisations_cannot_be_mixed"},
          {14, "$Progress_guard_must_evaluate_to_a_boolean"},
          {14, "$Progress_measure_must_evaluate_to_a_value"},
          {15, "$Integer_expected"},
          {7, "$Must_be_computable_at_compile_time"},
          {7, "$Channel_expected"}},
         {}},
        {"tc_dynamic.xta", false,
         {{11, "Wrong number of arguments"},
          {12, "It appears your trying to spawn a non-dynamic template"},
          {13, "Template is only declared - not defined"},
          {14, "Exit can only be used in templates declared as dynamic"},
          {15, "A sum can only  be made over integer, double, invariant or guard expressions."}},
         // spawn and exit() change the set of live processes; summing over them does not.
         {{16, "$Expression_does_not_have_any_effect"}}},
        {"tc_expressions.xta", false,
         {// Every mismatching argument of a call is reported.
          {10, "$Incompatible_argument"},
          {10, "$Incompatible_argument"},
          {12, "$Type_error"},
          // Reported, yet typed: the assignment around it is still examined.
          {13, "$Increment_operator_can_only_be_used_for_integers_and_cost_variables"},
          {14, "$Incompatible_type"},
          {15, "$Incompatible_arguments_to_inline_if"},
          {17, "$Left_hand_side_value_expected"},
          {18, "$Integer_expected"},
          {19, "$Non-integer_types_must_use_regular_assignment_operator"},
          // One error in each operand of a sum, none for the sum.
          {21, "$Type_error"},
          {21, "$Type_error"}},
         {}},
        {"tc_declarations.xta", false,
         {{4, "$Must_be_computable_at_compile_time"},
          {5, "$Integer_expected"},
          {7, "$Prefix_broadcast_only_allowed_for_channels"},
          {10, "$Incomplete_initialiser"},
          {11, "$Multiple_initialisers_for_field"},
          {11, "$Incomplete_initialiser"},
          {12, "$Too_many_elements_in_initialiser"},
          {13, "$Unknown_field"},
          {13, "$Incomplete_initialiser"},
          {15, "$Field_name_not_allowed_in_array_initialiser"},
          {16, "$Invalid_initialiser"},
          {18, "$Too_many_elements_in_initialiser"},
          // A random draw is a double and never known before the run.
          {20, "$Integer_expected"},
          {20, "$Must_be_computable_at_compile_time"},
          {21, "$Integer_expected"},
          {21, "$Must_be_computable_at_compile_time"},
          // A function is looked through: its reads decide.
          {25, "$Must_be_computable_at_compile_time"},
          {26, "$Must_be_computable_at_compile_time"},
          // A reference or a double parameter cannot size an array.
          {28, "$Must_be_computable_at_compile_time"},
          {28, "$Integer_expected"},
          {28, "$Must_be_computable_at_compile_time"}},
         {}},
        {"tc_unused_template.xta", false, {{3, "$Expression_of_type (constraint) $cannot_be_used_as_a_guard"}}, {}},
        {"tc_templates.xta", false,
         {{9, "$Boolean_expected"},
          {10, "$Boolean_expected"},
          {11, "$Boolean_expected"},
          {15, "$Expression_must_be_side-effect_free"},
          {16, "$Boolean_expected"},
          {16, "$Type_error"},
          // A return is matched against the result type whatever its typing gave.
          {16, "$Incompatible_argument"},
          // exit() in a global function: no template to leave.
          {17, "Exit can only be used in templates declared as dynamic"},
          {17, "Dynamic constructs are only allowed on edges!"},
          {18, "$Must_be_computable_at_compile_time"},
          // Only the first of two mismatching spawn arguments.
          {19, "$Incompatible_argument"},
          {18, "$Free_process_parameters_must_be_a_bounded_integer_or_a_scalar"},
          {18, "$Free_process_parameters_must_not_be_used_directly_or_indirectly_in_an_array_declaration_or_"
               "select_expression"},
          {18, "$Free_process_parameters_must_be_a_bounded_integer_or_a_scalar"},
          {18, "$Free_process_parameters_must_be_a_bounded_integer_or_a_scalar"}},
         {}},
        // A plain int has the default range, which bounds nothing; an error that a meta
        // prefix causes in a named clock type is the declaration's.
        {"tc_plain_int_and_named_types.xta", false,
         {{6, "$Range_expected"},
          {8, "$Prefix_meta_not_allowed_for_clocks"},
          {8, "$This_type_cannot_be_declared_const_or_meta"},
          {9, "$Prefix_meta_not_allowed_for_clocks"},
          {9, "$This_type_cannot_be_declared_const_or_meta"},
          {10, "$Free_process_parameters_must_be_a_bounded_integer_or_a_scalar"}},
         {}},
    };
    for (const Case& c : cases) {
        TimedAutomataSystem system;
        EXPECT_EQ(readFixture(c.file, system), c.ok) << c.file;
        EXPECT_EQ(findings(system.getErrors()), c.errors) << c.file;
        EXPECT_EQ(findings(system.getWarnings()), c.warnings) << c.file;
    }
}

TEST(CheckedReading, ModelFactsLeftForTheCompiler)
{
    {
        TimedAutomataSystem system;
        readFixture("tc_locations.xta", system);
        EXPECT_TRUE(system.hasStrictInvariants());
        EXPECT_TRUE(system.hasStopWatches());
        const template_t& p = system.getTemplates().front();
        EXPECT_EQ(p.locations[0].invariant.toString(), "1 && x <= 5");
        EXPECT_EQ(p.locations[6].invariant.toString(), "1 && y' == 0");
        EXPECT_TRUE(p.locations[6].invariant.getType().isKind(RATE_INVARIANT));
    }
    {
        TimedAutomataSystem system;
        readFixture("tc_edges.xta", system);
        EXPECT_TRUE(system.clockGuardOnUrgentEdge);
        EXPECT_TRUE(system.clockGuardOnBroadcastReceive);
        EXPECT_TRUE(system.hasStrictLowerBoundOnControllableEdges());
    }
    {
        TimedAutomataSystem system;
        readFixture("tc_functions.xta", system);
        for (const function_t& f : system.getGlobals().functions) {
            if (f.symbol.getName() != "store") {
                continue;
            }
            ASSERT_EQ(f.writtenSymbols.size(), 1u);
            EXPECT_EQ(f.writtenSymbols.begin()->getName(), "g");
            // Neither the parameter nor the local is left; the assigned global is read
            // as well, as every identifier of the body is.
            ASSERT_EQ(f.readSymbols.size(), 1u);
            EXPECT_EQ(f.readSymbols.begin()->getName(), "g");
        }
    }
    {
        TimedAutomataSystem system;
        readFixture("tc_system.xta", system);
        EXPECT_EQ(system.syncMode, -1);
    }
}

// Collects each parsed query instead of deciding its property type.
class QueryCollector : public SystemBuilder
{
public:
    using SystemBuilder::SystemBuilder;
    void property() override { queries.push_back(popFragment()); }
    std::vector<expression_t> queries;
};

TEST(CheckedReading, QueryFixture)
{
    TimedAutomataSystem system;
    ASSERT_TRUE(readFixture("tc_query_model.xta", system));
    QueryCollector builder(&system);
    FILE* file = std::fopen(modelPath("tc_queries.q").c_str(), "r");
    ASSERT_NE(file, nullptr);
    runQueryParserOnFile(file, &builder);
    std::fclose(file);
    ASSERT_FALSE(system.errorsPresent());
    ASSERT_EQ(builder.queries.size(), 13u);
    TypeChecker checker(system);
    for (expression_t& query : builder.queries) {
        checker.validateQuery(query);
    }
    EXPECT_EQ(findings(system.getErrors()), (Findings{
                                                {2, "$Property_must_be_side-effect_free"},
                                                {4, "$Must_be_computable_at_compile_time"},
                                                {5, "$Clock_expected"},
                                                {6, "$Integer_or_clock_expected"},
                                                {7, "$Boolean_expected"},
                                                {9, "$Type_error"},
                                                {11, "Not a dynamic template"},
                                                {12, "$Expression_must_be_side-effect_free"},
                                                {12, "$Property_must_be_side-effect_free"},
                                            }));
}

TEST(CheckedReading, XmlDoors)
{
    {
        TimedAutomataSystem system;
        QueryList queries;
        EXPECT_EQ(readCheckedXmlModelFile(modelPath("tc_xml_type_error.xml").c_str(), &system, true, &queries), 0);
        std::vector<std::string> messages;
        for (const diagnostic_t& d : system.getErrors()) {
            messages.push_back(d.message);
        }
        EXPECT_EQ(messages, (std::vector<std::string>{"$Invalid_initialiser",
                                                      "$Expression_of_type (constraint) $cannot_be_used_as_a_guard"}));
    }
    {
        TimedAutomataSystem system;
        QueryList queries;
        EXPECT_EQ(readCheckedXmlModelFile(modelPath("tc_no_such_model.xml").c_str(), &system, true, &queries), -1);
        EXPECT_FALSE(system.errorsPresent());
    }
    {
        TimedAutomataSystem system;
        const char* text = "<nta><declaration>int i; double d = i;</declaration>"
                           "<template><name>P</name><location id=\"a\"/><init ref=\"a\"/></template>"
                           "<system>system P;</system></nta>";
        EXPECT_EQ(readCheckedXmlModelBuffer(text, &system, true), 0);
        ASSERT_EQ(system.getErrors().size(), 1u);
        EXPECT_EQ(system.getErrors()[0].message, "$Must_be_computable_at_compile_time");
    }
}

// A document that is broken or holds what has no place in it gives errors of the
// model at the element paths, after the errors found before, through either door.
TEST(CheckedReading, XmlFaultsAreErrorsOfTheModel)
{
    struct Case
    {
        const char* name;
        std::string text;
        std::vector<std::pair<std::string, std::string>> errors;   // path, message
    };
    const std::string badDeclaration = "<nta><declaration>int x; int y = ;</declaration>";
    const std::string syntaxError = "$syntax_error: $unexpected ';'";
    const std::vector<Case> cases = {
        {"a template defined in a template's declarations",
         badDeclaration + "<template><name>P</name><declaration>process Q() { state A; init A; }</declaration>"
                          "<location id='a'/><init ref='a'/></template><system>system P;</system></nta>",
         {{"/nta/declaration", syntaxError},
          {"/nta/template[1]/declaration", "$Templates_cannot_be_declared_inside_templates"}}},
        {"an unknown element",
         badDeclaration + "<template><name>P</name><location id='a'><bogus/></location></template></nta>",
         {{"/nta/declaration", syntaxError}, {"/nta/template[1]/location[1]", "Unknown tag in XML file"}}},
        {"a comment element in a name",
         badDeclaration + "<template><name>P<comment/></name><location id='a'/><init ref='a'/></template>"
                          "<system>system P;</system></nta>",
         {{"/nta/declaration", syntaxError}, {"/nta/template[1]/name/comment", "Unexpected element inside a text"}}},
        {"an entity",
         "<?xml version='1.0'?><!DOCTYPE nta [<!ENTITY n '3'>]><nta><declaration>const int N = &n;;"
         "</declaration><system>system P;</system></nta>",
         {{"/nta/declaration", "Unsupported entity reference in XML document"}}},
    };
    for (const Case& c : cases) {
        for (bool fromFile : {true, false}) {
            TimedAutomataSystem system;
            resetParserState();
            if (fromFile) {
                char name[] = "/tmp/mirvek_xmlfault_XXXXXX.xml";
                int fd = mkstemps(name, 4);
                ASSERT_GE(fd, 0);
                EXPECT_EQ(write(fd, c.text.data(), c.text.size()), static_cast<ssize_t>(c.text.size()));
                close(fd);
                EXPECT_EQ(readCheckedXmlModelFile(name, &system, true, nullptr), 0) << c.name;
                unlink(name);
            } else {
                EXPECT_EQ(readCheckedXmlModelBuffer(c.text.c_str(), &system, true), 0) << c.name;
            }
            std::vector<std::pair<std::string, std::string>> errors;
            for (const diagnostic_t& d : system.getErrors()) {
                errors.emplace_back(d.start.path, d.message);
            }
            EXPECT_EQ(errors, c.errors) << c.name << (fromFile ? " (file)" : " (memory)");
        }
    }
}

TEST(CheckedReading, ExpressionDoor)
{
    TimedAutomataSystem system;
    ASSERT_TRUE(readCheckedTextModelBuffer("clock x;\nint i;\nprocess P() { state A; init A; }\nsystem P;\n",
                                           &system, true));
    expression_t e = readCheckedExpressionText("x < 2.5 && i > 0", &system, true);
    ASSERT_FALSE(e.empty());
    EXPECT_TRUE(e.getType().isKind(INVARIANT));
    e = readCheckedExpressionText("x' == 2 || x < 5", &system, true);
    EXPECT_EQ(findings(system.getErrors()), (Findings{{1, "$Type_error"}}));
}

// Query rules read from text: each line of the fixture is one query, checked against
// the query model; a query whose typing fails gets no structural finding.
TEST(CheckedReading, QueryRuleFixture)
{
    TimedAutomataSystem system;
    ASSERT_TRUE(readFixture("tc_query_model.xta", system));
    QueryCollector builder(&system);
    FILE* file = std::fopen(modelPath("tc_query_rules.q").c_str(), "r");
    ASSERT_NE(file, nullptr);
    runQueryParserOnFile(file, &builder);
    std::fclose(file);
    ASSERT_FALSE(system.errorsPresent());
    ASSERT_EQ(builder.queries.size(), 12u);
    TypeChecker checker(system);
    for (expression_t& query : builder.queries) {
        checker.validateQuery(query);
    }
    EXPECT_EQ(findings(system.getErrors()), (Findings{
                                                {2, "$Property_must_be_side-effect_free"},
                                                {3, "$Type_error"},
                                                {4, "$Clock_expected"},
                                                {5, "$Must_be_computable_at_compile_time"},
                                                {6, "$Must_be_computable_at_compile_time"},
                                                {7, "$Boolean_expected"},
                                                {8, "$Expression_must_be_side-effect_free"},
                                                {9, "$Type_error"},
                                                {10, "$Number_expected"},
                                                {10, "$Type_error"},
                                            }));
    EXPECT_EQ(findings(system.getWarnings()), Findings{});
}

} // namespace
} // namespace tc_test
