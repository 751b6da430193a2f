#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "frontend/parser.h"
#include "frontend/xml_reader.h"
#include "language/query_list.h"
#include "builder_probe.h"
#include "recording_builder.h"

namespace {

using mirvek_test::RecordingBuilder;

const std::string models = MIRVEK_TEST_MODELS;

// A document written to a file of its own, removed again at the end of the test.
class TempXml
{
public:
    explicit TempXml(const std::string& text)
    {
        char name[] = "/tmp/mirvek_xml_XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0)
            throw std::runtime_error("cannot create a temporary file");
        close(fd);
        path = name;
        std::ofstream(path, std::ios::binary) << text;
    }
    ~TempXml() { unlink(path.c_str()); }
    std::string path;
};

// The outcome of one reading: the builder's calls, the structural ones joined,
// and the text of the exception that ended the reading, if any.
struct Reading
{
    RecordingBuilder builder;
    ZOLT::QueryList queries;
    int result = 0;
    std::string failure;

    // Calls that carry the structure, with errors; expression and type calls of
    // the label texts are left out.
    std::string structure() const
    {
        static const char* kept[] = {"proc",    "error(",   "warning(", "hasPrechart", "instanceName",
                                     "process", "done",     "declVar",  "declParameter"};
        std::string text;
        for (const auto& call : builder.calls)
            for (const char* prefix : kept)
                if (call.rfind(prefix, 0) == 0) {
                    text += (text.empty() ? "" : "; ") + call;
                    break;
                }
        return text;
    }

    // The element path of the text the i-th call was placed in.
    std::string pathOf(size_t i) const
    {
        std::string path = "?";
        for (const auto& p : builder.positions)
            if (p.position <= static_cast<uint32_t>(builder.spans[i].start))
                path = p.path;
        return path;
    }

