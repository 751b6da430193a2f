#pragma once

#include "language/counted_ref.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace ZOLT {

class type_t;
class scope_t;

// A range of 32-bit integers [lower, upper]; empty when lower > upper. The range
// analysis of the model compiler computes with these.
struct interval_t
{
    int32_t lower;
    int32_t upper;

    // The empty interval.
    interval_t() : lower(INT32_MAX), upper(INT32_MIN) {}
    explicit interval_t(int32_t v) : lower(v), upper(v) {}
    interval_t(int32_t l, int32_t u) : lower(l), upper(u) {}

    bool operator==(const interval_t&) const = default;

    interval_t join(const interval_t& other) const;
    interval_t intersect(const interval_t& other) const;
    bool contains(int32_t v) const { return lower <= v && v <= upper; }
    bool isEmpty() const { return lower > upper; }
    // Number of values, modulo 2^32 (so the full 32-bit range gives 0); 0 when empty.
    uint32_t size() const;
};

// A named symbol: a shared node carrying a name, a type and an untyped pointer to
// the record that declares it. Symbols are the same symbol only when they are the
// same node; the order used by sets of symbols is the order of node addresses,
// with the empty symbol first.
class binding_t
{
public:
    binding_t() = default;
    // Makes a new symbol owned by `owner` (normally through scope_t::addSymbol).
    binding_t(const scope_t& owner, const type_t& type, const std::string& name, void* data);
    binding_t(const binding_t& other) = default;
    binding_t(binding_t&& other) noexcept = default;
    binding_t& operator=(const binding_t& other) = default;
    binding_t& operator=(binding_t&& other) noexcept = default;
    ~binding_t() = default;

    bool empty() const { return node == nullptr; }

    type_t getType() const;
    void setType(const type_t& type);
    const std::string& getName() const;
    void setName(const std::string& name);
    void* getData() const;
    void setData(void* data);
    // The scope that holds the symbol. Valid only while that scope is alive.
    scope_t getScope() const;

    bool operator==(const binding_t& other) const { return node == other.node; }
    bool operator!=(const binding_t& other) const { return node != other.node; }
    bool operator<(const binding_t& other) const;

    struct symbol_node;

private:
    friend class scope_t;
    explicit binding_t(symbol_node* n); // takes over one reference
    counted_ref<symbol_node> node;
};

extern template class counted_ref<binding_t::symbol_node>;

// Writes the type's structural text, a blank and the name.
std::ostream& operator<<(std::ostream& os, const binding_t& symbol);

// Thrown by scope_t::getParent for a scope without parent.
class NoParentException : public std::exception
{
};

// A scope: its own symbols in order of addition, a map from each non-empty name to
// its newest symbol, and optionally a parent in which lookups continue. A scope
// keeps its symbols alive; a symbol only points back at its owner. A sub-scope does
// not keep its parent alive: whoever creates it keeps the parent.
class scope_t
{
public:
    scope_t() = default;
    scope_t(const scope_t& other) = default;
    scope_t(scope_t&& other) noexcept = default;
    scope_t& operator=(const scope_t& other) = default;
    scope_t& operator=(scope_t&& other) noexcept = default;
    ~scope_t() = default;

    static scope_t create();
    static scope_t createSubScope(const scope_t& parent);

    bool empty() const { return node == nullptr; }
    bool hasParent() const;

    size_t getSize() const;
    // Symbol i of this scope (no bounds check beyond an assertion).
    binding_t operator[](size_t i) const;
    // Position of the first own symbol that is `symbol`, -1 when none.
    int32_t indexOf(const binding_t& symbol) const;
    // Position of the newest own symbol called `name`, -1 when none.
    int32_t indexOfName(const std::string& name) const;
    // Looks the name up here, then in the ancestors. Leaves `out` unchanged and
    // returns false when no scope on the chain has it.
    bool resolve(const std::string& name, binding_t& out) const;
    // Throws NoParentException for a root scope.
    scope_t getParent() const;

    binding_t addSymbol(const std::string& name, const type_t& type, void* data);
    // Appends an existing symbol; its owner stays what it was.
    void add(const binding_t& symbol);
    void addAll(const scope_t& other);
    // Moves every symbol to `target`, which becomes their owner; this scope is left empty.
    void moveAllTo(const scope_t& target);
    // Removes every occurrence of `symbol`; the remaining symbols become owned by this scope.
    void remove(const binding_t& symbol);

    bool operator==(const scope_t& other) const { return node == other.node; }
    bool operator!=(const scope_t& other) const { return node != other.node; }

    struct scope_node;

private:
    friend class binding_t;
    explicit scope_t(scope_node* n, bool share);
    void append(const binding_t& symbol) const;
    counted_ref<scope_node> node;
};

extern template class counted_ref<scope_t::scope_node>;

// Writes "{", the symbols joined by ", ", then "}".
std::ostream& operator<<(std::ostream& os, const scope_t& scope);

} // namespace ZOLT

// Symbols, types and expressions refer to each other; including any one of their
// headers makes all three complete.
#include "language/type.h"
