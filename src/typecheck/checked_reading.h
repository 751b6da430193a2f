#pragma once

#include <cstdio>

#include "language/expression.h"
#include "language/query_list.h"
#include "language/system.h"

namespace ZOLT {

// Reading a model and checking it. Each door reads into the caller's empty system
// through a system builder and, when reading left no error, type-checks the whole
// model. Syntax and type errors are recorded in the system, never thrown; a model
// with syntax errors carries the parser's errors alone.

// An XML model file; the queries stored in it go to `queries`. Returns the reader's
// result: -1 when the file cannot be opened (nothing is checked), else 0, also when
// the model has errors.
int readCheckedXmlModelFile(const char* path, TimedAutomataSystem* system, bool newSyntax, QueryList* queries);
// An XML model held in memory; as readCheckedXmlModelFile, without stored queries
// (-1 for a null text or a document libxml2 cannot start reading).
int readCheckedXmlModelBuffer(const char* text, TimedAutomataSystem* system, bool newSyntax);
// A textual model read from an open stream. True when the system holds no error at
// the end (warnings alone still count as success).
bool readCheckedTextModelFile(FILE* file, TimedAutomataSystem* system, bool newSyntax);
// A textual model held in memory; as readCheckedTextModelFile.
bool readCheckedTextModelBuffer(const char* text, TimedAutomataSystem* system, bool newSyntax);
// One expression over the system's declarations, typed when it parsed without error;
// the empty expression when the parse left none.
expression_t readCheckedExpressionText(const char* text, TimedAutomataSystem* system, bool newSyntax);

} // namespace ZOLT