    // The path at which the error with this message was reported, or "none".
    std::string errorPath(const std::string& message) const
    {
        for (size_t i = 0; i < builder.calls.size(); ++i)
            if (builder.calls[i] == "error(" + message + ")")
                return pathOf(i);
        return "none";
    }
};

void readFile(Reading& r, const std::string& path, bool withQueries = true)
{
    ZOLT::resetParserState();
    try {
        r.result = ZOLT::readXmlModelFile(path.c_str(), &r.builder, true, withQueries ? &r.queries : nullptr);
    } catch (const std::exception& e) {
        r.failure = e.what();
    }
}

void readText(Reading& r, const std::string& text)
{
    TempXml file(text);
    readFile(r, file.path);
}

std::string document(const std::string& templates, const std::string& rest = "<system>system P;</system>")
{
    return "<nta><declaration>int x;</declaration>" + templates + rest + "</nta>";
}

TEST(XmlReader, ReadsEveryPartOfATimedAutomatonModel)
{
    Reading r;
    readFile(r, models + "/xml_reader_features.xml");
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(r.builder.errors.empty()) << r.structure();
    EXPECT_EQ(r.structure(),
              "declVar(x, false); declVar(c, false); declParameter(id, false); procBegin(P, true, , ); "
              "declVar(y, false); "
              "procState(start, true, false); procStateUrgent(start); "
              "procState(_id1, false, true); procStateCommit(_id1); "
              "procState(_id2, false, false); "
              "procBranchpoint(_id3); procStateInit(start); "
              "procEdgeBegin(start, _id3, false, go); procSelect(i); procGuard(); procSync(1); procUpdate(); "
              "procEdgeEnd(start, _id3); "
              "procEdgeBegin(_id3, _id1, false, SKIP); procProb(); procEdgeEnd(_id3, _id1); "
              "procEdgeBegin(_id1, _id2, true, SKIP); procSync(0); procEdgeEnd(_id1, _id2); procEnd(); "
              "procBegin(while, true, , ); procState(_q0, false, false); procStateInit(_q0); procEnd(); "
              "process(P1); done()");

    // Each structural call stands at the path of its element.
    struct Placed
    {
        std::string call;
        std::string path;
    };
    const std::vector<Placed> placed = {
        {"procBegin(P, true, , )", "/nta/template[1]"},
        {"procState(start, true, false)", "/nta/template[1]/location[1]"},
        {"procState(_id2, false, false)", "/nta/template[1]/location[3]"},
        {"procBranchpoint(_id3)", "/nta/template[1]/branchpoint[1]"},
        {"procStateInit(start)", "/nta/template[1]"},
        {"procGuard()", "/nta/template[1]/transition[1]/label[2]"},
        {"procProb()", "/nta/template[1]/transition[2]/label[1]"},
        {"procBegin(while, true, , )", "/nta/template[2]"},
        {"process(P1)", "/nta/system"},
    };
    for (const auto& p : placed) {
        size_t i = 0;
        while (i < r.builder.calls.size() && r.builder.calls[i] != p.call)
            ++i;
        ASSERT_LT(i, r.builder.calls.size()) << p.call;
        EXPECT_EQ(r.pathOf(i), p.path) << p.call;
    }

    // Stored queries are copied unparsed, in order, with empty texts where the
    // elements have none.
    ZOLT::clearQueryFormulas();
    EXPECT_STREQ(r.queries.renderQueryText(),
                 "/*\nno deadlock & more\n*/\n\nA[] not deadlock\n\n/*\n\n*/\n//NO_QUERY\n");
}

TEST(XmlReader, QueriesAreReadOnlyWithAQueryList)
{
    Reading r;
    readFile(r, models + "/xml_reader_features.xml", false);
    EXPECT_EQ(r.failure, "");
    EXPECT_EQ(r.queries.renderQueryText(), nullptr);
}

TEST(XmlReader, AProjectRootIsReadLikeNta)
{
    Reading r;
    readText(r, "<project><template><name>P</name><location id='a'><name>A</name></location>"
                "<init ref='a'/></template></project>");
    EXPECT_EQ(r.failure, "");
    EXPECT_EQ(r.structure(), "procBegin(P, true, , ); procState(A, false, false); procStateInit(A); procEnd(); "
                             "error($Missing_system_tag); done()");
    EXPECT_EQ(r.errorPath("$Missing_system_tag"), "/project");
    EXPECT_EQ(r.pathOf(1), "/project/template[1]/location[1]");
}

// An XML comment inside a text does not cut the text short: the pieces around it are
// read as one text.
TEST(XmlReader, CommentsInsideTextsArePassedOver)
{
    Reading r;
    readText(r, "<nta><declaration><!-- globals -->int x;<!-- more --> int y;</declaration>"
                "<template><name>P<!-- c --></name><location id='a'><name><!-- c -->A</name>"
                "<label kind='invariant'>x &lt;<!-- c --> 1</label></location><init ref='a'/></template>"
                "<system>system<!-- c --> P;</system></nta>");
    EXPECT_EQ(r.failure, "");
    EXPECT_TRUE(r.builder.errors.empty()) << r.structure();
    EXPECT_EQ(r.structure(), "declVar(x, false); declVar(y, false); procBegin(P, true, , ); "
                             "procState(A, true, false); procStateInit(A); procEnd(); process(P); done()");
}

// XML comments are no content: around or inside the stored queries they are passed
// over, and the queries are still read.
TEST(XmlReader, CommentsAroundStoredQueriesArePassedOver)
{
    const std::string query = "<formula>E&lt;&gt; x</formula><comment/>";
    const std::vector<std::string> stored = {
        "<!-- saved queries --><queries><query>" + query + "</query></queries>",
        "<queries><!-- first --><query><!-- a -->" + query + "<!-- b --></query><!-- c --></queries>",
        "<queries><query><formula>E&lt;&gt; x</formula><!-- between --><comment/></query></queries>",
    };
    for (const auto& queries : stored) {
        Reading r;
        readText(r, document("", "<system>system P;</system>" + queries));
        EXPECT_EQ(r.failure, "") << queries;
        ZOLT::clearQueryFormulas();
        const char* text = r.queries.renderQueryText();
        EXPECT_STREQ(text, "/*\n\n*/\n\nE<> x\n\n") << queries;
    }
}

// Faults that end the reading with an exception, at any depth of the document.
TEST(XmlReader, StructuralFaultsEndTheReading)
{
    const std::string loc = "<location id='a'/><init ref='a'/>";
    struct Case
    {
        const char* name;
        std::string text;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {"unknown tag at the top", document("<templates/>"), "Unknown tag in XML file"},
        {"unknown tag deep inside",
         document("<template><location id='a'><name>A<b>x</b></name></location></template>"),
         "Unknown tag in XML file"},
        {"no nta or project root", "<template/>", "Missing nta or project element"},
        {"reference ahead of its location",
         document("<template><location id='a'/><init ref='a'/><transition><source ref='b'/><target ref='a'/>"
                  "</transition></template>"),
         "Missing reference"},
        {"transition without source",
         document("<template>" + loc + "<transition><target ref='a'/></transition></template>"),
         "Missing source element"},
        {"target without ref",
         document("<template>" + loc + "<transition><source ref='a'/><target/></transition></template>"),
         "Missing reference"},
        {"query among queries", document("", "<system>system P;</system><queries><formula/></queries>"),
         "Only <query> allowed in <queries>"},
        {"query without comment",
         document("", "<system>system P;</system><queries><query><formula>E&lt;&gt; true</formula></query>"
                      "</queries>"),
         "Missing <comment> in <query>"},
        {"query with a third part",
         document("", "<system>system P;</system><queries><query><formula/><comment/><formula/></query>"
                      "</queries>"),
         "Only <formula> and <comment> allowed in <query>"},
        {"chart message without position",
         document("<lsc><name>L</name><instance id='i'><name>A</name></instance><message><source ref='i'/>"
                  "<target ref='i'/></message></lsc>"),
         "Missing LSC location"},
        {"chart condition without anchor",
         document("<lsc><name>L</name><condition><lsclocation>1</lsclocation></condition></lsc>"),
         "Missing anchor element"},
        {"document cut short", "<nta><declaration>int x;</declaration><template><name>P",
         "The document is cut short: it ends inside element <name>"},
        {"empty file", "", "The file is empty"},
    };
    for (const auto& c : cases) {
        Reading r;
        readText(r, c.text);
        EXPECT_EQ(r.failure, c.failure) << c.name;
    }
}

// The fault carries the path of the element the reading had reached, so that it can
// be reported like any other error of the model.
TEST(XmlReader, StructuralFaultsNameTheElementReached)
{
    struct Case
    {
        const char* name;
        std::string text;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"unknown tag inside a name",
         document("<template><location id='a'><name>A<b>x</b></name></location></template>"),
         "/nta/template[1]/location[1]/name"},
        {"reference ahead of its location",
         document("<template><location id='a'/><init ref='a'/><transition><source ref='b'/><target ref='a'/>"
                  "</transition></template>"),
         "/nta/template[1]/transition[1]/source"},
        {"transition without source",
         document("<template><location id='a'/><init ref='a'/><transition><target ref='a'/></transition>"
                  "<transition><target ref='a'/></transition></template>"),
         "/nta/template[1]/transition[1]/target"},
    };
    for (const auto& c : cases) {
        ZOLT::resetParserState();
        RecordingBuilder builder;
        TempXml file(c.text);
        try {
            ZOLT::readXmlModelFile(file.path.c_str(), &builder, true, nullptr);
            ADD_FAILURE() << c.name << ": no fault";
        } catch (const ZOLT::XmlStructureError& e) {
            EXPECT_EQ(e.path(), c.path) << c.name;
        }
    }
}

