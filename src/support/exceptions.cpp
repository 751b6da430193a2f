#include "support/exceptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <boost/format.hpp>

Bug::Bug(const std::string& text) : std::logic_error(text) {}

Bug::Bug(const char* text) : std::logic_error(text) {}

Bug::Bug(const boost::format& text) : std::logic_error(text.str()) {}

void MirvekException::setMessage(const char* format, va_list args) noexcept
{
    // vsnprintf writes at most messageSize - 1 characters and always terminates the text.
    if (std::vsnprintf(message, messageSize, format, args) < 0) {
        message[0] = '\0';
    }
}

void MirvekException::setText(const char* text) noexcept
{
    std::snprintf(message, messageSize, "%s", text != nullptr ? text : "");
}

namespace {
char* copyText(const char* text) noexcept
{
    return text != nullptr ? strdup(text) : nullptr;
}
}  // namespace

SystemException::SystemException(const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    setMessage(format, args);
    va_end(args);
}

InvalidOptionsException::InvalidOptionsException(const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    setMessage(format, args);
    va_end(args);
}

RuntimeException::RuntimeException(const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    setMessage(format, args);
    va_end(args);
}

// The message is a message key or text of the thrower, not a format: it is stored verbatim, so
// a '%' in it can never make the formatter read arguments that were not passed.
SuccessorException::SuccessorException(const char* state, const char* name, const char* message) noexcept
    : state(copyText(state)), name(copyText(name))
{
    setText(message);
}

SuccessorException::SuccessorException(const SuccessorException& other) noexcept
    : RuntimeException(other), state(copyText(other.state)), name(copyText(other.name))
{}

SuccessorException& SuccessorException::operator=(const SuccessorException& other) noexcept
{
    if (this != &other) {
        RuntimeException::operator=(other);
        char* newState = copyText(other.state);
        char* newName = copyText(other.name);
        std::free(state);
        std::free(name);
        state = newState;
        name = newName;
    }
    return *this;
}

SuccessorException::~SuccessorException()
{
    std::free(state);
    std::free(name);
}
