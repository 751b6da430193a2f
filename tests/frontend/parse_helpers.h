#pragma once

#include <string>

#include "frontend/parser.h"
#include "recording_builder.h"

namespace mirvek_test {

// The builder calls a parse makes, joined by "; ".
inline std::string joined(const std::vector<std::string>& calls)
{
    std::string text;
    for (const auto& c : calls)
        text += (text.empty() ? "" : "; ") + c;
    return text;
}

struct Parsed
{
    int result;
    std::string calls;
    RecordingBuilder builder;
};

// Parses text as the given start part and returns the result and the calls.
inline Parsed parsePart(const std::string& text, int part, bool newSyntax = true, RecordingBuilder builder = {})
{
    Parsed p{0, "", std::move(builder)};
    p.result = ZOLT::runParserOnText(text.c_str(), &p.builder, newSyntax, part, "");
    p.calls = joined(p.builder.calls);
    return p;
}

inline Parsed parseQueries(const std::string& text)
{
    Parsed p{0, "", {}};
    p.result = ZOLT::runQueryParserOnText(text.c_str(), &p.builder);
    p.calls = joined(p.builder.calls);
    return p;
}

} // namespace mirvek_test
