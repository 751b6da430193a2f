// The observer automaton: one location per cut of the chart (the regions that have happened), a
// progress edge per region that may happen next, listening loops for communications that do not
// concern the chart, and the edges back to the start and into the error location.

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "driver/scenario_translator.h"

using namespace ZOLT;

namespace {

bool sameNumber(const lsc_region_t& a, const lsc_region_t& b) { return a.number == b.number; }

bool contains(const std::vector<lsc_region_t>& list, const lsc_region_t& region)
{
    return std::any_of(list.begin(), list.end(), [&](const lsc_region_t& r) { return sameNumber(r, region); });
}

bool isCommitted(const location_t& location) { return location.symbol.getType().isKind(COMMITTED); }

bool isTrueConstant(const expression_t& e) { return e.getKind() == CONSTANT && e.getValue() == 1; }

lsc_cut_t cutOf(const Translator::CutEntry& entry)
{
    lsc_cut_t cut;
    cut.regions = entry.regions;
    return cut;
}

} // namespace

expression_t Translator::rebind(const expression_t& e) const
{
    return e.empty() ? e : e.cloneRebound(currentTemplate->declarations.frame, scope_t());
}

std::vector<lsc_region_t> Translator::enabledRegions(const lsc_cut_t& cut) const
{
    std::vector<lsc_region_t> remaining;
    for (const lsc_region_t& region : regions) {
        if (!cut.contains(region)) {
            remaining.push_back(region);
        }
    }
    std::vector<std::vector<lsc_region_t>> lines;
    for (const instance_line_t& line : chart().instanceLines) {
        lines.push_back(lscRegionsOfInstanceLine(line, remaining));
    }
    std::vector<lsc_region_t> candidates;
    for (const auto& list : lines) {
        if (!list.empty() && !contains(candidates, list.front())) {
            candidates.push_back(list.front());
        }
    }
    // A region is enabled only when it comes first on every line it belongs to.
    auto blocked = [&](const lsc_region_t& candidate) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::vector<lsc_region_t>& list) {
            return !list.empty() && !sameNumber(list.front(), candidate) && contains(list, candidate);
        });
    };
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(), blocked), candidates.end());
    // The prechart comes first; then conditions and updates go before messages.
    if (std::any_of(candidates.begin(), candidates.end(), isRegionInPrechart)) {
        candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                        [](const lsc_region_t& r) { return !isRegionInPrechart(r); }),
                         candidates.end());
    }
    if (std::any_of(candidates.begin(), candidates.end(), [](const lsc_region_t& r) { return !r.hasMessage(); })) {
        candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                        [](const lsc_region_t& r) { return r.hasMessage(); }),
                         candidates.end());
    }
    return candidates;
}

std::string Translator::locationName(int32_t number) const
{
    if (number == 0) {
        return chart().hasPrechart ? "lpmin" : "lmin";
    }
    if (number == minLocation) {
        return "lmin";
    }
    if (number == maxLocation) {
        return "lmax";
    }
    if (number == errorLocation) {
        return "Err";
    }
    return "id" + std::to_string(number);
}

std::string Translator::newLocationName(bool isMin, bool isMax, int32_t& number)
{
    number = static_cast<int32_t>(currentTemplate->locations.size());
    if (isMax) {
        maxLocation = number;
        return "lmax";
    }
    if (isMin) {
        minLocation = number;
        return "lmin";
    }
    return "id" + std::to_string(number);
}

void Translator::buildCutAutomaton()
{
    minLocation = 0;
    maxLocation = 0;
    const std::string initialName = locationName(0);
    procState(initialName.c_str(), false, false);
    procStateInit(initialName.c_str());
    cuts[0] = CutEntry{{}, 0};
    lsc_cut_t cut;
    exploreCut(cut);
    // From the complete cut back to the start.
    procEdgeBegin("lmax", initialName.c_str(), false, "SKIP");
    procEdgeEnd("", "");
    procStateCommit("lmax");
}

