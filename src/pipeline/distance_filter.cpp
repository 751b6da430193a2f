#include "pipeline/distance_filter.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <ostream>
#include <set>

#include "pipeline/keys.h"
#include "runtime/channels.h"
#include "runtime/edge.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "runtime/variable.h"
#include "support/arith.h"
#include "support/exceptions.h"

namespace {

// The decimal integer at the start of the variable's value (0 when it starts with none), or the
// default when the variable is not defined.
int32_t environmentNumber(const char* name, int32_t fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return fallback;
    }
    return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

bool isBroadcast(int32_t channel)
{
    return channel >= 1 && static_cast<size_t>(channel) <= channelCount() && getChannel(channel).broadcast;
}

}  // namespace

// ---- DistanceAnalysis ----------------------------------------------------------------------------

int32_t DistanceAnalysis::satadd(int32_t a, int32_t b)
{
    const int32_t sum = base::addWrap(a, b);
    return sum < a || sum == infinity ? saturated : sum;
}

int32_t DistanceAnalysis::cross(int32_t d, const Process* p) const
{
    if (d == infinity) {
        return infinity;
    }
    const int32_t locations = static_cast<int32_t>(p->getLocationCount());
    const int32_t edges = static_cast<int32_t>(p->getEdges().size());
    d = satadd(d, processWeight);
    d = satadd(d, base::mulWrap(processLocationWeight, locations));
    return satadd(d, base::mulWrap(processEdgeWeight, edges));
}

DistanceAnalysis::DistanceAnalysis(System* system)
    : edgeWeight(environmentNumber("MIRVEK_DIST_EDGE", 3)),
      processWeight(environmentNumber("MIRVEK_DIST_PROC", 1)),
      processLocationWeight(environmentNumber("MIRVEK_DIST_PROCL", 0)),
      processEdgeWeight(environmentNumber("MIRVEK_DIST_PROCE", 0)),
      analyseClocks(std::getenv("MIRVEK_DIST_CLOCKS") != nullptr),
      system(system),
      processCount(system->getProcessCount())
{
    for (size_t p = 0; p < processCount; ++p) {
        Process* process = system->getProcess(p);
        for (const base::RefPtr<Edge>& ref : process->getEdges()) {
            Edge* edge = ref.get();
            enter(edge, edge->getGuard().get());
            if (analyseClocks) {
                enter(edge, edge->getClockGuard().get());
            }
            enter(edge, edge->getSync().get());
            enter(edge, edge->getUpdate().get());
            for (int32_t c : edge->getChannels()) {
                if (c > 0) {
                    senders[static_cast<uint32_t>(c)].push_back(edge);
                } else if (c < 0) {
                    receivers[static_cast<uint32_t>(-static_cast<int64_t>(c))].push_back(edge);
                }
            }
        }
        for (Location* location : process->getLocations()) {
            location->mark = false;
        }
    }
    computeReachable();
}

bool DistanceAnalysis::counts(uint32_t variable) const
{
    if (analyseClocks) {
        return true;
    }
    const size_t total = system->getVariables().size() + system->getExtraVariables().size();
    return variable >= total || dynamic_cast<ClockVariable*>(system->getVariable(variable)) == nullptr;
}

void DistanceAnalysis::enter(Edge* edge, const Expression* expression)
{
    if (expression == nullptr) {
        return;
    }
    // An edge is entered once per variable even when several of its expressions use it; its
    // entries are the last ones, since edges are entered one after the other.
    auto add = [edge](EdgeList& list) {
        if (list.empty() || list.back() != edge) {
            list.push_back(edge);
        }
    };
    for (uint32_t v : expression->writes) {
        if (counts(v)) {
            add(writers[v]);
        }
    }
    for (uint32_t v : expression->reads) {
        if (counts(v)) {
            add(readers[v]);
        }
    }
}

const DistanceAnalysis::EdgeList* DistanceAnalysis::find(const std::map<uint32_t, EdgeList>& map, uint32_t key)
{
    auto found = map.find(key);
    return found == map.end() ? nullptr : &found->second;
}

bool DistanceAnalysis::isRelevant(const Edge* edge) const
{
    if (!edge->source->mark) {
        return false;
    }
    const std::set<int32_t>& channels = edge->getChannels();
    if (channels.empty()) {
        return true;
    }
    const Process* process = edge->getProcess();
    auto partnerExists = [process](const EdgeList* partners) {
        if (partners != nullptr) {
            for (const Edge* partner : *partners) {
                if (partner->getProcess() != process && partner->source->mark) {
                    return true;
                }
            }
        }
        return false;
    };
    for (int32_t c : channels) {
        if (c == 0) {
            return true;
        }
        if (c > 0) {
            if (isBroadcast(c) || partnerExists(find(receivers, static_cast<uint32_t>(c)))) {
                return true;
            }
        } else if (partnerExists(find(senders, static_cast<uint32_t>(-static_cast<int64_t>(c))))) {
            return true;
        }
    }
    return false;
}

