#pragma once

// Translation of a scenario chart (a live sequence chart) into an observer automaton. The
// translator adds to the parsed model an observer process that follows the chart's progress and
// instruments the observed processes so that each communication on a chart channel is reported to
// the observer; the scenario property then becomes the leads-to property from the observer's
// location "lmin" to its location "lmax".

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "driver/scenario_model_facts.h"
#include "frontend/system_builder.h"
#include "language/lsc.h"
#include "language/system.h"

// What translateScenarioProperty leaves: the property to check on the modified model, and whether
// the model was changed.
struct ScenarioTranslation
{
    ZOLT::expression_t property;   // OBSERVER_LEADS_TO: <observer>.lmin --> <observer>.lmax
    bool modelChanged = false;
};

// A chart with no message, condition or update outside its prechart: nothing of it is required
// once the prechart has happened, so there is no property to check. The message names the chart.
class ChartWithoutMainChart : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Translates the scenario property over the chart instance `scenarioName` (the name the query
// gives) in `model`, reading the compiled view of the model from `facts`. Throws
// std::runtime_error "$No_such_scenario: <name>" when the name is not declared,
// "$Not_a_LSC_template: <name>" when it names no chart, ChartWithoutMainChart
// "$Chart_without_main_chart: <chart>" (the model unchanged), and the translation's own failures
// (Translator::translateScenario). The model may be partly changed after those.
ScenarioTranslation translateScenarioProperty(ZOLT::TimedAutomataSystem& model, const std::string& scenarioName,
                                              const ScenarioModelFacts& facts);
// The same with the facts taken from the parsed model itself.
ScenarioTranslation translateScenarioProperty(ZOLT::TimedAutomataSystem& model, const std::string& scenarioName);

// The translator is a system builder over the parsed model: it declares templates, locations,
// edges, variables and instances through the builder operations.
class Translator : public ZOLT::SystemBuilder
{
public:
    // `scenario` is the chart instance that the property names (a chart template is its own
    // instance); `facts` must outlive the translator.
    Translator(ZOLT::TimedAutomataSystem* model, const ScenarioModelFacts& facts, ZOLT::instance_t& scenario);
    ~Translator() override;

    // Builds the observer, instruments the processes and adds the observer to the system. Throws
    // std::runtime_error on failure: "$No_such_TA_process: <text>" for an instance line that
    // names no process, "Unresolved symbol" for a name that must exist and does not, "Error in
    // Translator::getMapping()." for a parameter value that is no integer, "Source not found"
    // when the cut exploration loses a cut.
    void translateScenario();

    // One observer location per cut of the chart: the regions that have happened.
    struct CutEntry
    {
        std::vector<ZOLT::lsc_region_t> regions;
        int32_t location = 0;
    };

    const std::map<int32_t, CutEntry>& getCuts() const { return cuts; }
    const std::map<std::string, int32_t>& getProcessIds() const { return processIds; }
    const std::string& getSuffix() const { return suffix; }

protected:
    // --- Preparation of the model ----------------------------------------------------------
    void buildObserver();
    void prepareModel();
    void checkInstanceLines();
    void expandProcessSets();
    // The parameters of `templ` (an instance or template record) that `bindings` names, each
    // bound to an integer constant of its value, in the order the parameters are declared.
    std::vector<std::pair<ZOLT::binding_t, ZOLT::expression_t>>
    getMapping(const std::vector<std::pair<std::string, std::string>>& bindings, const ZOLT::instance_t& templ);
    ZOLT::template_t* copyTemplate(ZOLT::template_t& source, const std::string& processName);
    void beginTemplateCopy(const ZOLT::template_t& source, const std::string& name);
    // Declares an instance `name` of the template or instance `templateName` with the arguments
    // in the template's parameter order; returns its record.
    ZOLT::instance_t& declareInstance(const std::string& name, const std::string& templateName, uint32_t argumentCount,
                                      const std::vector<std::pair<ZOLT::binding_t, ZOLT::expression_t>>& arguments,
                                      uint64_t freeCount);
    void declareIdVariable(std::string& name);
    void declareFlagVariable(std::string& name, bool initial);

    // --- The observer automaton ------------------------------------------------------------
    void buildCutAutomaton();
    void exploreCut(ZOLT::lsc_cut_t& cut);
    std::vector<ZOLT::lsc_region_t> enabledRegions(const ZOLT::lsc_cut_t& cut) const;
    std::string locationName(int32_t number) const;
    std::string newLocationName(bool isMin, bool isMax, int32_t& number);
    void labelProgressEdge(const ZOLT::lsc_region_t& region);
    void labelMessageEdge(const ZOLT::message_t& message, bool withGuard, bool withReset);
    ZOLT::expression_t negateCondition(const ZOLT::expression_t& condition, bool collect);
    std::vector<ZOLT::expression_t> collectProcessSyncs();
    std::vector<ZOLT::expression_t> channelElements(const ZOLT::expression_t& channel) const;
    bool isMessageChannel(const ZOLT::expression_t& channel) const;
    bool isNewSenderReceiverPair(const ZOLT::message_t& message, const std::vector<const ZOLT::message_t*>& list);
    void addListeningLoops();
    void addColdFailureEdges();
    void addPrechartAbortEdges();
    void addInvariantModeLoops();
    bool hasEdge(const std::string& from, const std::string& to, const ZOLT::expression_t& sync);
    void removeGuardedLoops(const std::string& from, const std::string& to, const ZOLT::expression_t& sync);
    void addErrorLocation();
    // True when the cut and its first enabled region all lie in the prechart.
    bool inPrechartPhase(const ZOLT::lsc_cut_t& cut) const;
    ZOLT::expression_t rebind(const ZOLT::expression_t& e) const;

    // --- Instrumentation of the processes ----------------------------------------------------
    void chooseChannelSuffix();
    void splitSendingEdges();
    void redirectObserverSyncs();
    void addCommittedFlag();
    void recordSendersAndReceivers();
    ZOLT::binding_t declareCopyChannel(const ZOLT::expression_t& sync, const std::string& name);
    // The channel of a synchronisation of `process` is a chart channel.
    bool isChartSync(const ZOLT::expression_t& sync, const ZOLT::instance_t& process);

    // --- Shared helpers ----------------------------------------------------------------------
    ZOLT::binding_t resolveOrThrow(const std::string& name);
    ZOLT::expression_t makeIdTest(const std::string& name, int32_t value);
    ZOLT::expression_t conjoin(const ZOLT::expression_t& a, const ZOLT::expression_t& b) const;
    ZOLT::expression_t addIdTest(const ZOLT::expression_t& guard, const std::string& name, int32_t value);
    ZOLT::expression_t makeIdAssignment(const std::string& name, int32_t value);
    ZOLT::expression_t appendUpdate(const ZOLT::expression_t& update, const ZOLT::expression_t& assignment) const;
    ZOLT::expression_t addIdAssignment(const ZOLT::expression_t& update, const std::string& name, int32_t value);
    ZOLT::expression_t makeIdReset();
    ZOLT::expression_t makeFlagTest(const std::string& name, bool positive);
    ZOLT::expression_t addFlagTest(const ZOLT::expression_t& guard, const std::string& name, bool positive);
    ZOLT::expression_t makeFlagAssignment(const std::string& name, bool value);
    ZOLT::expression_t addFlagAssignment(const ZOLT::expression_t& update, const std::string& name, bool value);
    ZOLT::expression_t makeMessageGuard(const ZOLT::message_t& message);
    ZOLT::expression_t instantiateExpression(const ZOLT::expression_t& e, const ZOLT::instance_t& instance) const;
    void substituteArguments(ZOLT::expression_t& e, const ZOLT::instance_t& instance, int depth) const;
    int32_t processId(const ZOLT::instance_line_t* line);

    ZOLT::template_t& chart() const { return *scenario.definingTemplate; }

    std::map<int32_t, CutEntry> cuts;
    const ScenarioModelFacts& facts;
    ZOLT::instance_t& scenario;
    ZOLT::instance_t* observer = nullptr;
    std::map<std::string, int32_t> processIds;
    std::string templateName = "obsTATemplate";
    std::string senderVariable = "src";
    std::string receiverVariable = "dst";
    std::string committedFlag = "nxtCmt";
    std::string mayFireFlag = "mayFire";
    std::string suffix = "_o";
    int32_t minLocation = -1;
    int32_t maxLocation = -1;
    int32_t errorLocation = -1;
    std::vector<ZOLT::lsc_region_t> regions;
    std::vector<ZOLT::expression_t> negation;

private:
    // The negation of a condition as one expression; empty when the condition has none here.
    ZOLT::expression_t negated(const ZOLT::expression_t& condition);
};

// The translator the model checker makes.
class Composer : public Translator
{
public:
    using Translator::Translator;
    ~Composer() override;
};
