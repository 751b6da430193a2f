// Validation of declared types and of initialisers against them.

#include "typecheck/relations.h"
#include "typecheck/type_checker.h"

#include <vector>

namespace ZOLT {

namespace {

// The name an element of a brace list was written with; empty when none. The list's
// own type is a record whose labels carry those names.
std::string elementName(const expression_t& list, size_t i)
{
    type_t t = list.getType();
    return i < t.getSize() ? t.getLabel(i) : std::string();
}

} // namespace

void TypeChecker::validateDeclaredType(const type_t& type, bool inConstOrMeta, bool inStruct)
{
    validateDeclaredTypeAt(type, inConstOrMeta, inStruct, nullptr);
}

// The walk goes down child 0 in a loop, so that a long chain of prefixes and named
// types (typedefs naming typedefs) takes no stack; it recurses only into array index
// types and record fields. A const or meta prefix, or a record, sets flags that make
// some types below them wrong; when the walk has passed a named type since, that
// error is the declaration's, not the named type's, and is reported where the name
// is used.
void TypeChecker::validateDeclaredTypeAt(const type_t& declared, bool inConstOrMeta, bool inStruct,
                                         const type_t* use)
{
    type_t type = declared;
    type_t useSite = use != nullptr ? *use : type_t();
    auto flagError = [&](const std::string& message) {
        reportTypeError(useSite == type_t() ? type : useSite, message);
    };
    while (type != type_t()) {
        switch (type.getKind()) {
        case CONSTANT:
            if (type.isKind(CLOCK)) {
                reportTypeError(type, "$Prefix_const_not_allowed_for_clocks");
            }
            inConstOrMeta = true;
            break;
        case META:
            if (type.isKind(CLOCK)) {
                reportTypeError(type, "$Prefix_meta_not_allowed_for_clocks");
            }
            inConstOrMeta = true;
            break;
        case URGENT:
            if (!type.isKind(LOCATION) && !type.isKind(CHANNEL)) {
                reportTypeError(type, "$Prefix_urgent_only_allowed_for_locations_and_channels");
            }
            break;
        case COMMITTED:
            if (!type.isKind(LOCATION)) {
                reportTypeError(type, "$Prefix_committed_only_allowed_for_locations");
            }
            break;
        case BROADCAST:
            if (!type.isKind(CHANNEL)) {
                reportTypeError(type, "$Prefix_broadcast_only_allowed_for_channels");
            }
            break;
        case HYBRID:
            if (!type.isKind(CLOCK) && !(type.isKind(ARRAY) && type.unwrapArrays().isKind(CLOCK))) {
                reportTypeError(type, "$Prefix_hybrid_only_allowed_for_clocks");
            }
            break;
        case REF:
            if (!type.isIntegral() && !type.isKind(ARRAY) && !type.isKind(RECORD) && !type.isKind(CHANNEL) &&
                !type.isKind(CLOCK) && !type.isKind(SCALAR) && !type.isKind(DOUBLE)) {
                reportTypeError(type, "$Reference_to_this_type_not_allowed");
            }
            break;
        case LABEL:
            if ((inConstOrMeta || inStruct) && useSite == type_t()) {
                useSite = type;
            }
            break;
        case ARRAY: {
            type_t index = type.getIndexType();
            if (index.isKind(RANGE)) {
                validateDeclaredTypeAt(index, false, false, nullptr);
            } else {
                reportTypeError(type, "$Invalid_array_size");
            }
            break;
        }
        case RECORD:
            for (size_t i = 0; i < type.getSize(); ++i) {
                const type_t field = type.getQualifiedChild(i);
                validateDeclaredTypeAt(field, true, true, useSite == type_t() ? nullptr : &useSite);
            }
            return;
        case RANGE: {
            if (!type.isKind(INT) && !type.isKind(SCALAR)) {
                reportTypeError(type, "$Range_over_this_type_not_allowed");
            }
            auto [lower, upper] = type.getRangeBounds();
            for (const expression_t& bound : {lower, upper}) {
                if (bound.empty() || !annotateExpressionType(bound)) {
                    continue;
                }
                if (!isIntTyped(bound)) {
                    reportError(bound, "$Integer_expected");
                }
                if (!computableAtCompileTime(bound)) {
                    reportError(bound, "$Must_be_computable_at_compile_time");
                }
            }
            return;
        }
        case INT:
        case BOOL:
            return;
        case DOUBLE:
            if (inStruct) {
                flagError("$This_type_cannot_be_declared_inside_a_struct");
            }
            return;
        default:
            if (inConstOrMeta) {
                flagError("$This_type_cannot_be_declared_const_or_meta");
            }
            return;
        }
        // Prefixes, references, labels and the element type of an array go on with
        // child 0 and the flags as they now are.
        if (type.getSize() == 0) {
            return;
        }
        type = type.getChild(0);
    }
}

expression_t TypeChecker::validateInitialiser(const type_t& type, const expression_t& initialiser)
{
    const type_t source = initialiser.empty() ? type_t() : initialiser.getType();
    if (acceptsAssignment(type, source, true)) {
        return initialiser;
    }
    const bool isList = !initialiser.empty() && initialiser.getKind() == LIST;
    if (type.isKind(ARRAY) && isList) {
        const type_t element = type.getQualifiedChild(0);
        std::vector<expression_t> results;
        for (size_t i = 0; i < initialiser.getSize(); ++i) {
            if (!elementName(initialiser, i).empty()) {
                reportError(initialiser.getChild(i), "$Field_name_not_allowed_in_array_initialiser");
            }
            results.push_back(validateInitialiser(element, initialiser.getChild(i)));
        }
        return expression_t::createNary(LIST, results, initialiser.getPosition(), type);
    }
    if (type.isKind(RECORD) || isList) {
        const size_t fields = type.isKind(RECORD) ? type.getFieldCount() : 0;
        std::vector<expression_t> slots(fields);
        const size_t elements = isList ? initialiser.getSize() : 0;
        size_t j = 0;
        for (size_t i = 0; i < elements; ++i) {
            const expression_t element = initialiser.getChild(i);
            const std::string name = elementName(initialiser, i);
            if (!name.empty()) {
                int32_t position = type.isKind(RECORD) ? type.findField(name) : -1;
                if (position < 0) {
                    reportError(element, "$Unknown_field");
                    break;
                }
                j = static_cast<size_t>(position);
            }
            if (j >= fields) {
                reportError(element, "$Too_many_elements_in_initialiser");
                break;
            }
            if (slots[j].empty()) {
                slots[j] = validateInitialiser(type.getQualifiedChild(j), element);
            } else {
                reportError(element, "$Multiple_initialisers_for_field");
            }
            ++j;
        }
        for (const expression_t& slot : slots) {
            if (slot.empty()) {
                reportError(initialiser, "$Incomplete_initialiser");
                break;
            }
        }
        return expression_t::createNary(LIST, slots, initialiser.empty() ? span_t() : initialiser.getPosition(),
                                         type);
    }
    reportError(initialiser, "$Invalid_initialiser");
    return initialiser;
}

} // namespace ZOLT
