#include "language/lsc.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace ZOLT {

namespace {

const message_t& emptyMessage()
{
    static const message_t empty;
    return empty;
}

const condition_t& emptyCondition()
{
    static const condition_t empty;
    return empty;
}

const update_t& emptyUpdate()
{
    static const update_t empty;
    return empty;
}

// The record of an instance-line symbol; null for the empty symbol.
instance_line_t* lineOf(const binding_t& symbol)
{
    return symbol.empty() ? nullptr : static_cast<instance_line_t*>(symbol.getData());
}

bool sameLine(const instance_line_t* a, const instance_line_t& b)
{
    return a != nullptr && a->number == b.number;
}

template<typename Record>
int32_t nextNumber(const std::deque<Record>& records)
{
    return records.empty() ? 0 : records.back().number + 1;
}

} // namespace

// --- Adders and queries of a template ----------------------------------------------

instance_line_t& template_t::addInstanceLine()
{
    instance_line_t& line = instanceLines.emplace_back();
    line.number = static_cast<int32_t>(instanceLines.size() - 1);
    return line;
}

message_t& template_t::addMessage(binding_t source, binding_t target, int32_t location,
                                  bool inPrechart)
{
    int32_t number = nextNumber(messages);
    message_t& message = messages.emplace_back();
    message.number = number;
    message.location = location;
    message.source = lineOf(source);
    message.target = lineOf(target);
    message.inPrechart = inPrechart;
    return message;
}

update_t& template_t::addLscUpdate(binding_t anchor, int32_t location, bool inPrechart)
{
    int32_t number = nextNumber(updates);
    update_t& update = updates.emplace_back();
    update.number = number;
    update.location = location;
    update.anchor = lineOf(anchor);
    update.inPrechart = inPrechart;
    return update;
}

condition_t& template_t::addCondition(const std::vector<binding_t>& anchors, int32_t location,
                                      bool inPrechart, bool isHot)
{
    int32_t number = nextNumber(conditions);
    condition_t& condition = conditions.emplace_back();
    condition.number = number;
    condition.location = location;
    for (const binding_t& anchor : anchors) {
        condition.anchors.push_back(lineOf(anchor));
    }
    condition.inPrechart = inPrechart;
    condition.isHot = isHot;
    return condition;
}

