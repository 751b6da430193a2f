#pragma once

// Writing XML traces: the document of one diagnostic trace, written through libxml2's text
// writer from the model of driver/xml_trace.h.
//
// The document: a root "trace" (attributes "initial_node" and "trace_options") holding the
// "system" part (clocks, integer variables, and per process the locations visited and the edges
// taken), then the location vectors, the variable vectors, the nodes (symbolic states), the DBM
// instances (one "clockbound" per matrix entry) and the transitions. Shared parts are written
// once and referred to by id.

#include <cstdio>
#include <string>

class Path;
class System;
class XMLDBM;
class XMLEdge;
class XMLLocVec;
class XMLLocation;
class XMLProcess;
class XMLState;
class XMLSystem;
class XMLTransition;
class XMLVariable;
class XMLVariableVector;
struct XMLClock;

typedef struct _xmlTextWriter xmlTextWriter;

// Writes one document. Every write does nothing when no writer could be made, and nothing more
// once a write has failed; the failure is kept and reported when the writer is closed.
class XMLTraceWriter
{
public:
    XMLTraceWriter() = default;
    ~XMLTraceWriter();
    XMLTraceWriter(const XMLTraceWriter&) = delete;
    XMLTraceWriter& operator=(const XMLTraceWriter&) = delete;

    // Creates the file and starts the document. When the file cannot be created, says so on
    // standard error and returns false; no writer remains.
    bool open(const std::string& fileName);
    // Ends the file. False when some part of the document could not be written (reported on
    // standard error with the file's name) or when there was no writer.
    bool close();
    bool isOpen() const { return writer != nullptr; }

    // Leaves out an attribute whose value is empty.
    void writeAttribute(const char* name, const std::string& value);
    void startElement(const char* name);
    void endElement();
    // An element with text content.
    void writeTextElement(const char* name, const std::string& text);
    void writeCDATA(const std::string& text);

    // Starts "trace" and leaves it open.
    void writeTraceStart(const std::string& initialNode);
    void writeSystem(const XMLSystem& system);
    void writeProcess(const XMLProcess& process);
    void writeClock(const XMLClock& clock);
    void writeVariable(const XMLVariable& variable);
    void writeLocation(const XMLLocation& location);
    void writeEdge(const XMLEdge& edge);
    void writeLocationVector(const XMLLocVec& vector);
    void writeVariableVector(const XMLVariableVector& vector);
    void writeNode(const XMLState& state);
    void writeDBM(const XMLDBM& dbm);
    void writeTransition(const XMLTransition& transition);

private:
    // Notes a failed library call.
    void check(int result);
    // The output callbacks of the text writer: the file is written and closed here so that a
    // failure of either is seen.
    static int writeBytes(void* context, const char* buffer, int length);
    static int closeFile(void* context);

    xmlTextWriter* writer = nullptr;
    std::FILE* file = nullptr;
    std::string fileName;
    bool failed = false;
    int error = 0;  // errno of the first failed write or close, 0 when unknown
};

// Writes the trace from the first step to the last one (linked with Path::linkSteps) of the
// system as an XML document to the file. True when the whole document was written; otherwise the
// failure has been reported on standard error. Exceptions of building or writing pass on after
// the file is closed.
bool writeXMLTrace(Path* first, Path* last, System* system, const std::string& fileName);

// Numbers the XML trace files of a run: 1 for the first trace written, raised after each.
extern int xmlTraceCounter;
