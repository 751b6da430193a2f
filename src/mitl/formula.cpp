#include "mitl/formula.h"

#include <ostream>

#include "support/exceptions.h"

namespace {

// Hands the visitor a handle of the node's own class, held for the length of the visit so that
// the node survives a visitor that replaces the last other reference to it.
template <class Node, class Visit>
void visitWithHandle(Node* node, MitlVisitor& visitor, Visit visit)
{
    base::RefPtr<Node> handle(node);
    (visitor.*visit)(handle);
}

void printOperand(std::ostream& os, const MitlRef& operand)
{
    if (operand) {
        operand->print(os);
    } else {
        os << "(NULL)";
    }
}

void printWindow(std::ostream& os, const MitlRef& left, const MitlRef& right, const char* op, double lower,
                 double upper, bool marked)
{
    os << "(";
    printOperand(os, left);
    os << op << "[" << lower << ";" << upper << "]";
    if (marked) {
        os << "*";
    }
    printOperand(os, right);
    os << ")";
}

void collectFrom(const MitlRef& formula, std::vector<ExpressionRef>& atoms)
{
    if (formula) {
        formula->collectAtoms(atoms);
    }
}

bool nextIn(const MitlRef& formula)
{
    return formula && formula->containsNext();
}

void printInstances(std::ostream& os, const std::vector<MitlRef>& instances, const char* separator)
{
    os << "(";
    for (const MitlRef& instance : instances) {
        printOperand(os, instance);
        os << separator;
    }
    os << "=";
}

} // namespace

// ---------------------------------------------------------------- MitlExpr

void MitlExpr::accept(ExpressionVisitor&)
{
}

ExpressionRef MitlExpr::negate()
{
    return ExpressionRef(this);
}

int32_t MitlExpr::evaluate(PublicState*)
{
    return 0;
}

const IndexSet& MitlExpr::getReads() const
{
    throw Bug("getReads should not be called on MitlExpressions");
}

std::ostream& operator<<(std::ostream& os, const MitlExpr& formula)
{
    formula.print(os);
    return os;
}

// ---------------------------------------------------------------- connectives

MitlConj::MitlConj(const MitlRef& left, const MitlRef& right) : left(left), right(right)
{
}

MitlConj::~MitlConj()
{
    right.release();
    left.release();
}

void MitlConj::collectAtoms(std::vector<ExpressionRef>& atoms) const
{
    collectFrom(left, atoms);
    collectFrom(right, atoms);
}

void MitlConj::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitConj);
}

bool MitlConj::containsNext() const
{
    return nextIn(left) || nextIn(right);
}

void MitlConj::print(std::ostream& os) const
{
    os << "(";
    printOperand(os, left);
    os << "/\\";
    printOperand(os, right);
    os << ")";
}

MitlDisj::MitlDisj(const MitlRef& left, const MitlRef& right) : left(left), right(right)
{
}

MitlDisj::~MitlDisj()
{
    right.release();
    left.release();
}

void MitlDisj::collectAtoms(std::vector<ExpressionRef>& atoms) const
{
    collectFrom(left, atoms);
    collectFrom(right, atoms);
}

void MitlDisj::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitDisj);
}

bool MitlDisj::containsNext() const
{
    return nextIn(left) || nextIn(right);
}

void MitlDisj::print(std::ostream& os) const
{
    os << "(";
    printOperand(os, left);
    os << "\\/";
    printOperand(os, right);
    os << ")";
}

// ---------------------------------------------------------------- temporal operators

MitlUntil::MitlUntil(const MitlRef& left, const MitlRef& right, bool marked, double lower, double upper)
    : left(left), right(right), lower(lower), upper(upper), marked(marked)
{
}

MitlUntil::~MitlUntil()
{
    right.release();
    left.release();
}

void MitlUntil::collectAtoms(std::vector<ExpressionRef>& atoms) const
{
    collectFrom(left, atoms);
    collectFrom(right, atoms);
}

void MitlUntil::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitUntil);
}

