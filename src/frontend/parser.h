#pragma once

// Entries of the scanner and parser of the textual model and query language.
// A parse turns a text into builder calls in the order of a bottom-up parse;
// it builds nothing itself. One parse runs at a time per process (the entries
// share one parse context), and a parse must not start inside another.

#include <cstdint>
#include <cstdio>
#include <string>

#include "frontend/builder.h"

namespace ZOLT {

// Start parts: which kind of text a parse reads.
enum parse_part_t : int {
    PART_MODEL = 0,            // a whole model, then done()
    PART_DECLARATIONS = 1,     // a declaration block
    PART_LOCAL_DECLARATIONS = 2,
    PART_INSTANTIATION = 3,
    PART_SYSTEM = 4,           // declarations followed by the system line
    PART_PARAMETERS = 5,
    PART_INVARIANT = 6,        // the expression stays on the builder's stack
    PART_EXPONENTIAL_RATE = 7,
    PART_SELECT = 8,
    PART_GUARD = 9,            // then procGuard()
    PART_SYNC = 10,
    PART_ASSIGNMENT = 11,      // then procUpdate()
    PART_EXPRESSION = 12,      // the expression stays on the builder's stack
    PART_EXPRESSION_LIST = 13, // the list, joined by exprComma, stays on the stack
    PART_QUERIES = 14,
    PART_PROCESS = 15,         // one template
    PART_PROBABILITY = 16,     // then procProb()
    PART_INSTANCE_LINE = 17,
    PART_MESSAGE = 18,
    PART_LSC_UPDATE = 19,      // then procLscUpdate()
    PART_CONDITION = 20,       // then procCondition()
};

// Each entry returns 0 when the text was read (errors after which parsing went
// on are reported through the builder) and -1 when the parser gave up.
// Exceptions other than TypeException thrown by the builder end the parse and
// reach the caller.

// Parses a NUL-terminated text as the given start part, in the new or the old
// model syntax; positions are recorded under path.
int runParserOnText(const char* text, ParserBuilder* builder, bool newSyntax, int part, const std::string& path);
// Parses a whole model held in memory.
int runParserOnModelText(const char* text, ParserBuilder* builder, bool newSyntax);
// Parses a whole model read from a file.
int runParserOnFile(FILE* file, ParserBuilder* builder, bool newSyntax);
// Parse a query text or file: queries separated by line ends.
int runQueryParserOnText(const char* text, ParserBuilder* builder);
int runQueryParserOnFile(FILE* file, ParserBuilder* builder);

// Starts a new position text named path (line 1 unless told otherwise, offset 0 inside
// it, one global offset after the previous text) and records it with the builder's
// addPosition.
void beginPositionText(ParserBuilder& builder, const std::string& path, int32_t line = 1);
// Makes the next length offsets the builder's current position and moves past them.
void stepPosition(ParserBuilder& builder, int32_t length);

// True when text is a keyword whose syntax mask shares a bit with mask
// (1 old model syntax, 2 new model syntax, 4 queries).
bool isKeyword(const char* text, int mask);

// Starts the position counters and the scanner state afresh (for tests).
void resetParserState();

} // namespace ZOLT
