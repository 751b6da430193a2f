// MITL formulas of statistical queries: one formula node per front-end node, atoms compiled as
// state formulas, time bounds evaluated once.

#include "compiler/compiler.h"
#include "compiler/depth_guard.h"
#include "mitl/formula.h"
#include "runtime/exceptions.h"

using namespace ZOLT;

base::RefPtr<MitlExpr> Compiler::compileMitlFormula(const expression_t& formula)
{
    if (formula.empty()) {
        throw Bug("Not an MITL formula");
    }
    DepthGuard guard(depth, formula);
    const node_kind_t kind = formula.getKind();
    switch (kind) {
    case MITL_RELEASE:
    case MITL_UNTIL: {
        // The left operand's code comes first, then the right one's, then the bounds.
        MitlRef left = compileMitlFormula(formula[0]);
        MitlRef right = compileMitlFormula(formula[3]);
        const double lower = evaluateConstant(formula[1]);
        const double upper = evaluateConstant(formula[2]);
        if (kind == MITL_UNTIL) {
            return MitlRef(new MitlUntil(left, right, false, lower, upper));
        }
        return MitlRef(new MitlRelease(left, right, false, lower, upper));
    }
    case MITL_AND:
    case MITL_OR: {
        MitlRef left = compileMitlFormula(formula[0]);
        MitlRef right = compileMitlFormula(formula[1]);
        if (kind == MITL_AND) {
            return MitlRef(new MitlConj(left, right));
        }
        return MitlRef(new MitlDisj(left, right));
    }
    case MITL_NEXT:
        return MitlRef(new MitlNext(compileMitlFormula(formula[0])));
    case MITL_ATOM:
        return MitlRef(new MitlAtom(compileStateFormula(formula[0], ExpressionRef()), formula[0]));
    case MITL_EXISTS_DYNAMIC:
    case MITL_FORALL_DYNAMIC: {
        // The bound name stands for a state variable of its own, holding the number of the
        // process an instance of the body is about.
        const bool exists = kind == MITL_EXISTS_DYNAMIC;
        auto [variable, dynamicTemplate] = bindProcessVariable(formula, exists ? "EXISTS" : "FORALL");
        MitlRef body = compileMitlFormula(formula[2]);
        const base::RefPtr<Variable> bound(variable);
        if (exists) {
            return MitlRef(new MitlExists(bound, body, dynamicTemplate->dynamicIndex));
        }
        return MitlRef(new MitlForall(bound, body, dynamicTemplate->dynamicIndex));
    }
    default:
        throw Bug("Not an MITL formula");
    }
}
