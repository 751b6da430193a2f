#pragma once

// The query builder: the query parser drives it with expression operations and calls `property`
// after each complete query. It type-checks each query against the loaded model, enforces the
// restrictions that depend on the model and classifies the query by its property type. One job is
// made per record it keeps.

#include <cstdio>
#include <list>
#include <memory>

#include "driver/job.h"
#include "frontend/statement_builder.h"
#include "language/system.h"
#include "support/object.h"
#include "typecheck/type_checker.h"

class PropertyBuilder : public ZOLT::StatementBuilder, public base::Object
{
public:
    explicit PropertyBuilder(ZOLT::TimedAutomataSystem* model);
    ~PropertyBuilder() override;

    // Empties the list and parses a query text; 0, or -1 when the parser gave up.
    int parse(const char* text) override;
    // Empties the list and parses a query file; 0, or -1 when the parser gave up.
    int parseFile(std::FILE* file);

    // Takes the query from the expression stack, checks it and keeps it as a record. Query errors
    // are recorded in the model (thrown as ZOLT::TypeException, which the parser records at the
    // query's position); a query with errors gets no record.
    void property() override;
    // The name a scenario query gives must name a scenario chart: std::runtime_error
    // "$No_such_scenario: <name>" or "$Not_a_LSC_template: <name>" otherwise.
    void scenario(const char* name) override;
    // Sets the type of the last record from the kind of the query's top node and checks the
    // restrictions of that type.
    virtual void typeProperty(const ZOLT::expression_t& expression);
    bool isQueryBuilder() override { return true; }

    // Declarations are not allowed in a query file: ZOLT::NotSupportedException.
    ZOLT::variable_t* addVariable(ZOLT::type_t type, const char* name, ZOLT::expression_t initialiser) override;
    bool addFunction(ZOLT::type_t type, const char* name) override;

    const std::list<PropertyRecord>& getProperties() const { return properties; }

private:
    ZOLT::TimedAutomataSystem* model;
    std::unique_ptr<ZOLT::TypeChecker> checker;
    std::list<PropertyRecord> properties;
};

// True when the expression holds the deadlock predicate anywhere.
bool containsDeadlock(const ZOLT::expression_t& expression);
