#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "language/position.h"
#include "language/query_list.h"

// The model of the run as the driver sees it: the front end's entry points that read a model
// file and check it, and the errors and warnings they collect.
class ModelLoader
{
public:
    virtual ~ModelLoader() = default;

    // Parses a textual model from an open file and checks it when the parse left no errors.
    virtual void readTextModel(std::FILE* file, bool newSyntax) = 0;
    // Reads and checks an XML model; the queries stored in the document are added to
    // storedQueries. Returns 0, or -1 when the file cannot be opened.
    virtual int readXmlModel(const std::string& fileName, bool newSyntax,
                             ZOLT::QueryList& storedQueries) = 0;

    virtual const std::vector<ZOLT::diagnostic_t>& getErrors() const = 0;
    virtual const std::vector<ZOLT::diagnostic_t>& getWarnings() const = 0;
    virtual void clearWarnings() = 0;
    // True when the model declares channel priorities or gives a process a priority.
    virtual bool hasPriorities() const = 0;
};

// The loader of the run. Until the front end's checked readers are wired in, the default one
// reads nothing: an existing file counts as a loaded model without errors or warnings.
ModelLoader& modelLoader();
// Replaces the loader (the front end installs its own; tests install fakes); null puts the
// default back.
void setModelLoader(std::unique_ptr<ModelLoader> loader);

// The queries stored in an XML model, filled while it is read.
ZOLT::QueryList& storedQueryList();

// The source of the queries after loading: the open query file, or else the text of the queries
// stored in the model (empty when there are none). Both are null before loading and when
// MIRVEK_COMPILE_ONLY left the queries unread.
extern std::FILE* queryFile;
extern const char* queryText;

// Reads the model named by the driver's settings, prints its diagnostics and opens the source of
// its queries. Returns continueRun, or 1 after the message of any error.
int loadModel();

// Closes the query file when one is open (an at-exit action of the process of rank 0).
void closeQueryFile();

// Prints the model's errors to standard error, each as "<file>:[<path>:]<line>: [error] <message>",
// and returns 1 when there was one. Otherwise prints the warnings in the same form with
// "[warning]" and clears them, unless -q or -W suppress them (then they are kept); returns
// continueRun. Only the process of rank 0 prints: the others return 1 on errors as well and
// otherwise drop the warnings.
int reportDiagnostics(const std::string& fileName, ModelLoader& model);

// reportDiagnostics on the run's model; ends the process with status 1 after errors.
void printDiagnostics(const std::string& fileName);
