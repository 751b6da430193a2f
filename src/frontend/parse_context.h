#pragma once

// State shared by the scanner and the parser of the textual language. One parse
// runs at a time in a process; the entries of parser.h set this state up.

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_set>

#include "frontend/builder.h"

namespace ZOLT::detail {

// The value of a token or of a grammar symbol: a name, an int (numbers, counts,
// kinds, flags) or a double. Names point into the parse's interned texts.
struct TokenValue
{
    const char* text = "";
    int32_t number = 0;
    double floating = 0.0;
};

// The span of a grammar symbol in the global offset space.
struct ParseSpan
{
    int32_t start = 0;
    int32_t end = INT32_MAX;
};

// Longest name text a token carries; longer identifiers are cut to it.
inline constexpr size_t maxNameLength = 4000;

struct ParseContext
{
    ParserBuilder* builder = nullptr;
    // Syntax mask: bit 1 old model syntax, bit 2 new model syntax, bit 4 queries.
    int syntax = 0;
    // Token handed to the parser before any input is read; 0 once delivered.
    int startToken = 0;
    // Span of the last lexeme.
    int32_t tokenStart = 0;
    int32_t tokenEnd = INT32_MAX;
    // Positions consumed by every text since the process started, plus one per
    // text begun, so that the spans of different texts never overlap.
    uint32_t offset = 0;
    // Position inside the current text, its current line and its name.
    int32_t textOffset = 0;
    int32_t line = 1;
    std::string path;
    // Source name of the last edge written with an explicit source.
    std::string lastSource;
    // Number of type-indexed array dimensions whose index types are pending.
    int32_t dimensions = 0;
    // Name texts of the current parse; their addresses stay valid until cleared.
    std::unordered_set<std::string> texts;

    const char* intern(const char* text, size_t length);
};

ParseContext& parseContext();

// Scanner services used by the parser (lexer.l).
int nextToken(TokenValue* value, ParseSpan* span);
void scanString(const char* text);
void scanFile(FILE* file);
void endScan();
// Reports a message at the span of the last lexeme.
void reportAtToken(const char* message);
// Reports a message through the builder's error handler, cut like errorf.
void reportError(ParserBuilder& builder, const char* message);

// Text of a fatal scanner failure, with the generated scanner's function names
// replaced by this scanner's own.
const char* scannerFailureMessage(const char* message);

// Message key of a syntax error format, or the text itself.
const char* messageKey(const char* message);

// Parser entry generated from parser.y.
int parseTokens();

} // namespace ZOLT::detail
