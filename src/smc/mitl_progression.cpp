#include "smc/mitl_progression.h"

#include <algorithm>

#include "runtime/concrete_state.h"
#include "runtime/variable.h"

MitlRef makeMitlTrue()
{
    MitlRef node(new MitlTrue);
    node->trivial = true;
    return node;
}

MitlRef makeMitlFalse()
{
    MitlRef node(new MitlFalse);
    node->trivial = true;
    return node;
}

// ---- DepthCalculator ----------------------------------------------------------------------------

int32_t DepthCalculator::depth(const MitlRef& formula)
{
    formula->accept(*this);
    return result;
}

int32_t DepthCalculator::binary(const MitlRef& left, const MitlRef& right)
{
    const int32_t l = depth(left);
    const int32_t r = depth(right);
    return 1 + std::max(l, r);
}

void DepthCalculator::quantifier(bool instantiated, bool decided, const MitlRef& body,
                                 const std::vector<MitlRef>& instances)
{
    if (!instantiated) {
        result = depth(body);
        return;
    }
    if (decided || instances.empty()) {
        result = 1;
        return;
    }
    int32_t deepest = 0;
    for (size_t i = 0; i < instances.size(); ++i) {
        const int32_t d = instances[i] ? depth(instances[i]) + static_cast<int32_t>(i) : static_cast<int32_t>(i);
        deepest = i == 0 ? d : std::max(deepest, d);
    }
    result = 1 + deepest;
}

void DepthCalculator::visitConj(base::RefPtr<MitlConj>& node)
{
    result = binary(node->getLeft(), node->getRight());
}

void DepthCalculator::visitDisj(base::RefPtr<MitlDisj>& node)
{
    result = binary(node->getLeft(), node->getRight());
}

void DepthCalculator::visitUntil(base::RefPtr<MitlUntil>& node)
{
    result = binary(node->getLeft(), node->getRight());
}

void DepthCalculator::visitRelease(base::RefPtr<MitlRelease>& node)
{
    result = binary(node->getLeft(), node->getRight());
}

void DepthCalculator::visitAtom(base::RefPtr<MitlAtom>&)
{
    result = 1;
}

void DepthCalculator::visitNext(base::RefPtr<MitlNext>&)
{
    result = 1;
}

void DepthCalculator::visitTrue(base::RefPtr<MitlTrue>&)
{
    result = 1;
}

void DepthCalculator::visitFalse(base::RefPtr<MitlFalse>&)
{
    result = 1;
}

void DepthCalculator::visitExists(base::RefPtr<MitlExists>& node)
{
    quantifier(node->isInstantiated(), node->isTrue(), node->getBody(), node->getInstances());
}

void DepthCalculator::visitForall(base::RefPtr<MitlForall>& node)
{
    quantifier(node->isInstantiated(), node->isTrue(), node->getBody(), node->getInstances());
}

// ---- TermCalculator -----------------------------------------------------------------------------

int32_t TermCalculator::terms(const MitlRef& formula)
{
    formula->accept(*this);
    return result;
}

int32_t TermCalculator::binary(const MitlRef& left, const MitlRef& right)
{
    const int32_t l = terms(left);
    return l + terms(right);
}

void TermCalculator::quantifier(bool instantiated, const MitlRef& body, const std::vector<MitlRef>& instances)
{
    if (!instantiated) {
        result = terms(body);
        return;
    }
    int32_t sum = 0;
    for (const MitlRef& instance : instances) {
        sum += instance ? terms(instance) : 0;
    }
    result = sum;
}

void TermCalculator::visitConj(base::RefPtr<MitlConj>& node)
{
    result = binary(node->getLeft(), node->getRight());
}

void TermCalculator::visitDisj(base::RefPtr<MitlDisj>& node)
{
    result = binary(node->getLeft(), node->getRight());
}

void TermCalculator::visitUntil(base::RefPtr<MitlUntil>& node)
{
    result = binary(node->getLeft(), node->getRight());
}

