#include "runtime/edge.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "runtime/clock_expression.h"
#include "runtime/intrusive_hash_table.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "support/exceptions.h"
#include "support/hash.h"

Edge::Edge() = default;

Edge::~Edge() = default;

void Edge::accept(ModelVisitor& visitor)
{
    visitor.visitEdge(this);
}

void Edge::setGuard(const ExpressionRef& g, const ExpressionRef& cg, const std::string& text)
{
    guard = g;
    clockGuard = cg;
    guardText = text;
}

void Edge::setSync(const ExpressionRef& s, const std::set<int32_t>& c, const std::string& text)
{
    sync = s;
    channels = c;
    syncText = text;
}

void Edge::setUpdate(const ExpressionRef& u, const std::string& text)
{
    update = u;
    updateText = text;
}

void Edge::setProbability(const ExpressionRef& p, const std::string& text)
{
    probability = p;
    probabilityText = text;
}

void Edge::addSelectRecord(int32_t number, const std::vector<int32_t>& values)
{
    selectRecords.push_front(SelectRecord{number, values});
}

IndexSet Edge::getWrites() const
{
    return update ? update->writes : IndexSet();
}

IndexSet Edge::getReads() const
{
    IndexSet reads;
    for (const ExpressionRef* e : {&clockGuard, &guard, &sync, &update}) {
        if (*e) {
            reads.insert((*e)->reads.begin(), (*e)->reads.end());
        }
    }
    return reads;
}

void Edge::computeClockMask(System* system)
{
    const size_t words = (system->getClockCount() + 31) / 32;
    clockMask.reset(new uint32_t[words > 0 ? words : 1]());
    IndexSet touched = getReads();
    const IndexSet written = getWrites();
    touched.insert(written.begin(), written.end());
    for (uint32_t clock : system->collectClocks(touched)) {
        if (clock < system->getClockCount()) {
            clockMask[clock >> 5] |= 1u << (clock & 31);
        }
    }
}

void Edge::print(std::ostream& os, int tabs) const
{
    const std::string indent(tabs > 0 ? static_cast<size_t>(tabs) : 0, '\t');
    const std::string processName = process != nullptr ? process->getName() : std::string();
    os << indent << processName << "." << (source != nullptr ? source->getName() : std::string()) << "->"
       << processName << "." << (target != nullptr ? target->getName() : std::string()) << " { " << indent
       << guardText << ", " << syncText << ", " << updateText << " }";
}

void Edge::writeTraceEntries(std::ostream& os) const
{
    const int32_t number = process != nullptr ? process->getNumber() : -1;
    for (const SelectRecord& record : selectRecords) {
        os << number << " " << record.number << " ";
        for (int32_t value : record.values) {
            os << value << " ";
        }
        os << ";" << " ";
    }
}

void Edge::addClockGuard(const ExpressionRef& constraint, const std::string& text)
{
    clockGuard = makeConjunction(clockGuard, constraint);
    guardText = guardText + " && (" + text + ")";
}

void Edge::markFlag(size_t i, size_t n)
{
    if (!flags) {
        flags.reset(new uint8_t[n]());
        flagCount = n;
    }
    if (i >= flagCount) {
        throw Bug("Edge::markFlag: flag index out of range");
    }
    flags[i] = 1;
}

uint8_t Edge::getFlag(size_t i) const
{
    return flags && i < flagCount ? flags[i] : 0;
}

// ---- Edge tuples --------------------------------------------------------------------------------

namespace {
// An interned tuple lives in one block: the table's node (link and hash), then the array with
// its null.
using Node = IntrusiveHashTable::Node;
constexpr size_t tupleOffset = sizeof(Node);
static_assert(tupleOffset % alignof(Edge*) == 0);

Edge** arrayOf(Node* node)
{
    return reinterpret_cast<Edge**>(reinterpret_cast<char*>(node) + tupleOffset);
}

// The interned empty tuple, null until first asked for and after clearEdgeTuples.
EdgeTuple& emptyTuple()
{
    static EdgeTuple tuple = nullptr;
    return tuple;
}

// Frees every node of the table, bucket by bucket, leaving it empty.
void freeTuples(IntrusiveHashTable& table)
{
    for (size_t i = 0; i < table.getBucketCount(); ++i) {
        Node* node = table.takeBucket(i);
        while (node != nullptr) {
            Node* next = node->next;
            std::free(node);
            node = next;
        }
    }
}

// The table owns its nodes: tuples still interned when the process ends are freed with it.
struct TupleTable
{
    IntrusiveHashTable table{12};

    TupleTable() = default;
    TupleTable(const TupleTable&) = delete;
    TupleTable& operator=(const TupleTable&) = delete;
    ~TupleTable()
    {
        emptyTuple() = nullptr;
        freeTuples(table);
    }
};

IntrusiveHashTable& tupleTable()
{
    static TupleTable tuples;
    return tuples.table;
}
}  // namespace

bool edgeTupleEquals(Edge* const* a, Edge* const* b)
{
    if (a == b) {
        return true;
    }
    for (;; ++a, ++b) {
        if (*a != *b) {
            return false;
        }
        if (*a == nullptr) {
            return true;
        }
    }
}

size_t edgeTupleSize(Edge* const* tuple)
{
    size_t n = 0;
    while (tuple[n] != nullptr) {
        ++n;
    }
    return n + 1;
}

Edge* const* internEdgeTuple(Edge* const* tuple)
{
    const size_t length = edgeTupleSize(tuple) * sizeof(Edge*);
    const uint32_t hash = static_cast<uint32_t>(base::hash64(tuple, length, 0));
    IntrusiveHashTable& table = tupleTable();
    for (IntrusiveHashTable::Node* node = table.bucketOf(hash); node != nullptr; node = node->next) {
        if (node->hash == hash) {
            Edge* const* stored = arrayOf(node);
            if (edgeTupleEquals(stored, tuple)) {
                return stored;
            }
        }
    }
    void* memory = std::malloc(tupleOffset + length);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    Node* node = static_cast<Node*>(memory);
    node->next = nullptr;
    node->hash = hash;
    std::memcpy(arrayOf(node), tuple, length);
    table.insert(node);
    return arrayOf(node);
}

bool isControllableTuple(Edge* const* tuple)
{
    for (; *tuple != nullptr; ++tuple) {
        if (!(*tuple)->controllable) {
            return false;
        }
    }
    return true;
}

void printEdgeTuple(std::ostream& os, Edge* const* tuple)
{
    for (; *tuple != nullptr; ++tuple) {
        (*tuple)->print(os, 0);
        os << "\n";
    }
}

EdgeTuple emptyEdgeTuple()
{
    EdgeTuple& tuple = emptyTuple();
    if (tuple == nullptr) {
        Edge* const terminator[1] = {nullptr};
        tuple = internEdgeTuple(terminator);
    }
    return tuple;
}

void clearEdgeTuples()
{
    emptyTuple() = nullptr;
    freeTuples(tupleTable());
}

size_t edgeTupleCount()
{
    return tupleTable().size();
}

Edge** copyEdgeTuple(Edge** destination, Edge* const* tuple)
{
    do {
        *destination++ = *tuple;
    } while (*tuple++ != nullptr);
    return destination;
}