// An element inside a text has no place there: it is reported at its own path and
// passed over with its content, and the text and the rest of the document are read.
// Elements of the stored queries used to end the reading with an internal error.
TEST(XmlReader, ElementsInsideTextsAreReportedAndPassedOver)
{
    const std::string misplaced = "Unexpected element inside a text";
    struct Case
    {
        const char* name;
        std::string text;
        std::string path;
        std::string structure;
    };
    const std::vector<Case> cases = {
        {"comment in a template name",
         document("<template><name>P<comment>c</comment></name><location id='a'/><init ref='a'/></template>"),
         "/nta/template[1]/name/comment",
         "declVar(x, false); error(Unexpected element inside a text); procBegin(P, true, , ); "
         "procState(_a, false, false); procStateInit(_a); procEnd(); process(P); done()"},
        {"query in a location label, before its text",
         document("<template><name>P</name><location id='a'><label kind='invariant'><query/>x &lt; 1</label>"
                  "</location><init ref='a'/></template>"),
         "/nta/template[1]/location[1]/label[1]/query[1]",
         "declVar(x, false); procBegin(P, true, , ); error(Unexpected element inside a text); "
         "procState(_a, true, false); procStateInit(_a); procEnd(); process(P); done()"},
        {"formula in the global declaration",
         "<nta><declaration>int x;<formula>E&lt;&gt; true</formula> int y;</declaration>"
         "<system>system P;</system></nta>",
         "/nta/declaration/formula",
         "error(Unexpected element inside a text); declVar(x, false); declVar(y, false); process(P); done()"},
        {"queries in the system line",
         document("", "<system>system <queries><query/></queries>P;</system>"),
         "/nta/system/queries", "declVar(x, false); error(Unexpected element inside a text); process(P); done()"},
    };
    for (const auto& c : cases) {
        Reading r;
        readText(r, c.text);
        EXPECT_EQ(r.failure, "") << c.name;
        EXPECT_EQ(r.errorPath(misplaced), c.path) << c.name;
        EXPECT_EQ(r.structure(), c.structure) << c.name;
    }
}