void TermCalculator::visitRelease(base::RefPtr<MitlRelease>& node)
{
    result = binary(node->getLeft(), node->getRight());
}

void TermCalculator::visitAtom(base::RefPtr<MitlAtom>&)
{
    result = 1;
}

void TermCalculator::visitNext(base::RefPtr<MitlNext>& node)
{
    result = terms(node->getOperand());
}

void TermCalculator::visitTrue(base::RefPtr<MitlTrue>&)
{
    result = 1;
}

void TermCalculator::visitFalse(base::RefPtr<MitlFalse>&)
{
    result = 1;
}

void TermCalculator::visitExists(base::RefPtr<MitlExists>& node)
{
    quantifier(node->isInstantiated(), node->getBody(), node->getInstances());
}

void TermCalculator::visitForall(base::RefPtr<MitlForall>& node)
{
    quantifier(node->isInstantiated(), node->getBody(), node->getInstances());
}

// ---- Alterator ----------------------------------------------------------------------------------

MitlRef Alterator::alter(const MitlRef& formula, ConcreteState* on, double time)
{
    state = on;
    elapsed = time;
    formula->accept(*this);
    return result;
}

MitlRef Alterator::progress(const MitlRef& formula)
{
    formula->accept(*this);
    return result;
}

void Alterator::visitAtom(base::RefPtr<MitlAtom>& node)
{
    result = node->getExpression()->evaluate(state) != 0 ? makeMitlTrue() : makeMitlFalse();
}

void Alterator::visitTrue(base::RefPtr<MitlTrue>&)
{
    result = makeMitlTrue();
}

void Alterator::visitFalse(base::RefPtr<MitlFalse>&)
{
    result = makeMitlFalse();
}

void Alterator::visitNext(base::RefPtr<MitlNext>& node)
{
    // The operand is judged from the next state on.
    result = node->getOperand();
}

void Alterator::visitConj(base::RefPtr<MitlConj>& node)
{
    const MitlRef l = progress(node->getLeft());
    const MitlRef r = progress(node->getRight());
    if (l->isFalse() || r->isFalse()) {
        result = makeMitlFalse();
    } else if (l->isTrue() && r->isTrue()) {
        result = makeMitlTrue();
    } else if (l->isTrue()) {
        result = r;
    } else if (r->isTrue()) {
        result = l;
    } else {
        result = MitlRef(new MitlConj(l, r));
    }
}

void Alterator::visitDisj(base::RefPtr<MitlDisj>& node)
{
    const MitlRef l = progress(node->getLeft());
    const MitlRef r = progress(node->getRight());
    if (l->isTrue() || r->isTrue()) {
        result = makeMitlTrue();
    } else if (l->isFalse() && r->isFalse()) {
        result = makeMitlFalse();
    } else if (l->isFalse()) {
        result = r;
    } else if (r->isFalse()) {
        result = l;
    } else {
        result = MitlRef(new MitlDisj(l, r));
    }
}

void Alterator::visitUntil(base::RefPtr<MitlUntil>& node)
{
    const double a = node->getLower();
    const double b = node->getUpper();
    const double d = elapsed;
    auto shifted = [&] {
        const double lower = a - d > 0 ? a - d : 0;
        return MitlRef(new MitlUntil(node->getLeft(), node->getRight(), false, lower, b - d));
    };
    if (a > 0) {
        if (b - d >= 0) {
            // Before the window the left operand must hold, and the until carries over.
            progress(MitlRef(new MitlConj(node->getLeft(), MitlRef(new MitlNext(shifted())))));
        } else {
            result = makeMitlFalse();
        }
    } else if (b - d < 0) {
        progress(node->getRight());
    } else {
        const MitlRef carry(new MitlConj(node->getLeft(), MitlRef(new MitlNext(shifted()))));
        progress(MitlRef(new MitlDisj(node->getRight(), carry)));
    }
}

