#pragma once

// Writer of a parsed model as a document in the flat-system XML format. The writer
// chooses the layout itself (identifiers, coordinates, nails of the edges) and writes
// every part of the model that the XML reader reads back, so that a saved model reads
// back as the same model.

#include <cstdint>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "language/system.h"

typedef struct _xmlTextWriter xmlTextWriter;
typedef unsigned char xmlChar;

namespace ZOLT {

// Writes the system to the file at path. Returns 0; throws std::runtime_error
// "Error creating the xml writer" when the file cannot be created and "Error at "
// followed by the libxml2 function's name when a write fails (the file is then cut
// short).
int writeSystemXml(const char* path, TimedAutomataSystem& system);

// The text converted from the named encoding into UTF-8, allocated with xmlMalloc
// (the caller frees it with xmlFree), or null when it cannot be converted; failures
// are reported on standard output. A null text gives null.
xmlChar* ConvertInput(const char* text, const char* encoding);

class XMLWriter
{
public:
    // Takes ownership of the libxml2 writer.
    XMLWriter(xmlTextWriter* writer, TimedAutomataSystem* system);
    // Frees the libxml2 writer, which completes the file.
    ~XMLWriter();
    XMLWriter(const XMLWriter&) = delete;
    XMLWriter& operator=(const XMLWriter&) = delete;

    void writeDocument();

private:
    void startElement(const char* name);
    void endElement();
    void writeElement(const char* name, const std::string& text);
    void writeString(const std::string& text);
    void writeAttribute(const char* name, const std::string& value);
    void writeAttribute(const char* name, int64_t value);

    std::string globalDeclarationText();
    std::string systemText();
    std::string instantiationText(const instance_t& instance, std::list<instance_t>::const_iterator first,
                                  std::list<instance_t>::const_iterator self);
    void writeQueries();
    void writeTemplate(const template_t& templ);
    void writeLocation(const template_t& templ, const location_t& location);
    void writeTransition(const template_t& templ, const edge_t& edge);
    void writeLabel(const char* kind, const std::string& text, int64_t x, int64_t y, bool omitTrivial = true);
    void writeLabelElement(const char* kind, const std::string& text,
                           std::optional<std::pair<int64_t, int64_t>> position);
    void writeReference(const char* element, const char* attribute, const std::string& id);
    void writeNail(int64_t x, int64_t y);
    void writeLsc(const template_t& chart);
    void writeLscLabel(const char* kind, const expression_t& label);

    // Identifier and drawing index of the location or branch point at an edge end.
    std::string endId(const location_t* location, const branchpoint_t* branchpoint) const;
    int64_t endIndex(const template_t& templ, const location_t* location, const branchpoint_t* branchpoint) const;

    xmlTextWriter* textWriter;
    TimedAutomataSystem* system;
    // Self loops drawn so far per location (by drawing index) of the current template.
    std::map<int64_t, int> selfLoops;
    // Identifiers given to the branch points of the current template, by number.
    std::map<int32_t, std::string> branchpointIds;
};

} // namespace ZOLT