// Model faults are reported through the builder at the path of their element,
// and the reading goes on.
TEST(XmlReader, ModelFaultsAreReportedAtTheirElementPaths)
{
    struct Case
    {
        const char* name;
        std::string text;
        std::string error;
        std::string path;
        std::string structure;   // checked when not empty
    };
    const std::vector<Case> cases = {
        {"location without id",
         document("<template><name>P</name><location id='a'/><location><name>B</name>"
                  "<label kind='invariant'>x &lt; 1</label></location><init ref='a'/></template>"),
         "Missing id attribute", "/nta/template[1]/location[2]",
         "declVar(x, false); procBegin(P, true, , ); procState(_a, false, false); error(Missing id attribute); "
         "procStateInit(_a); procEnd(); process(P); done()"},
        {"branch point without id",
         document("<template><location id='a'/><branchpoint/><init ref='a'/></template>"),
         "Missing id attribute", "/nta/template[1]/branchpoint[1]", ""},
        {"label without kind",
         document("<template><location id='a'/><init ref='a'/><transition><source ref='a'/><target ref='a'/>"
                  "<label>x == 1</label><label kind='guard'>x &gt; 1</label></transition></template>"),
         "Missing kind attribute", "/nta/template[1]/transition[1]/label[1]",
         "declVar(x, false); procBegin(, true, , ); procState(_a, false, false); procStateInit(_a); "
         "procEdgeBegin(_a, _a, true, SKIP); error(Missing kind attribute); procGuard(); procEdgeEnd(_a, _a); "
         "procEnd(); process(P); done()"},
        {"location label without kind",
         document("<template><location id='a'><label>x &lt; 1</label><urgent/></location>"
                  "<init ref='a'/></template>"),
         "Missing kind attribute", "/nta/template[1]/location[1]/label[1]", ""},
        {"chart instance without id",
         document("<lsc><name>L</name><instance><name>A</name></instance></lsc>"), "Missing id attribute",
         "/nta/lscTemplate[1]/instance[1]",
         "declVar(x, false); procBegin(L, false, , ); error(Missing id attribute); hasPrechart(false); procEnd(); "
         "process(P); done()"},
        {"no initial location", document("<template><name>P</name><location id='a'/></template>"),
         "$Missing_initial_location", "/nta/template[1]", ""},
        {"initial location without ref",
         document("<template><name>P</name><location id='a'/><init/></template>"), "$Missing_initial_location",
         "/nta/template[1]", ""},
        {"keyword as template name", document("<template><name>int</name><location id='a'/><init ref='a'/>"
                                              "</template>"),
         "$Keywords_are_not_allowed_here", "/nta/template[1]/name", ""},
        {"name that is no identifier",
         document("<template><name>P Q</name><location id='a'/><init ref='a'/></template>"), "Invalid identifier",
         "/nta/template[1]/name", ""},
        {"blank location name after an error",
         document("<template><location id='a'><name>1a</name></location><init ref='a'/></template>"),
         "Invalid identifier", "/nta/template[1]/location[1]/name",
         "declVar(x, false); procBegin(, true, , ); error(Invalid identifier); procState(_a, false, false); "
         "procStateInit(_a); procEnd(); process(P); done()"},
        {"syntax error in a label",
         document("<template><location id='a'/><init ref='a'/></template><template><location id='a'/>"
                  "<init ref='a'/><transition><source ref='a'/><target ref='a'/></transition><transition>"
                  "<source ref='a'/><target ref='a'/></transition><transition><source ref='a'/><target ref='a'/>"
                  "<label kind='guard'>x &gt;</label></transition></template>"),
         "$syntax_error: $unexpected $end", "/nta/template[2]/transition[3]/label[1]", ""},
        // The location is declared without an invariant when its invariant fails to parse.
        {"invariant that does not parse",
         document("<template><name>P</name><location id='a'><label kind='invariant'>x &lt;</label></location>"
                  "<init ref='a'/></template>"),
         "$syntax_error: $unexpected $end", "/nta/template[1]/location[1]/label[1]",
         "declVar(x, false); procBegin(P, true, , ); error($syntax_error: $unexpected $end); "
         "procState(_a, false, false); procStateInit(_a); procEnd(); process(P); done()"},
        // An edge label of kind invariant is parsed as an expression.
        {"invariant label on an edge",
         document("<template><location id='a'/><init ref='a'/><transition><source ref='a'/><target ref='a'/>"
                  "<label kind='invariant'>x &gt;</label></transition></template>"),
         "$syntax_error: $unexpected $end", "/nta/template[1]/transition[1]/label[1]", ""},
        {"missing system", document("<template><location id='a'/><init ref='a'/></template>", ""),
         "$Missing_system_tag", "/nta", ""},
        {"prechart in an existential chart",
         document("<lsc><name>L</name><type>Existential</type><prechart><lsclocation>5</lsclocation></prechart>"
                  "</lsc>"),
         "$Existential_charts_must_not_have_prechart", "/nta/lscTemplate[1]/prechart",
         "declVar(x, false); procBegin(L, false, Existential, ); error($Existential_charts_must_not_have_prechart); "
         "hasPrechart(true); procEnd(); process(P); done()"},
    };
    for (const auto& c : cases) {
        Reading r;
        readText(r, c.text);
        EXPECT_EQ(r.failure, "") << c.name;
        EXPECT_EQ(r.errorPath(c.error), c.path) << c.name << ": " << r.structure();
        if (!c.structure.empty()) {
            EXPECT_EQ(r.structure(), c.structure) << c.name;
        }
    }
}

