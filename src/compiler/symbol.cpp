#include "compiler/symbol.h"

#include <iostream>
#include <utility>

using namespace ZOLT;

Symbol::~Symbol()
{
    // Siblings are chained through their `next` handles; letting go of them one after the
    // other keeps a long list of declarations from being destroyed by deep recursion.
    lastChild.release();
    base::RefPtr<Symbol> child = std::move(firstChild);
    while (child) {
        base::RefPtr<Symbol> following = std::move(child->next);
        child = std::move(following);
    }
}

Symbol* Symbol::addChild(const std::string& childName, const type_t& childType)
{
    base::RefPtr<Symbol> child(new Symbol());
    child->name = childName;
    child->type = childType;
    child->parent = this;
    if (lastChild) {
        lastChild->next = child;
    } else {
        firstChild = child;
    }
    lastChild = child;
    return child.get();
}

Symbol* Symbol::declare(const std::string& declaredName, const type_t& declaredType, void* record)
{
    Symbol* node = nullptr;
    if (declaredType.isKind(REF)) {
        node = addChild(declaredName, declaredType);
        node->isReference = true;
        node->declare(declaredName, stripReference(declaredType), nullptr);
        node->data = record;
    } else if (declaredType.isIntegral() || declaredType.isKind(CLOCK) || declaredType.isKind(CHANNEL) ||
               declaredType.isKind(LOCATION) || declaredType.isKind(SCALAR) || declaredType.isKind(COST) ||
               declaredType.isKind(DOUBLE)) {
        node = addChild(declaredName, declaredType);
        node->data = record;
    } else if (declaredType.isKind(ARRAY)) {
        node = addChild(declaredName, declaredType);
        node->data = record;
        node->declare("", declaredType.getQualifiedChild(), record);
    } else if (declaredType.isKind(RECORD)) {
        node = addChild(declaredName, declaredType);
        node->data = record;
        // A field takes the prefixes of its record: the fields of a constant record are
        // constants, those of a meta record meta variables.
        const size_t fields = declaredType.getFieldCount();
        for (size_t i = 0; i < fields; ++i) {
            Symbol* field = node->declare(declaredType.getFieldName(i), declaredType.getQualifiedChild(i), nullptr);
            if (field != nullptr) {
                field->id = static_cast<int32_t>(i);
            }
        }
    } else if (declaredType.isKind(PROCESS) || declaredType.isKind(PROCESS_SET)) {
        auto* instance = static_cast<instance_t*>(record);
        node = addChild(declaredName, declaredType);
        node->data = instance;
        if (instance == nullptr || instance->definingTemplate == nullptr) {
            return node;
        }
        Symbol* members = node;
        for (uint64_t i = 0; i < instance->freeCount; ++i) {
            members = members->addChild(declaredName, declaredType);
            members->data = instance;
        }
        declareMembers(members, *instance, *instance->definingTemplate);
        return node;
    } else if (declaredType.isKind(FUNCTION)) {
        node = addChild(declaredName, declaredType);
        node->data = record;
        node->declare("return value", declaredType.getChild(0), nullptr);
        auto* function = static_cast<function_t*>(record);
        if (function != nullptr && function->body != nullptr) {
            function->body->accept(node);
        }
    } else if (declaredType.isKind(VOID_TYPE)) {
        addChild(declaredName, declaredType);
        return nullptr;
    } else {
        return nullptr;
    }

    if (node->data != nullptr && hasValueStorage(declaredType)) {
        node->hasValue = true;
        node->value = static_cast<variable_t*>(node->data)->initialiser;
    }
    return node;
}

void Symbol::declareScope(const scope_t& scope)
{
    const size_t count = scope.getSize();
    for (size_t i = 0; i < count; ++i) {
        binding_t s = scope[i];
        Symbol* node = declare(s.getName(), s.getType(), s.getData());
        if (node != nullptr) {
            node->id = static_cast<int32_t>(i);
            node->symbol = s;
        }
    }
}

void Symbol::declareMembers(Symbol* members, instance_t& instance, template_t& templ)
{
    const scope_t& frame = templ.declarations.frame;
    const size_t parameterCount = instance.parameters.empty() ? 0 : instance.parameters.getSize();
    for (size_t i = 0; i < parameterCount; ++i) {
        binding_t p = instance.parameters[i];
        Symbol* node = members->declare(p.getName(), p.getType(), p.getData());
        if (node == nullptr) {
            continue;
        }
        const int32_t index = frame.indexOf(p);
        node->id = index < 0 ? 0 : index;
        node->symbol = p;
        node->isParameter = true;
        node->hasValue = true;
        node->value = instance.bindings[p];
    }
    const size_t own = static_cast<size_t>(templ.freeCount);
    for (size_t i = own; i < frame.getSize(); ++i) {
        binding_t s = frame[i];
        Symbol* node = members->declare(s.getName(), s.getType(), s.getData());
        if (node != nullptr) {
            node->id = static_cast<int32_t>(i);
            node->symbol = s;
            node->isParameter = false;
        }
    }
}