void DistanceAnalysis::computeReachable()
{
    std::deque<Location*> queue;
    std::vector<Edge*> pending;
    for (size_t p = 0; p < processCount; ++p) {
        queue.push_back(system->getProcess(p)->initialLocation);
    }
    while (!queue.empty()) {
        while (!queue.empty()) {
            Location* location = queue.front();
            queue.pop_front();
            if (location == nullptr || location->mark) {
                continue;
            }
            location->mark = true;
            const Process* process = system->getProcess(static_cast<size_t>(location->getProcessNumber()));
            for (const base::RefPtr<Edge>& edge :
                 process->getOutgoingEdges(static_cast<size_t>(location->getIndexInProcess()))) {
                if (isRelevant(edge.get())) {
                    queue.push_back(edge->target);
                } else {
                    pending.push_back(edge.get());
                }
            }
        }
        // Edges that waited for a partner: those that have one now lead on.
        size_t kept = 0;
        for (Edge* edge : pending) {
            if (isRelevant(edge)) {
                queue.push_back(edge->target);
            } else {
                pending[kept++] = edge;
            }
        }
        pending.resize(kept);
    }
}

bool DistanceAnalysis::seed(Expression* target)
{
    for (size_t p = 0; p < processCount; ++p) {
        Process* process = system->getProcess(p);
        for (Location* location : process->getLocations()) {
            location->distance = infinity;
        }
        for (const base::RefPtr<Edge>& edge : process->getEdges()) {
            edge->distance = infinity;
        }
    }
    if (target == nullptr) {
        return false;
    }
    // Only a target that names a location or a variable some edge writes gives the edges a
    // distance. Any other target (one about clocks or constants only, or a deadlock test) would
    // leave every edge at infinity and so order nothing: then the distances are not used.
    bool seeded = false;
    const size_t total = system->getVariables().size() + system->getExtraVariables().size();
    for (uint32_t v : target->reads) {
        if (v >= total) {
            continue;
        }
        if (auto* place = dynamic_cast<LocationVariable*>(system->getVariable(v))) {
            const Process* process = system->getProcess(static_cast<size_t>(place->getProcessNumber()));
            for (const base::RefPtr<Edge>& edge :
                 process->getIncomingEdges(static_cast<size_t>(place->getLocation()->getIndexInProcess()))) {
                setEdgeDistance(edge.get(), 1);
            }
            seeded = true;
        } else if (const EdgeList* edges = find(writers, v)) {
            for (Edge* edge : *edges) {
                setEdgeDistance(edge, 1);
            }
            seeded = true;
        }
    }
    return seeded;
}

void DistanceAnalysis::pushReads(const Expression* expression, const Process* process, int32_t c)
{
    if (expression == nullptr) {
        return;
    }
    const int32_t f = cross(c, process);
    for (uint32_t v : expression->reads) {
        if (!counts(v)) {
            continue;
        }
        if (const EdgeList* edges = find(writers, v)) {
            for (Edge* writer : *edges) {
                if (writer->getProcess() != process) {
                    work.emplace_back(writer, f);
                }
            }
        }
    }
}

void DistanceAnalysis::setEdgeDistance(Edge* first, int32_t d0)
{
    // Depth first: the children of an edge are pushed in reverse, so that they are taken in order
    // and each one's own children before the next sibling.
    work.clear();
    work.emplace_back(first, d0);
    while (!work.empty()) {
        auto [edge, d] = work.back();
        work.pop_back();
        if (d >= edge->distance || !isRelevant(edge)) {
            continue;
        }
        edge->distance = d;
        edge->source->distance = d;
        const size_t mark = work.size();
        const Process* process = edge->getProcess();

        for (const base::RefPtr<Edge>& entering :
             process->getIncomingEdges(static_cast<size_t>(edge->source->getIndexInProcess()))) {
            work.emplace_back(entering.get(), satadd(d, edgeWeight));
        }
        const int32_t c = cross(d, process);
        pushReads(edge->getGuard().get(), process, c);
        pushReads(edge->getClockGuard().get(), process, c);
        pushReads(edge->getSync().get(), process, c);
        pushReads(edge->getUpdate().get(), process, c);
        pushReads(edge->target->getInvariant().get(), process, c);
        for (int32_t k : edge->getChannels()) {
            const EdgeList* partners = nullptr;
            if (k > 0 && !isBroadcast(k)) {
                partners = find(receivers, static_cast<uint32_t>(k));
            } else if (k < 0) {
                partners = find(senders, static_cast<uint32_t>(-static_cast<int64_t>(k)));
            }
            if (partners != nullptr) {
                for (Edge* partner : *partners) {
                    if (partner->getProcess() != process) {
                        work.emplace_back(partner, c);
                    }
                }
            }
        }
        std::reverse(work.begin() + static_cast<std::ptrdiff_t>(mark), work.end());
    }
}