bool MitlUntil::containsNext() const
{
    return nextIn(left) || nextIn(right);
}

void MitlUntil::print(std::ostream& os) const
{
    printWindow(os, left, right, "U", lower, upper, marked);
}

MitlRelease::MitlRelease(const MitlRef& left, const MitlRef& right, bool marked, double lower, double upper)
    : left(left), right(right), lower(lower), upper(upper), marked(marked)
{
}

MitlRelease::~MitlRelease()
{
    right.release();
    left.release();
}

void MitlRelease::collectAtoms(std::vector<ExpressionRef>& atoms) const
{
    collectFrom(left, atoms);
    collectFrom(right, atoms);
}

void MitlRelease::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitRelease);
}

bool MitlRelease::containsNext() const
{
    return nextIn(left) || nextIn(right);
}

void MitlRelease::print(std::ostream& os) const
{
    printWindow(os, left, right, "R", lower, upper, marked);
}

MitlNext::MitlNext(const MitlRef& operand) : operand(operand)
{
}

MitlNext::~MitlNext()
{
    operand.release();
}

void MitlNext::collectAtoms(std::vector<ExpressionRef>& atoms) const
{
    collectFrom(operand, atoms);
}

void MitlNext::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitNext);
}

void MitlNext::print(std::ostream& os) const
{
    os << "(X ";
    printOperand(os, operand);
    os << ")";
}

// ---------------------------------------------------------------- atoms and constants

MitlAtom::MitlAtom(const ExpressionRef& expression, const ZOLT::expression_t& text)
    : expression(expression), text(text)
{
    if (!expression) {
        throw Bug("An MITL atom without its state formula");
    }
    trivial = expression->trivial;
    convex = expression->convex;
    clockDependent = false;
}

MitlAtom::~MitlAtom()
{
    text = ZOLT::expression_t();
    expression.release();
}

void MitlAtom::collectAtoms(std::vector<ExpressionRef>& atoms) const
{
    atoms.push_back(expression);
}

void MitlAtom::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitAtom);
}

void MitlAtom::print(std::ostream& os) const
{
    os << text.toString(false);
}

void MitlTrue::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitTrue);
}

void MitlTrue::print(std::ostream& os) const
{
    os << "(true)";
}

void MitlFalse::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitFalse);
}

void MitlFalse::print(std::ostream& os) const
{
    os << "(false)";
}

// ---------------------------------------------------------------- quantifiers

MitlExists::MitlExists(const base::RefPtr<Variable>& variable, const MitlRef& body, int32_t templateIndex)
    : variable(variable), body(body), templateIndex(templateIndex)
{
}

MitlExists::~MitlExists()
{
    processNumbers.clear();
    instances.clear();
    body.release();
    variable.release();
}

void MitlExists::addInstance(int32_t processNumber, const MitlRef& formula)
{
    instances.push_back(formula);
    processNumbers.push_back(processNumber);
    instantiated = true;
}

bool MitlExists::isFalse() const
{
    return instantiated && instances.empty();
}

void MitlExists::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitExists);
}

void MitlExists::print(std::ostream& os) const
{
    printInstances(os, instances, "||");
}

MitlForall::MitlForall(const base::RefPtr<Variable>& variable, const MitlRef& body, int32_t templateIndex)
    : variable(variable), body(body), templateIndex(templateIndex)
{
}

MitlForall::~MitlForall()
{
    processNumbers.clear();
    instances.clear();
    body.release();
    variable.release();
}

void MitlForall::addInstance(int32_t processNumber, const MitlRef& formula)
{
    instances.push_back(formula);
    processNumbers.push_back(processNumber);
    instantiated = true;
}

bool MitlForall::isTrue() const
{
    return instantiated && instances.empty();
}

void MitlForall::accept(MitlVisitor& visitor)
{
    visitWithHandle(this, visitor, &MitlVisitor::visitForall);
}

void MitlForall::print(std::ostream& os) const
{
    if (isTrue()) {
        os << "(true)" << std::endl;
        return;
    }
    printInstances(os, instances, "&&");
}
