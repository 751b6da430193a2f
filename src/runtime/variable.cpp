#include "runtime/variable.h"

#include <cmath>
#include <limits>
#include <ostream>
#include <utility>

#include "runtime/location.h"
#include "support/arith.h"
#include "support/exceptions.h"

namespace {
[[noreturn]] void noStorage()
{
    throw Bug("Variable::setValue() should never be called.");
}
}  // namespace

bool truncateToInt32(double value, int32_t& out)
{
    // Every double in (-2147483649, 2147483648) truncates to an int32; NaN fails both tests.
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return false;
    }
    out = static_cast<int32_t>(value);
    return true;
}

int32_t doubleToInt32(double value)
{
    int32_t out;
    return truncateToInt32(value, out) ? out : std::numeric_limits<int32_t>::min();
}

// ---- Variable -----------------------------------------------------------------------------------

Variable::Variable(const std::string& name, int32_t initialValue, int32_t lowerBound, int32_t upperBound,
                   bool constant)
    : constant(constant), initialValue(initialValue), lowerBound(lowerBound), upperBound(upperBound), name(name)
{}

void Variable::accept(ExpressionVisitor&) {}

int32_t Variable::evaluate(PublicState* state)
{
    return getValue(state);
}

int32_t Variable::getValue(PublicState*)
{
    return initialValue;
}

double Variable::getDoubleValue(PublicState* state)
{
    return getValue(state);
}

bool Variable::setValue(PublicState*, int32_t)
{
    noStorage();
}

bool Variable::setDoubleValue(PublicState* state, double value)
{
    int32_t v;
    if (!truncateToInt32(value, v)) {
        return false;
    }
    return setValue(state, v);
}

bool Variable::add(PublicState* state, int32_t delta)
{
    return setValue(state, base::addWrap(getValue(state), delta));
}

std::string Variable::getName() const
{
    return name;
}

void Variable::print(std::ostream& os) const
{
    os << index << ":unknown" << std::endl;
}

void Variable::assign(PublicState* state, int32_t value)
{
    setValue(state, value);
}

void Variable::assignDouble(PublicState* state, double value)
{
    setDoubleValue(state, value);
}

// ---- Constants ----------------------------------------------------------------------------------

ConstantVariable::ConstantVariable(int32_t value, bool constant) : Variable("", value, value, value, constant) {}

int32_t ConstantVariable::getValue(PublicState*)
{
    return initialValue;
}

void ConstantVariable::print(std::ostream& os) const
{
    os << index << ":const:" << initialValue;
}

void ConstantVariable::assign(PublicState*, int32_t value)
{
    initialValue = value;
    lowerBound = value;
    upperBound = value;
}

ConstantFPVariable::ConstantFPVariable(double value) : Variable("", 0, 0, 0, true), value(value) {}

int32_t ConstantFPVariable::getValue(PublicState*)
{
    return initialValue;
}

double ConstantFPVariable::getDoubleValue(PublicState*)
{
    return value;
}

void ConstantFPVariable::print(std::ostream& os) const
{
    os << "const:" << value;
}

void ConstantFPVariable::assignDouble(PublicState*, double v)
{
    value = v;
}

// ---- Clocks -------------------------------------------------------------------------------------

ClockVariable::ClockVariable(const std::string& name, int32_t clockNumber, double initialClockValue)
    : Variable(name, 0, 0, 0x3fffffff, true), clockNumber(clockNumber), initialClockValue(initialClockValue)
{}

int32_t ClockVariable::getValue(PublicState*)
{
    return clockNumber;
}

double ClockVariable::getDoubleValue(PublicState* state)
{
    double value;
    state->getClockValue(static_cast<uint32_t>(clockNumber), value);
    return value;
}

bool ClockVariable::setValue(PublicState* state, int32_t value)
{
    if (value < 0) {
        return false;
    }
    state->resetClock(static_cast<uint32_t>(clockNumber), value);
    return true;
}

bool ClockVariable::setDoubleValue(PublicState* state, double value)
{
    state->setClockValue(static_cast<uint32_t>(clockNumber), value);
    return true;
}

void ClockVariable::print(std::ostream& os) const
{
    os << index << ":clock:" << clockNumber << ":" << name;
}

// ---- Integers in states -------------------------------------------------------------------------

StateVariable::StateVariable(const std::string& name, int32_t lower, int32_t upper, int32_t initialValue,
                             uint64_t position)
    : Variable(name, initialValue, lower, upper, false), position(position)
{}

int32_t StateVariable::getValue(PublicState* state)
{
    return std::as_const(*state).getVariables()[position];
}

bool StateVariable::setValue(PublicState* state, int32_t value)
{
    if (value < lowerBound || value > upperBound) {
        return false;
    }
    state->getVariables()[position] = value;
    return true;
}

void StateVariable::print(std::ostream& os) const
{
    os << index << ":var:" << lowerBound << ":" << upperBound << ":" << initialValue << ":" << position << ":"
       << name;
}

StateMetaVariable::StateMetaVariable(const std::string& name, int32_t lower, int32_t upper, int32_t initialValue,
                                     uint64_t position)
    : Variable(name, initialValue, lower, upper, false), position(position)
{}

int32_t StateMetaVariable::getValue(PublicState* state)
{
    return state->getMetaVariables()[position];
}

bool StateMetaVariable::setValue(PublicState* state, int32_t value)
{
    if (value < lowerBound || value > upperBound) {
        return false;
    }
    state->getMetaVariables()[position] = value;
    return true;
}

void StateMetaVariable::print(std::ostream& os) const
{
    os << index << ":meta:" << lowerBound << ":" << upperBound << ":" << initialValue << ":" << position << ":"
       << name;
}

// ---- Doubles in states --------------------------------------------------------------------------

