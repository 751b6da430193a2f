#pragma once

#include <cstdarg>
#include <exception>
#include <stdexcept>
#include <string>

#include <boost/format/format_fwd.hpp>

// An internal invariant was broken: an operation that must not be called on this kind of
// object, an opcode out of range, a case that cannot happen.
class Bug : public std::logic_error
{
public:
    explicit Bug(const std::string& text);
    explicit Bug(const char* text);
    explicit Bug(const boost::format& text);
};

// A failure met while a query is analysed, reported to the user. The message lives in a fixed
// buffer of 256 characters, so that throwing never allocates; longer texts are cut at 255.
class MirvekException : public std::exception
{
public:
    static constexpr std::size_t messageSize = 256;

    const char* what() const noexcept override { return message; }

protected:
    MirvekException() noexcept { message[0] = '\0'; }

    // Formats printf-style into the message buffer, cutting what does not fit.
    void setMessage(const char* format, va_list args) noexcept;
    // Stores a text verbatim (no format directives are interpreted), cutting what does not fit.
    void setText(const char* text) noexcept;

private:
    char message[messageSize];
};

#define MIRVEK_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))

// A property or option that the system cannot check as requested.
class SystemException : public MirvekException
{
public:
    explicit SystemException(const char* format, ...) noexcept MIRVEK_PRINTF_FORMAT(2, 3);
};

// Bad command-line options.
class InvalidOptionsException : public MirvekException
{
public:
    explicit InvalidOptionsException(const char* format, ...) noexcept MIRVEK_PRINTF_FORMAT(2, 3);
};

// A condition found while the model runs.
class RuntimeException : public MirvekException
{
public:
    explicit RuntimeException(const char* format, ...) noexcept MIRVEK_PRINTF_FORMAT(2, 3);

protected:
    RuntimeException() noexcept = default;
};

// A failure while the successors of a state are computed. Keeps private copies of the state's
// text and a name (a channel name, say), so the thrower may free its own buffers at once.
class SuccessorException : public RuntimeException
{
public:
    SuccessorException(const char* state, const char* name, const char* message) noexcept;
    SuccessorException(const SuccessorException& other) noexcept;
    SuccessorException& operator=(const SuccessorException& other) noexcept;
    ~SuccessorException() override;

    // The texts are never null: a copy that could not be made reads as empty.
    const char* getState() const noexcept { return state != nullptr ? state : ""; }
    const char* getName() const noexcept { return name != nullptr ? name : ""; }

private:
    char* state;
    char* name;
};