void Translator::exploreCut(lsc_cut_t& cut)
{
    if (cut.regions.size() == regions.size()) {
        return;
    }
    const std::vector<lsc_region_t> enabled = enabledRegions(cut);
    auto find = [&]() {
        return std::find_if(cuts.begin(), cuts.end(), [&](const auto& entry) { return cutOf(entry.second) == cut; });
    };
    auto source = find();
    if (source == cuts.end()) {
        throw std::runtime_error("Source not found");
    }
    const std::string sourceName = locationName(source->second.location);

    for (size_t i = 0; i < enabled.size(); ++i) {
        const lsc_region_t& region = enabled[i];
        cut.regions.push_back(region);
        std::string targetName;
        if (auto known = find(); known != cuts.end()) {
            targetName = locationName(known->second.location);
        } else {
            // A location whose next steps are conditions and updates only is left at once.
            if (i == 0 && !region.hasMessage()) {
                procStateCommit(sourceName.c_str());
            }
            const bool complete = cut.regions.size() == regions.size();
            bool isMin = false;
            if (!complete) {
                // The cut at which the prechart is complete and the main chart begins.
                const std::vector<lsc_region_t> next = enabledRegions(cut);
                if (!next.empty() && !isRegionInPrechart(next.front())) {
                    isMin = cut.allInPrechart();
                }
            }
            int32_t number = 0;
            targetName = newLocationName(isMin, complete, number);
            procState(targetName.c_str(), false, false);
            const auto key = static_cast<int32_t>(cuts.size());
            cuts[key] = CutEntry{cut.regions, number};
            exploreCut(cut);
        }
        procEdgeBegin(sourceName.c_str(), targetName.c_str(), false, "SKIP");
        labelProgressEdge(region);
        procEdgeEnd("", "");
        cut.eraseRegion(region.number);
    }
}

void Translator::labelProgressEdge(const lsc_region_t& region)
{
    if (currentEdge == nullptr) {
        return;
    }
    // Conditions and updates are rebound to the observer's own copies of the chart's
    // declarations (its functions in particular).
    if (region.hasCondition()) {
        currentEdge->guard = rebind(region.condition->label);
    }
    if (region.hasUpdate()) {
        currentEdge->update = rebind(region.update->label);
    }
    if (region.hasMessage()) {
        const message_t& message = *region.message;
        currentEdge->guard = rebind(conjoin(currentEdge->guard, makeMessageGuard(message)));
        currentEdge->sync = rebind(message.label);
        currentEdge->update = rebind(appendUpdate(currentEdge->update, makeIdReset()));
    }
}

void Translator::labelMessageEdge(const message_t& message, bool withGuard, bool withReset)
{
    if (message.number == -1 || currentEdge == nullptr) {
        return;
    }
    if (withGuard) {
        currentEdge->guard = makeMessageGuard(message);
        if (withReset) {
            currentEdge->update = makeIdReset();
        }
    }
    currentEdge->sync = message.label;
}

// The elements a channel expression may designate: each index of an array element that has a
// range type is replaced by every value of that range within the array's bounds, in every
// dimension; an index whose values are not known here is kept as it is.
std::vector<expression_t> Translator::channelElements(const expression_t& channel) const
{
    if (channel.getKind() != ARRAY) {
        return {channel};
    }
    const expression_t& index = channel[1];
    std::optional<interval_t> range;
    if (index.getType().isKind(RANGE)) {
        try {
            range = facts.getRange(index);
        } catch (const std::runtime_error&) {
        }
        try {
            auto [lower, upper] = channel[0].getType().getIndexType().getRangeBounds();
            if (range && !lower.empty() && !upper.empty()) {
                range = range->intersect(interval_t(facts.evaluateConstant(lower), facts.evaluateConstant(upper)));
            }
        } catch (const std::runtime_error&) {
        }
    }
    std::vector<expression_t> result;
    for (const expression_t& operand : channelElements(channel[0])) {
        if (!range) {
            result.push_back(expression_t::createBinary(ARRAY, operand, index, channel.getPosition(), channel.getType()));
            continue;
        }
        for (int64_t i = range->lower; i <= range->upper; ++i) {
            expression_t value = expression_t::createConstant(static_cast<int32_t>(i));
            result.push_back(expression_t::createBinary(ARRAY, operand, value, channel.getPosition(), channel.getType()));
        }
    }
    return result;
}

std::vector<expression_t> Translator::collectProcessSyncs()
{
    std::vector<expression_t> result;
    std::vector<std::string> texts;
    auto add = [&](const expression_t& sync) {
        std::string text = sync[0].toString(false);
        if (std::find(texts.begin(), texts.end(), text) == texts.end()) {
            texts.push_back(text);
            result.push_back(sync);
        }
    };
    for (const instance_t& process : system->getProcesses()) {
        if (process.definingTemplate == nullptr) {
            continue;
        }
        for (const edge_t& edge : process.definingTemplate->edges) {
            if (edge.sync.empty()) {
                continue;
            }
            expression_t sync = instantiateExpression(edge.sync, process);
            for (const expression_t& channel : channelElements(sync[0])) {
                add(expression_t::createSync(channel, sync.getSync(), sync.getPosition()));
            }
        }
    }
    return result;
}

bool Translator::isMessageChannel(const expression_t& channel) const
{
    const binding_t symbol = channel.getSymbol();
    const bool isArray = !symbol.empty() && symbol.getType().isKind(ARRAY);
    const std::string text = channel.toString(false);
    for (const message_t& message : chart().messages) {
        if (message.label.empty()) {
            continue;
        }
        const binding_t labelSymbol = message.label.getSymbol();
        if (isArray && !labelSymbol.empty() && labelSymbol.getName() == symbol.getName()) {
            return true;
        }
        if (message.label[0].toString(false) == text) {
            return true;
        }
    }
    return false;
}

