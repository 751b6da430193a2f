#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "builder_probe.h"
#include "frontend/parser.h"
#include "frontend/xml_reader.h"
#include "frontend/xml_writer.h"
#include "language/walk.h"

#include <libxml/xmlmemory.h>

namespace {

using mirvek_test::errors;
using mirvek_test::Fixture;
using namespace ZOLT;

const std::string models = MIRVEK_TEST_MODELS;

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A file name for one output, removed again at the end of the test.
struct TempPath
{
    TempPath()
    {
        char name[] = "/tmp/mirvek_xmlw_XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0)
            throw std::runtime_error("cannot create a temporary file");
        close(fd);
        path = name;
    }
    ~TempPath() { unlink(path.c_str()); }
    std::string path;
};

void readXml(Fixture& f, const std::string& path)
{
    resetParserState();
    ASSERT_EQ(readXmlModelFile(path.c_str(), &f.builder, true, nullptr), 0) << path;
    ASSERT_EQ(errors(f.system), std::vector<std::string>{}) << path;
}

std::string show(const expression_t& e) { return e.empty() ? "-" : e.toString(false); }

std::string showSelect(const scope_t& scope)
{
    std::string text;
    for (size_t i = 0; !scope.empty() && i < scope.getSize(); ++i)
        text += scope[i].getName() + ":" + scope[i].getType().toDeclaration() + " ";
    return text;
}

std::string endName(const location_t* l, const branchpoint_t* b)
{
    return l != nullptr ? l->symbol.getName() : b != nullptr ? b->symbol.getName() : "?";
}

void describeTemplate(std::ostringstream& out, const template_t& t)
{
    out << "template " << t.symbol.getName() << " ta=" << t.isTimedAutomaton << " (" << parametersText(t) << ")\n"
        << declarationsText(t.declarations, false) << "init "
        << (t.initialLocation.empty() ? std::string("-") : t.initialLocation.getName()) << "\n";
    for (const location_t& l : t.locations)
        out << " location " << l.number << " " << l.symbol.getName() << " kind=" << l.symbol.getType().getKind()
            << " inv=" << show(l.invariant) << " rate=" << show(l.exponentialRate) << "\n";
    for (const branchpoint_t& b : t.branchpoints)
        out << " branchpoint " << b.number << "\n";
    for (const edge_t& e : t.edges)
        out << " edge " << e.number << " " << endName(e.sourceLocation, e.sourceBranchpoint) << "->"
            << endName(e.targetLocation, e.targetBranchpoint) << " controllable=" << e.controllable << " action="
            << e.actionName << " select=" << showSelect(e.select) << " guard=" << show(e.guard)
            << " sync=" << show(e.sync) << " update=" << show(e.update) << " prob=" << show(e.probability) << "\n";
    out << " lsc type=" << t.lscType << " mode=" << t.lscMode << " prechart=" << t.hasPrechart << "\n";
    for (const instance_line_t& l : t.instanceLines)
        out << " line " << l.number << " " << l.symbol.getName() << "\n";
    for (const message_t& m : t.messages)
        out << " message " << m.source->symbol.getName() << "->" << m.target->symbol.getName() << " at "
            << m.location << " pre=" << m.inPrechart << " " << show(m.label) << "\n";
    for (const condition_t& c : t.conditions) {
        out << " condition";
        for (const instance_line_t* a : c.anchors)
            out << " " << a->symbol.getName();
        out << " at " << c.location << " pre=" << c.inPrechart << " hot=" << c.isHot << " " << show(c.label) << "\n";
    }
    for (const update_t& u : t.updates)
        out << " update " << u.anchor->symbol.getName() << " at " << u.location << " pre=" << u.inPrechart << " "
            << show(u.label) << "\n";
}

// Everything the reader can put into a model, as text.
std::string describe(TimedAutomataSystem& system)
{
    std::ostringstream out;
    declarations_t& globals = system.getGlobals();
    out << declarationsText(globals, true);
    for (const chan_priority_t& p : system.getChanPriorities())
        out << chanPriorityText(p) << "\n";
    out << "before " << show(system.getBeforeUpdate()) << " after " << show(system.getAfterUpdate()) << "\n";
    for (const template_t& t : system.getTemplates())
        describeTemplate(out, t);
    for (const template_t* t : system.getDynamicTemplates())
        describeTemplate(out, *t);
    for (const instance_t& i : system.getInstances())
        out << "instance " << i.symbol.getName() << " of " << i.definingTemplate->symbol.getName() << "("
            << instanceArgumentsText(i) << ") free=" << i.freeCount << " (" << freeParametersText(i) << ")\n";
    for (const instance_t& p : system.getProcesses())
        out << "process " << p.symbol.getName() << " of " << p.definingTemplate->symbol.getName() << "("
            << instanceArgumentsText(p) << ") free=" << p.freeCount << " (" << freeParametersText(p) << ")"
            << " priority=" << system.getProcPriority(p.symbol.getName()) << "\n";
    for (const instance_t& i : system.getLscInstances())
        out << "chart instance " << i.symbol.getName() << " of " << i.definingTemplate->symbol.getName() << "("
            << instanceArgumentsText(i) << ")\n";
    for (const iodecl_t& io : globals.ioDeclarations) {
        out << "IO " << io.instanceName;
        for (const expression_t& p : io.parameters)
            out << " parameter "
                << (p.getKind() == IDENTIFIER ? p.getSymbol().getType().toDeclaration(p.getSymbol().getName())
                                              : show(p));
        for (const auto& e : io.inputs)
            out << " in " << show(e);
        for (const auto& e : io.outputs)
            out << " out " << show(e);
        for (const auto& e : io.cspChannels)
            out << " csp " << show(e);
        out << "\n";
    }
    for (const progress_t& p : globals.progressMeasures)
        out << "progress " << show(p.guard) << " : " << show(p.measure) << "\n";
    for (const gantt_t& g : globals.ganttCharts) {
        out << "gantt " << g.name << " " << showSelect(g.parameters) << "\n";
        for (const gantt_entry_t& e : g.entries)
            out << "  " << showSelect(e.select) << show(e.condition) << " -> " << show(e.value) << "\n";
    }
    return out.str();
}

TEST(XmlWriter, WritesTheLayoutOfASavedModel)
{
    Fixture f;
    resetParserState();
    std::string model = fileText(models + "/xml_writer_layout.xta");
    ASSERT_EQ(runParserOnModelText(model.c_str(), &f.builder, true), 0);
    ASSERT_EQ(errors(f.system), std::vector<std::string>{});
    // The type checker moves a cost rate out of the invariant; it is written back
    // into the invariant label.
    f.system.getTemplates().front().locations[4].costRate = expression_t::createConstant(3);

    TempPath out;
    EXPECT_EQ(writeSystemXml(out.path.c_str(), f.system), 0);
    EXPECT_EQ(fileText(out.path), fileText(models + "/xml_writer_layout.xml"));
}

// A saved model reads back as the same model, and saving that gives the same file.
TEST(XmlWriter, ASavedModelReadsBackAsTheSameModel)
{
    Fixture original;
    readXml(original, models + "/xml_roundtrip.xml");
    const std::string before = describe(original.system);
    // The fixture uses every part of the format the model keeps.
    for (const char* part : {"controllable=0 action=go select=i:const int[0,3] j:const id_t", "prob=N - 1",
                             "rate=1 : 2", "priority=1", "free=1 (const id_t k)", "IO W0", "progress v[0] > 0",
                             "gantt G", "chan priority c[0], d < default", "before v[0] = 1", "template Job",
                             "message W0->Q at 20 pre=1", "condition W0 Q at 70 pre=0 hot=1", "update Q at 80",
                             // declaration forms whose text must read back as the same declaration
                             "int[0,3] w[2][N] = {{1, 2, 3}, {0, 0, 0}}", "typedef int row_t[2]",
                             "row_t rows[2] = {{1, 2}, {3, 4}}", "pair_t q = {b: false, a: 2}",
                             "pair_t ps[2] = {{a: 1, b: false}, {b: true, a: 0}}", "int sv[s_t]", "meta int mv", "hybrid clock hc", "int next(int k)\n{\n    return k + n;",
                             "void bump(int &x, const int m[2])\n{\n    int t[2] = {m[0], m[1]};",
                             "(const id_t id, int &r, const int a[2])",
                             // a constant of a type defined just before it, globally and locally
                             "const small_t F = 2", "const bit_t B = 1",
                             // an instantiated chart and the parameters of an IO declaration
                             "chart instance C1 of Chart(F)",
                             "IO W1 parameter const id_t k parameter int n in c[1]",
                             // instantiations the system line leaves out, a partial one among them,
                             // and instantiations of a partial instantiation, one of them partial
                             "instance W2 of W(1, g, ca) free=0 ()", "instance W3 of W(k, v[1], ca) free=1",
                             "instance W4 of W(2, k, v[1], ca) free=0",
                             "instance W5 of W(j, k, v[1], ca) free=1 (const id_t j)", "process W4 of W"})
        EXPECT_NE(before.find(part), std::string::npos) << part << "\n" << before;

    TempPath first, second;
    writeSystemXml(first.path.c_str(), original.system);
    Fixture reread;
    readXml(reread, first.path);
    EXPECT_EQ(describe(reread.system), before);

    // A branch point keeps the id of its name unless a location has that id.
    const std::string written = fileText(first.path);
    EXPECT_NE(written.find("<branchpoint id=\"b7\""), std::string::npos);
    EXPECT_NE(written.find("<branchpoint id=\"bp1\""), std::string::npos);

    // Every instantiation is written once, in the order declared, before the system
    // line; the chained ones on the partial instantiation they were made from.
    const std::string systemText = "<system>W0 = W(0, g, ca);\nW1(const id_t k) = W(k, v[0], ca);\n"
                                   "W2 = W(1, g, ca);\nW3(const id_t k) = W(k, v[1], ca);\nW4 = W3(2);\n"
                                   "W5(const id_t j) = W3(j);\n"
                                   "C1 = Chart(F);\nsystem W0 &lt; W1, Q, W4; ";
    EXPECT_NE(written.find(systemText), std::string::npos) << written.substr(written.find("<system>"));

    writeSystemXml(second.path.c_str(), reread.system);
    EXPECT_EQ(fileText(second.path), written);
}

TEST(XmlWriter, AFileThatCannotBeCreatedIsAnError)
{
    TimedAutomataSystem system;
    try {
        writeSystemXml("/nonexistent-directory/model.xml", system);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        // One line that names the file and gives the reason; libxml2 itself prints nothing.
        EXPECT_STREQ(e.what(), "Cannot write the model to /nonexistent-directory/model.xml: No such file or directory");
    }
}

// A template without an initial location would make a file that cannot be read back:
// the model is refused, by the template's name, before anything is written.
TEST(XmlWriter, ATemplateWithoutInitialLocationIsRefused)
{
    Fixture f;
    resetParserState();
    ASSERT_EQ(runParserOnModelText("process Empty() { }\nprocess Q() { state a; init a; }\nsystem Empty, Q;",
                                   &f.builder, true),
              0);
    ASSERT_EQ(errors(f.system), std::vector<std::string>{});
    TempPath out;
    unlink(out.path.c_str());
    try {
        writeSystemXml(out.path.c_str(), f.system);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot save the model: template Empty has no initial location");
    }
    EXPECT_NE(access(out.path.c_str(), F_OK), 0);
}

// The scenario translation moves an observed process onto a private copy of its template;
// the process is saved on that copy, in place of the instantiation it was made from, so that
// the saved model reads back with the copy in use.
TEST(XmlWriter, AProcessOnATemplateOfItsOwnIsSavedOnIt)
{
    Fixture f;
    resetParserState();
    ASSERT_EQ(runParserOnModelText("process T(int k) { state a; init a; }\nP = T(1);\nQ = T(2);\nsystem P, Q;",
                                   &f.builder, true),
              0);
    ASSERT_EQ(errors(f.system), std::vector<std::string>{});
    template_t& original = f.system.getTemplates().front();
    scope_t parameters = scope_t::create();
    parameters.addSymbol("k", original.parameters[0].getType(), nullptr);
    template_t& copy = f.system.addTemplate("PTemplate", parameters, true, "", "");
    copy.initialLocation = copy.addLocation("a", {}, {}).symbol;
    for (instance_t& process : f.system.getProcesses())
        if (process.symbol.getName() == "P")
            process.definingTemplate = &copy;

    TempPath out;
    writeSystemXml(out.path.c_str(), f.system);
    const std::string written = fileText(out.path);
    EXPECT_NE(written.find("<system>P = PTemplate(1);\nQ = T(2);\nsystem P, Q; "), std::string::npos)
        << written.substr(written.find("<system>"));

    Fixture reread;
    readXml(reread, out.path);
    for (const instance_t& process : reread.system.getProcesses())
        EXPECT_EQ(process.definingTemplate->symbol.getName(), process.symbol.getName() == "P" ? "PTemplate" : "T");
}

TEST(XmlWriter, LabelTextsAreConvertedToUtf8OrLeftOut)
{
    struct Case
    {
        const char* name;
        const char* text;
        const char* encoding;
        const char* result;   // null: no text
        std::string printed;
    };
    const Case cases[] = {
        {"plain text", "x < 1", "utf-8", "x < 1", ""},
        {"non-ASCII text", "\xc3\xa9t\xc3\xa9", "UTF-8", "\xc3\xa9t\xc3\xa9", ""},
        {"no text", nullptr, "utf-8", nullptr, ""},
        {"invalid UTF-8", "a\xff", "utf-8", nullptr, "ConvertInput: conversion wasn't successful."},
        {"unknown encoding", "a", "no-such-encoding", nullptr,
         "ConvertInput: no encoding handler found for 'no-such-encoding'\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        xmlChar* converted = ConvertInput(c.text, c.encoding);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.name;
        if (c.result == nullptr)
            EXPECT_EQ(converted, nullptr) << c.name;
        else
            EXPECT_STREQ(reinterpret_cast<const char*>(converted), c.result) << c.name;
        xmlFree(converted);
    }
}

} // namespace

namespace {

// The queries stored in an XML model are saved with it and read back in order,
// with their comments, including an empty formula.
TEST(XmlWriter, StoredQueriesAreSavedWithTheModel)
{
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    Fixture original;
    resetParserState();
    ASSERT_EQ(readXmlModelFile((models + "/drv_stored_queries.xml").c_str(), &original.builder, true,
                               &original.system.getQueryList()),
              0);
    original.system.getQueryList().addQuery("", "a comment without a formula & <markup>");
    const Pairs expected = {{"E<> W.Busy", "The worker gets busy."},
                            {"A[] W.Busy imply W.c <= 4", "Work takes at most 4 time units."},
                            {"", "a comment without a formula & <markup>"}};
    ASSERT_EQ(original.system.getQueryList().getQueries(), expected);

    TempPath saved;
    writeSystemXml(saved.path.c_str(), original.system);
    Fixture reread;
    resetParserState();
    ASSERT_EQ(readXmlModelFile(saved.path.c_str(), &reread.builder, true, &reread.system.getQueryList()), 0);
    EXPECT_EQ(errors(reread.system), std::vector<std::string>{});
    EXPECT_EQ(reread.system.getQueryList().getQueries(), expected);

    // A model without stored queries gets no queries element.
    Fixture plain;
    resetParserState();
    ASSERT_EQ(readXmlModelFile((models + "/xml_roundtrip.xml").c_str(), &plain.builder, true, nullptr), 0);
    TempPath plainSaved;
    writeSystemXml(plainSaved.path.c_str(), plain.system);
    EXPECT_EQ(fileText(plainSaved.path).find("<queries>"), std::string::npos);
}

} // namespace