bool DistanceAnalysis::onlyOf(const EdgeList* edges, const Process* process)
{
    if (edges != nullptr) {
        for (const Edge* edge : *edges) {
            if (edge->getProcess() != process) {
                return false;
            }
        }
    }
    return true;
}

void DistanceAnalysis::printDot(std::ostream& os) const
{
    struct Summary
    {
        const Process* process;
        int32_t smallest = infinity;
        int32_t largest = -infinity;
        std::set<uint32_t> reads;
        std::set<uint32_t> writes;
        std::set<uint32_t> sends;
        std::set<uint32_t> receives;
    };
    auto local = [this](uint32_t v, const Process* process) {
        const EdgeList* written = find(writers, v);
        return written == nullptr || (onlyOf(written, process) && onlyOf(find(readers, v), process));
    };

    std::vector<Summary> relevant;
    std::vector<const Process*> irrelevant;
    std::set<uint32_t> variables;
    std::set<uint32_t> channels;
    for (size_t p = 0; p < processCount; ++p) {
        Summary s;
        s.process = system->getProcess(p);
        for (const base::RefPtr<Edge>& edge : s.process->getEdges()) {
            s.smallest = std::min(s.smallest, edge->distance);
            s.largest = std::max(s.largest, edge->distance);
            for (const Expression* e :
                 {edge->getClockGuard().get(), edge->getGuard().get(), edge->getSync().get(), edge->getUpdate().get()}) {
                if (e != nullptr) {
                    for (uint32_t v : e->reads) {
                        if (!local(v, s.process)) {
                            s.reads.insert(v);
                        }
                    }
                }
            }
            if (const Expression* update = edge->getUpdate().get()) {
                for (uint32_t v : update->writes) {
                    if (!local(v, s.process)) {
                        s.writes.insert(v);
                    }
                }
            }
            for (int32_t c : edge->getChannels()) {
                if (c > 0) {
                    s.sends.insert(static_cast<uint32_t>(c));
                } else if (c < 0) {
                    const auto received = static_cast<uint32_t>(-static_cast<int64_t>(c));
                    if (find(senders, received) != nullptr) {
                        s.receives.insert(received);
                    }
                }
            }
        }
        if (s.smallest == infinity) {
            irrelevant.push_back(s.process);
            continue;
        }
        variables.insert(s.reads.begin(), s.reads.end());
        variables.insert(s.writes.begin(), s.writes.end());
        channels.insert(s.sends.begin(), s.sends.end());
        channels.insert(s.receives.begin(), s.receives.end());
        relevant.push_back(std::move(s));
    }

    os << "digraph distances {\n";
    os << "  params[shape=box,label=\"" << "Edge distance       = " << edgeWeight
       << "\\nProcess distance   = " << processWeight << "\\nProcess L distance = " << processLocationWeight
       << "\\nProcess E distance = " << processEdgeWeight << "\\nAnalysing clocks   : " << (analyseClocks ? 1 : 0);
    if (!irrelevant.empty()) {
        os << "\\nIrrelevant processes:\\n" << irrelevant[0]->getName();
        for (size_t k = 1; k < irrelevant.size(); ++k) {
            os << (k % 3 != 0 ? ", " : ",\\n") << irrelevant[k]->getName();
        }
        os << ".";
    }
    os << "\"];\n";

    os << "  subgraph cluste_procs {\n";
    os << "    node [shape=ellipse,style=filled];\n";
    for (const Summary& s : relevant) {
        os << "    proc" << s.process->getNumber() << "[label=\"" << s.process->getName() << "\\n"
           << "(L=" << s.process->getLocationCount() << ",E=" << s.process->getEdges().size() << ")\\n"
           << "[" << s.smallest << ":";
        if (s.largest == infinity) {
            os << "inf";
        } else {
            os << s.largest;
        }
        os << "]\"];\n";
    }
    os << "  }\n";

    os << "  subgraph cluste_vars {\n";
    os << "    node [shape=rectangle,color=blue];\n";
    for (uint32_t v : variables) {
        os << "    var" << v << "[label=\"" << system->getVariable(v)->getName() << "\"];\n";
    }
    os << "  }\n";

    os << "  subgraph cluste_chans {\n";
    os << "    node [shape=diamond,color=red];\n";
    for (uint32_t c : channels) {
        os << "    chan" << c << "[label=\"" << getChannel(static_cast<int32_t>(c)).name << "\"];\n";
    }
    os << "  }\n";

    for (const Summary& s : relevant) {
        const int32_t n = s.process->getNumber();
        os << "  edge[style=bold,color=blue,weight=100];\n";
        for (uint32_t v : s.writes) {
            os << "    proc" << n << " -> var" << v << ";\n";
        }
        for (uint32_t c : s.sends) {
            os << "    proc" << n << " -> chan" << c << ";\n";
        }
        os << "  edge [style=solid,color=darkgreen,weight=1];\n";
        for (uint32_t v : s.reads) {
            os << "    var" << v << " -> proc" << n << ";\n";
        }
        for (uint32_t c : s.receives) {
            os << "    chan" << c << " -> proc" << n << ";\n";
        }
    }
    os << "}" << std::endl;
}

