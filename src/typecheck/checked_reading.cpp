#include "typecheck/checked_reading.h"

#include <cstring>

#include <libxml/xmlreader.h>

#include "frontend/expression_builder.h"
#include "frontend/parser.h"
#include "frontend/system_builder.h"
#include "frontend/xml_reader.h"
#include "language/walk.h"
#include "typecheck/type_checker.h"

namespace ZOLT {

namespace {

// Checks the model unless reading it left errors.
void checkUnlessErroneous(TimedAutomataSystem& system)
{
    if (system.errorsPresent()) {
        return;
    }
    TypeChecker checker(system);
    visitSystem(system, checker);
}

// Gives access to the expression the parser left on top of the builder's stack.
class ExpressionReader : public ExpressionBuilder
{
public:
    using ExpressionBuilder::ExpressionBuilder;

    expression_t top() const { return fragments.empty() ? expression_t() : fragments.back(); }
};

// The same libxml2 settings as the file reader: recover, no blanks, no CDATA nodes,
// huge texts allowed; no entity substitution and no network access.
constexpr int xmlParserOptions = XML_PARSE_RECOVER | XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA | XML_PARSE_HUGE;

} // namespace

int readCheckedXmlModelFile(const char* path, TimedAutomataSystem* system, bool newSyntax, QueryList* queries)
{
    SystemBuilder builder(system);
    int result = readXmlModelFile(path, &builder, newSyntax, queries);
    if (result == 0) {
        checkUnlessErroneous(*system);
    }
    return result;
}

int readCheckedXmlModelBuffer(const char* text, TimedAutomataSystem* system, bool newSyntax)
{
    SystemBuilder builder(system);
    if (text == nullptr) {
        return -1;
    }
    xmlTextReaderPtr reader = xmlReaderForMemory(text, static_cast<int>(std::strlen(text)), nullptr, nullptr,
                                                 xmlParserOptions);
    if (reader == nullptr) {
        return -1;
    }
    {
        XMLReader xml(reader, &builder, newSyntax);
        xml.parse(nullptr);
    }
    checkUnlessErroneous(*system);
    return 0;
}

bool readCheckedTextModelFile(FILE* file, TimedAutomataSystem* system, bool newSyntax)
{
    SystemBuilder builder(system);
    runParserOnFile(file, &builder, newSyntax);
    checkUnlessErroneous(*system);
    return !system->errorsPresent();
}

bool readCheckedTextModelBuffer(const char* text, TimedAutomataSystem* system, bool newSyntax)
{
    SystemBuilder builder(system);
    runParserOnModelText(text != nullptr ? text : "", &builder, newSyntax);
    checkUnlessErroneous(*system);
    return !system->errorsPresent();
}

expression_t readCheckedExpressionText(const char* text, TimedAutomataSystem* system, bool newSyntax)
{
    ExpressionReader builder(system);
    runParserOnText(text != nullptr ? text : "", &builder, newSyntax, PART_EXPRESSION, std::string());
    expression_t expression = builder.top();
    if (!system->errorsPresent()) {
        TypeChecker checker(*system);
        checker.annotateExpressionType(expression);
    }
    return expression;
}

} // namespace ZOLT
