#pragma once

#include <functional>
#include <map>
#include <string>

#include "pipeline/pipeline.h"
#include "support/object.h"

// The registry through which compound stages and checkers obtain their member stages by name.
//
// Each name maps to a factory. Exchanging an entry changes the implementation that every stage
// built afterwards gets, which is how a run is adjusted to the model and the options. Names are
// the global constants of pipeline/keys.h, but entries are found by the text of the name, so two
// pointers to equal texts address the same entry. The registry keeps its own copy of each name.
class FilterConfiguration : public base::Object
{
public:
    // Makes a new stage; the registry is passed so that a compound stage can build its members.
    using Factory = pipeline::Connectable* (*)(FilterConfiguration*);

    // A registry holding the built-in entries (see registerBuiltinFilter).
    FilterConfiguration();

    // A new stage from the entry of that name, owned by the caller; null when there is no entry
    // or it holds no factory.
    pipeline::Connectable* get(const char* name);

    // A new stage converted to the interface the caller needs. A stage of another kind is deleted
    // and null returned, so the caller treats the member as absent.
    template <class Interface>
    Interface* getAs(const char* name)
    {
        pipeline::Connectable* stage = get(name);
        if (stage == nullptr) {
            return nullptr;
        }
        auto* typed = dynamic_cast<Interface*>(stage);
        if (typed == nullptr) {
            delete stage;
        }
        return typed;
    }

    // Creates the entry when absent and stores the factory (null allowed).
    void set(const char* name, Factory factory);

    // Creates both entries when absent (with no factory), then copies the source's present
    // factory into the target. Later changes to the source do not reach the target.
    void alias(const char* target, const char* source);

    // Erases the entry.
    void remove(const char* name);

private:
    std::map<std::string, Factory, std::less<>> factories;
};

// The built-in entries are made by the libraries that hold their stages, which sit above this
// one; each registers its factories here once at start-up. A registry gets, in a fixed order, an
// entry for every built-in name with whatever factory is registered for it (none when nothing
// was registered), and "goxa-extrapolation-filter" as an alias of "extrapolation-filter".
//
// The built-in names: "extrapolation-filter", "difference-extrapolation-filter",
// "local-extrapolation-filter", "lu-local-extrapolation-filter", "delay-filter",
// "successor-filter", "successor-filter-liveness", "transition-filter",
// "transition-filter-liveness", "tracestore-filter", "copy-filter", "priority-filter",
// "query-filter", "expansion-filter", "canonize-filter", "reachability-filter",
// "distance-filter". Registering any other name raises Bug.
void registerBuiltinFilter(const char* name, FilterConfiguration::Factory factory);

// Forgets every registered built-in factory.
void clearBuiltinFilters();