bool Translator::isNewSenderReceiverPair(const message_t& message, const std::vector<const message_t*>& list)
{
    const int32_t from = processId(message.source);
    const int32_t to = processId(message.target);
    return std::none_of(list.begin(), list.end(), [&](const message_t* other) {
        return processId(other->source) == from && processId(other->target) == to;
    });
}

void Translator::addListeningLoops()
{
    for (const expression_t& sync : collectProcessSyncs()) {
        const expression_t& channel = sync[0];
        if (!isMessageChannel(channel)) {
            continue;
        }
        // The sender and receiver pairs of the chart's messages on this channel.
        std::vector<const message_t*> pairs;
        const std::string text = channel.toString(false);
        for (const message_t& message : chart().messages) {
            if (!message.label.empty() && instantiateExpression(message.label[0], scenario).toString(false) == text &&
                isNewSenderReceiverPair(message, pairs)) {
                pairs.push_back(&message);
            }
        }
        const size_t count = currentTemplate->locations.size();
        for (size_t i = 0; i < count; ++i) {
            const location_t& location = currentTemplate->locations[i];
            if (isCommitted(location)) {
                continue;
            }
            const std::string name = locationName(location.number);
            procEdgeBegin(name.c_str(), name.c_str(), false, "SKIP");
            if (currentEdge != nullptr) {
                currentEdge->sync = expression_t::createSync(channel, 0);
                if (!pairs.empty()) {
                    expression_t guard = currentEdge->guard;
                    for (const message_t* message : pairs) {
                        guard = conjoin(guard, expression_t::createUnary(LOGICAL_NOT, makeMessageGuard(*message)));
                    }
                    currentEdge->guard = guard;
                    currentEdge->update = makeIdReset();
                }
            }
            procEdgeEnd("", "");
        }
    }
}

// A comparison flipped to its negation, keeping its operands.
static expression_t flipped(const expression_t& e)
{
    node_kind_t kind;
    switch (e.getKind()) {
    case LESS:
        kind = GREATER_EQUAL;
        break;
    case LESS_EQUAL:
        kind = GREATER;
        break;
    case EQUAL:
        kind = NOT_EQUAL;
        break;
    case NOT_EQUAL:
        kind = EQUAL;
        break;
    case GREATER_EQUAL:
        kind = LESS;
        break;
    case GREATER:
        kind = LESS_EQUAL;
        break;
    default:
        return expression_t();
    }
    return expression_t::createBinary(kind, e[0], e[1], span_t(), e.getType());
}

expression_t Translator::negated(const expression_t& condition)
{
    const node_kind_t kind = condition.getKind();
    if (kind == LOGICAL_AND || kind == LOGICAL_OR) {
        expression_t left = negated(condition[0]);
        expression_t right = negated(condition[1]);
        if (left.empty() || right.empty()) {
            return expression_t();
        }
        return expression_t::createBinary(kind == LOGICAL_AND ? LOGICAL_OR : LOGICAL_AND, left, right, position,
                                          condition.getType());
    }
    return flipped(condition);
}

// The disjuncts of the negation go to `negation`: one per conjunct of a top-level conjunction,
// else the negation as a whole. A condition without a negation here (a plain boolean variable,
// say) adds none, and nor does a disjunction or conjunction with such a part.
expression_t Translator::negateCondition(const expression_t& condition, bool collect)
{
    if (condition.empty()) {
        return condition;
    }
    if (condition.getKind() == LOGICAL_AND && collect) {
        negateCondition(condition[0], true);
        negateCondition(condition[1], true);
        return expression_t();
    }
    expression_t result = negated(condition);
    if (collect && !result.empty()) {
        negation.push_back(result);
    }
    return result;
}

void Translator::addColdFailureEdges()
{
    const std::string initialName = locationName(0);
    for (const auto& [key, entry] : cuts) {
        for (const lsc_region_t& region : enabledRegions(cutOf(entry))) {
            if (!region.hasCondition() || region.condition->isHot) {
                continue;
            }
            negation.clear();
            negateCondition(region.condition->label, true);
            const std::vector<expression_t> disjuncts = negation;
            for (const expression_t& disjunct : disjuncts) {
                procEdgeBegin(locationName(entry.location).c_str(), initialName.c_str(), false, "SKIP");
                if (currentEdge != nullptr) {
                    expression_t guard = disjunct;
                    if (region.hasMessage()) {
                        guard = conjoin(guard, makeMessageGuard(*region.message));
                        currentEdge->update = makeIdReset();
                        currentEdge->sync = region.message->label;
                    }
                    currentEdge->guard = rebind(guard);
                }
                procEdgeEnd("", "");
            }
        }
    }
}

