#include "language/expression.h"
#include "language/expression_node.h"
#include "language/nesting.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace ZOLT {

int32_t kindPrecedence(node_kind_t kind)
{
    switch (kind) {
    case IDENTIFIER:
    case CONSTANT:
    case DEADLOCK:
    case FUNCTION_CALL:
        return 110;
    case RATE:
    case COS:
    case SIN:
    case LOG:
    case EXP:
    case SQRT:
    case RANDOM:
    case FABS:
    case LN:
    case POW:
    case CEIL:
    case FLOOR:
    case ARRAY:
    case POST_INCREMENT:
    case PRE_INCREMENT:
    case POST_DECREMENT:
    case PRE_DECREMENT:
    case DOT:
        return 100;
    case LOGICAL_NOT:
    case UNARY_MINUS:
        return 90;
    case MULTIPLY:
    case DIVIDE:
    case MODULO:
        return 80;
    case ADD:
    case SUBTRACT:
        return 70;
    case SHIFT_LEFT:
    case SHIFT_RIGHT:
    case BRACED_PAIR:
        return 60;
    case MINIMUM:
    case MAXIMUM:
        return 55;
    case LESS:
    case LESS_EQUAL:
    case GREATER_EQUAL:
    case GREATER:
    case SIMULATION_LESS_EQUAL:
    case SIMULATION_GREATER_EQUAL:
    case REFINEMENT_LESS_EQUAL:
    case REFINEMENT_GREATER_EQUAL:
    case SIMULATE:
    case SIMULATE_ACCEPTING:
        return 50;
    case EQUAL:
    case NOT_EQUAL:
        return 40;
    case BITWISE_AND:
        return 37;
    case BITWISE_XOR:
        return 35;
    case BITWISE_OR:
        return 30;
    case LOGICAL_AND:
        return 25;
    case LOGICAL_OR:
        return 22;
    case LOGICAL_XOR:
        return 20;
    case INLINE_IF:
        return 15;
    case FRACTION:
        return 14;
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
        return 10;
    case FOR_ALL:
    case EXISTS:
    case SUM:
        return 8;
    case OR_LIST:
    case AND_LIST:
    case BACKSLASH:
    case ALWAYS_UNTIL:
    case ALWAYS_WEAK_UNTIL:
    case ALWAYS_GLOBALLY_AND_EVENTUALLY:
    case CONSISTENCY:
    case IMPLEMENTATION:
    case SPECIFICATION:
    case PLUS_LIST:
        return 7;
    case EXISTS_EVENTUALLY:
    case EXISTS_GLOBALLY:
    case ALWAYS_EVENTUALLY:
    case ALWAYS_GLOBALLY:
    case ROBUST_ALWAYS_GLOBALLY:
    case ROBUST_EXISTS_EVENTUALLY:
        return 6;
    case LEADS_TO:
    case SCENARIO:
    case OBSERVER_LEADS_TO:
        return 5;
    case COMMA:
        return 4;
    case PROBABILITY_BOX_AT_LEAST:
    case PROBABILITY_DIAMOND_AT_LEAST:
    case PROBABILITY_BOX_ESTIMATE:
    case PROBABILITY_DIAMOND_ESTIMATE:
    case PROBABILITY_COMPARE:
    case EXPECTED_VALUE:
    case CONTROL:
    case SET_CONTROL:
    case EXISTS_EVENTUALLY_CONTROL:
    case CONTROL_T_STAR_2:
    case CONTROL_T_STAR_1:
    case CONTROL_T_STAR_0:
    case BOUNDED_CONTROL:
    case SUPREMUM:
    case INFIMUM:
        return 3;
    case SYNC:
        return 0;
    case LIST:
    case MITL_FORMULA:
    case MITL_RELEASE:
    case MITL_UNTIL:
    case MITL_AND:
    case MITL_OR:
    case MITL_NEXT:
    case MITL_ATOM:
    case MITL_EXISTS_DYNAMIC:
    case SPAWN:
    case EXIT:
    case NUMOF:
    case FORALL_DYNAMIC:
    case EXISTS_DYNAMIC:
    case SUM_DYNAMIC:
    case FOREACH_DYNAMIC:
    case DYNAMIC_MEMBER:
    case PROCESS_VARIABLE:
        return -1;
    default:
        throw std::runtime_error("Strange expression");
    }
}

int32_t expression_t::getPrecedence() const
{
    return kindPrecedence(getKind());
}