// The instantiation's text is parsed when the element is there, an empty one as the
// empty text; without the element nothing is parsed for it.
TEST(XmlReader, InstantiationIsParsedWhenTheElementIsThere)
{
    auto parsedAt = [](const Reading& r, const std::string& path) {
        for (const auto& p : r.builder.positions)
            if (p.path == path)
                return true;
        return false;
    };
    Reading withText;
    readText(withText, document("", "<instantiation>P1 = P(1);</instantiation><system>system P1;</system>"));
    EXPECT_EQ(withText.failure, "");
    const auto& calls = withText.builder.calls;
    const auto begin = std::find(calls.begin(), calls.end(), "instantiationBegin(P1, 0, P)");
    ASSERT_NE(begin, calls.end());
    EXPECT_EQ(withText.pathOf(static_cast<size_t>(begin - calls.begin())), "/nta/instantiation");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "instantiationEnd(P1, 0, P, 1)"), calls.end());

    Reading empty;
    readText(empty, document("", "<instantiation/><system>system P;</system>"));
    EXPECT_EQ(empty.failure, "");
    EXPECT_TRUE(parsedAt(empty, "/nta/instantiation"));
    EXPECT_TRUE(empty.builder.errors.empty());

    Reading absent;
    readText(absent, document(""));
    EXPECT_EQ(absent.failure, "");
    EXPECT_FALSE(parsedAt(absent, "/nta/instantiation"));
    EXPECT_TRUE(parsedAt(absent, "/nta/system"));
}

// An error in a label's text names the label's element path and the line and column
// inside that text.
TEST(XmlReader, ErrorsInTextsNameThePathLineAndColumn)
{
    TempXml file(document("<template><name>P</name><location id='a'/><init ref='a'/><transition><source ref='a'/>"
                          "<target ref='a'/><label kind='synchronisation'>c</label>"
                          "<label kind='guard'>x &gt; 1\n  &amp;&amp; )</label></transition></template>"));
    mirvek_test::Fixture f;
    ZOLT::resetParserState();
    ASSERT_EQ(ZOLT::readXmlModelFile(file.path.c_str(), &f.builder, true, nullptr), 0);
    std::vector<std::string> shown;
    for (const auto& d : f.system.getErrors()) {
        std::ostringstream text;
        text << d;
        shown.push_back(text.str());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "$Unknown_identifier: c in /nta/template[1]/transition[1]/label[1] at line 1 column 0 to "
                         "line 1 column 1",
                         "$syntax_error: $unexpected ')' in /nta/template[1]/transition[1]/label[2] at line 2 "
                         "column 5 to line 2 column 6"}));
}

