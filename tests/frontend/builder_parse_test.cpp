// Whole models read by the textual parser into a system builder.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "builder_probe.h"
#include "frontend/parser.h"
#include "language/statement.h"

using namespace ZOLT;
using mirvek_test::errors;
using mirvek_test::Fixture;

namespace {

std::string readModel(const std::string& name)
{
    std::ifstream in(std::string(MIRVEK_TEST_MODELS) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Parses a model file into the fixture's system; true when the parser read it through.
bool parseModel(Fixture& f, const std::string& name)
{
    resetParserState();
    std::string text = readModel(name);
    EXPECT_FALSE(text.empty()) << name;
    return runParserOnModelText(text.c_str(), &f.builder, true) == 0;
}

template_t& templateNamed(TimedAutomataSystem& system, const std::string& name)
{
    for (template_t& t : system.getTemplates()) {
        if (t.symbol.getName() == name) {
            return t;
        }
    }
    throw std::runtime_error("no template " + name);
}

} // namespace

TEST(BuilderParse, ModelWithEveryKindOfDeclaration)
{
    Fixture f;
    ASSERT_TRUE(parseModel(f, "build_system.xta"));
    ASSERT_TRUE(errors(f.system).empty()) << errors(f.system)[0];
    auto& b = f.builder;
    EXPECT_TRUE(b.fragments.empty());
    EXPECT_TRUE(b.typeFragments.empty());
    EXPECT_EQ(b.frames.size(), 1u);

    // Globals: the reference clock first, then the declared variables in order.
    std::vector<std::string> variables;
    for (const variable_t& v : f.system.getGlobals().variables) {
        variables.push_back(v.symbol.getName());
    }
    EXPECT_EQ(variables, (std::vector<std::string>{"t(0)", "N", "v", "p", "go", "c", "all", "x"}));
    binding_t p;
    ASSERT_TRUE(b.resolve("p", p));
    EXPECT_EQ(static_cast<variable_t*>(p.getData())->initialiser.getKind(), LIST);
    binding_t v;
    ASSERT_TRUE(b.resolve("v", v));
    EXPECT_EQ(v.getType().getIndexType().getRangeBounds().second.toString(), "N - 1");

    // The function and its body.
    ASSERT_EQ(f.system.getGlobals().functions.size(), 1u);
    const function_t& twice = f.system.getGlobals().functions.front();
    EXPECT_EQ(twice.symbol.getName(), "twice");
    ASSERT_NE(twice.body, nullptr);
    EXPECT_EQ(twice.body->statements.size(), 2u);
    EXPECT_TRUE(twice.body->alwaysReturns());

    // The worker template.
    template_t& worker = templateNamed(f.system, "Worker");
    ASSERT_EQ(worker.locations.size(), 3u);
    EXPECT_EQ(worker.locations[0].symbol.getType().getKind(), URGENT);
    EXPECT_EQ(worker.locations[2].symbol.getType().getKind(), COMMITTED);
    EXPECT_EQ(worker.locations[1].invariant.toString(), "y <= 5");
    EXPECT_EQ(worker.initialLocation, worker.locations[0].symbol);
    ASSERT_EQ(worker.edges.size(), 3u);
    const edge_t& first = worker.edges[0];
    ASSERT_EQ(first.select.getSize(), 1u);
    EXPECT_EQ(first.guard.toString(), "v[id] < twice(j)");
    EXPECT_EQ(first.sync.toString(), "c[id]?");
    EXPECT_EQ(first.update.toString(), "y = 0, v[id] = j");
    EXPECT_EQ(worker.edges[2].guard.toString(), "1") << "an edge without labels";
    EXPECT_EQ(worker.edges[2].number, 2);

    // The system line: Boss < W0, Worker; Worker is a set over its free parameter.
    ASSERT_EQ(f.system.getProcesses().size(), 3u);
    EXPECT_EQ(f.system.getProcPriority("Boss"), 0);
    EXPECT_EQ(f.system.getProcPriority("W0"), 1);
    EXPECT_EQ(f.system.getProcPriority("Worker"), 1);
    EXPECT_EQ(f.system.getProcesses().back().symbol.getType().getKind(), PROCESS_SET);
    ASSERT_EQ(f.system.getChanPriorities().size(), 1u);
    EXPECT_TRUE(f.system.getChanPriorities().front().head.empty());
    EXPECT_EQ(f.system.getGlobals().progressMeasures.size(), 1u);
}

TEST(BuilderParse, ErrorsAreReportedAndTheModelIsReadThrough)
{
    Fixture f;
    ASSERT_TRUE(parseModel(f, "build_errors.xta"));
    std::vector<std::string> found = errors(f.system);
    std::vector<std::string> expected = {
        "Inconsistent parameters",
        "$Return_statement_expected",
        "$States_cannot_be_committed_and_urgent_at_the_same_time",
        "$Range_expected",
        "$Scalar_set_or_integer_expected",
        "$Unknown_identifier: nowhere",
        "$No_such_location_or_branchpoint_(source)",
        "$Too_many_arguments",
        "$Not_a_template",
    };
    EXPECT_EQ(found, expected);
    // Every error carries the place of its construct.
    for (const auto& d : f.system.getErrors()) {
        EXPECT_GE(d.start.line, 1) << d.message;
        EXPECT_FALSE(span_t(d.spanStart, d.spanEnd).isAbsent()) << d.message;
    }
    // What could be built was built, and the stacks are balanced.
    template_t& t = templateNamed(f.system, "T");
    EXPECT_EQ(t.edges.size(), 3u) << "the edge from an unknown source is left out";
    EXPECT_EQ(t.edges[0].select.getSize(), 0u);
    EXPECT_EQ(f.builder.frames.size(), 1u);
    EXPECT_TRUE(f.builder.fragments.empty());
    EXPECT_TRUE(f.builder.typeFragments.empty());
    ASSERT_EQ(f.system.getProcesses().size(), 1u);
    binding_t p;
    EXPECT_FALSE(f.builder.resolve("P", p));
}

TEST(BuilderParse, MitlQueriesCombineOnlyByAndOr)
{
    // A builder that keeps each query it is given, as the query reader does.
    struct QueryProbe : mirvek_test::ProbeBuilder
    {
        using ProbeBuilder::ProbeBuilder;
        std::vector<expression_t> queries;
        void property() override
        {
            queries.push_back(fragments.back());
            fragments.pop_back();
        }
    };
    struct Case
    {
        const char* text;
        node_kind_t kind;   // of the formula under the MITL query
        bool error;
    };
    const std::vector<Case> cases = {
        {"Pr (x > 0 || (x > 1 U[0,5] x > 2))", MITL_OR, false},
        {"Pr ((x > 1 U[0,5] x > 2) && x > 0)", MITL_AND, false},
        {"Pr (x > 0 imply (x > 1 U[0,5] x > 2))", MITL_OR, false},
        {"Pr ((x > 1 U[0,5] x > 2) + 1 > 0)", MITL_ATOM, true},
        {"Pr (not (x > 1 U[0,5] x > 2) || (x > 1 U[0,5] x > 2))", MITL_OR, true},
    };
    for (const auto& c : cases) {
        TimedAutomataSystem system;
        QueryProbe b(&system);
        b.typeInt(0);
        b.declVar("x", false);
        resetParserState();
        EXPECT_EQ(runQueryParserOnText(c.text, &b), 0) << c.text;
        ASSERT_EQ(b.queries.size(), 1u) << c.text;
        expression_t query = b.queries[0];
        ASSERT_EQ(query.getKind(), MITL_FORMULA) << c.text;
        EXPECT_EQ(query[0].getKind(), c.kind) << c.text;
        EXPECT_EQ(errors(system),
                  c.error ? std::vector<std::string>{"$MITL_formulas_can_only_be_combined_with_and,_or_and_imply"}
                          : std::vector<std::string>{})
            << c.text;
        EXPECT_TRUE(b.fragments.empty()) << c.text;
    }
}

TEST(BuilderParse, AFunctionLeftOpenByOneTextIsClosedByTheNextDefinition)
{
    // The XML reader parses each text of a model on the same builder and goes on after
    // a text that the parser gave up on. A function cut short at the end of one text
    // must not swallow, or free, what the following texts define.
    struct Case
    {
        const char* name;
        bool template_;   // the next definition is a template, else a function
    };
    const std::vector<Case> cases = {{"then a function", false}, {"then a template", true}};
    for (const auto& c : cases) {
        Fixture f;
        auto& b = f.builder;
        resetParserState();
        EXPECT_EQ(runParserOnText("int x; int f() { int y; if (x) { y = 2;", &b, true, PART_DECLARATIONS,
                                  "/nta/declaration"),
                  -1)
            << c.name;
        if (c.template_) {
            b.procBegin("P", true, "", "");
            EXPECT_EQ(runParserOnText("int v; int g() { return v; }", &b, true, PART_LOCAL_DECLARATIONS,
                                      "/nta/template[1]/declaration"),
                      0)
                << c.name;
            b.procState("s", false, false);
            b.procStateInit("s");
            b.procEnd();
        } else {
            EXPECT_EQ(runParserOnText("int g() { return x; }", &b, true, PART_DECLARATIONS, "/nta/declaration[2]"),
                      0)
                << c.name;
        }
        declarations_t& where = c.template_ ? templateNamed(f.system, "P").declarations : f.system.getGlobals();
        ASSERT_EQ(where.functions.size(), c.template_ ? 1u : 2u) << c.name;
        const function_t& g = where.functions.back();
        EXPECT_EQ(g.symbol.getName(), "g") << c.name;
        ASSERT_NE(g.body, nullptr) << c.name;
        ASSERT_EQ(g.body->statements.size(), 1u) << c.name;
        EXPECT_TRUE(g.body->alwaysReturns()) << c.name;
        EXPECT_EQ(errors(f.system).size(), 1u) << "only the syntax error: " << c.name;
        if (c.template_) {
            std::vector<std::string> locals;
            for (const variable_t& v : where.variables) {
                locals.push_back(v.symbol.getName());
            }
            EXPECT_EQ(locals, std::vector<std::string>{"v"}) << c.name;
        }
        // Everything the broken function opened is closed again.
        EXPECT_EQ(b.frames.size(), 1u) << c.name;
        binding_t y;
        EXPECT_FALSE(b.resolve("y", y)) << c.name;
    }
}

TEST(BuilderParse, ScopesLeftOpenByAnAbandonedTextCloseWithTheirEdgeOrTemplate)
{
    // The XML reader opens templates and edges itself and parses each declaration and
    // label text in between; a text that the parser gives up on inside a quantifier
    // leaves the quantifier's scope open. The next template, and the edge and template
    // around a label, must still close what is theirs, so that the names of later texts
    // are declared and found where they belong.
    const std::vector<const char*> guards = {
        "forall (i : int[0,2]) x >",
        "exists (i : int[0,2]) (sum (j : int[0,1]) j) >",
    };
    for (const char* guard : guards) {
        Fixture f;
        auto& b = f.builder;
        resetParserState();
        EXPECT_EQ(runParserOnText("int x; int a = forall (k : int[0,2]) x >", &b, true, PART_DECLARATIONS,
                                  "/nta/declaration"),
                  -1);
        b.procBegin("P", true, "", "");
        b.procState("s", false, false);
        b.procStateInit("s");
        b.procEdgeBegin("s", "s", true, "");
        EXPECT_EQ(runParserOnText(guard, &b, true, PART_GUARD, "/nta/template[1]/transition[1]/label[1]"), -1)
            << guard;
        b.procEdgeEnd("s", "s");
        // The next edge of the template sees the template, not the broken quantifiers.
        b.procEdgeBegin("s", "s", true, "");
        EXPECT_EQ(runParserOnText("i > k", &b, true, PART_GUARD, "/nta/template[1]/transition[2]/label[1]"), 0)
            << guard;
        b.procEdgeEnd("s", "s");
        b.procEnd();
        EXPECT_EQ(b.frames.size(), 1u) << guard;
        ASSERT_EQ(runParserOnText("typedef int Ut; Ut u;", &b, true, PART_DECLARATIONS, "/nta/declaration[2]"), 0)
            << guard;
        binding_t u;
        EXPECT_TRUE(f.system.getGlobals().frame.resolve("Ut", u)) << guard;
        std::vector<std::string> found = errors(f.system);
        ASSERT_EQ(found.size(), 4u) << guard;
        EXPECT_EQ(found[2], "$Unknown_identifier: i") << guard;
        EXPECT_EQ(found[3], "$Unknown_identifier: k") << guard;
    }
}
