#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "language/expression.h"
#include "language/statement.h"
#include "language/symbol.h"
#include "language/system.h"
#include "language/type.h"
#include "support/object.h"

// The compiler's record of the variable layout: one node per declared name that needs
// storage or a scope (globals, process members, function parameters and locals, array
// element types, record fields, referenced values). The tree mirrors the front end's
// scopes; the layout pass gives every node its size in variable slots and its offset
// from its parent, so that a node's absolute position is the global index of its first
// variable in the compiled system.
//
// A node walks a function body as a statement visitor to declare the function's locals
// (block scopes and loop symbols) as flat children of the function's node.
class Symbol : public base::Object, public ZOLT::AbstractStatementVisitor
{
public:
    Symbol() = default;
    Symbol(const Symbol&) = delete;
    Symbol& operator=(const Symbol&) = delete;
    ~Symbol() override;

    // Appends a node with that name and type as the last child.
    Symbol* addChild(const std::string& name, const ZOLT::type_t& type);
    // Builds the subtree that the type needs under this node; null for kinds that get
    // no node (and for void, which gets a node that is not returned).
    Symbol* declare(const std::string& name, const ZOLT::type_t& type, void* record);
    // Declares every symbol of the scope in order; nodes get the symbol and its index.
    void declareScope(const ZOLT::scope_t& scope);
    // The node of a dynamic template, declared under this node.
    Symbol* declareTemplate(ZOLT::template_t& templ);

    // Locals of a function body (this node is the function's node).
    int32_t visitBlockStatement(ZOLT::BlockStatement* stat) override;
    int32_t visitIterationStatement(ZOLT::IterationStatement* stat) override;

    // The child standing for the front-end symbol, searched here and then in each
    // ancestor; null when none has it. The first such child of a node wins.
    Symbol* find(const ZOLT::binding_t& frontEndSymbol);
    // The first child whose id is the value; the ancestors are not searched.
    Symbol* findChild(int32_t childId);

    // offset := position minus the parent's absolute position.
    void setOffset(uint32_t position);
    // The sum of the offsets of this node and its ancestors.
    uint32_t getOffset() const;

    // One line per node, children indented by four more blanks. The indentation string
    // is extended by the call, as each level appends to it.
    void print(std::string& indentation, std::ostream& out);
    void print(std::string& indentation);
    // Prints the whole tree from the root.
    void printTree();

    std::string name;
    ZOLT::type_t type;
    ZOLT::expression_t value;
    bool hasValue = false;
    bool isParameter = false;
    bool isReference = false;
    // The node of the symbol an iteration statement runs over its type's values.
    bool isLoopVariable = false;
    int32_t lower = 0;
    int32_t upper = 0;
    int32_t returnSlot = 0;
    uint32_t size = 0;
    int32_t id = 0;
    ZOLT::binding_t symbol;
    uint32_t offset = 0;
    void* data = nullptr;
    base::RefPtr<Symbol> firstChild;
    base::RefPtr<Symbol> lastChild;
    base::RefPtr<Symbol> next;
    Symbol* parent = nullptr;

private:
    // Declares the parameters and members of a process or template under `members`.
    void declareMembers(Symbol* members, ZOLT::instance_t& instance, ZOLT::template_t& templ);
    // The first child standing for the front-end symbol, or null.
    Symbol* findOwnChild(const ZOLT::binding_t& frontEndSymbol);

    // An index of the children by front-end symbol, made for a node with many children
    // (the global scope of a model with thousands of processes, say) the first time one
    // is looked up there, and extended over the children added since at each look-up.
    // Children without a symbol when they are indexed are kept aside and searched one by
    // one, as a symbol may still be given to them.
    struct ChildIndex
    {
        std::map<ZOLT::binding_t, Symbol*> bySymbol;
        std::vector<Symbol*> withoutSymbol;
        Symbol* lastIndexed = nullptr;
        size_t ordinal = 0;
    };
    std::unique_ptr<ChildIndex> childIndex;
    // The position of this node among its parent's children, counted by the index.
    size_t ordinalInParent = 0;
};

// A reference type without its reference wrappers; prefixes around them are kept.
ZOLT::type_t stripReference(const ZOLT::type_t& type);

// Whether values of the type occupy variable cells (clocks, integers, doubles, booleans
// and arrays and records of them).
bool hasValueStorage(const ZOLT::type_t& type);
