#pragma once

// Variables of the compiled model. A variable is a trivial expression whose evaluation reads its
// value, and it knows where its value lives: in one of the arrays of a state, in the state's
// clocks, or in the variable object itself. The byte-code machine loads and stores every variable
// through these operations; the compiled-model dump prints them one per line.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "runtime/expression.h"

class Location;

class Variable : public TrivialExpression
{
public:
    ~Variable() override = default;

    // Expression part: evaluating a variable reads its value.
    void accept(ExpressionVisitor& visitor) override;
    int32_t evaluate(PublicState* state) override;
    bool isConstant() const override { return constant; }

    // The integer value on the state (the initial value by default).
    virtual int32_t getValue(PublicState* state);
    // The value as a double (the integer value converted by default).
    virtual double getDoubleValue(PublicState* state);
    // Stores the value; false when it was not stored (out of range). Kinds without storage
    // raise Bug "Variable::setValue() should never be called.".
    virtual bool setValue(PublicState* state, int32_t value);
    // Stores a double: by default setValue with the double truncated toward zero; a double that
    // does not fit in 32 bits (or NaN) is not stored and gives false. The answer is setValue's.
    virtual bool setDoubleValue(PublicState* state, double value);
    // setValue (state, value + delta), the sum wrapping around at 32 bits.
    virtual bool add(PublicState* state, int32_t delta);
    std::string getName() const override;
    // The layout line of the compiled-model dump (without its end of line; "unknown" variables
    // end their own line).
    virtual void print(std::ostream& os) const;
    // setValue / setDoubleValue with the answer ignored; the spawning of a process sets the
    // variables of the new process this way.
    virtual void assign(PublicState* state, int32_t value);
    virtual void assignDouble(PublicState* state, double value);

    // Global index in the System (set by System::addVariable).
    uint64_t getIndex() const { return index; }
    void setIndex(uint64_t i) { index = i; }
    // Belongs to a dynamic template (the System's extra table).
    bool isExtra() const { return extra; }
    void setExtra(bool e) { extra = e; }
    // A clock declared hybrid: clock rates skip it and it must not be active in any location.
    bool isHybrid() const { return hybrid; }
    void setHybrid(bool h) { hybrid = h; }

    int32_t getInitialValue() const { return initialValue; }
    int32_t getLowerBound() const { return lowerBound; }
    int32_t getUpperBound() const { return upperBound; }

protected:
    Variable(const std::string& name, int32_t initialValue, int32_t lowerBound, int32_t upperBound, bool constant);

    uint64_t index = 0;
    bool constant;
    bool extra = false;
    bool hybrid = false;
    int32_t initialValue;
    int32_t lowerBound;
    int32_t upperBound;
    std::string name;
};

// A constant (a channel number, a process number, a compile-time value). Constant unless it
// belongs to a dynamic template, whose spawning assigns it.
class ConstantVariable : public Variable
{
public:
    explicit ConstantVariable(int32_t value, bool constant = true);

    int32_t getValue(PublicState* state) override;
    void print(std::ostream& os) const override;
    // Sets the value (and both bounds); the state is not used.
    void assign(PublicState* state, int32_t value) override;
};

class ConstantFPVariable : public Variable
{
public:
    explicit ConstantFPVariable(double value);

    int32_t getValue(PublicState* state) override;
    double getDoubleValue(PublicState* state) override;
    void print(std::ostream& os) const override;
    void assignDouble(PublicState* state, double value) override;

private:
    double value;
};

// A clock: its integer value is its clock number; its double value is the clock's value on the
// state. Range 0..1073741823.
class ClockVariable : public Variable
{
public:
    ClockVariable(const std::string& name, int32_t clockNumber, double initialClockValue);

    int32_t getClockNumber() const { return clockNumber; }
    // The value the clock starts with in the initial concrete state.
    double getInitialDouble() const { return initialClockValue; }

    int32_t getValue(PublicState* state) override;
    double getDoubleValue(PublicState* state) override;
    // value < 0: false, nothing done; else resets the clock to value.
    bool setValue(PublicState* state, int32_t value) override;
    bool setDoubleValue(PublicState* state, double value) override;
    void print(std::ostream& os) const override;

private:
    int32_t clockNumber;
    double initialClockValue;
};

// An integer in the state's integer array.
class StateVariable : public Variable
{
public:
    StateVariable(const std::string& name, int32_t lower, int32_t upper, int32_t initialValue, uint64_t position);

    uint64_t getPosition() const { return position; }