namespace {

// printf-style number text without a length limit: "%f" of a large double has
// hundreds of digits, and the text is written back into saved models.
template <typename... T>
void appendNumber(std::string& text, const char* format, T... value)
{
    int length = std::snprintf(nullptr, 0, format, value...);
    if (length <= 0) {
        return;
    }
    size_t at = text.size();
    text.resize(at + static_cast<size_t>(length) + 1);
    std::snprintf(text.data() + at, static_cast<size_t>(length) + 1, format, value...);
    text.resize(at + static_cast<size_t>(length));
}

// A double constant: "%f" when its six decimals give the value back exactly, else the
// fewest further decimals that do. The text is written back into saved models and
// function texts, where a cut-off value (1e-9 as 0.000000) would change the model.
void appendDouble(std::string& text, double value)
{
    size_t at = text.size();
    appendNumber(text, "%f", value);
    if (std::isnan(value) || std::strtod(text.c_str() + at, nullptr) == value) {
        return;
    }
    // 1074 decimals write every finite double exactly.
    for (int decimals = 7; decimals <= 1074; ++decimals) {
        text.resize(at);
        appendNumber(text, "%.*f", decimals, value);
        if (std::strtod(text.c_str() + at, nullptr) == value) {
            return;
        }
    }
}

const char* infixOperator(node_kind_t kind, bool oldSyntax)
{
    switch (kind) {
    case ADD: return " + ";
    case SUBTRACT: return " - ";
    case MULTIPLY: return " * ";
    case DIVIDE: return " / ";
    case MODULO: return " % ";
    case BITWISE_AND: return " & ";
    case BITWISE_OR: return " | ";
    case BITWISE_XOR: return " ^ ";
    case SHIFT_LEFT: return " << ";
    case SHIFT_RIGHT: return " >> ";
    case LOGICAL_AND: return " && ";
    case LOGICAL_OR: return " || ";
    case MINIMUM: return " <? ";
    case MAXIMUM: return " >? ";
    case FRACTION: return " : ";
    case LESS: return " < ";
    case LESS_EQUAL: return " <= ";
    case EQUAL: return " == ";
    case NOT_EQUAL: return " != ";
    case GREATER_EQUAL: return " >= ";
    case GREATER: return " > ";
    case BACKSLASH: return " \\ ";
    case ASSIGN: return oldSyntax ? " := " : " = ";
    case ADD_ASSIGN: return " += ";
    case SUBTRACT_ASSIGN: return " -= ";
    case DIVIDE_ASSIGN: return " /= ";
    case MODULO_ASSIGN: return " %= ";
    case MULTIPLY_ASSIGN: return " *= ";
    case AND_ASSIGN: return " &= ";
    case OR_ASSIGN: return " |= ";
    case XOR_ASSIGN: return " ^= ";
    case SHIFT_LEFT_ASSIGN: return " <<= ";
    case SHIFT_RIGHT_ASSIGN: return " >>= ";
    default: return nullptr;
    }
}

const char* functionName(node_kind_t kind)
{
    switch (kind) {
    case COS: return "cos(";
    case SIN: return "sin(";
    case LOG: return "log(";
    case EXP: return "exp(";
    case SQRT: return "sqrt(";
    case RANDOM: return "random(";
    case FABS: return "fabs(";
    case LN: return "ln(";
    case CEIL: return "ceil(";
    case FLOOR: return "floor(";
    default: return nullptr;
    }
}

// Precedence of a child for bracketing; an absent child binds like a name.
int32_t precedenceOf(const expression_t& e)
{
    return e.empty() ? 110 : kindPrecedence(e.getKind());
}

} // namespace