// ---- DistanceFilter ------------------------------------------------------------------------------

DistanceFilter::DistanceFilter() = default;

DistanceFilter::~DistanceFilter() = default;

void DistanceFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    } else if (key == PROPERTY_TARGET_ORDER) {
        enabled = true;
    } else if (key == PROPERTY_EXPRESSION) {
        target = static_cast<Expression*>(value);
    }
}

void DistanceFilter::begin()
{
    if (!enabled) {
        return;
    }
    if (!system) {
        throw Bug("Distance guidance without a System");
    }
    active = false;
    analysis.reset();
    analysis = std::make_unique<DistanceAnalysis>(system.get());
    active = analysis->seed(target.get());
    if (const char* map = std::getenv("MIRVEK_DIST_MAP")) {
        std::ofstream out(map, std::ios::out | std::ios::trunc);
        if (out) {
            analysis->printDot(out);
            out.flush();
        }
        if (!out) {
            // The user asked for the file: say that it is not there rather than pass in silence.
            std::cerr << "Cannot write the distance map " << map << ": " << std::strerror(errno) << "\n";
        }
    }
    distVariable = system->findVariable("#dist");
    cost = environmentNumber("MIRVEK_DIST_COST", 0);
    xcost = environmentNumber("MIRVEK_DIST_XCOST", 1);
}

bool DistanceFilter::forward(Successor* item)
{
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    return next->put(item);
}

bool DistanceFilter::put(Successor* item)
{
    if (!active || item == nullptr) {
        if (item == nullptr) {
            return next != nullptr ? next->put(nullptr) : true;
        }
        return forward(item);
    }
    constexpr int32_t infinity = DistanceAnalysis::infinity;
    int32_t t = infinity;
    int32_t m = infinity;
    if (item->transition != nullptr) {
        for (EdgeTuple edge = item->transition; *edge != nullptr; ++edge) {
            t = std::min(t, (*edge)->target->distance);
            m = std::min(m, (*edge)->distance);
        }
    }
    SymbolicState* state = item->state;
    const int32_t v = distVariable != nullptr ? distVariable->getValue(state) : 0;
    int32_t estimate;
    if (v == infinity || m == infinity) {
        // The analysis sees no way to the target from here, but it is an estimate, not a proof:
        // an edge it leaves out (a committed process that must move first, a step of a process
        // the target does not mention) may still lead there. Such successors are explored after
        // every other one, and so are their own successors.
        estimate = infinity;
    } else if (cost == 0 && xcost == 0) {
        estimate = t;
    } else if (t == infinity) {
        estimate = infinity;
    } else {
        const int32_t h = v != 0 ? v : t;
        if (h == infinity) {
            estimate = infinity;
        } else {
            const int32_t s = DistanceAnalysis::satadd(h, cost);
            const int32_t u = base::addWrap(base::mulWrap(t, xcost), s);
            estimate = u < s || u == infinity ? DistanceAnalysis::saturated : u;
        }
    }
    if (distVariable != nullptr) {
        distVariable->setValue(state, estimate);
    }
    return forward(item);
}

pipeline::Connectable* makeDistanceFilter(FilterConfiguration*)
{
    return new DistanceFilter;
}
