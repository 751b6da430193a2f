#pragma once

#include "language/counted_ref.h"
#include "language/node_kind.h"
#include "language/span.h"
#include "language/symbol.h"

#include <boost/format/format_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ZOLT {

class expression_t;

// A type: a small tree of shared nodes. Base types have no children; prefixes
// (const, urgent, committed, broadcast, hybrid, meta, probability weight) and REF
// wrap one child; LABEL and TYPEDEF wrap one labelled child; ARRAY has the element
// and the index type; RANGE has the base type and two UNKNOWN nodes holding the
// bound expressions; RECORD, FUNCTION, PROCESS, PROCESS_SET, INSTANCE and
// LSC_INSTANCE have labelled children (fields, parameters, members). Nodes never
// change after construction; the null type stands for "no type".
class type_t
{
public:
    type_t() = default;
    // A fresh node with n unlabelled null children and no expression.
    type_t(node_kind_t kind, span_t position, size_t n);
    type_t(const type_t& other) = default;
    type_t(type_t&& other) noexcept = default;
    type_t& operator=(const type_t& other) = default;
    type_t& operator=(type_t&& other) noexcept = default;
    ~type_t() = default;

    // UNKNOWN for the null type.
    node_kind_t getKind() const;
    // Number of children; 0 for the null type.
    size_t getSize() const;
    type_t getChild(size_t i) const;
    const std::string& getLabel(size_t i) const;
    expression_t getExpression() const;
    span_t getPosition() const;
    bool isUnknown() const;
    // Levels of type nodes from this one down to the deepest leaf (the expressions of
    // range bounds are not counted); 0 for the null type. Computed once per node,
    // without recursion.
    uint32_t getDepth() const;

    // True for the one-child prefix kinds (const, probability weight, urgent,
    // committed, broadcast, hybrid, meta).
    bool isPrefix() const;
    // True when the type is of the kind, looking through prefixes, RANGE, REF and
    // LABEL. The null type is of kind UNKNOWN only.
    bool isKind(node_kind_t kind) const;
    // The type without prefixes, RANGE, LABEL and REF.
    type_t unwrap() const;
    // unwrap(), then the same for element types as long as the result is an array.
    type_t unwrapArrays() const;
    // The index type of an array, looking through prefixes, LABEL and REF; the null
    // type when there is no array.
    type_t getIndexType() const;
    // Number of children / label of child i after looking through prefixes, LABEL and REF.
    size_t getFieldCount() const;
    const std::string& getFieldName(size_t i) const;
    // Index of the first child of unwrap() labelled `name`; -1 when none.
    int32_t findField(const std::string& name) const;
    // The bound expressions of the first RANGE met by following child 0; a pair of
    // empty expressions when there is none.
    std::pair<expression_t, expression_t> getRangeBounds() const;
    // Child 0 (or child i) with the prefixes met on the way through labels and
    // references rebuilt around it: the element of a constant array is constant.
    type_t getQualifiedChild() const;
    type_t getQualifiedChild(size_t i) const;

    bool isIntegral() const;
    bool isInvariant() const;
    bool isGuard() const;
    bool isConstraint() const;
    bool isFormula() const;
    bool isProbabilityWeight() const;
    // The type cannot be assigned to: a const prefix decides, a record is constant
    // when all of its fields are.
    bool isConstant() const;
    // No part of the type is constant.
    bool isNonConstant() const;

    static type_t createPrimitive(node_kind_t kind, span_t position = span_t());
    static type_t createPrefix(const type_t& child, node_kind_t kind, span_t position = span_t());
    static type_t createLabel(const type_t& child, const std::string& name, span_t position = span_t());
    static type_t createTypeDef(const std::string& name, const type_t& type, span_t position = span_t());
    static type_t createArray(const type_t& element, const type_t& index, span_t position = span_t());
    static type_t createRange(const type_t& base, const expression_t& lower, const expression_t& upper,
                              span_t position = span_t());
    static type_t createRecord(const std::vector<type_t>& types, const std::vector<std::string>& names,
                               span_t position = span_t());
    static type_t createFunction(const type_t& result, const std::vector<type_t>& types,
                                 const std::vector<std::string>& names, span_t position = span_t());
    static type_t createInstance(const scope_t& frame, span_t position = span_t());
    static type_t createLscInstance(const scope_t& frame, span_t position = span_t());
    static type_t createProcess(const scope_t& frame, span_t position = span_t());
    static type_t createProcessSet(const type_t& instance, span_t position = span_t());

    // Deep copy in which every LABEL labelled `from` is labelled `to`.
    type_t renameLabel(const std::string& from, const std::string& to) const;
    // Deep copy in which every bound expression has `symbol` replaced by `replacement`.
    type_t substitute(const binding_t& symbol, const expression_t& replacement) const;

    // The structural text, e.g. (range (int) "0" "N + 1").
    std::string toString() const;
    // The text a declaration of the type would use, e.g. int[0,5] or typedef int[0,5] id_t.
    // Array sizes follow the element type, outermost first: int[2][3].
    std::string toDeclaration() const;
    // The declaration of `name` with this type, as the parser reads it back: array sizes
    // after the name (int[0,5] a[2][3]), a reference as an ampersand before it (int &x).
    std::string toDeclaration(const std::string& name) const;

    bool operator==(const type_t& other) const { return node == other.node; }
    bool operator!=(const type_t& other) const { return node != other.node; }
    bool operator<(const type_t& other) const;

    struct type_node;

private:
    explicit type_t(type_node* n);
    static type_t build(node_kind_t kind, span_t position, const std::vector<type_t>& types,
                        const std::vector<std::string>& names);
    counted_ref<type_node> node;
};

extern template class counted_ref<type_t::type_node>;

std::ostream& operator<<(std::ostream& os, const type_t& type);

// An error found while a declaration or a type is built; the text is a message key
// with its arguments filled in, such as "$Duplicate_definition_of x".
class TypeException : public std::runtime_error
{
public:
    explicit TypeException(const std::string& message);
    explicit TypeException(const boost::format& message);
};

} // namespace ZOLT

#include "language/expression.h"