FPVariable::FPVariable(const std::string& name, uint64_t position, double initialValue)
    : Variable(name, 0, 0, 0, false), position(position), initialDouble(initialValue)
{}

// A decorator that follows only the integer and clock effects of a step shows no floating-point
// values of its own: there a read gives 0 and a write is dropped, as the wrapped state must not
// change.
int32_t FPVariable::getValue(PublicState* state)
{
    const double* doubles = std::as_const(*state).getDoubles();
    return doubleToInt32(doubles != nullptr ? doubles[position] : 0.0);
}

double FPVariable::getDoubleValue(PublicState* state)
{
    const double* doubles = std::as_const(*state).getDoubles();
    return doubles != nullptr ? doubles[position] : 0.0;
}

bool FPVariable::setValue(PublicState* state, int32_t value)
{
    if (double* doubles = state->getDoubles()) {
        doubles[position] = value;
    }
    return true;
}

bool FPVariable::setDoubleValue(PublicState* state, double value)
{
    if (double* doubles = state->getDoubles()) {
        doubles[position] = value;
    }
    return true;
}

void FPVariable::print(std::ostream& os) const
{
    os << index << ":fpvar:" << initialDouble << ":" << position << ":" << name;
}

// ---- Bits ---------------------------------------------------------------------------------------

namespace {
uint32_t bitMask(int32_t bit)
{
    return 1u << (static_cast<uint32_t>(bit) & 31u);
}

void setBitIn(int32_t& word, uint32_t mask, int32_t value)
{
    const uint32_t w = static_cast<uint32_t>(word);
    word = static_cast<int32_t>(value != 0 ? (w | mask) : (w & ~mask));
}
}  // namespace

StateBitVariable::StateBitVariable(const std::string& name, int32_t bit, int32_t initialBit, uint64_t position)
    : Variable(name, initialBit, 0, 1, false), mask(bitMask(bit)), position(position)
{}

int32_t StateBitVariable::getValue(PublicState* state)
{
    return (static_cast<uint32_t>(state->getVariables()[position]) & mask) != 0 ? 1 : 0;
}

bool StateBitVariable::setValue(PublicState* state, int32_t value)
{
    setBitIn(state->getVariables()[position], mask, value);
    return true;
}

void StateBitVariable::print(std::ostream& os) const
{
    os << index << ":var:0:1:" << initialValue << ":" << position << ":" << name;
}

StateMetaBitVariable::StateMetaBitVariable(const std::string& name, int32_t bit, int32_t initialBit,
                                           uint64_t position)
    : Variable(name, initialBit, 0, 1, false), mask(bitMask(bit)), position(position)
{}

int32_t StateMetaBitVariable::getValue(PublicState* state)
{
    return (static_cast<uint32_t>(state->getMetaVariables()[position]) & mask) != 0 ? 1 : 0;
}

bool StateMetaBitVariable::setValue(PublicState* state, int32_t value)
{
    setBitIn(state->getMetaVariables()[position], mask, value);
    return true;
}

void StateMetaBitVariable::print(std::ostream& os) const
{
    os << index << ":meta:0:1:" << initialValue << ":" << position << ":" << name;
}

// ---- Locations ----------------------------------------------------------------------------------

LocationVariable::LocationVariable(const std::string& name, int32_t processNumber, Location* location)
    : Variable(name, 0, 0, 1, false), processNumber(processNumber), location(location)
{}

int32_t LocationVariable::getValue(PublicState* state)
{
    return state->getLocation(static_cast<uint32_t>(processNumber)) == location ? 1 : 0;
}

void LocationVariable::print(std::ostream& os) const
{
    os << index << ":location:";
    if (location->isUrgent()) {
        os << "urgent";
    } else if (location->isCommitted()) {
        os << "committed";
    }
    os << ":" << name;
}

// ---- Values kept in the variable ----------------------------------------------------------------

SystemMetaVariable::SystemMetaVariable(const std::string& name, int32_t lower, int32_t upper, int32_t initialValue)
    : Variable(name, initialValue, lower, upper, false), current(initialValue)
{}

int32_t SystemMetaVariable::getValue(PublicState*)
{
    return current;
}

bool SystemMetaVariable::setValue(PublicState*, int32_t value)
{
    if (value < lowerBound || value > upperBound) {
        return false;
    }
    current = value;
    return true;
}

void SystemMetaVariable::print(std::ostream& os) const
{
    os << index << ":sys_meta:" << lowerBound << ":" << upperBound << ":" << name;
}

SystemMetaFPVariable::SystemMetaFPVariable(const std::string& name, double initialValue)
    : Variable(name, 0, 0, 0, false), current(initialValue)
{}

int32_t SystemMetaFPVariable::getValue(PublicState*)
{
    return doubleToInt32(current);
}

double SystemMetaFPVariable::getDoubleValue(PublicState*)
{
    return current;
}

bool SystemMetaFPVariable::setValue(PublicState*, int32_t value)
{
    current = value;
    return true;
}

bool SystemMetaFPVariable::setDoubleValue(PublicState*, double value)
{
    current = value;
    return true;
}

void SystemMetaFPVariable::print(std::ostream& os) const
{
    os << index << ":sys_meta_fpvar:" << current << ":" << name;
}

// ---- Increment ----------------------------------------------------------------------------------

IncrementVariable::IncrementVariable(const base::RefPtr<Variable>& variable) : variable(variable)
{
    reads.insert(static_cast<uint32_t>(variable->getIndex()));
    writes.insert(static_cast<uint32_t>(variable->getIndex()));
}

void IncrementVariable::accept(ExpressionVisitor&) {}

int32_t IncrementVariable::evaluate(PublicState* state)
{
    variable->add(state, 1);
    return 0;
}
