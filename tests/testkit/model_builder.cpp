#include "testkit/model_builder.h"

#include <stdexcept>

#include "runtime/channels.h"

namespace testkit {

ModelBuilder::ModelBuilder() : sys(new System())
{
    clearChannels();
    clearEdgeTuples();
    sys->addClock("t(0)", false, 0.0);
}

ClockVariable* ModelBuilder::clock(const std::string& name)
{
    return sys->addClock(name, false, 0.0);
}

StateVariable* ModelBuilder::variable(const std::string& name, int32_t lower, int32_t upper, int32_t initial)
{
    return sys->addStateVariable(name, lower, upper, initial, false);
}

int32_t ModelBuilder::channel(const std::string& name, bool urgent, bool broadcast)
{
    const int32_t number = registerChannel(urgent, broadcast, name);
    sys->addConstant(number, false);
    return number;
}

Process* ModelBuilder::process(const std::string& name, const std::vector<LocationSpec>& locations)
{
    base::RefPtr<Process> process(new Process(locations.size(), name));
    const int32_t number = static_cast<int32_t>(sys->getProcessCount());
    for (size_t k = 0; k < locations.size(); ++k) {
        const LocationSpec& spec = locations[k];
        Location* location = sys->getLocationTable().add(number, static_cast<int32_t>(k), spec.name, spec.committed,
                                                         spec.urgent, false);
        if (spec.invariant) {
            location->setInvariant(spec.invariant, spec.invariantText);
        }
        location->setCostRate(constant(0));
        process->setLocation(k, location);
    }
    process->initialLocation = process->getLocation(0);
    sys->addProcess(process, false);
    edges.emplace_back();
    return process.get();
}

Location* ModelBuilder::location(const Process* process, const std::string& name) const
{
    for (Location* location : process->getLocations()) {
        if (location->getName() == name) {
            return location;
        }
    }
    throw std::invalid_argument("no location " + name + " in " + process->getName());
}

Edge* ModelBuilder::edge(Process* process, const std::string& from, const std::string& to, const EdgeSpec& spec)
{
    base::RefPtr<Edge> edge(new Edge());
    edge->source = location(process, from);
    edge->target = location(process, to);
    edge->setGuard(spec.guard ? spec.guard : constant(1), spec.clockGuard ? spec.clockGuard : constant(1),
                   spec.guardText);
    std::set<int32_t> channels;
    std::string syncText = "tau";
    if (spec.sync != 0) {
        channels.insert(spec.sync);
        const int32_t c = spec.sync > 0 ? spec.sync : -spec.sync;
        syncText = getChannel(c).name + (spec.sync > 0 ? "!" : "?");
    }
    edge->setSync(constant(spec.sync), channels, syncText);
    if (spec.update) {
        edge->setUpdate(spec.update, spec.updateText);
    } else {
        edge->setUpdate(nullptr, spec.updateText);
    }
    edges[static_cast<size_t>(process->getNumber())].push_back(edge);
    return edge.get();
}

base::RefPtr<System> ModelBuilder::finish()
{
    for (size_t p = 0; p < edges.size(); ++p) {
        sys->getProcesses()[p]->setEdges(edges[p]);
    }
    sys->propagateLocationBounds();
    sys->checkHybridClocks();
    return sys;
}

TwoProcessModel makeTwoProcessModel(bool urgentChannel, bool broadcastChannel)
{
    ModelBuilder b;
    TwoProcessModel m;
    m.x = b.clock("x");
    m.y = b.clock("y");
    m.n = b.variable("n", 0, 10, 1);
    m.channel = b.channel("c", urgentChannel, broadcastChannel);
    m.p = b.process("P", {{"A", clockUpper(m.x, false, 5), "x <= 5"}, {"B"}});
    m.q = b.process("Q", {{"A"}, {"B", clockUpper(m.y, false, 3), "y <= 3"}});
    EdgeSpec send;
    send.guard = compare(m.n, Relation::Less, 10);
    send.clockGuard = clockLower(m.x, false, 2);
    send.guardText = "n < 10 && x >= 2";
    send.sync = m.channel;
    send.update = sequence(assign(m.x, 0), ExpressionRef(new IncrementVariable(base::RefPtr<Variable>(m.n))));
    send.updateText = "x := 0, n := n + 1";
    m.send = b.edge(m.p, "A", "B", send);
    EdgeSpec receive;
    receive.sync = -m.channel;
    receive.update = assign(m.y, 0);
    receive.updateText = "y := 0";
    m.receive = b.edge(m.q, "A", "B", receive);
    m.system = b.finish();
    m.pA = b.location(m.p, "A");
    m.pB = b.location(m.p, "B");
    m.qA = b.location(m.q, "A");
    m.qB = b.location(m.q, "B");
    return m;
}

}  // namespace testkit
