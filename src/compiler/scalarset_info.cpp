#include "compiler/scalarset_info.h"

#include <algorithm>

using namespace ZOLT;

namespace {

// The type without const, reference and meta prefixes.
type_t stripNaming(type_t type)
{
    for (;;) {
        const node_kind_t kind = type.getKind();
        if ((kind == CONSTANT || kind == REF || kind == META) && type.getSize() > 0) {
            type = type.getChild(0);
        } else {
            return type;
        }
    }
}

// Two types denote the same scalar set when both are named by equal labels.
bool sameScalarset(const type_t& a, const type_t& b)
{
    type_t x = stripNaming(a);
    type_t y = stripNaming(b);
    return x.getKind() == LABEL && y.getKind() == LABEL && x.getSize() > 0 && y.getSize() > 0 &&
           x.getLabel(0) == y.getLabel(0);
}

} // namespace

template <typename F>
void ScalarsetInfo::forEachPending(F&& f)
{
    // What is collected under a range that is no scalar set is dropped at its end, so it is not
    // collected at all.
    const size_t open = std::min({indexStack.size(), pendingStack.size(), rangeStack.size()});
    for (size_t i = 0; i < open; ++i) {
        if (rangeStack[i] != nullptr) {
            f(pendingStack[i][indexStack[i]]);
        }
    }
}

ScalarsetRecord* ScalarsetInfo::recordFor(const type_t& type)
{
    for (ScalarsetRecord& record : records) {
        if (sameScalarset(record.type, type)) {
            return &record;
        }
    }
    auto [lowerBound, upperBound] = type.getRangeBounds();
    const int64_t lower = evaluator->evaluateConstant(lowerBound);
    const int64_t upper = evaluator->evaluateConstant(upperBound);
    ScalarsetRecord& record = records.emplace_back();
    record.size = upper >= lower ? static_cast<uint64_t>(upper - lower + 1) : 0;
    record.type = type;
    record.elements.resize(record.size);
    for (uint64_t i = 0; i < record.size; ++i) {
        record.elements[i].index = static_cast<int32_t>(i);
    }
    return &record;
}

void ScalarsetInfo::beginRange(const type_t& type)
{
    rangeStack.push_back(type.isKind(SCALAR) ? recordFor(type) : nullptr);
    pendingStack.emplace_back();
}

void ScalarsetInfo::pushIndex(uint64_t value)
{
    indexStack.push_back(value);
}

void ScalarsetInfo::popIndex()
{
    if (!indexStack.empty()) {
        indexStack.pop_back();
    }
}

void ScalarsetInfo::addProcess(int32_t process)
{
    forEachPending([&](ScalarsetElement& e) { e.processes.push_back(process); });
}

void ScalarsetInfo::addClock(int32_t clock)
{
    forEachPending([&](ScalarsetElement& e) { e.clocks.push_back(clock); });
}

void ScalarsetInfo::addVariable(const type_t& type, Variable* variable)
{
    if (type.isKind(SCALAR)) {
        recordFor(type)->data.push_back(variable);
    }
    forEachPending([&](ScalarsetElement& e) { e.variables.push_back(variable); });
}

void ScalarsetInfo::endRange()
{
    if (rangeStack.empty() || pendingStack.empty()) {
        return;
    }
    ScalarsetRecord* record = rangeStack.back();
    if (record != nullptr) {
        for (auto& [value, pending] : pendingStack.back()) {
            if (value >= record->elements.size()) {
                continue;
            }
            ScalarsetElement& element = record->elements[value];
            element.processes.insert(element.processes.end(), pending.processes.begin(), pending.processes.end());
            element.clocks.insert(element.clocks.end(), pending.clocks.begin(), pending.clocks.end());
            element.variables.insert(element.variables.end(), pending.variables.begin(), pending.variables.end());
        }
    }
    rangeStack.pop_back();
    pendingStack.pop_back();
}
