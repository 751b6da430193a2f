#pragma once

// Failures of the runtime model reported to the parts that drive it. Internal invariants raise
// `Bug` (support/exceptions.h) instead.

#include <cstdint>
#include <stdexcept>
#include <string>

#include "language/span.h"
#include "support/exceptions.h"

// A source span packed in 64 bits: the start offset in the low half, the end in the high half.
using packed_span_t = uint64_t;

// The span of an error without a source position: start 0, end 2147483647.
inline constexpr packed_span_t NO_POSITION = 0x7fffffff00000000ull;

// A model expression could not be evaluated: the message, the span of the failing code, a
// context text, and the index in the trace store of the symbolic state it failed in (-1 when
// unknown or not a symbolic state).
class CannotEvaluateExpression : public std::runtime_error
{
public:
    CannotEvaluateExpression(const std::string& message, packed_span_t span, const std::string& context = "",
                             int32_t stateNumber = -1);
    CannotEvaluateExpression(const std::string& message, ZOLT::span_t span, const std::string& context = "",
                             int32_t stateNumber = -1)
        : CannotEvaluateExpression(message, span.packed(), context, stateNumber)
    {}
    CannotEvaluateExpression(const CannotEvaluateExpression& other) = default;
    CannotEvaluateExpression& operator=(const CannotEvaluateExpression& other) = default;

    packed_span_t getPosition() const { return span; }
    int32_t getStateNumber() const { return stateNumber; }
    void setStateNumber(int32_t number) { stateNumber = number; }
    const std::string& getContext() const { return context; }

private:
    packed_span_t span;
    int32_t stateNumber;
    std::string context;
};

// A user error found while compiling the model: a message key and the span of the offending text.
class CompileError : public std::runtime_error
{
public:
    CompileError(const std::string& message, packed_span_t span);
    CompileError(const std::string& message, ZOLT::span_t span) : CompileError(message, span.packed()) {}

    packed_span_t getPosition() const { return span; }

private:
    packed_span_t span;
};

// A limit of the runtime model was exceeded.
class RuntimeError : public std::runtime_error
{
public:
    explicit RuntimeError(const std::string& message);
};

// The invariants of the initial state do not hold.
class InitialStateUndefinedException : public std::runtime_error
{
public:
    InitialStateUndefinedException();
};
