#pragma once

// The builders report some model errors by throwing ZOLT::TypeException; the
// parser catches it around every builder call. The class belongs to the language
// core; until its type header is present in this tree, an equivalent stand-in is
// declared here so that the front end builds on its own.
#if __has_include("language/type.h")
#include "language/type.h"
#else
#include <stdexcept>
#include <string>

namespace ZOLT {

class TypeException : public std::runtime_error
{
public:
    explicit TypeException(const std::string& message) : std::runtime_error(message) {}
};

} // namespace ZOLT
#endif
