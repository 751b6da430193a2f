#include "pipeline/filter_configuration.h"

#include <array>
#include <cstring>
#include <string>

#include "pipeline/keys.h"
#include "support/exceptions.h"

namespace {

// The built-in names in the order a new registry enters them; the alias of
// "goxa-extrapolation-filter" is taken right after "extrapolation-filter".
constexpr std::array<const char*, 17> builtinNames = {
    FILTER_EXTRAPOLATION,  FILTER_DIFFERENCE_EXTRAPOLATION, FILTER_LOCAL_EXTRAPOLATION,
    FILTER_LU_LOCAL_EXTRAPOLATION, FILTER_DELAY, FILTER_SUCCESSOR, FILTER_SUCCESSOR_LIVENESS,
    FILTER_TRANSITION, FILTER_TRANSITION_LIVENESS, FILTER_TRACESTORE, FILTER_COPY, FILTER_PRIORITY,
    FILTER_QUERY, FILTER_EXPANSION, FILTER_CANONIZE, FILTER_REACHABILITY, FILTER_DISTANCE,
};

std::array<FilterConfiguration::Factory, builtinNames.size()>& builtinFactories()
{
    static std::array<FilterConfiguration::Factory, builtinNames.size()> factories{};
    return factories;
}

}  // namespace

void registerBuiltinFilter(const char* name, FilterConfiguration::Factory factory)
{
    for (std::size_t i = 0; i < builtinNames.size(); ++i) {
        if (std::strcmp(builtinNames[i], name) == 0) {
            builtinFactories()[i] = factory;
            return;
        }
    }
    throw Bug(std::string("Not a built-in filter name: ") + name);
}

void clearBuiltinFilters()
{
    builtinFactories().fill(nullptr);
}

FilterConfiguration::FilterConfiguration()
{
    for (std::size_t i = 0; i < builtinNames.size(); ++i) {
        set(builtinNames[i], builtinFactories()[i]);
        if (builtinNames[i] == FILTER_EXTRAPOLATION) {
            alias(FILTER_GOXA_EXTRAPOLATION, FILTER_EXTRAPOLATION);
        }
    }
}

pipeline::Connectable* FilterConfiguration::get(const char* name)
{
    auto found = factories.find(name);
    if (found == factories.end() || found->second == nullptr) {
        return nullptr;
    }
    return found->second(this);
}

void FilterConfiguration::set(const char* name, Factory factory)
{
    auto found = factories.find(name);
    if (found == factories.end()) {
        factories.emplace(name, factory);
    } else {
        found->second = factory;
    }
}

void FilterConfiguration::alias(const char* target, const char* source)
{
    auto found = factories.find(source);
    Factory factory = nullptr;
    if (found == factories.end()) {
        factories.emplace(source, nullptr);
    } else {
        factory = found->second;
    }
    set(target, factory);
}

void FilterConfiguration::remove(const char* name)
{
    auto found = factories.find(name);
    if (found != factories.end()) {
        factories.erase(found);
    }
}
