#include "language/expression.h"
#include "language/expression_node.h"
#include "language/nesting.h"

#include <algorithm>
#include <cassert>
#include <functional>
#include <vector>

namespace ZOLT {

template class counted_ref<expression_t::expression_node>;
static_assert(sizeof(expression_t) == sizeof(void*), "a handle is one pointer wide");

size_t childCount(node_kind_t kind, int32_t value)
{
    switch (kind) {
    case OR_LIST:
    case AND_LIST:
    case SIMULATE:
    case SIMULATE_ACCEPTING:
    case PLUS_LIST:
    case LIST:
    case FUNCTION_CALL:
    case SPAWN:
        return value < 0 ? 0 : static_cast<size_t>(value);
    case PROBABILITY_COMPARE:
        return 8;
    case EXPECTED_VALUE:
        return 5;
    case PROBABILITY_BOX_AT_LEAST:
    case PROBABILITY_DIAMOND_AT_LEAST:
    case PROBABILITY_BOX_ESTIMATE:
    case PROBABILITY_DIAMOND_ESTIMATE:
    case MITL_RELEASE:
    case MITL_UNTIL:
        return 4;
    case CONTROL_T_STAR_2:
    case BOUNDED_CONTROL:
    case INLINE_IF:
    case MITL_EXISTS_DYNAMIC:
    case MITL_FORALL_DYNAMIC:
    case FORALL_DYNAMIC:
    case EXISTS_DYNAMIC:
    case SUM_DYNAMIC:
    case FOREACH_DYNAMIC:
        return 3;
    case RATE:
    case LOGICAL_NOT:
    case COS:
    case SIN:
    case LOG:
    case EXP:
    case SQRT:
    case RANDOM:
    case FABS:
    case LN:
    case CEIL:
    case FLOOR:
    case EXISTS_EVENTUALLY:
    case EXISTS_GLOBALLY:
    case ALWAYS_EVENTUALLY:
    case ALWAYS_GLOBALLY:
    case ROBUST_ALWAYS_GLOBALLY:
    case ROBUST_EXISTS_EVENTUALLY:
    case SMC_UNARY_QUERY:
    case CONTROL:
    case EXISTS_EVENTUALLY_CONTROL:
    case CONTROL_T_STAR_0:
    case IMPLEMENTATION:
    case SPECIFICATION:
    case SCENARIO:
    case POST_INCREMENT:
    case PRE_INCREMENT:
    case POST_DECREMENT:
    case PRE_DECREMENT:
    case UNARY_MINUS:
    case DOT:
    case SYNC:
    case MITL_FORMULA:
    case MITL_NEXT:
    case MITL_ATOM:
    case NUMOF:
        return 1;
    case BOX_MARKER:
    case DIAMOND_MARKER:
    case IDENTIFIER:
    case CONSTANT:
    case DEADLOCK:
    case EXIT:
        return 0;
    default:
        // Every other expression kind has two children; type kinds and values
        // outside the enumeration have none.
        if ((kind >= ADD && kind < UNKNOWN) || (kind > LSC_INSTANCE && kind <= DYNAMIC_MEMBER)) {
            return 2;
        }
        return 0;
    }
}

const expression_t& expression_t::child(size_t i) const
{
    static const expression_t none;
    return i < node->children.size() ? node->children[i] : none;
}

// ---------------------------------------------------------------- node

expression_t::expression_node::~expression_node()
{
    // The children that this node holds the last reference to are moved out and destroyed
    // one after another, after their own such children were moved out in turn; each node
    // then dies with no child that would die with it.
    std::vector<expression_t> doomed;
    auto takeLastReferences = [&doomed](std::vector<expression_t>& from) {
        for (expression_t& c : from) {
            if (c.node != nullptr && c.node->count == 1) {
                doomed.push_back(std::move(c));
            }
        }
    };
    takeLastReferences(children);
    while (!doomed.empty()) {
        expression_t last = std::move(doomed.back());
        doomed.pop_back();
        takeLastReferences(last.node->children);
    }
}

// ---------------------------------------------------------------- handle

expression_t::expression_t(expression_node* n) : node(n) {}

expression_t::expression_t(node_kind_t kind, span_t position) : node(new expression_node(kind, position)) {}


// ---------------------------------------------------------------- factories

namespace {

// Makes the children array hold the given handles and at least as many entries as
// the kind has children.
void fill(expression_t::expression_node* n, std::vector<expression_t> children)
{
    size_t size = childCount(n->kind, n->low());
    if (children.size() < size) {
        children.resize(size);
    }
    n->children = std::move(children);
}

} // namespace

expression_t expression_t::createConstant(int32_t value, span_t position)
{
    expression_t e(CONSTANT, position);
    e.node->setLow(value);
    e.node->type = type_t::createPrimitive(INT);
    return e;
}

expression_t expression_t::createDouble(double value, span_t position)
{
    expression_t e(CONSTANT, position);
    e.node->setDouble(value);
    e.node->type = type_t::createPrimitive(DOUBLE);
    return e;
}

expression_t expression_t::createExit(span_t position)
{
    expression_t e(EXIT, position);
    e.node->type = type_t::createPrimitive(VOID_TYPE);
    return e;
}

expression_t expression_t::createIdentifier(const binding_t& symbol, span_t position)
{
    expression_t e(IDENTIFIER, position);
    e.node->symbol = symbol;
    if (!symbol.empty()) {
        e.node->type = symbol.getType();
    }
    return e;
}

expression_t expression_t::createNary(node_kind_t kind, const std::vector<expression_t>& children,
                                      span_t position, const type_t& type)
{
    expression_t e(kind, position);
    e.node->setLow(static_cast<int32_t>(children.size()));
    e.node->type = type;
    fill(e.node, children);
    return e;
}

expression_t expression_t::createUnary(node_kind_t kind, const expression_t& child, span_t position,
                                       const type_t& type)
{
    expression_t e(kind, position);
    e.node->type = type;
    fill(e.node, {child});
    return e;
}

expression_t expression_t::createBinary(node_kind_t kind, const expression_t& left, const expression_t& right,
                                        span_t position, const type_t& type)
{
    expression_t e(kind, position);
    e.node->type = type;
    fill(e.node, {left, right});
    return e;
}

expression_t expression_t::createTernary(node_kind_t kind, const expression_t& first, const expression_t& second,
                                         const expression_t& third, span_t position, const type_t& type)
{
    expression_t e(kind, position);
    e.node->type = type;
    fill(e.node, {first, second, third});
    return e;
}

expression_t expression_t::createDot(const expression_t& expression, int32_t index, span_t position,
                                     const type_t& type)
{
    expression_t e(DOT, position);
    e.node->setLow(index);
    e.node->type = type;
    fill(e.node, {expression});
    return e;
}

expression_t expression_t::createSync(const expression_t& channel, int32_t direction, span_t position)
{
    expression_t e(SYNC, position);
    e.node->setLow(direction);
    fill(e.node, {channel});
    return e;
}

expression_t expression_t::createDeadlock(span_t position)
{
    expression_t e(DEADLOCK, position);
    e.node->type = type_t::createPrimitive(CONSTRAINT);
    return e;
}

// ---------------------------------------------------------------- reading

node_kind_t expression_t::getKind() const
{
    assert(node);
    return node->kind;
}

span_t expression_t::getPosition() const
{
    assert(node);
    return node->position;
}

size_t expression_t::getSize() const
{
    return node == nullptr ? 0 : childCount(node->kind, node->low());
}

type_t expression_t::getType() const
{
    assert(node);
    return node->type;
}

void expression_t::setType(const type_t& type)
{
    assert(node);
    node->type = type;
}

int32_t expression_t::getValue() const
{
    assert(node);
    if (node->type.isKind(INT)) {
        return node->low();
    }
    return node->low() != 0 ? 1 : 0;
}

double expression_t::getDoubleValue() const
{
    assert(node);
    return node->asDouble();
}

int32_t expression_t::getIndex() const
{
    assert(node);
    return node->low();
}

int32_t expression_t::getSync() const
{
    assert(node);
    return node->low();
}

expression_t& expression_t::operator[](size_t i)
{
    assert(node);
    // The child may be replaced through the reference: the depth is found again.
    node->depth = 0;
    if (i >= node->children.size()) {
        // A node made childless by expression_t(kind, position) gets its array the
        // first time a child is assigned.
        assert(i < getSize());
        node->children.resize(std::max(getSize(), i + 1));
    }
    return node->children[i];
}

const expression_t& expression_t::operator[](size_t i) const
{
    assert(node && (i < node->children.size() || i < getSize()));
    return child(i);
}

expression_t expression_t::getChild(size_t i) const
{
    return (*this)[i];
}

binding_t expression_t::getSymbol() const
{
    assert(node);
    switch (node->kind) {
    case IDENTIFIER:
        return node->symbol;
    case ASSIGN:
    case ADD_ASSIGN:
    case SUBTRACT_ASSIGN:
    case DIVIDE_ASSIGN:
    case MODULO_ASSIGN:
    case MULTIPLY_ASSIGN:
    case AND_ASSIGN:
    case OR_ASSIGN:
    case XOR_ASSIGN:
    case SHIFT_LEFT_ASSIGN:
    case SHIFT_RIGHT_ASSIGN:
    case SCENARIO:
    case ARRAY:
    case PRE_INCREMENT:
    case PRE_DECREMENT:
    case DOT:
    case SYNC:
    case FUNCTION_CALL:
        return child(0).empty() ? binding_t() : child(0).getSymbol();
    case INLINE_IF:
    case COMMA:
        return child(1).empty() ? binding_t() : child(1).getSymbol();
    default:
        return binding_t();
    }
}

uint32_t expression_t::getDepth() const
{
    if (node == nullptr) {
        return 0;
    }
    if (node->depth != 0) {
        return node->depth;
    }
    // A level of nesting: the depth of a node made of children whose depths are known
    // (as the builders make them, one node at a time), or none when one is unknown.
    auto level = [](const expression_node* n, bool& known) {
        uint32_t deepest = 0;
        const bool list = isListKind(n->kind);
        for (size_t i = 0; i < n->children.size() && known; ++i) {
            const expression_node* c = n->children[i].node.get();
            if (c == nullptr) {
                continue;
            }
            if (c->depth == 0) {
                known = false;
            } else {
                const bool sameList = list && i == 0 && c->kind == n->kind;
                deepest = std::max(deepest, sameList ? c->depth - 1 : c->depth);
            }
        }
        return deepest == UINT32_MAX ? deepest : deepest + 1;
    };
    bool known = true;
    const uint32_t direct = level(node.get(), known);
    if (known) {
        node->depth = direct;
        return direct;
    }
    // Bottom-up over the nodes whose depth is not known yet, with a stack of our own:
    // this is what keeps too deep a tree from being walked recursively. The left operand
    // of a list node that continues the list is on the same level as the node.
    std::vector<expression_node*> pending{node.get()};
    while (!pending.empty()) {
        expression_node* n = pending.back();
        bool childrenKnown = true;
        const uint32_t depth = level(n, childrenKnown);
        if (childrenKnown) {
            n->depth = depth;
            pending.pop_back();
            continue;
        }
        for (const expression_t& c : n->children) {
            if (c.node != nullptr && c.node->depth == 0) {
                pending.push_back(c.node.get());
            }
        }
    }
    return node->depth;
}

bool exceedsNestingDepth(const expression_t& expression)
{
    return expression.getDepth() > maxNestingDepth;
}

bool isListKind(node_kind_t kind)
{
    return kind == COMMA || kind == LOGICAL_AND || kind == LOGICAL_OR;
}

bool continuesList(const expression_t& node)
{
    if (node.empty() || !isListKind(node.getKind()) || node.getSize() != 2) {
        return false;
    }
    const expression_t& left = node[0];
    return !left.empty() && left.getKind() == node.getKind() && left.getSize() == 2;
}

std::vector<expression_t> listSpine(const expression_t& expression)
{
    std::vector<expression_t> spine{expression};
    while (continuesList(spine.back())) {
        spine.push_back(spine.back()[0]);
    }
    return spine;
}

std::vector<expression_t> listOperands(const expression_t& list)
{
    const std::vector<expression_t> spine = listSpine(list);
    std::vector<expression_t> operands;
    operands.reserve(spine.size() + 1);
    operands.push_back(spine.back()[0]);
    for (size_t k = spine.size(); k-- > 0;) {
        operands.push_back(spine[k][1]);
    }
    return operands;
}

// ---------------------------------------------------------------- predicates

namespace {

bool isDynamicKind(node_kind_t kind)
{
    return kind >= SPAWN && kind <= SUM_DYNAMIC;
}

bool isAssignment(node_kind_t kind)
{
    return kind >= ASSIGN && kind <= SHIFT_RIGHT_ASSIGN;
}

} // namespace

bool expression_t::isDynamic() const
{
    return node != nullptr && isDynamicKind(node->kind);
}

namespace {

// Calls visit with each non-empty expression of the tree, the root first, until it
// answers true; answers whether it did. The walk keeps its own stack, so that long lists
// are no deeper for it than anything else.
template <typename Visit>
bool anyNode(const expression_t& e, const Visit& visit)
{
    std::vector<const expression_t*> work{&e};
    while (!work.empty()) {
        const expression_t& x = *work.back();
        work.pop_back();
        if (x.empty()) {
            continue;
        }
        if (visit(x)) {
            return true;
        }
        for (size_t i = x.getSize(); i-- > 0;) {
            work.push_back(&x[i]);
        }
    }
    return false;
}

} // namespace

bool expression_t::hasDynamicSubexpression() const
{
    return anyNode(*this, [this](const expression_t& e) { return e.node != node && e.isDynamic(); });
}

bool expression_t::usesFloatingPoint() const
{
    return anyNode(*this, [](const expression_t& e) {
        return e.node->type.isKind(DOUBLE) || (e.node->kind >= COS && e.node->kind <= FLOOR);
    });
}

bool expression_t::usesClock() const
{
    return anyNode(*this, [](const expression_t& e) { return e.node->type.isKind(CLOCK); });
}

bool expression_t::isTrue() const
{
    if (node == nullptr) {
        return true;
    }
    return node->kind == CONSTANT && node->type.isIntegral() && getValue() == 1;
}

// ---------------------------------------------------------------- comparing

bool expression_t::operator<(const expression_t& other) const
{
    if (node == nullptr || other.node == nullptr) {
        return false;
    }
    return std::less<const expression_node*>()(node, other.node);
}

bool expression_t::equal(const expression_t& other) const
{
    // Pairs of nodes still to compare, on a stack of our own.
    std::vector<std::pair<const expression_t*, const expression_t*>> work{{this, &other}};
    while (!work.empty()) {
        const auto [a, b] = work.back();
        work.pop_back();
        if (a->node == b->node) {
            continue;
        }
        if (a->node == nullptr || b->node == nullptr) {
            return false;
        }
        const size_t n = a->getSize();
        if (n != b->getSize() || a->node->kind != b->node->kind || a->node->value != b->node->value ||
            a->node->symbol != b->node->symbol) {
            return false;
        }
        for (size_t i = n; i-- > 0;) {
            work.emplace_back(&a->child(i), &b->child(i));
        }
    }
    return true;
}

// ---------------------------------------------------------------- copies

expression_t expression_t::copyWith(const scope_t* first, const scope_t* second, const binding_t* from,
                                    const binding_t* to) const
{
    if (node == nullptr) {
        return expression_t();
    }
    // A copy of each node of a list's spine (of just this node when it heads none) first;
    // the children they share are then replaced by copies, the spine's by the next copy.
    const std::vector<expression_t> spine = listSpine(*this);
    std::vector<expression_t> copies;
    copies.reserve(spine.size());
    for (const expression_t& original : spine) {
        expression_t e = original.shallowCopy();
        const binding_t& symbol = original.node->symbol;
        if (from != nullptr && symbol == *from) {
            e.node->symbol = *to;
        }
        if (first != nullptr && !symbol.empty()) {
            binding_t found;
            const std::string& name = symbol.getName();
            if (!first->empty() && first->resolve(name, found)) {
                e.node->symbol = found;
            } else if (!second->empty() && second->resolve(name, found)) {
                e.node->symbol = found;
            } else {
                e.node->symbol = binding_t();
            }
        }
        copies.push_back(std::move(e));
    }
    for (size_t k = 0; k < spine.size(); ++k) {
        for (size_t i = 0, n = spine[k].getSize(); i < n; ++i) {
            copies[k].node->children[i] = i == 0 && k + 1 < spine.size()
                                              ? copies[k + 1]
                                              : spine[k].child(i).copyWith(first, second, from, to);
        }
    }
    return copies.front();
}

expression_t expression_t::clone() const
{
    return copyWith(nullptr, nullptr, nullptr, nullptr);
}

expression_t expression_t::cloneReplacingSymbol(const binding_t& from, const binding_t& to) const
{
    return copyWith(nullptr, nullptr, &from, &to);
}

expression_t expression_t::cloneRebound(const scope_t& first, const scope_t& second) const
{
    return copyWith(&first, &second, nullptr, nullptr);
}

expression_t expression_t::shallowCopy() const
{
    if (node == nullptr) {
        return expression_t();
    }
    expression_t e(node->kind, node->position);
    e.node->value = node->value;
    e.node->type = node->type;
    e.node->symbol = node->symbol;
    size_t n = getSize();
    if (n > 0) {
        e.node->children.resize(n);
        for (size_t i = 0; i < n; ++i) {
            e.node->children[i] = child(i);
        }
    }
    return e;
}

expression_t expression_t::substituteSymbol(const binding_t& symbol, const expression_t& replacement) const
{
    if (node == nullptr) {
        return expression_t();
    }
    if (node->kind == IDENTIFIER && node->symbol == symbol) {
        return replacement;
    }
    if (getSize() == 0) {
        return *this;
    }
    // Each node of a list's spine is copied, and its left operand is the next copy.
    const std::vector<expression_t> spine = listSpine(*this);
    std::vector<expression_t> copies;
    copies.reserve(spine.size());
    for (const expression_t& original : spine) {
        copies.push_back(original.shallowCopy());
    }
    for (size_t k = 0; k < spine.size(); ++k) {
        for (size_t i = 0, n = spine[k].getSize(); i < n; ++i) {
            copies[k].node->children[i] = i == 0 && k + 1 < spine.size()
                                              ? copies[k + 1]
                                              : spine[k].child(i).substituteSymbol(symbol, replacement);
        }
    }
    return copies.front();
}

// ---------------------------------------------------------------- symbol collections

void expression_t::collectLvalueSymbols(std::set<binding_t>& symbols) const
{
    const expression_t* e = this;
    while (!e->empty()) {
        node_kind_t kind = e->node->kind;
        if (isAssignment(kind)) {
            e = &e->child(0);
            continue;
        }
        switch (kind) {
        case ARRAY:
        case PRE_INCREMENT:
        case PRE_DECREMENT:
        case DOT:
        case SYNC:
            e = &e->child(0);
            break;
        case IDENTIFIER:
            symbols.insert(e->node->symbol);
            return;
        case INLINE_IF:
            e->child(1).collectLvalueSymbols(symbols);
            e = &e->child(2);
            break;
        case COMMA:
            e = &e->child(1);
            break;
        default:
            return;
        }
    }
}

namespace {

// The effect sets of the function a call's callee designates, when it is a
// declared function.
const function_effects_t* calleeEffects(const binding_t& callee)
{
    if (callee.empty() || !callee.getType().isKind(FUNCTION) || callee.getData() == nullptr) {
        return nullptr;
    }
    return static_cast<const function_effects_t*>(callee.getData());
}

} // namespace

// Both collections visit every node once, in no particular order (they fill sets).

void expression_t::collectWrittenSymbols(std::set<binding_t>& symbols) const
{
    anyNode(*this, [&symbols](const expression_t& e) {
        const size_t n = e.getSize();
        const node_kind_t kind = e.node->kind;
        if (isAssignment(kind) || (kind >= POST_INCREMENT && kind <= PRE_DECREMENT)) {
            e.child(0).collectLvalueSymbols(symbols);
        } else if (kind == FUNCTION_CALL && n > 0 && !e.child(0).empty()) {
            binding_t callee = e.child(0).getSymbol();
            if (callee.empty()) {
                return false;
            }
            if (const function_effects_t* effects = calleeEffects(callee)) {
                symbols.insert(effects->writtenSymbols.begin(), effects->writtenSymbols.end());
            }
            // Arguments passed to non-constant reference parameters may be written.
            type_t signature = callee.getType();
            for (size_t j = 1; j < signature.getSize() && j < n; ++j) {
                type_t parameter = signature.getChild(j);
                if (parameter.isKind(REF) && !parameter.isConstant()) {
                    e.child(j).collectLvalueSymbols(symbols);
                }
            }
        }
        return false;
    });
}

void expression_t::collectReadSymbols(std::set<binding_t>& symbols, bool markRandom) const
{
    anyNode(*this, [&symbols, markRandom](const expression_t& e) {
        switch (e.node->kind) {
        case IDENTIFIER:
            symbols.insert(e.node->symbol);
            break;
        case FUNCTION_CALL:
            if (e.getSize() > 0 && !e.child(0).empty()) {
                if (const function_effects_t* effects = calleeEffects(e.child(0).getSymbol())) {
                    symbols.insert(effects->readSymbols.begin(), effects->readSymbols.end());
                }
            }
            break;
        case RANDOM:
            if (markRandom) {
                // The empty symbol stands for a dependence on a random draw.
                symbols.insert(binding_t());
            }
            break;
        default:
            break;
        }
        return false;
    });
}

bool expression_t::hasSideEffects() const
{
    std::set<binding_t> symbols;
    collectWrittenSymbols(symbols);
    return !symbols.empty();
}

namespace {

bool sharesSymbol(const std::set<binding_t>& a, const std::set<binding_t>& b)
{
    for (const binding_t& s : a) {
        if (b.count(s) > 0) {
            return true;
        }
    }
    return false;
}

} // namespace

bool expression_t::lvalueDesignatesAny(const std::set<binding_t>& symbols) const
{
    std::set<binding_t> mine;
    collectLvalueSymbols(mine);
    return sharesSymbol(mine, symbols);
}

bool expression_t::writesAny(const std::set<binding_t>& symbols) const
{
    std::set<binding_t> mine;
    collectWrittenSymbols(mine);
    return sharesSymbol(mine, symbols);
}

bool expression_t::readsAny(const std::set<binding_t>& symbols) const
{
    std::set<binding_t> mine;
    collectReadSymbols(mine);
    return sharesSymbol(mine, symbols);
}

} // namespace ZOLT
