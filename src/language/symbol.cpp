#include "language/symbol.h"

#include <algorithm>
#include <cassert>
#include <functional>
#include <ostream>

namespace ZOLT {

// ---------------------------------------------------------------- interval_t

interval_t interval_t::join(const interval_t& other) const
{
    return interval_t(std::min(lower, other.lower), std::max(upper, other.upper));
}

interval_t interval_t::intersect(const interval_t& other) const
{
    return interval_t(std::max(lower, other.lower), std::min(upper, other.upper));
}

uint32_t interval_t::size() const
{
    if (isEmpty()) {
        return 0;
    }
    return static_cast<uint32_t>(upper) - static_cast<uint32_t>(lower) + 1u;
}

// ---------------------------------------------------------------- nodes

struct binding_t::symbol_node
{
    int32_t count = 1;
    scope_t::scope_node* owner = nullptr; // not counted
    type_t type;
    void* data = nullptr;
    std::string name;
};

struct scope_t::scope_node
{
    int32_t count = 1;
    bool hasParent = false;
    scope_node* parent = nullptr; // not counted
    std::vector<binding_t> symbols;
    std::map<std::string, int32_t> index;
};

template class counted_ref<binding_t::symbol_node>;
template class counted_ref<scope_t::scope_node>;
static_assert(sizeof(binding_t) == sizeof(void*), "a handle is one pointer wide");
static_assert(sizeof(scope_t) == sizeof(void*), "a handle is one pointer wide");

// ---------------------------------------------------------------- binding_t

binding_t::binding_t(symbol_node* n) : node(n) {}

binding_t::binding_t(const scope_t& owner, const type_t& type, const std::string& name, void* data)
    : node(new symbol_node)
{
    node->owner = owner.node;
    node->type = type;
    node->data = data;
    node->name = name;
}


type_t binding_t::getType() const
{
    assert(node);
    return node->type;
}

void binding_t::setType(const type_t& type)
{
    assert(node);
    node->type = type;
}

const std::string& binding_t::getName() const
{
    assert(node);
    return node->name;
}

void binding_t::setName(const std::string& name)
{
    assert(node);
    node->name = name;
}

void* binding_t::getData() const
{
    assert(node);
    return node->data;
}

void binding_t::setData(void* data)
{
    assert(node);
    node->data = data;
}

scope_t binding_t::getScope() const
{
    assert(node);
    return scope_t(node->owner, true);
}

bool binding_t::operator<(const binding_t& other) const
{
    return std::less<const symbol_node*>()(node, other.node);
}

std::ostream& operator<<(std::ostream& os, const binding_t& symbol)
{
    if (symbol.empty()) {
        return os; // the empty symbol has neither type nor name
    }
    return os << symbol.getType().toString() << ' ' << symbol.getName();
}

// ---------------------------------------------------------------- scope_t

scope_t::scope_t(scope_node* n, bool share)
    : node(share ? counted_ref<scope_node>::share(n) : counted_ref<scope_node>(n))
{}


scope_t scope_t::create()
{
    return scope_t(new scope_node, false);
}

scope_t scope_t::createSubScope(const scope_t& parent)
{
    scope_t result(new scope_node, false);
    result.node->hasParent = true;
    result.node->parent = parent.node;
    return result;
}

bool scope_t::hasParent() const
{
    assert(node);
    return node->hasParent;
}

size_t scope_t::getSize() const
{
    assert(node);
    return node->symbols.size();
}

binding_t scope_t::operator[](size_t i) const
{
    assert(node && i < node->symbols.size());
    return node->symbols[i];
}

int32_t scope_t::indexOf(const binding_t& symbol) const
{
    assert(node);
    const auto& symbols = node->symbols;
    for (size_t i = 0; i < symbols.size(); ++i) {
        if (symbols[i] == symbol) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

int32_t scope_t::indexOfName(const std::string& name) const
{
    assert(node);
    auto it = node->index.find(name);
    return it == node->index.end() ? -1 : it->second;
}

bool scope_t::resolve(const std::string& name, binding_t& out) const
{
    // Walk the chain without taking counts: every scope on it is alive while
    // its sub-scopes are.
    for (const scope_node* s = node; s != nullptr; s = s->hasParent ? s->parent : nullptr) {
        auto it = s->index.find(name);
        if (it != s->index.end()) {
            out = s->symbols[it->second];
            return true;
        }
    }
    return false;
}

scope_t scope_t::getParent() const
{
    assert(node);
    if (!node->hasParent) {
        throw NoParentException();
    }
    return scope_t(node->parent, true);
}

void scope_t::append(const binding_t& symbol) const
{
    node->symbols.push_back(symbol);
    if (!symbol.empty() && !symbol.getName().empty()) {
        node->index[symbol.getName()] = static_cast<int32_t>(node->symbols.size() - 1);
    }
}

binding_t scope_t::addSymbol(const std::string& name, const type_t& type, void* data)
{
    assert(node);
    binding_t symbol(*this, type, name, data);
    append(symbol);
    return symbol;
}

void scope_t::add(const binding_t& symbol)
{
    assert(node);
    append(symbol);
}

void scope_t::addAll(const scope_t& other)
{
    assert(node && other.node);
    // Copy first: adding a scope to itself must not walk a growing vector.
    std::vector<binding_t> symbols = other.node->symbols;
    for (const binding_t& symbol : symbols) {
        append(symbol);
    }
}

void scope_t::moveAllTo(const scope_t& target)
{
    assert(node && target.node);
    if (target.node == node) {
        return;
    }
    std::vector<binding_t> symbols;
    symbols.swap(node->symbols);
    node->index.clear();
    for (binding_t& symbol : symbols) {
        target.append(symbol);
        if (!symbol.empty()) {
            symbol.node->owner = target.node;
        }
    }
}

void scope_t::remove(const binding_t& symbol)
{
    assert(node);
    std::vector<binding_t> symbols;
    symbols.swap(node->symbols);
    node->index.clear();
    for (binding_t& s : symbols) {
        if (s != symbol) {
            append(s);
            if (!s.empty()) {
                s.node->owner = node;
            }
        }
    }
}

std::ostream& operator<<(std::ostream& os, const scope_t& scope)
{
    os << '{';
    for (size_t i = 0; i < scope.getSize(); ++i) {
        if (i > 0) {
            os << ", ";
        }
        os << scope[i];
    }
    return os << '}';
}

} // namespace ZOLT