void expression_t::appendText(std::string& text, bool oldSyntax) const
{
    if (node == nullptr) {
        return;
    }
    if (continuesList(*this)) {
        // A list is written from its first operand on, each further operand after its
        // separator, along the spine: the text the nested calls would write. The left
        // operands on the spine are of the list's own precedence and need no brackets.
        const std::vector<expression_t> spine = listSpine(*this);
        spine.back().appendText(text, oldSyntax);
        for (size_t k = spine.size() - 1; k-- > 0;) {
            const expression_t& right = spine[k].child(1);
            if (node->kind == COMMA) {
                text += ", ";
                right.appendText(text, oldSyntax);
            } else {
                const bool enclose = precedenceOf(right) <= kindPrecedence(node->kind);
                text += infixOperator(node->kind, oldSyntax);
                if (enclose) {
                    text += '(';
                }
                right.appendText(text, oldSyntax);
                if (enclose) {
                    text += ')';
                }
            }
        }
        return;
    }
    const node_kind_t kind = node->kind;
    const int32_t P = kindPrecedence(kind);

    auto put = [&](const expression_t& e) { e.appendText(text, oldSyntax); };
    auto putEnclosed = [&](const expression_t& e, bool enclose) {
        if (enclose) {
            text += '(';
        }
        e.appendText(text, oldSyntax);
        if (enclose) {
            text += ')';
        }
    };
    auto joinUpTo = [&](size_t from, size_t end, const char* separator) {
        for (size_t i = from; i < end; ++i) {
            if (i > from) {
                text += separator;
            }
            put(child(i));
        }
    };
    auto join = [&](size_t from, const char* separator) { joinUpTo(from, getSize(), separator); };
    // The bound of a statistical or control query: the bound's kind unless it is a
    // constant ("#" for the constant 0), then "<=" and the bound.
    auto bound = [&](const expression_t& k, const expression_t& x) {
        if (!k.empty()) {
            if (k.getKind() != CONSTANT) {
                k.appendText(text, false);
            } else if (k.getValue() == 0) {
                text += '#';
            }
        }
        text += "<=";
        put(x);
    };
    const expression_t& a = child(0);
    const expression_t& b = child(1);
    const expression_t& c = child(2);
    const expression_t& d = child(3);

    if (const char* op = infixOperator(kind, oldSyntax)) {
        putEnclosed(a, precedenceOf(a) < P);
        text += op;
        putEnclosed(b, precedenceOf(b) <= P);
        return;
    }
    if (const char* name = functionName(kind)) {
        text += name;
        put(a);
        text += ')';
        return;
    }

    switch (kind) {
    case LOGICAL_NOT:
    case UNARY_MINUS:
    case PRE_INCREMENT:
    case PRE_DECREMENT:
    {
        text += kind == LOGICAL_NOT ? "!" : kind == UNARY_MINUS ? "-" : kind == PRE_INCREMENT ? "++" : "--";
        size_t at = text.size();
        bool enclose = precedenceOf(a) < P;
        putEnclosed(a, enclose);
        if (kind == UNARY_MINUS && !enclose && at < text.size() && text[at] == '-') {
            // "--a" would read back as a decrement: the negated operand gets brackets.
            text.insert(at, 1, '(');
            text += ')';
        }
        break;
    }
    case POST_INCREMENT:
    case POST_DECREMENT:
        putEnclosed(a, precedenceOf(a) < P);
        text += kind == POST_INCREMENT ? "++" : "--";
        break;
    case RATE:
        put(a);
        text += '\'';
        break;
    case POW:
        text += "pow(";
        put(a);
        text += ',';
        put(b);
        text += ')';
        break;
    case LOGICAL_XOR:
        text += '(';
        put(a);
        text += ") xor (";
        put(b);
        text += ')';
        break;
    case OR_LIST:
    case AND_LIST:
    case PLUS_LIST:
        text += '(';
        join(0, kind == OR_LIST ? " || " : kind == AND_LIST ? " && " : " + ");
        text += ')';
        break;
    case FOR_ALL:
    case EXISTS:
    case SUM: {
        text += kind == FOR_ALL ? "forall (" : kind == EXISTS ? "exists (" : "sum (";
        binding_t variable = a.empty() ? binding_t() : a.getSymbol();
        if (!variable.empty()) {
            text += variable.getName();
        }
        text += ':';
        // Written as a declaration writes the type, so that the text parses again.
        text += variable.empty() ? type_t().toDeclaration() : variable.getType().toDeclaration();
        text += ") ";
        put(b);
        break;
    }
    case IDENTIFIER:
        // A copy rebound in scopes that lack the name has no symbol left.
        text += node->symbol.empty() ? "<unbound>" : node->symbol.getName();
        break;
    case CONSTANT:
        if (node->type.isKind(DOUBLE)) {
            appendDouble(text, node->asDouble());
        } else if (node->type.isKind(INT)) {
            appendNumber(text, "%d", node->low());
        } else {
            text += node->low() != 0 ? "true" : "false";
        }
        break;
    case ARRAY: {
        // A process of a process set is selected by calling the set with the values of
        // its free parameters, R(i, j); the builder keeps that as subscripts of R.
        std::vector<const expression_t*> arguments;
        const expression_t* root = this;
        while (!root->empty() && root->getKind() == ARRAY) {
            arguments.push_back(&root->child(1));
            root = &root->child(0);
        }
        if (!root->empty() && root->getKind() == IDENTIFIER && !root->node->symbol.empty() &&
            root->node->symbol.getType().getKind() == PROCESS_SET) {
            put(*root);
            text += '(';
            for (size_t i = arguments.size(); i-- > 0;) {
                put(*arguments[i]);
                if (i > 0) {
                    text += ", ";
                }
            }
            text += ')';
            break;
        }
        putEnclosed(a, precedenceOf(a) < 100);
        text += '[';
        put(b);
        text += ']';
        break;
    }
    case LIST:
        join(0, ", ");
        break;
    case DOT:
        if (!a.empty()) {
            type_t type = a.getType();
            if (type.isKind(PROCESS) || type.isKind(RECORD)) {
                putEnclosed(a, precedenceOf(a) < 100);
                text += '.';
                int32_t index = node->low();
                if (index >= 0 && static_cast<size_t>(index) < type.getFieldCount()) {
                    text += type.getFieldName(static_cast<size_t>(index));
                }
            }
        }
        break;
    case INLINE_IF:
        putEnclosed(a, precedenceOf(a) <= 15);
        text += " ? ";
        putEnclosed(b, precedenceOf(b) <= 15);
        text += " : ";
        putEnclosed(c, precedenceOf(c) <= 15);
        break;
    case COMMA:
        put(a);
        text += ", ";
        put(b);
        break;
    case SYNC:
        put(a);
        if (node->low() == 1) {
            text += '!';
        } else if (node->low() == 0) {
            text += '?';
        }
        break;
    case DEADLOCK:
        text += "deadlock";
        break;
    case FUNCTION_CALL:
        put(a);
        text += '(';
        join(1, ", ");
        text += ')';
        break;
    case SIMULATION_LESS_EQUAL:
        text += "simulation: ";
        put(a);
        text += " <= {";
        put(b);
        text += '}';
        break;
    case SIMULATION_GREATER_EQUAL:
        text += "simulation: {";
        put(a);
        text += "} >= ";
        put(b);
        break;
    case REFINEMENT_LESS_EQUAL:
    case REFINEMENT_GREATER_EQUAL:
        text += "refinement: ";
        put(a);
        text += kind == REFINEMENT_LESS_EQUAL ? " <= " : " >= ";
        put(b);
        break;
    case EXISTS_EVENTUALLY:
        text += "E<> ";
        put(a);
        break;
    case EXISTS_GLOBALLY:
        text += "E[] ";
        put(a);
        break;
    case ALWAYS_EVENTUALLY:
        text += "A<> ";
        put(a);
        break;
    case ALWAYS_GLOBALLY:
        text += "A[] ";
        put(a);
        break;
    case ROBUST_ALWAYS_GLOBALLY:
        text += "A[]* ";
        put(a);
        break;
    case ROBUST_EXISTS_EVENTUALLY:
        text += "E<>* ";
        put(a);
        break;
    case LEADS_TO:
        put(a);
        text += " --> ";
        put(b);
        break;
    case ALWAYS_UNTIL:
    case ALWAYS_WEAK_UNTIL:
        text += "A[";
        put(a);
        text += kind == ALWAYS_UNTIL ? " U " : " W ";
        put(b);
        text += "] ";
        break;
    case ALWAYS_GLOBALLY_AND_EVENTUALLY:
        text += "A[] ((";
        put(a);
        text += ") and A<> ";
        put(b);
        text += ") ";
        break;
    case PROBABILITY_BOX_AT_LEAST:
    case PROBABILITY_DIAMOND_AT_LEAST:
        text += "Pr[";
        bound(a, b);
        text += kind == PROBABILITY_BOX_AT_LEAST ? "]([] " : "](<> ";
        put(c);
        text += ") >= ";
        appendNumber(text, "%f", d.empty() ? 0.0 : d.getDoubleValue());
        break;
    case PROBABILITY_BOX_ESTIMATE:
    case PROBABILITY_DIAMOND_ESTIMATE:
        // The bound's kind, a condition that must hold until the goal (the true constant
        // when the query states none), the bound, the goal. This is the order the type
        // checker and the statistical compiler read.
        text += "Pr[";
        bound(a, c);
        if (kind == PROBABILITY_DIAMOND_ESTIMATE && !b.isTrue()) {
            text += "](";
            put(b);
            text += " U ";
        } else {
            text += kind == PROBABILITY_BOX_ESTIMATE ? "]([] " : "](<> ";
        }
        put(d);
        text += ") ?";
        break;
    case PROBABILITY_COMPARE:
        // Two probabilities of four children each: the bound's kind, the bound, the path
        // marker, the path formula.
        for (size_t first = 0; first < 8; first += 4) {
            if (first > 0) {
                text += " >= ";
            }
            text += "Pr[";
            bound(child(first), child(first + 1));
            const expression_t& marker = child(first + 2);
            text += !marker.empty() && marker.getValue() == BOX_MARKER ? "]([] " : "](<> ";
            put(child(first + 3));
            text += ')';
        }
        break;
    case EXPECTED_VALUE: {
        text += "E[";
        bound(a, b);
        text += "; ";
        put(c);
        text += "] (";
        const expression_t& selector = child(4);
        text += !selector.empty() && selector.getValue() != 0 ? "max: " : "min: ";
        put(d);
        text += ')';
        break;
    }
    case SIMULATE:
    case SIMULATE_ACCEPTING: {
        // An accepting simulation ends with the accepting predicate and the number of
        // accepting runs, written after the series as the query states them.
        const size_t n = getSize();
        const bool accepting = kind == SIMULATE_ACCEPTING && n >= 2;
        text += "simulate[";
        put(a);
        text += "x ";
        bound(b, c);
        text += "]{";
        joinUpTo(3, accepting ? n - 2 : n, ", ");
        text += '}';
        if (accepting) {
            text += " : ";
            put(child(n - 1));
            text += " : ";
            put(child(n - 2));
        }
        break;
    }
    case CONTROL:
        text += "control: ";
        put(a);
        break;
    case EXISTS_EVENTUALLY_CONTROL:
        text += "E<> control: ";
        put(a);
        break;
    case CONTROL_T_STAR_0:
        text += "control_t*: ";
        put(a);
        break;
    case SET_CONTROL:
        text += "{ ";
        put(a);
        text += "} control: ";
        put(b);
        break;
    case CONTROL_T_STAR_2:
        text += "control_t*(";
        put(a);
        text += ',';
        put(b);
        text += "): ";
        put(c);
        break;
    case CONTROL_T_STAR_1:
        text += "control_t*(";
        put(a);
        text += "): ";
        put(b);
        break;
    case BOUNDED_CONTROL:
        text += "control[";
        bound(a, b);
        text += "]: ";
        put(c);
        break;
    case CONSISTENCY: {
        text += "consistency: ";
        put(a);
        // "A[] true" is the default second part and is not written.
        bool trivial = !b.empty() && b.getKind() == ALWAYS_GLOBALLY && !b.child(0).empty() &&
                       b.child(0).getKind() == CONSTANT && b.child(0).getValue() == 1;
        if (!trivial) {
            text += " : ";
            put(b);
        }
        break;
    }
    case BRACED_PAIR:
        text += '{';
        put(a);
        text += "}{";
        put(b);
        text += '}';
        break;
    case IMPLEMENTATION:
        text += "implementation: ";
        put(a);
        break;
    case SPECIFICATION:
        text += "speci" "fication: ";
        put(a);
        break;
    case SUPREMUM:
    case INFIMUM:
        text += kind == SUPREMUM ? "sup{" : "inf{";
        put(a);
        text += "}: ";
        put(b);
        break;
    case MITL_FORMULA:
        text += "MITL: ";
        put(a);
        break;
    case MITL_RELEASE:
    case MITL_UNTIL:
        put(a);
        text += kind == MITL_UNTIL ? "U[" : "R[";
        put(b);
        text += ';';
        put(c);
        text += ']';
        put(d);
        break;
    case MITL_AND:
        put(a);
        text += "/\\";
        put(b);
        break;
    case MITL_OR:
        put(a);
        text += "\\/";
        put(b);
        break;
    case MITL_NEXT:
        text += "X(";
        put(a);
        text += ')';
        break;
    case MITL_ATOM:
        put(a);
        break;
    case MITL_EXISTS_DYNAMIC:
    case EXISTS_DYNAMIC:
    case FORALL_DYNAMIC:
    case SUM_DYNAMIC:
    case FOREACH_DYNAMIC:
        text += kind == FORALL_DYNAMIC    ? "forall ("
                : kind == SUM_DYNAMIC     ? "sum ("
                : kind == FOREACH_DYNAMIC ? "foreach ("
                                          : "exists (";
        put(a);
        text += " : ";
        put(b);
        text += " )( ";
        put(c);
        text += ')';
        break;
    case SPAWN:
        // spawn T(arguments): child 0 names the dynamic template.
        text += "spawn ";
        put(a);
        text += '(';
        join(1, ", ");
        text += ')';
        break;
    case EXIT:
        text += "exit()";
        break;
    case NUMOF:
        text += "numof(";
        put(a);
        text += ')';
        break;
    case DYNAMIC_MEMBER:
        put(b);
        text += '.';
        put(a);
        break;
    default:
        throw std::runtime_error("Strange exception");
    }
}

std::string expression_t::toString(bool oldSyntax) const
{
    std::string text;
    text.reserve(16);
    appendText(text, oldSyntax);
    return text;
}

std::ostream& operator<<(std::ostream& os, const expression_t& expression)
{
    return os << expression.toString(false);
}

} // namespace ZOLT