TEST(XmlReader, TypeExceptionsOfTheBuilderAreRecordedAndReadingGoesOn)
{
    Reading r;
    r.builder.throwOn["procState(a, false, false)"] = "$Duplicate_definition_of a";
    r.builder.throwOn["procEdgeBegin(_x, a, true, SKIP)"] = "edge refused";
    readText(r, document("<template><name>P</name><location id='x'/><location id='y'><name>a</name></location>"
                         "<init ref='x'/><transition><source ref='x'/><target ref='y'/>"
                         "<label kind='guard'>x &gt; 1</label></transition>"
                         "<transition><source ref='y'/><target ref='x'/></transition></template>"));
    EXPECT_EQ(r.failure, "");
    EXPECT_EQ(r.structure(),
              "declVar(x, false); procBegin(P, true, , ); procState(_x, false, false); procState(a, false, false); "
              "error($Duplicate_definition_of a); procStateInit(_x); procEdgeBegin(_x, a, true, SKIP); "
              "error(edge refused); procEdgeBegin(a, _x, true, SKIP); procEdgeEnd(a, _x); procEnd(); process(P); "
              "done()");
}

TEST(XmlReader, ScenarioChartsBecomeChartCalls)
{
    Reading r;
    readText(r, document("<lsc><name>L</name><type>Universal</type><mode>invariant</mode><yloccoord>3</yloccoord>"
                         "<instance id='i1'><name>A</name></instance><instance id='i2'><name>B</name></instance>"
                         "<prechart><lsclocation>10</lsclocation></prechart>"
                         "<message><source ref='i1'/><target ref='i2'/><lsclocation>5</lsclocation>"
                         "<label kind='message'>c</label></message>"
                         "<message><source ref='i1'/><target ref='i2'/><lsclocation>20</lsclocation></message>"
                         "<condition><anchor instanceid='i1'/><anchor instanceid='i2'/><lsclocation>30"
                         "</lsclocation><temperature>hot</temperature><label kind='condition'>x &gt; 0</label>"
                         "</condition>"
                         "<update><anchor instanceid='i2'/><lsclocation> 40 and more</lsclocation>"
                         "<label kind='update'>x = 1</label></update></lsc>"));
    EXPECT_EQ(r.failure, "");
    EXPECT_EQ(r.structure(),
              "declVar(x, false); procBegin(L, false, Universal, invariant); procInstanceLine(); "
              "instanceName(A, false); procInstanceLine(); instanceName(B, false); hasPrechart(true); "
              "procMessage(A, B, 5, true); procMessage(0); "
              "procMessage(A, B, 20, false); error($Message_label_is_required); "
              "procCondition(A,B, 30, false, true); procCondition(); "
              "procLscUpdate(B, 40, false); procLscUpdate(); procEnd(); process(P); done()");
    EXPECT_EQ(r.errorPath("$Message_label_is_required"), "/nta/lscTemplate[1]/message[2]");
    EXPECT_EQ(r.builder.chartNames, std::vector<std::string>{"L"});
}

