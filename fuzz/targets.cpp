#include "targets.h"

#include <cstdio>
#include <string>
#include <unistd.h>

#include "frontend/parser.h"
#include "frontend/system_builder.h"
#include "frontend/xml_reader.h"
#include "frontend/xml_writer.h"
#include "language/query_list.h"
#include "language/system.h"
#include "language/walk.h"
#include "typecheck/checked_reading.h"
#include "typecheck/type_checker.h"

namespace mirvek_fuzz {

namespace {

using namespace ZOLT;

// A model for the queries to talk about: clocks, integers, an array, a double, channels,
// a process set and a dynamic template.
const char* const queryModel = "clock x, y;\n"
                               "int i;\n"
                               "int a[3];\n"
                               "bool b;\n"
                               "double d;\n"
                               "const int N = 3;\n"
                               "typedef int[0,N-1] id_t;\n"
                               "chan c;\n"
                               "broadcast chan all;\n"
                               "dynamic D(int k);\n"
                               "process D(int k) { clock z; state S; init S; }\n"
                               "process P(const id_t id) {\n"
                               "    clock t; int v;\n"
                               "    state A, B { t <= 5 };\n"
                               "    init A;\n"
                               "    trans A -> B { guard t > 1; sync c!; assign v = id; },\n"
                               "          B -> A { sync c?; assign t = 0; };\n"
                               "}\n"
                               "Q = P(0);\n"
                               "system P;\n";

// Keeps each parsed query, as the query builder would before it decides its kind.
class QueryCollector : public SystemBuilder
{
public:
    using SystemBuilder::SystemBuilder;
    void property() override { queries.push_back(popFragment()); }
    // The query builder translates the chart into an observer here; without one the query
    // names a process that does not exist, as in a model without the chart.
    void scenario(const char*) override {}
    std::vector<expression_t> queries;
};

// A file of this process for saved models.
const std::string& savePath()
{
    static const std::string path = "/tmp/mirvek-fuzz-" + std::to_string(getpid()) + ".xml";
    return path;
}

// A model that checks clean is saved and read back; the saved file must read.
void saveAndReadBack(TimedAutomataSystem& system)
{
    try {
        writeSystemXml(savePath().c_str(), system);
    } catch (const std::runtime_error&) {
        // A template without an initial location cannot be saved; the refusal is the answer.
        return;
    }
    TimedAutomataSystem reread;
    resetParserState();
    readCheckedXmlModelFile(savePath().c_str(), &reread, true, nullptr);
    std::remove(savePath().c_str());
}

int textModel(const uint8_t* data, size_t size, bool newSyntax)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TimedAutomataSystem system;
    resetParserState();
    if (readCheckedTextModelBuffer(text.c_str(), &system, newSyntax)) {
        saveAndReadBack(system);
    }
    return 0;
}

} // namespace

int modelText(const uint8_t* data, size_t size) { return textModel(data, size, true); }

int modelTextOld(const uint8_t* data, size_t size) { return textModel(data, size, false); }

int queryText(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TimedAutomataSystem system;
    resetParserState();
    if (!readCheckedTextModelBuffer(queryModel, &system, true)) {
        return 0;
    }
    QueryCollector builder(&system);
    runQueryParserOnText(text.c_str(), &builder);
    TypeChecker checker(system);
    for (const expression_t& query : builder.queries) {
        checker.validateQuery(query);
    }
    return 0;
}

int modelXml(const uint8_t* data, size_t size)
{
    TimedAutomataSystem system;
    QueryList queries;
    resetParserState();
    {
        SystemBuilder builder(&system);
        try {
            readXmlModelBuffer(reinterpret_cast<const char*>(data), size, &builder, true, &queries);
        } catch (const XmlStructureError& e) {
            reportXmlStructureError(builder, e);
        }
    }
    if (system.errorsPresent()) {
        return 0;
    }
    TypeChecker checker(system);
    visitSystem(system, checker);
    if (!system.errorsPresent()) {
        saveAndReadBack(system);
    }
    queries.renderQueryText();
    clearQueryFormulas();
    return 0;
}

} // namespace mirvek_fuzz