    int32_t getValue(PublicState* state) override;
    bool setValue(PublicState* state, int32_t value) override;
    void print(std::ostream& os) const override;

private:
    uint64_t position;
};

// An integer in the state's meta array.
class StateMetaVariable : public Variable
{
public:
    StateMetaVariable(const std::string& name, int32_t lower, int32_t upper, int32_t initialValue,
                      uint64_t position);

    uint64_t getPosition() const { return position; }

    int32_t getValue(PublicState* state) override;
    bool setValue(PublicState* state, int32_t value) override;
    void print(std::ostream& os) const override;

private:
    uint64_t position;
};

// A double in the state's double array.
class FPVariable : public Variable
{
public:
    FPVariable(const std::string& name, uint64_t position, double initialValue);

    uint64_t getPosition() const { return position; }
    double getInitialDouble() const { return initialDouble; }

    // The double truncated toward zero (-2147483648 when it does not fit, see doubleToInt32).
    int32_t getValue(PublicState* state) override;
    double getDoubleValue(PublicState* state) override;
    bool setValue(PublicState* state, int32_t value) override;
    bool setDoubleValue(PublicState* state, double value) override;
    void print(std::ostream& os) const override;

private:
    uint64_t position;
    double initialDouble;
};

// One element of a bool array, packed 32 to a word of the state's integer array. Reads its
// word through the writable form, so a read during an update sees bits that earlier updates of
// the same transition wrote.
class StateBitVariable : public Variable
{
public:
    StateBitVariable(const std::string& name, int32_t bit, int32_t initialBit, uint64_t position);

    uint64_t getPosition() const { return position; }
    uint32_t getMask() const { return mask; }

    int32_t getValue(PublicState* state) override;
    // Sets the bit for a non-zero value, clears it for 0; the other bits are left alone.
    bool setValue(PublicState* state, int32_t value) override;
    void print(std::ostream& os) const override;

private:
    uint32_t mask;
    uint64_t position;
};

// The same in the state's meta array.
class StateMetaBitVariable : public Variable
{
public:
    StateMetaBitVariable(const std::string& name, int32_t bit, int32_t initialBit, uint64_t position);

    uint64_t getPosition() const { return position; }
    uint32_t getMask() const { return mask; }

    int32_t getValue(PublicState* state) override;
    bool setValue(PublicState* state, int32_t value) override;
    void print(std::ostream& os) const override;

private:
    uint32_t mask;
    uint64_t position;
};

// 1 while process `processNumber` is in `location`, else 0.
class LocationVariable : public Variable
{
public:
    LocationVariable(const std::string& name, int32_t processNumber, Location* location);

    int32_t getProcessNumber() const { return processNumber; }
    Location* getLocation() const { return location; }

    int32_t getValue(PublicState* state) override;
    void print(std::ostream& os) const override;

private:
    int32_t processNumber;
    Location* location;
};

// A value kept in the variable object rather than in states (function results and temporaries):
// it keeps its value across states.
class SystemMetaVariable : public Variable
{
public:
    SystemMetaVariable(const std::string& name, int32_t lower, int32_t upper, int32_t initialValue);

    int32_t getValue(PublicState* state) override;
    bool setValue(PublicState* state, int32_t value) override;
    void print(std::ostream& os) const override;

private:
    int32_t current;
};

class SystemMetaFPVariable : public Variable
{
public:
    SystemMetaFPVariable(const std::string& name, double initialValue);

    int32_t getValue(PublicState* state) override;
    double getDoubleValue(PublicState* state) override;
    bool setValue(PublicState* state, int32_t value) override;
    bool setDoubleValue(PublicState* state, double value) override;
    void print(std::ostream& os) const override;

private:
    double current;
};

// Adds 1 to a variable (out of range: nothing happens) and evaluates to 0. The System makes it
// the post-update that counts transitions in "#depth".
class IncrementVariable : public TrivialExpression
{
public:
    explicit IncrementVariable(const base::RefPtr<Variable>& variable);

    void accept(ExpressionVisitor& visitor) override;
    int32_t evaluate(PublicState* state) override;

private:
    base::RefPtr<Variable> variable;
};

// Converts a double to int32 by truncation toward zero; false (and out untouched) for NaN and
// values outside the int32 range.
bool truncateToInt32(double value, int32_t& out);
// Truncation toward zero where an answer is needed whatever the value: NaN and values outside
// the int32 range give -2147483648.
int32_t doubleToInt32(double value);