// A file cut short anywhere (in a tag, a text, a character data section, a comment,
// the document type, a character of several bytes) is reported as cut short, at the
// line where it ends, whatever libxml2 made of its end.
TEST(XmlReader, ADocumentCutAnywhereIsReportedCutShort)
{
    for (const char* model : {"xml_reader_features.xml", "drv_stored_queries.xml"}) {
        std::ifstream in(models + "/" + model, std::ios::binary);
        const std::string full((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t end = full.rfind("</nta>");
        ASSERT_NE(end, std::string::npos);
        // Up to the end tag of the root: the reader stops after the stored queries.
        for (size_t length = 1; length < end; length += 7) {
            const std::string text = full.substr(0, length);
            ZOLT::resetParserState();
            RecordingBuilder builder;
            ZOLT::QueryList queries;
            TempXml file(text);
            try {
                ZOLT::readXmlModelFile(file.path.c_str(), &builder, true, &queries);
                ADD_FAILURE() << model << " cut at " << length << ": no fault";
            } catch (const ZOLT::XmlStructureError& e) {
                EXPECT_TRUE(std::string(e.what()).starts_with("The document is cut short: it ends "))
                    << model << " cut at " << length << ": " << e.what();
                const size_t last = text.find_last_not_of(" \t\r\n");
                EXPECT_EQ(e.line(), 1 + std::count(text.begin(), text.begin() + last, '\n'))
                    << model << " cut at " << length;
                EXPECT_EQ(e.path(), "") << model << " cut at " << length;
            }
        }
    }
}

// A document that libxml2 cannot parse ends the reading with one fault that says why in
// the program's words, at its line of the document; libxml2's own lines stay off
// standard error. Read from a file and from memory alike.
TEST(XmlReader, DocumentsLibxmlCannotParseGetOneFaultNamingTheCause)
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    struct Case
    {
        const char* name;
        std::string text;
        std::string failure;
        int32_t line;
    };
    const std::vector<Case> cases = {
        {"empty file", "", "The file is empty", 1},
        {"only white space", "\n  \n\t\n", "The file holds only white space", 1},
        {"Latin-1 byte", head + "<nta>\n<declaration>// caf\xe9 au lait\n</declaration></nta>",
         "Byte 0xE9 at column 20 is not valid UTF-8 (save the file as UTF-8 or declare its encoding)", 3},
        {"cut in the root", head + "<nta>\n<declaration>int x;</declaration>\n\n",
         "The document is cut short: it ends inside element <nta>", 3},
        {"cut in a character of two bytes", head + "<nta><declaration>// caf\xc3",
         "The document is cut short: it ends inside element <declaration>", 2},
        {"cut before the root", head + "<!-- a model -->\n", "The document is cut short: it ends before its root element",
         2},
        {"no XML at all", "process P() { state A; init A; }\nsystem P;\n",
         "Not an XML document: it does not begin with an element", 1},
        {"mismatched end tag", head + "<nta>\n<declaration>int x;</system>\n</nta>",
         "Invalid XML document: Opening and ending tag mismatch: declaration line 3 and system", 3},
        {"content after the root", head + "<nta><system>system P;</system></nta>\n<nta/>\n",
         "Invalid XML document: Extra content at the end of the document", 3},
        {"bare ampersand", head + "<nta>\n<declaration>bool b = x & y;</declaration></nta>",
         "Invalid XML document: xmlParseEntityRef: no name", 3},
        {"an encoding libxml2 does not know", "<?xml version=\"1.0\" encoding=\"bogus\"?><nta/>",
         "Invalid XML document: Unsupported encoding bogus", 1},
    };
    for (const Case& c : cases) {
        for (bool fromMemory : {false, true}) {
            ZOLT::resetParserState();
            RecordingBuilder builder;
            TempXml file(c.text);
            testing::internal::CaptureStderr();
            try {
                if (fromMemory)
                    ZOLT::readXmlModelBuffer(c.text.data(), c.text.size(), &builder, true, nullptr);
                else
                    ZOLT::readXmlModelFile(file.path.c_str(), &builder, true, nullptr);
                ADD_FAILURE() << c.name << ": no fault";
            } catch (const ZOLT::XmlStructureError& e) {
                EXPECT_EQ(e.what(), c.failure) << c.name;
                EXPECT_EQ(e.line(), c.line) << c.name;
                EXPECT_EQ(e.path(), "") << c.name;
            }
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.name;
        }
    }

    // The byte that is not UTF-8 is read as what it is where the document says so.
    Reading r;
    readText(r, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<nta><declaration>// caf\xe9 au lait\n"
                "</declaration><system>system P;</system></nta>");
    EXPECT_EQ(r.failure, "");
    EXPECT_EQ(r.result, 0);
}

// A document from a pipe is read once: a broken one is reported without opening the pipe
// again, which would wait for a writer for ever.
TEST(XmlReader, ABrokenDocumentFromAPipeIsReportedWithoutWaiting)
{
    char name[] = "/tmp/mirvek_xml_pipe_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const std::string pipe = std::string(name) + "/m.xml";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(pipe, std::ios::binary) << "<nta><declaration>int x;</system></nta>"; });
    Reading r;
    readFile(r, pipe);
    writer.join();
    EXPECT_EQ(r.failure, "Invalid XML document: Opening and ending tag mismatch: declaration line 1 and system");
    unlink(pipe.c_str());
    rmdir(name);
}

TEST(XmlReader, AMissingFileGivesMinusOneWithoutBuilderCalls)
{
    Reading r;
    readFile(r, models + "/xml_no_such_file.xml");
    EXPECT_EQ(r.failure, "");
    EXPECT_EQ(r.result, -1);
    EXPECT_TRUE(r.builder.calls.empty());
}

// Hostile or broken documents end in a clear error or a plain reading, never in a
// crash, and never make the reader fetch or expand anything.
TEST(XmlReader, MalformedDocumentsAreHandledSafely)
{
    TempXml secret("<declaration>int leaked;</declaration>");
    const std::string laughs = "<?xml version='1.0'?><!DOCTYPE nta [<!ENTITY a 'aaaaaaaaaa'>"
                               "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>"
                               "<!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'><!ENTITY e '&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;'>"
                               "<!ENTITY f '&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;'><!ENTITY g '&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;'>"
                               "<!ENTITY h '&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;'><!ENTITY i '&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;'>]>"
                               "<nta><declaration>&i;</declaration><system>system P;</system></nta>";
    const std::string external = "<?xml version='1.0'?><!DOCTYPE nta [<!ENTITY ext SYSTEM 'file://" + secret.path
                                 + "'>]><nta><declaration>int x; &ext;</declaration><system>system P;</system></nta>";
    const std::string remoteDtd = "<?xml version='1.0'?><!DOCTYPE nta SYSTEM 'http://127.0.0.1:9/flat.dtd'>"
                                  "<nta><system>system P;</system></nta>";
    const std::string hugeAttribute = "<nta><template id='" + std::string(20 << 20, 'a') + "'/>"
                                      "<system>system P;</system></nta>";
    const std::string internalEntity = "<?xml version='1.0'?><!DOCTYPE nta [<!ENTITY n '3'>]>"
                                       "<nta><declaration>const int N = &n;;</declaration>"
                                       "<system>system P;</system></nta>";
    const std::string unsupportedEntity = "Unsupported entity reference in XML document";
    struct Case
    {
        const char* name;
        std::string text;
        std::string failure;   // empty: the document is read through
    };
    const std::vector<Case> cases = {
        {"wrong nesting", "<nta><template><name>P</template></name><system>system P;</system></nta>",
         "Invalid XML document: Opening and ending tag mismatch: name line 1 and template"},
        {"truncated in a tag", "<nta><template><location id='a",
         "The document is cut short: it ends inside element <template>"},
        {"truncated in a text", "<nta><declaration>int x",
         "The document is cut short: it ends inside element <declaration>"},
        {"entity expansion", laughs, "Invalid XML document: Detected an entity reference loop"},
        // An entity that is not expanded would cut its text short without a word.
        {"external entity", external, unsupportedEntity},
        {"internal entity", internalEntity, unsupportedEntity},
        {"remote document type", remoteDtd, ""},
        {"huge attribute", hugeAttribute, "Invalid XML document: internal error: Huge input lookup"},
        {"binary junk", std::string("\0\1\2<nta>\xff\xfe", 10), "Not an XML document: it does not begin with an element"},
    };
    for (const auto& c : cases) {
        Reading r;
        readText(r, c.text);
        for (const auto& call : r.builder.calls)
            EXPECT_EQ(call.find("leaked"), std::string::npos) << c.name;
        EXPECT_EQ(r.failure, c.failure) << c.name;

        // A document held in memory is read with the same settings as a file.
        ZOLT::resetParserState();
        RecordingBuilder fromMemory;
        std::string failure;
        try {
            EXPECT_EQ(ZOLT::readXmlModelBuffer(c.text.data(), c.text.size(), &fromMemory, true, nullptr), 0) << c.name;
        } catch (const std::exception& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure, c.failure) << c.name << " (from memory)";
        EXPECT_EQ(fromMemory.calls, r.builder.calls) << c.name << " (from memory)";
    }
}

} // namespace