bool template_t::hasInvariantMode() const
{
    static const std::string invariant = "invariant";
    if (isTimedAutomaton || lscMode.size() != invariant.size()) {
        return false;
    }
    return std::equal(lscMode.begin(), lscMode.end(), invariant.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

bool template_t::findCondition(const instance_line_t& line, int32_t location,
                               condition_t*& result)
{
    for (condition_t& condition : conditions) {
        if (condition.location == location &&
            std::any_of(condition.anchors.begin(), condition.anchors.end(),
                        [&](const instance_line_t* a) { return sameLine(a, line); })) {
            result = &condition;
            return true;
        }
    }
    return false;
}

bool template_t::findUpdate(const instance_line_t& line, int32_t location, update_t*& result)
{
    for (update_t& update : updates) {
        if (update.location == location && sameLine(update.anchor, line)) {
            result = &update;
            return true;
        }
    }
    return false;
}

bool template_t::findUpdateOnAnchors(const std::vector<instance_line_t*>& anchors,
                                     int32_t location, update_t*& result)
{
    for (const instance_line_t* anchor : anchors) {
        if (anchor != nullptr && findUpdate(*anchor, location, result)) {
            return true;
        }
    }
    return false;
}

std::vector<lsc_region_t> template_t::collectLscRegions()
{
    // Conditions and updates that some region already took, by number.
    std::set<int32_t> takenConditions;
    std::set<int32_t> takenUpdates;
    std::vector<lsc_region_t> result;

    // Each message opens a region, which also takes the condition and the update at the
    // message's location on its target line, else on its source line.
    for (const message_t& message : messages) {
        lsc_region_t region;
        region.message = &message;
        condition_t* condition = nullptr;
        if ((message.target != nullptr && findCondition(*message.target, message.location, condition)) ||
            (message.source != nullptr && findCondition(*message.source, message.location, condition))) {
            region.condition = condition;
            takenConditions.insert(condition->number);
        }
        update_t* update = nullptr;
        if ((message.target != nullptr && findUpdate(*message.target, message.location, update)) ||
            (message.source != nullptr && findUpdate(*message.source, message.location, update))) {
            region.update = update;
            takenUpdates.insert(update->number);
        }
        region.number = static_cast<int32_t>(result.size());
        result.push_back(region);
    }

    // Each remaining condition opens a region with an update at its place on one of its
    // anchors.
    for (const condition_t& condition : conditions) {
        if (takenConditions.count(condition.number) != 0) {
            continue;
        }
        lsc_region_t region;
        region.condition = &condition;
        update_t* update = nullptr;
        if (findUpdateOnAnchors(condition.anchors, condition.location, update)) {
            region.update = update;
            takenUpdates.insert(update->number);
        }
        region.number = static_cast<int32_t>(result.size());
        result.push_back(region);
    }

    // Each remaining update is a region of its own.
    for (const update_t& update : updates) {
        if (takenUpdates.count(update.number) != 0) {
            continue;
        }
        lsc_region_t region;
        region.update = &update;
        region.number = static_cast<int32_t>(result.size());
        result.push_back(region);
    }
    return result;
}

// --- Regions and cuts --------------------------------------------------------------

lsc_region_t::lsc_region_t()
    : message(&emptyMessage()), condition(&emptyCondition()), update(&emptyUpdate())
{}

int32_t lsc_region_t::getLocation() const
{
    if (hasMessage()) {
        return message->location;
    }
    if (hasCondition()) {
        return condition->location;
    }
    if (hasUpdate()) {
        return update->location;
    }
    return -1;
}

bool isRegionInPrechart(const lsc_region_t& region)
{
    if (region.hasMessage()) {
        return region.message->inPrechart;
    }
    if (region.hasCondition()) {
        return region.condition->inPrechart;
    }
    if (region.hasUpdate()) {
        return region.update->inPrechart;
    }
    return false;
}

std::vector<lsc_region_t> lscRegionsOfInstanceLine(const instance_line_t& line,
                                                   const std::vector<lsc_region_t>& regions)
{
    std::vector<lsc_region_t> result;
    for (const lsc_region_t& region : regions) {
        bool onLine =
            (region.hasMessage() &&
             (sameLine(region.message->source, line) || sameLine(region.message->target, line))) ||
            (region.hasUpdate() && sameLine(region.update->anchor, line)) ||
            (region.hasCondition() &&
             std::any_of(region.condition->anchors.begin(), region.condition->anchors.end(),
                         [&](const instance_line_t* a) { return sameLine(a, line); }));
        if (onLine) {
            result.push_back(region);
        }
    }
    std::stable_sort(result.begin(), result.end(), [](const lsc_region_t& a, const lsc_region_t& b) {
        return a.getLocation() < b.getLocation();
    });
    return result;
}

bool lsc_cut_t::allInPrechart() const
{
    return std::all_of(regions.begin(), regions.end(), isRegionInPrechart);
}

bool lsc_cut_t::allInPrechartWith(const lsc_region_t& region) const
{
    return allInPrechart() && isRegionInPrechart(region);
}

void lsc_cut_t::eraseRegion(const lsc_region_t& region)
{
    auto it = std::find_if(regions.begin(), regions.end(),
                           [&](const lsc_region_t& r) { return r.number == region.number; });
    if (it != regions.end()) {
        regions.erase(it);
    }
}

bool lsc_cut_t::operator==(const lsc_cut_t& other) const
{
    if (regions.size() != other.regions.size()) {
        return false;
    }
    std::vector<int32_t> mine;
    std::vector<int32_t> theirs;
    for (const lsc_region_t& r : regions) {
        mine.push_back(r.number);
    }
    for (const lsc_region_t& r : other.regions) {
        theirs.push_back(r.number);
    }
    std::sort(mine.begin(), mine.end());
    std::sort(theirs.begin(), theirs.end());
    return mine == theirs;
}

bool lsc_cut_t::contains(const lsc_region_t& region) const
{
    return std::any_of(regions.begin(), regions.end(),
                       [&](const lsc_region_t& r) { return r.number == region.number; });
}

} // namespace ZOLT