void Alterator::visitRelease(base::RefPtr<MitlRelease>& node)
{
    const double a = node->getLower();
    const double b = node->getUpper();
    const double d = elapsed;
    auto shifted = [&] {
        const double lower = a - d > 0 ? a - d : 0;
        return MitlRef(new MitlRelease(node->getLeft(), node->getRight(), false, lower, b - d));
    };
    if (a > 0) {
        if (b >= d) {
            // Before the window only the window moves.
            result = shifted();
        } else {
            progress(node->getRight());
        }
    } else if (d > b) {
        progress(node->getRight());
    } else {
        const MitlRef carry(new MitlDisj(node->getLeft(), MitlRef(new MitlNext(shifted()))));
        progress(MitlRef(new MitlConj(node->getRight(), carry)));
    }
}

template <class Node>
void Alterator::quantifier(base::RefPtr<Node>& node, bool universal)
{
    // An instance that becomes the neutral answer is left out; the other answer decides.
    auto decides = [universal](const MitlRef& r) { return universal ? r->isFalse() : r->isTrue(); };
    auto neutral = [universal](const MitlRef& r) { return universal ? r->isTrue() : r->isFalse(); };
    Variable* variable = node->getBoundVariable();

    if (!node->isInstantiated()) {
        // The processes live now are the ones the quantifier covers, once and for all.
        std::vector<int32_t> numbers;
        const int32_t t = node->getDynamicTemplateIndex();
        if (state->spawnTable != nullptr && t >= 0 && static_cast<size_t>(t) < state->spawnTable->size()) {
            const SpawnRecord& record = (*state->spawnTable)[static_cast<size_t>(t)];
            for (int64_t k = 0; k < record.liveCount && static_cast<size_t>(k) < record.liveNumbers.size(); ++k) {
                numbers.push_back(record.liveNumbers[static_cast<size_t>(k)]);
            }
        }
        if (numbers.empty()) {
            result = universal ? makeMitlTrue() : makeMitlFalse();
            return;
        }
        base::RefPtr<Node> instantiated(new Node(base::RefPtr<Variable>(variable), node->getBody(),
                                                 node->getDynamicTemplateIndex()));
        bool marked = false;
        for (int32_t number : numbers) {
            variable->setValue(state, number);
            MitlRef r = progress(node->getBody());
            if (decides(r)) {
                result = r;
                return;
            }
            if (neutral(r)) {
                continue;
            }
            instantiated->addInstance(number, r);
            marked = true;
        }
        if (!marked) {
            // Every instance was decided the neutral way: an instantiated node without instances.
            instantiated->addInstance(numbers.front(), node->getBody());
            instantiated->getInstances().clear();
            instantiated->getProcessNumbers().clear();
        }
        result = instantiated;
        return;
    }

    std::vector<MitlRef>& instances = node->getInstances();
    std::vector<int32_t>& numbers = node->getProcessNumbers();
    std::vector<uint8_t> left(numbers.size(), 0);
    for (size_t i = 0; i < numbers.size() && i < instances.size(); ++i) {
        variable->setValue(state, numbers[i]);
        MitlRef r = progress(instances[i]);
        if (decides(r)) {
            result = r;
            return;
        }
        if (neutral(r)) {
            left[i] = 1;
        } else {
            instances[i] = r;
        }
    }
    size_t kept = 0;
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (left[i] == 0) {
            numbers[kept] = numbers[i];
            if (i < instances.size()) {
                instances[kept] = instances[i];
            }
            ++kept;
        }
    }
    numbers.resize(kept);
    instances.resize(std::min(kept, instances.size()));
    result = node;
}

void Alterator::visitExists(base::RefPtr<MitlExists>& node)
{
    quantifier(node, false);
}

void Alterator::visitForall(base::RefPtr<MitlForall>& node)
{
    quantifier(node, true);
}
