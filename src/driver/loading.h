#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "language/query_list.h"
#include "language/system.h"

// The front end's doors that read a model file into an empty model and type-check it when
// reading left no error. Errors and warnings are collected in the model, never thrown.
// The text door gets an open file and returns whether the model is free of errors; the XML door
// gets the file name and the list to fill with the queries stored in the document, and returns
// 0, or -1 when the file cannot be opened.
using TextModelReader = bool (*)(std::FILE* file, ZOLT::TimedAutomataSystem* model, bool newSyntax);
using XmlModelReader = int32_t (*)(const std::string& fileName, ZOLT::TimedAutomataSystem* model,
                                   bool newSyntax, ZOLT::QueryList* storedQueries);

struct ModelReaders
{
    TextModelReader text;
    XmlModelReader xml;
};

// The doors the driver reads models through: by default the type checker's, which parse the file
// and check the model when parsing left no error. Tests may install their own.
ModelReaders& modelReaders();
// Puts the default doors back (for tests that installed their own).
void resetModelReaders();

// The front end's door that writes a model as XML: returns 0, and throws std::runtime_error
// "Error creating the xml writer" when the file cannot be created.
using XmlModelWriter = int32_t (*)(const std::string& fileName, ZOLT::TimedAutomataSystem* model);

// The door the driver saves models through: by default the front end's XML writer. Tests may
// install their own.
XmlModelWriter& modelWriter();
// Puts the default door back.
void resetModelWriter();

// The model of the run, owned by the driver from loading to the end of the run; null before. An
// XML model keeps the queries stored in its document in its own query list.
extern ZOLT::TimedAutomataSystem* parsedModel;
// Deletes the model of the run, and with it the query text taken from the model.
void deleteParsedModel();

// The source of the queries after loading: the open query file, or else, when the guessed query
// file does not exist, the text of the queries stored in the model (empty when there are none;
// owned by the model). Both are null before loading and when MIRVEK_COMPILE_ONLY left the
// queries unread.
extern std::FILE* queryFile;
extern const char* queryText;

// Reads the model named by the driver's settings into a new model, prints its diagnostics and
// opens the source of its queries. Returns continueRun, or 1 after the message of any error. A
// folder named as the model or the query file cannot be opened ("Error opening <name>: Is a
// directory"; "Error reading <name>: Is a directory" for an XML model), and neither can a
// guessed query file that exists but is unreadable.
int loadModel();

// Closes the query file when one is open (an at-exit action of the process of rank 0).
void closeQueryFile();

// Prints the model's errors to standard error, each as "<file>:[<path>:]<line>: [error] <message>",
// and returns 1 when there was one. Otherwise prints the warnings in the same form with
// "[warning]" and clears them, unless -q or -W suppress them (then they are kept); returns
// continueRun. Only the process of rank 0 prints: the others return 1 on errors as well and
// otherwise drop the warnings.
int reportDiagnostics(const std::string& fileName, ZOLT::TimedAutomataSystem& model);

// reportDiagnostics on the run's model; ends the process with status 1 after errors.
void printDiagnostics(const std::string& fileName);

// Prints the errors recorded in the run's model so far, as reportDiagnostics does, when a failure
// ends the run before its end would have printed them (a query aborted by a fault of the model,
// then a later query refused). Nothing without a model or errors, and on processes other than
// the first.
void printRecordedErrors();

// Called right before and right after the query file is parsed: the text read between the two
// calls is the query file's, and every diagnostic in it, also one found later (an expression of a
// query that cannot be evaluated), is printed against the query file's name, whatever name
// reportDiagnostics gets.
void markQueryTextStart();
void markQueryTextEnd();

// Writes the run's model (modified by a scenario property) as XML to fileName and, when
// withQueryFile is set, the query file that checks its observer process: fileName with its last
// ".xml" replaced by ".q". A name without ".xml" throws std::out_of_range after the model has
// been written; a query file that cannot be written throws std::runtime_error "Error opening
// <name>: <reason>".
void saveModifiedModel(const std::string& fileName, bool withQueryFile);
