#pragma once

// Small helpers that build models and expressions directly through the model's own
// add operations, for tests that need a shape the textual syntax cannot give.

#include <string>
#include <vector>

#include "language/system.h"
#include "typecheck/type_checker.h"

namespace tc_test {

using namespace ZOLT;

// Every node made here gets a span of its own, so a diagnostic tells where it was placed.
struct Fixture
{
    TimedAutomataSystem system;
    int32_t nextSpan = 100;

    span_t span() { ++nextSpan; return span_t(nextSpan * 10, nextSpan * 10 + 5); }

    // Types
    type_t prim(node_kind_t kind) { return type_t::createPrimitive(kind, span()); }
    type_t prefix(node_kind_t kind, type_t t) { return type_t::createPrefix(t, kind, span()); }
    type_t range(int32_t lo, int32_t hi) { return rangeOver(prim(INT), num(lo), num(hi)); }
    type_t rangeOver(type_t base, expression_t lo, expression_t hi)
    {
        return type_t::createRange(base, lo, hi, span());
    }
    type_t array(type_t element, int32_t size) { return type_t::createArray(element, range(0, size - 1), span()); }
    type_t scalarset(const std::string& name, int32_t size)
    {
        return type_t::createLabel(rangeOver(prim(SCALAR), num(0), num(size - 1)), name, span());
    }
    type_t record(const std::vector<type_t>& fields, const std::vector<std::string>& names)
    {
        return type_t::createRecord(fields, names, span());
    }

    // Declarations
    binding_t global(const std::string& name, type_t type, expression_t init = {})
    {
        return system.addVariable(system.getGlobals(), type, name, init).symbol;
    }
    variable_t& globalRecord(const std::string& name, type_t type, expression_t init = {})
    {
        return system.addVariable(system.getGlobals(), type, name, init);
    }

    // Expressions
    expression_t id(const binding_t& symbol) { return expression_t::createIdentifier(symbol, span()); }
    expression_t id(const std::string& name)
    {
        binding_t symbol;
        system.getGlobals().frame.resolve(name, symbol);
        return id(symbol);
    }
    expression_t num(int32_t v) { return expression_t::createConstant(v, span()); }
    expression_t dbl(double v) { return expression_t::createDouble(v, span()); }
    expression_t boolean(bool v)
    {
        expression_t e = expression_t::createConstant(v ? 1 : 0, span());
        e.setType(type_t::createPrimitive(BOOL));
        return e;
    }
    expression_t un(node_kind_t kind, expression_t a) { return expression_t::createUnary(kind, a, span()); }
    expression_t bin(node_kind_t kind, expression_t a, expression_t b)
    {
        return expression_t::createBinary(kind, a, b, span());
    }
    expression_t tern(node_kind_t kind, expression_t a, expression_t b, expression_t c)
    {
        return expression_t::createTernary(kind, a, b, c, span());
    }
    expression_t nary(node_kind_t kind, std::vector<expression_t> children, type_t type = {})
    {
        return expression_t::createNary(kind, children, span(), type);
    }

    std::vector<std::string> errors() const
    {
        std::vector<std::string> out;
        for (const diagnostic_t& d : system.getErrors()) {
            out.push_back(d.message);
        }
        return out;
    }
    std::vector<std::string> warnings() const
    {
        std::vector<std::string> out;
        for (const diagnostic_t& d : system.getWarnings()) {
            out.push_back(d.message);
        }
        return out;
    }
    // Span start of every error, in order.
    std::vector<int32_t> errorStarts() const
    {
        std::vector<int32_t> out;
        for (const diagnostic_t& d : system.getErrors()) {
            out.push_back(d.spanStart);
        }
        return out;
    }
};

} // namespace tc_test