Symbol* Symbol::declareTemplate(template_t& templ)
{
    Symbol* node = addChild("", type_t::createProcess(templ.declarations.frame));
    node->data = static_cast<instance_t*>(&templ);
    declareMembers(node, templ, templ);
    return node;
}

int32_t Symbol::visitBlockStatement(BlockStatement* stat)
{
    declareScope(stat->blockFrame);
    return AbstractStatementVisitor::visitBlockStatement(stat);
}

int32_t Symbol::visitIterationStatement(IterationStatement* stat)
{
    Symbol* node = declare(stat->symbol.getName(), stat->symbol.getType(), nullptr);
    if (node != nullptr) {
        node->symbol = stat->symbol;
        node->isLoopVariable = true;
    }
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    return 0;
}

Symbol* Symbol::find(const binding_t& frontEndSymbol)
{
    for (Symbol* scope = this; scope != nullptr; scope = scope->parent) {
        if (Symbol* child = scope->findOwnChild(frontEndSymbol)) {
            return child;
        }
    }
    return nullptr;
}

namespace {

// Up to this many children a node's children are searched one by one.
constexpr size_t childrenSearchedInTurn = 16;

} // namespace

Symbol* Symbol::findOwnChild(const binding_t& frontEndSymbol)
{
    if (!childIndex) {
        size_t count = 0;
        Symbol* child = firstChild.get();
        for (; child != nullptr && count < childrenSearchedInTurn; child = child->next.get(), ++count) {
            if (child->symbol == frontEndSymbol) {
                return child;
            }
        }
        if (child == nullptr) {
            return nullptr;
        }
        childIndex = std::make_unique<ChildIndex>();
    }
    ChildIndex& index = *childIndex;
    Symbol* next = index.lastIndexed != nullptr ? index.lastIndexed->next.get() : firstChild.get();
    for (; next != nullptr; next = next->next.get()) {
        next->ordinalInParent = index.ordinal++;
        if (next->symbol.empty()) {
            index.withoutSymbol.push_back(next);
        } else {
            index.bySymbol.emplace(next->symbol, next);
        }
        index.lastIndexed = next;
    }
    Symbol* found = nullptr;
    auto at = index.bySymbol.find(frontEndSymbol);
    if (at != index.bySymbol.end()) {
        found = at->second;
        if (found->symbol != frontEndSymbol) {
            // The child was given another symbol since: the index no longer holds.
            childIndex.reset();
            return findOwnChild(frontEndSymbol);
        }
    }
    for (Symbol* child : index.withoutSymbol) {
        if (child->symbol == frontEndSymbol && (found == nullptr || child->ordinalInParent < found->ordinalInParent)) {
            found = child;
            break;
        }
    }
    return found;
}

Symbol* Symbol::findChild(int32_t childId)
{
    for (Symbol* child = firstChild.get(); child != nullptr; child = child->next.get()) {
        if (child->id == childId) {
            return child;
        }
    }
    return nullptr;
}

void Symbol::setOffset(uint32_t position)
{
    offset = parent != nullptr ? position - parent->getOffset() : position;
}

uint32_t Symbol::getOffset() const
{
    uint32_t sum = 0;
    for (const Symbol* node = this; node != nullptr; node = node->parent) {
        sum += node->offset;
    }
    return sum;
}

void Symbol::print(std::string& indentation, std::ostream& out)
{
    out << indentation << "name: '" << name << "'" << ", array: " << lower << " to " << upper
        << ", size: " << size << ", offset: " << offset << ", ref: " << (isReference ? 1 : 0)
        << ", type: " << type.toString() << "\n";
    out.flush();
    indentation += "    ";
    for (Symbol* child = firstChild.get(); child != nullptr; child = child->next.get()) {
        std::string copy = indentation;
        child->print(copy, out);
    }
}

void Symbol::print(std::string& indentation)
{
    print(indentation, std::cout);
}

void Symbol::printTree()
{
    Symbol* root = this;
    while (root->parent != nullptr) {
        root = root->parent;
    }
    std::string indentation;
    root->print(indentation);
}

type_t stripReference(const type_t& type)
{
    if (type.getKind() == REF) {
        return stripReference(type.getChild(0));
    }
    if (type.isPrefix()) {
        return type_t::createPrefix(stripReference(type.getChild(0)), type.getKind());
    }
    return type;
}

bool hasValueStorage(const type_t& type)
{
    switch (type.getKind()) {
    case CLOCK:
    case INT:
    case DOUBLE:
    case BOOL:
        return true;
    case PROCESS:
    case PROCESS_SET:
    case INSTANCE:
    case FUNCTION:
    case LSC_INSTANCE:
        return false;
    case RECORD:
        for (size_t i = 0; i < type.getSize(); ++i) {
            if (hasValueStorage(type.getChild(i))) {
                return true;
            }
        }
        return false;
    default:
        return type.getSize() > 0 && hasValueStorage(type.getChild(0));
    }
}
