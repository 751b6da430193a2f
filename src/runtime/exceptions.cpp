#include "runtime/exceptions.h"

CannotEvaluateExpression::CannotEvaluateExpression(const std::string& message, packed_span_t span,
                                                   const std::string& context, int32_t stateNumber)
    : std::runtime_error(message), span(span), stateNumber(stateNumber), context(context)
{}

CompileError::CompileError(const std::string& message, packed_span_t span) : std::runtime_error(message), span(span)
{}

RuntimeError::RuntimeError(const std::string& message) : std::runtime_error(message) {}

InitialStateUndefinedException::InitialStateUndefinedException()
    : std::runtime_error("The initial state is undefined")
{}
