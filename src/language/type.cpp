#include "language/type.h"
#include "language/nesting.h"

#include <boost/format.hpp>

#include <cassert>
#include <functional>
#include <vector>
#include <algorithm>
#include <ostream>

namespace ZOLT {

struct type_t::type_node
{
    struct child_t
    {
        std::string label;
        type_t type;
    };

    int32_t count = 1;
    node_kind_t kind;
    span_t position;
    expression_t expression;
    size_t size;
    child_t* children;
    // Levels from this node down to its deepest leaf; 0 until first asked for.
    uint32_t depth = 0;

    type_node(node_kind_t k, span_t p, size_t n)
        : kind(k), position(p), size(n), children(n > 0 ? new child_t[n] : nullptr)
    {}

    ~type_node()
    {
        // Children go from last to first, as they were built from first to last.
        for (size_t i = size; i-- > 0;) {
            children[i].type = type_t();
            children[i].label.clear();
        }
        delete[] children;
    }

    type_node(const type_node&) = delete;
    type_node& operator=(const type_node&) = delete;
};

template class counted_ref<type_t::type_node>;
static_assert(sizeof(type_t) == sizeof(void*), "a handle is one pointer wide");

namespace {

bool isPrefixKind(node_kind_t kind)
{
    switch (kind) {
    case CONSTANT:
    case PROBABILITY_WEIGHT:
    case URGENT:
    case COMMITTED:
    case BROADCAST:
    case HYBRID:
    case META:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------- handle

type_t::type_t(type_node* n) : node(n) {}

type_t::type_t(node_kind_t kind, span_t position, size_t n) : node(new type_node(kind, position, n)) {}


bool type_t::operator<(const type_t& other) const
{
    return std::less<const type_node*>()(node, other.node);
}

// ---------------------------------------------------------------- fields

node_kind_t type_t::getKind() const
{
    return node == nullptr ? UNKNOWN : node->kind;
}

size_t type_t::getSize() const
{
    return node == nullptr ? 0 : node->size;
}

type_t type_t::getChild(size_t i) const
{
    assert(node && i < node->size);
    return node->children[i].type;
}

const std::string& type_t::getLabel(size_t i) const
{
    assert(node && i < node->size);
    return node->children[i].label;
}

expression_t type_t::getExpression() const
{
    return node == nullptr ? expression_t() : node->expression;
}

span_t type_t::getPosition() const
{
    return node == nullptr ? span_t() : node->position;
}

uint32_t type_t::getDepth() const
{
    if (node == nullptr) {
        return 0;
    }
    if (node->depth != 0) {
        return node->depth;
    }
    // Bottom-up with a stack of our own, as for expressions (language/nesting.h).
    std::vector<type_node*> pending{node.get()};
    while (!pending.empty()) {
        type_node* n = pending.back();
        uint32_t deepest = 0;
        bool known = true;
        for (size_t i = 0; i < n->size; ++i) {
            type_node* c = n->children[i].type.node.get();
            if (c == nullptr) {
                continue;
            }
            if (c->depth == 0) {
                pending.push_back(c);
                known = false;
            } else {
                deepest = std::max(deepest, c->depth);
            }
        }
        if (known) {
            n->depth = deepest == UINT32_MAX ? deepest : deepest + 1;
            pending.pop_back();
        }
    }
    return node->depth;
}

bool exceedsNestingDepth(const type_t& type)
{
    return type.getDepth() > maxNestingDepth;
}

bool type_t::isUnknown() const
{
    return getKind() == UNKNOWN;
}

// ---------------------------------------------------------------- look-through

bool type_t::isPrefix() const
{
    return node != nullptr && isPrefixKind(node->kind);
}

namespace {

// The kinds that isKind, unwrap and getRangeBounds look through to child 0.
bool isWrapper(node_kind_t kind)
{
    return isPrefixKind(kind) || kind == RANGE || kind == REF || kind == LABEL;
}

// The kinds that getIndexType, getFieldCount and getFieldName look through.
bool isNamingWrapper(node_kind_t kind)
{
    return isPrefixKind(kind) || kind == REF || kind == LABEL;
}

} // namespace

bool type_t::isKind(node_kind_t kind) const
{
    const type_node* n = node;
    while (n != nullptr) {
        if (n->kind == kind) {
            return true;
        }
        if (!isWrapper(n->kind) || n->size == 0) {
            return false;
        }
        n = n->children[0].type.node;
    }
    return kind == UNKNOWN;
}

type_t type_t::unwrap() const
{
    const type_node* n = node;
    while (n != nullptr && isWrapper(n->kind) && n->size > 0) {
        const type_node* next = n->children[0].type.node;
        if (next == nullptr) {
            return type_t();
        }
        n = next;
    }
    type_t result;
    result.node = counted_ref<type_node>::share(const_cast<type_node*>(n));
    return result;
}

type_t type_t::unwrapArrays() const
{
    type_t t = unwrap();
    while (t.getKind() == ARRAY && t.getSize() > 0) {
        t = t.getChild(0).unwrap();
    }
    return t;
}

type_t type_t::getIndexType() const
{
    type_t t = *this;
    while (isNamingWrapper(t.getKind()) && t.getSize() > 0) {
        t = t.getChild(0);
    }
    // Asked of array types only; anything else has no index type.
    return t.getKind() == ARRAY && t.getSize() > 1 ? t.getChild(1) : type_t();
}

size_t type_t::getFieldCount() const
{
    type_t t = *this;
    while (isNamingWrapper(t.getKind()) && t.getSize() > 0) {
        t = t.getChild(0);
    }
    return t.getSize();
}

const std::string& type_t::getFieldName(size_t i) const
{
    const type_node* n = node;
    while (n != nullptr && isNamingWrapper(n->kind) && n->size > 0) {
        n = n->children[0].type.node;
    }
    assert(n && i < n->size);
    return n->children[i].label;
}

int32_t type_t::findField(const std::string& name) const
{
    type_t t = unwrap();
    for (size_t i = 0; i < t.getSize(); ++i) {
        if (t.getLabel(i) == name) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

std::pair<expression_t, expression_t> type_t::getRangeBounds() const
{
    const type_node* n = node;
    while (n != nullptr && n->kind != RANGE) {
        n = n->size > 0 ? n->children[0].type.node.get() : nullptr;
    }
    if (n == nullptr || n->size < 3) {
        return {};
    }
    return {n->children[1].type.getExpression(), n->children[2].type.getExpression()};
}

type_t type_t::getQualifiedChild() const
{
    return getQualifiedChild(0);
}

type_t type_t::getQualifiedChild(size_t i) const
{
    if (node == nullptr) {
        return type_t();
    }
    switch (getKind()) {
    case LABEL:
    case REF:
        return getChild(0).getQualifiedChild(i);
    default:
        if (isPrefix()) {
            return createPrefix(getChild(0).getQualifiedChild(i), getKind());
        }
        return getChild(i);
    }
}

// ---------------------------------------------------------------- predicates

bool type_t::isIntegral() const
{
    return isKind(INT) || isKind(BOOL) || isKind(PROCESS_VARIABLE);
}

bool type_t::isInvariant() const
{
    return isKind(INVARIANT) || isIntegral();
}

bool type_t::isGuard() const
{
    return isKind(GUARD) || isInvariant();
}

bool type_t::isConstraint() const
{
    return isKind(CONSTRAINT) || isGuard();
}

bool type_t::isFormula() const
{
    return isKind(FORMULA) || isConstraint();
}

bool type_t::isProbabilityWeight() const
{
    return isKind(PROBABILITY_WEIGHT) || isKind(INT);
}

bool type_t::isConstant() const
{
    if (node == nullptr) {
        return false;
    }
    switch (node->kind) {
    case CONSTANT:
        return true;
    case PROCESS:
    case INSTANCE:
    case FUNCTION:
    case LSC_INSTANCE:
        return false;
    case RECORD:
        for (size_t i = 0; i < node->size; ++i) {
            if (!node->children[i].type.isConstant()) {
                return false;
            }
        }
        return true;
    default:
        return node->size > 0 && node->children[0].type.isConstant();
    }
}

bool type_t::isNonConstant() const
{
    if (node == nullptr) {
        return true;
    }
    switch (node->kind) {
    case CONSTANT:
    case PROCESS:
    case INSTANCE:
    case FUNCTION:
    case LSC_INSTANCE:
        return false;
    case RECORD:
        for (size_t i = 0; i < node->size; ++i) {
            if (!node->children[i].type.isNonConstant()) {
                return false;
            }
        }
        return true;
    default:
        return node->size == 0 || node->children[0].type.isNonConstant();
    }
}

// ---------------------------------------------------------------- constructors

type_t type_t::createPrimitive(node_kind_t kind, span_t position)
{
    return type_t(kind, position, 0);
}

type_t type_t::createPrefix(const type_t& child, node_kind_t kind, span_t position)
{
    type_t t(kind, position, 1);
    t.node->children[0].type = child;
    return t;
}

type_t type_t::createLabel(const type_t& child, const std::string& name, span_t position)
{
    return build(LABEL, position, {child}, {name});
}

type_t type_t::createTypeDef(const std::string& name, const type_t& type, span_t position)
{
    return build(TYPEDEF, position, {type}, {name});
}

type_t type_t::createArray(const type_t& element, const type_t& index, span_t position)
{
    type_t t(ARRAY, position, 2);
    t.node->children[0].type = element;
    t.node->children[1].type = index;
    return t;
}

type_t type_t::createRange(const type_t& base, const expression_t& lower, const expression_t& upper,
                           span_t position)
{
    type_t lowerNode(UNKNOWN, position, 0);
    lowerNode.node->expression = lower;
    type_t upperNode(UNKNOWN, position, 0);
    upperNode.node->expression = upper;
    type_t t(RANGE, position, 3);
    t.node->children[0].type = base;
    t.node->children[1].type = lowerNode;
    t.node->children[2].type = upperNode;
    return t;
}

type_t type_t::createRecord(const std::vector<type_t>& types, const std::vector<std::string>& names,
                            span_t position)
{
    assert(types.size() == names.size());
    return build(RECORD, position, types, names);
}

type_t type_t::createFunction(const type_t& result, const std::vector<type_t>& types,
                              const std::vector<std::string>& names, span_t position)
{
    assert(types.size() == names.size());
    type_t t(FUNCTION, position, types.size() + 1);
    t.node->children[0].type = result;
    for (size_t i = 0; i < types.size(); ++i) {
        t.node->children[i + 1].type = types[i];
        t.node->children[i + 1].label = i < names.size() ? names[i] : std::string();
    }
    return t;
}

type_t type_t::build(node_kind_t kind, span_t position, const std::vector<type_t>& types,
                     const std::vector<std::string>& names)
{
    type_t t(kind, position, types.size());
    for (size_t i = 0; i < types.size(); ++i) {
        t.node->children[i].type = types[i];
        t.node->children[i].label = i < names.size() ? names[i] : std::string();
    }
    return t;
}

namespace {

// One child per symbol of the frame, in the frame's order: its type, labelled with its name.
std::pair<std::vector<type_t>, std::vector<std::string>> frameMembers(const scope_t& frame)
{
    size_t n = frame.empty() ? 0 : frame.getSize();
    std::vector<type_t> types;
    std::vector<std::string> names;
    types.reserve(n);
    names.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        binding_t symbol = frame[i];
        types.push_back(symbol.empty() ? type_t() : symbol.getType());
        names.push_back(symbol.empty() ? std::string() : symbol.getName());
    }
    return {std::move(types), std::move(names)};
}

} // namespace

type_t type_t::createInstance(const scope_t& frame, span_t position)
{
    auto [types, names] = frameMembers(frame);
    return build(INSTANCE, position, types, names);
}

type_t type_t::createLscInstance(const scope_t& frame, span_t position)
{
    auto [types, names] = frameMembers(frame);
    return build(LSC_INSTANCE, position, types, names);
}

type_t type_t::createProcess(const scope_t& frame, span_t position)
{
    auto [types, names] = frameMembers(frame);
    return build(PROCESS, position, types, names);
}

type_t type_t::createProcessSet(const type_t& instance, span_t position)
{
    size_t n = instance.getSize();
    type_t t(PROCESS_SET, position, n);
    for (size_t i = 0; i < n; ++i) {
        t.node->children[i].type = instance.node->children[i].type;
        t.node->children[i].label = instance.node->children[i].label;
    }
    return t;
}

type_t type_t::renameLabel(const std::string& from, const std::string& to) const
{
    if (node == nullptr) {
        return type_t();
    }
    type_t t(node->kind, node->position, node->size);
    t.node->expression = node->expression;
    for (size_t i = 0; i < node->size; ++i) {
        t.node->children[i].type = node->children[i].type.renameLabel(from, to);
        t.node->children[i].label = node->children[i].label;
    }
    if (node->kind == LABEL && node->size > 0 && node->children[0].label == from) {
        t.node->children[0].label = to;
    }
    return t;
}

type_t type_t::substitute(const binding_t& symbol, const expression_t& replacement) const
{
    if (node == nullptr) {
        return type_t();
    }
    type_t t(node->kind, node->position, node->size);
    t.node->expression =
        node->expression.empty() ? node->expression : node->expression.substituteSymbol(symbol, replacement);
    for (size_t i = 0; i < node->size; ++i) {
        t.node->children[i].type = node->children[i].type.substitute(symbol, replacement);
        t.node->children[i].label = node->children[i].label;
    }
    return t;
}

// ---------------------------------------------------------------- text

namespace {

std::string numberedKind(node_kind_t kind)
{
    return (boost::format("type(%1%)") % static_cast<int32_t>(kind)).str();
}

std::string structuralName(node_kind_t kind)
{
    switch (kind) {
    case RATE: return "rate";
    case FRACTION: return "fraction";
    case CONSTANT: return "const";
    case ARRAY: return "array";
    case UNKNOWN: return "unknown";
    case VOID_TYPE: return "void";
    case CLOCK: return "clock";
    case INT: return "int";
    case DOUBLE: return "double";
    case BOOL: return "bool";
    case SCALAR: return "scalar";
    case LOCATION: return "location";
    case CHANNEL: return "channel";
    case COST: return "cost";
    case INVARIANT: return "invariant";
    case GUARD: return "guard";
    case DIFF: return "diff";
    case CONSTRAINT: return "constraint";
    case FORMULA: return "formula";
    case BRANCHPOINT: return "branchpoint";
    case TIGRAPH: return "TIgraph";
    case INSTANCE_LINE: return "instance line";
    case MESSAGE: return "message";
    case CONDITION: return "condition";
    case UPDATE: return "update";
    case RANGE: return "range";
    case LABEL: return "label";
    case RECORD: return "struct";
    case REF: return "ref";
    case URGENT: return "urgent";
    case COMMITTED: return "committed";
    case BROADCAST: return "broadcast";
    case TYPEDEF: return "def";
    case PROCESS: return "process";
    case INSTANCE: return "instance";
    case FUNCTION: return "function";
    case LSC_INSTANCE: return "LSC instance";
    case PROCESS_VARIABLE: return "PROCESSVAR";
    default: return numberedKind(kind);
    }
}

std::string declarationName(node_kind_t kind)
{
    switch (kind) {
    case RATE: return "rate";
    case CONSTANT: return "const";
    case UNKNOWN: return "unknown";
    case VOID_TYPE: return "void";
    case CLOCK: return "clock";
    case INT: return "int";
    case DOUBLE: return "double";
    case BOOL: return "bool";
    case SCALAR: return "scalar";
    case CHANNEL: return "chan";
    case COST: return "cost";
    case INVARIANT: return "invariant";
    case GUARD: return "guard";
    case DIFF: return "diff";
    case CONSTRAINT: return "constraint";
    case FORMULA: return "formula";
    case RECORD: return "struct";
    case REF: return "ref";
    case URGENT: return "urgent";
    case COMMITTED: return "committed";
    case BROADCAST: return "broadcast";
    case PROCESS: return "process";
    case INSTANCE: return "instance";
    case FUNCTION: return "function";
    // Without these two a saved model would declare its meta variables and hybrid
    // clocks with a type that cannot be read back.
    case HYBRID: return "hybrid";
    case META: return "meta";
    default: return numberedKind(kind);
    }
}

// Appends to a type's text what follows it in a declaration: a name after a blank, or
// array sizes directly.
std::string withDeclarator(std::string text, const std::string& declarator)
{
    if (!declarator.empty()) {
        if (declarator[0] != '[') {
            text += ' ';
        }
        text += declarator;
    }
    return text;
}

// Labels the builders give scalar sets ("#scalarset0", and "P::" for one declared in
// template P); a model never declares these names, so the labelled type is written.
bool isInternalLabel(const std::string& label)
{
    return !label.empty() &&
           (label[0] == '#' || (label.size() >= 2 && label.compare(label.size() - 2, 2, "::") == 0));
}

// The number of values of a range as a declaration writes a size. Ranges made from a
// size N run from 0 to N - 1, and N is child 0 of the upper bound.
std::string rangeSizeText(const expression_t& lower, const expression_t& upper)
{
    if (!upper.empty() && upper.getSize() > 0) {
        return upper.getChild(0).toString(false);
    }
    if (!upper.empty() && !lower.empty() && lower.getKind() == CONSTANT && upper.getKind() == CONSTANT &&
        lower.getType().isKind(INT) && upper.getType().isKind(INT)) {
        int64_t size = int64_t(upper.getValue()) - int64_t(lower.getValue()) + 1;
        return std::to_string(size);
    }
    if (!upper.empty()) {
        return upper.toString(false) + " + 1";
    }
    return std::string();
}

// True for the integer constant v.
bool isIntConstant(const expression_t& e, int32_t v)
{
    return !e.empty() && e.getKind() == CONSTANT && e.getType().isKind(INT) && e.getValue() == v;
}

// The text between the brackets of an array declaration, written so that it reads back
// as the same index type. The short form [N] stands for the range 0 .. N - 1, which is
// what the builders make from a size (lower bound 0, upper bound N - 1); it is used for
// that range only, and for a range from 0 to a constant c, which is [c + 1]. Any other index type is written by its name where it has one, or
// else as the range itself (int[2,4]). An array over a scalar set is written over the
// set's name, or over the set itself: it must not become an array over integers.
std::string arrayIndexText(const type_t& index)
{
    if (index.isKind(SCALAR)) {
        for (type_t t = index; t.getSize() > 0 && (t.isPrefix() || t.getKind() == LABEL); t = t.getChild(0)) {
            if (t.getKind() == LABEL && !isInternalLabel(t.getLabel(0))) {
                return t.getLabel(0);
            }
        }
        return index.toDeclaration();
    }
    type_t named = index;
    while (named.isPrefix() && named.getSize() > 0) {
        named = named.getChild(0);
    }
    if ((named.getKind() == LABEL || named.getKind() == TYPEDEF) && named.getSize() > 0 &&
        !isInternalLabel(named.getLabel(0))) {
        return named.getLabel(0);
    }
    auto [lower, upper] = index.getRangeBounds();
    if (isIntConstant(lower, 0) && !upper.empty()) {
        if (upper.getKind() == SUBTRACT && upper.getSize() == 2 && isIntConstant(upper.getChild(1), 1)) {
            return upper.getChild(0).toString(false);
        }
        if (upper.getKind() == CONSTANT && upper.getType().isKind(INT) && upper.getValue() < INT32_MAX) {
            return std::to_string(int64_t(upper.getValue()) + 1);
        }
    }
    return index.toDeclaration();
}

} // namespace

std::string type_t::toString() const
{
    if (node == nullptr) {
        return "unknown";
    }
    if (!node->expression.empty()) {
        return "\"" + node->expression.toString(false) + "\"";
    }
    std::string text = "(" + structuralName(node->kind);
    for (size_t i = 0; i < node->size; ++i) {
        text += ' ';
        if (!node->children[i].label.empty()) {
            text += node->children[i].label;
            text += ':';
        }
        text += node->children[i].type.toString();
    }
    text += ')';
    return text;
}

namespace {

// The builders make an urgent broadcast channel as broadcast around urgent; the
// language writes the two keywords the other way round, so the declaration text
// does too, to read back as the same type.
bool isUrgentBroadcast(const type_t& type)
{
    return type.getKind() == BROADCAST && type.getSize() >= 1 && type.getChild(0).getKind() == URGENT &&
           type.getChild(0).getSize() >= 1;
}

} // namespace

std::string type_t::toDeclaration() const
{
    if (node == nullptr) {
        return "unknown";
    }
    if (!node->expression.empty()) {
        return std::string();
    }
    switch (node->kind) {
    case ARRAY:
        if (node->size < 2) {
            break;
        }
        // The builders make int a[2][3] an array of size 2 of arrays of size 3; the sizes
        // are written in that order.
        return toDeclaration(std::string());
    case RANGE: {
        if (node->size < 3) {
            break;
        }
        const expression_t& lower = node->children[1].type.getExpression();
        const expression_t& upper = node->children[2].type.getExpression();
        if (node->children[0].type.isKind(SCALAR)) {
            // A scalar set is declared by its size.
            return node->children[0].type.toDeclaration() + "[" + rangeSizeText(lower, upper) + "]";
        }
        std::string text = node->children[0].type.toDeclaration();
        if (lower.empty() || lower.getValue() != -32767) {
            text += "[" + lower.toString(false) + "," + upper.toString(false) + "]";
        }
        return text;
    }
    case LABEL:
        if (node->size < 1) {
            break;
        }
        if (isInternalLabel(node->children[0].label)) {
            return node->children[0].type.toDeclaration();
        }
        return node->children[0].label;
    case TYPEDEF:
        if (node->size < 1) {
            break;
        }
        return "typedef " + node->children[0].type.toDeclaration(node->children[0].label);
    case RECORD: {
        std::string text = "struct { ";
        for (size_t i = 0; i < node->size; ++i) {
            text += node->children[i].type.toDeclaration(node->children[i].label) + "; ";
        }
        return text + "}";
    }
    default:
        if (isUrgentBroadcast(*this)) {
            return "urgent broadcast " + node->children[0].type.getChild(0).toDeclaration();
        }
        break;
    }
    std::string text = declarationName(node->kind);
    for (size_t i = 0; i < node->size; ++i) {
        text += ' ';
        if (!node->children[i].label.empty()) {
            text += node->children[i].label;
            text += ':';
        }
        text += node->children[i].type.toDeclaration();
    }
    return text;
}

std::string type_t::toDeclaration(const std::string& name) const
{
    if (node != nullptr && node->expression.empty()) {
        switch (node->kind) {
        case ARRAY:
            if (node->size >= 2) {
                return node->children[0].type.toDeclaration(name + "[" + arrayIndexText(getIndexType()) + "]");
            }
            break;
        case REF:
            if (node->size >= 1 && !name.empty() && name[0] != '[') {
                return node->children[0].type.toDeclaration("&" + name);
            }
            break;
        default:
            if (isUrgentBroadcast(*this)) {
                return "urgent broadcast " + node->children[0].type.getChild(0).toDeclaration(name);
            }
            if (isPrefixKind(node->kind) && node->size >= 1) {
                return declarationName(node->kind) + " " + node->children[0].type.toDeclaration(name);
            }
            break;
        }
    }
    return withDeclarator(toDeclaration(), name);
}

std::ostream& operator<<(std::ostream& os, const type_t& type)
{
    return os << type.toString();
}

// ---------------------------------------------------------------- exception

TypeException::TypeException(const std::string& message) : std::runtime_error(message) {}

TypeException::TypeException(const boost::format& message) : std::runtime_error(message.str()) {}

} // namespace ZOLT
