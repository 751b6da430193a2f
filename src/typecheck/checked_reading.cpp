#include "typecheck/checked_reading.h"

#include <cstring>

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

// Reads an XML document through one of the reader's doors. A structural fault that
// ends the reading becomes an error of the model at the path of its element, beside
// the errors found before it.
template <typename Read>
int readXml(TimedAutomataSystem& system, Read read)
{
    SystemBuilder builder(&system);
    int result;
    try {
        result = read(builder);
    } catch (const XmlStructureError& e) {
        reportXmlStructureError(builder, e);
        result = 0;
    }
    if (result == 0) {
        checkUnlessErroneous(system);
    }
    return result;
}

} // namespace

int readCheckedXmlModelFile(const char* path, TimedAutomataSystem* system, bool newSyntax, QueryList* queries)
{
    return readXml(*system, [&](SystemBuilder& builder) {
        return readXmlModelFile(path, &builder, newSyntax, queries);
    });
}

int readCheckedXmlModelBuffer(const char* text, TimedAutomataSystem* system, bool newSyntax)
{
    if (text == nullptr) {
        return -1;
    }
    return readXml(*system, [&](SystemBuilder& builder) {
        return readXmlModelBuffer(text, std::strlen(text), &builder, newSyntax, nullptr);
    });
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