bool Translator::inPrechartPhase(const lsc_cut_t& cut) const
{
    if (!cut.allInPrechart()) {
        return false;
    }
    const std::vector<lsc_region_t> enabled = enabledRegions(cut);
    return !enabled.empty() && cut.allInPrechartWith(enabled.front());
}

void Translator::addPrechartAbortEdges()
{
    for (const auto& [key, entry] : cuts) {
        const lsc_cut_t cut = cutOf(entry);
        if (cut.regions.empty() || !inPrechartPhase(cut)) {
            continue;
        }
        const std::vector<lsc_region_t> enabled = enabledRegions(cut);
        for (const message_t& message : chart().messages) {
            const bool next = std::any_of(enabled.begin(), enabled.end(), [&](const lsc_region_t& r) {
                return r.message->number == message.number;
            });
            if (next) {
                continue;
            }
            procEdgeBegin(locationName(entry.location).c_str(), "lpmin", false, "SKIP");
            labelMessageEdge(message, true, true);
            procEdgeEnd("", "");
        }
    }
}

bool Translator::hasEdge(const std::string& from, const std::string& to, const expression_t& sync)
{
    const binding_t source = resolveOrThrow(from);
    const binding_t target = resolveOrThrow(to);
    return std::any_of(currentTemplate->edges.begin(), currentTemplate->edges.end(), [&](const edge_t& edge) {
        if (edge.sourceLocation == nullptr || edge.targetLocation == nullptr ||
            edge.sourceLocation->symbol != source || edge.targetLocation->symbol != target) {
            return false;
        }
        return sync.empty() || (edge.sync.equal(sync) && isTrueConstant(edge.guard));
    });
}

void Translator::removeGuardedLoops(const std::string& from, const std::string& to, const expression_t& sync)
{
    const binding_t source = resolveOrThrow(from);
    const binding_t target = resolveOrThrow(to);
    auto& edges = currentTemplate->edges;
    edges.erase(std::remove_if(edges.begin(), edges.end(),
                               [&](const edge_t& edge) {
                                   return edge.sourceLocation != nullptr && edge.targetLocation != nullptr &&
                                          edge.sourceLocation->symbol == source &&
                                          edge.targetLocation->symbol == target && edge.sync.equal(sync) &&
                                          !isTrueConstant(edge.guard);
                               }),
                edges.end());
}

void Translator::addInvariantModeLoops()
{
    for (const lsc_region_t& region : regions) {
        if (!region.hasMessage()) {
            continue;
        }
        const message_t& message = *region.message;
        if (hasEdge("lpmin", "lpmin", message.label)) {
            continue;
        }
        procEdgeBegin("lpmin", "lpmin", false, "SKIP");
        labelMessageEdge(message, false, true);
        procEdgeEnd("", "");
        removeGuardedLoops("lpmin", "lpmin", instantiateExpression(message.label, scenario));
    }
}

void Translator::addErrorLocation()
{
    procState("Err", false, false);
    errorLocation = static_cast<int32_t>(currentTemplate->locations.size()) - 1;
    procStateCommit("Err");
    for (const auto& [key, entry] : cuts) {
        const lsc_cut_t cut = cutOf(entry);
        if (entry.location == maxLocation || inPrechartPhase(cut)) {
            continue;
        }
        const std::vector<lsc_region_t> enabled = enabledRegions(cut);
        const std::string source = locationName(entry.location);
        // A chart message that is not next, one that has happened included, is an error.
        for (const lsc_region_t& region : regions) {
            if (!region.hasMessage() || contains(enabled, region)) {
                continue;
            }
            procEdgeBegin(source.c_str(), "Err", false, "SKIP");
            labelMessageEdge(*region.message, true, false);
            procEdgeEnd("", "");
        }
        // So is a violated hot condition.
        for (const lsc_region_t& region : enabled) {
            if (!region.hasCondition() || !region.condition->isHot) {
                continue;
            }
            negation.clear();
            negateCondition(region.condition->label, true);
            const std::vector<expression_t> disjuncts = negation;
            for (const expression_t& disjunct : disjuncts) {
                procEdgeBegin(source.c_str(), "Err", false, "SKIP");
                if (currentEdge != nullptr) {
                    if (region.hasMessage()) {
                        currentEdge->guard = rebind(conjoin(disjunct, makeMessageGuard(*region.message)));
                        currentEdge->sync = region.message->label;
                    } else {
                        currentEdge->guard = rebind(disjunct);
                    }
                }
                procEdgeEnd("", "");
            }
        }
    }
}
