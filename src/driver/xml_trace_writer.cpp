#include "driver/xml_trace_writer.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "driver/xml_trace.h"
#include "frontend/xml_library.h"

using ZOLT::xmlLibrary;

int xmlTraceCounter = 1;

namespace {

const xmlChar* xml(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

const xmlChar* xml(const std::string& text)
{
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

}  // namespace

XMLTraceWriter::~XMLTraceWriter()
{
    close();
}

int XMLTraceWriter::writeBytes(void* context, const char* buffer, int length)
{
    auto* self = static_cast<XMLTraceWriter*>(context);
    if (length > 0 && std::fwrite(buffer, 1, static_cast<size_t>(length), self->file) != static_cast<size_t>(length)) {
        if (self->error == 0) {
            self->error = errno;
        }
        self->failed = true;
        return -1;
    }
    return length;
}

int XMLTraceWriter::closeFile(void* context)
{
    auto* self = static_cast<XMLTraceWriter*>(context);
    if (self->file != nullptr) {
        // The last buffered part reaches the file only now: a full disk shows here.
        if (std::fclose(self->file) != 0) {
            if (self->error == 0) {
                self->error = errno;
            }
            self->failed = true;
        }
        self->file = nullptr;
    }
    return 0;
}

bool XMLTraceWriter::open(const std::string& name)
{
    fileName = name;
    failed = false;
    error = 0;
    file = std::fopen(name.c_str(), "wb");
    if (file != nullptr) {
        xmlOutputBufferPtr out = xmlLibrary().outputBufferCreateIO(&XMLTraceWriter::writeBytes,
                                                                   &XMLTraceWriter::closeFile, this, nullptr);
        if (out != nullptr) {
            // The text writer owns the buffer from here on and closes it when it is freed.
            writer = xmlLibrary().newTextWriter(out);
            if (writer == nullptr) {
                xmlLibrary().outputBufferClose(out);
            }
        }
        if (writer != nullptr && xmlLibrary().textWriterStartDocument(writer, nullptr, "UTF8", nullptr) < 0) {
            xmlLibrary().freeTextWriter(writer);
            writer = nullptr;
        }
        if (writer == nullptr) {
            closeFile(this);
        }
    }
    if (writer == nullptr) {
        std::fputs("Somewhere something went terribly wrong in creating the XML Writer\n", stderr);
        std::fflush(stderr);
        std::fprintf(stderr, "Filename: %s\n", name.c_str());
        std::fflush(stderr);
        return false;
    }
    return true;
}

bool XMLTraceWriter::close()
{
    if (writer == nullptr) {
        return false;
    }
    check(xmlLibrary().textWriterFlush(writer));
    xmlLibrary().freeTextWriter(writer);
    writer = nullptr;
    if (failed) {
        std::fprintf(stderr, "Error writing %s%s%s\n", fileName.c_str(), error != 0 ? ": " : "",
                     error != 0 ? std::strerror(error) : "");
        std::fflush(stderr);
        return false;
    }
    return true;
}

void XMLTraceWriter::check(int result)
{
    if (result < 0) {
        failed = true;
    }
}

void XMLTraceWriter::writeAttribute(const char* name, const std::string& value)
{
    if (writer == nullptr || failed || value.empty()) {
        return;
    }
    check(xmlLibrary().textWriterWriteAttribute(writer, xml(name), xml(value)));
}

void XMLTraceWriter::startElement(const char* name)
{
    if (writer == nullptr || failed) {
        return;
    }
    check(xmlLibrary().textWriterStartElement(writer, xml(name)));
}

void XMLTraceWriter::endElement()
{
    if (writer == nullptr || failed) {
        return;
    }
    check(xmlLibrary().textWriterEndElement(writer));
}

void XMLTraceWriter::writeTextElement(const char* name, const std::string& text)
{
    if (writer == nullptr || failed) {
        return;
    }
    check(xmlLibrary().textWriterWriteElement(writer, xml(name), xml(text)));
}

void XMLTraceWriter::writeCDATA(const std::string& text)
{
    if (writer == nullptr || failed) {
        return;
    }
    check(xmlLibrary().textWriterWriteCDATA(writer, xml(text)));
}

void XMLTraceWriter::writeTraceStart(const std::string& initialNode)
{
    startElement("trace");
    writeAttribute("initial_node", initialNode);
    writeAttribute("trace_options", "symbolic");
}

void XMLTraceWriter::writeSystem(const XMLSystem& system)
{
    startElement("system");
    for (const auto& clock : system.getClocks()) {
        writeClock(*clock);
    }
    for (const auto& variable : system.getVariables()) {
        writeVariable(*variable);
    }
    for (const auto& process : system.getProcesses()) {
        writeProcess(*process);
    }
    endElement();
}

void XMLTraceWriter::writeProcess(const XMLProcess& process)
{
    startElement("process");
    writeAttribute("id", process.id());
    writeAttribute("name", process.getName());
    for (const auto& clock : process.getClocks()) {
        writeClock(*clock);
    }
    for (const auto& variable : process.getVariables()) {
        writeVariable(*variable);
    }
    for (const auto& location : process.getLocations()) {
        writeLocation(*location);
    }
    for (const auto& edge : process.getEdges()) {
        writeEdge(*edge);
    }
    endElement();
}

void XMLTraceWriter::writeClock(const XMLClock& clock)
{
    startElement("clock");
    writeAttribute("name", clock.name);
    writeAttribute("id", clock.getId());
    endElement();
}

void XMLTraceWriter::writeVariable(const XMLVariable& variable)
{
    startElement("variable");
    writeAttribute("name", variable.getName());
    writeAttribute("id", variable.id());
    endElement();
}

void XMLTraceWriter::writeLocation(const XMLLocation& location)
{
    startElement("location");
    writeAttribute("id", location.id());
    writeAttribute("name", location.getName());
    writeCDATA(location.getInvariant());
    endElement();
}

void XMLTraceWriter::writeEdge(const XMLEdge& edge)
{
    startElement("edge");
    writeAttribute("id", edge.id());
    writeAttribute("from", edge.getSourceId());
    writeAttribute("to", edge.getTargetId());
    writeTextElement("guard", edge.getGuard());
    writeTextElement("sync", edge.getSync());
    writeTextElement("update", edge.getUpdate());
    endElement();
}

void XMLTraceWriter::writeLocationVector(const XMLLocVec& vector)
{
    startElement("location_vector");
    writeAttribute("id", vector.id());
    writeAttribute("locations", vector.getLocationsText());
    endElement();
}

void XMLTraceWriter::writeVariableVector(const XMLVariableVector& vector)
{
    startElement("variable_vector");
    writeAttribute("id", vector.id());
    for (size_t i = 0; i < vector.size(); ++i) {
        const XMLVarState& entry = vector.entry(i);
        startElement("variable_state");
        writeAttribute("variable", entry.getVariableId());
        writeAttribute("value", entry.getValue());
        endElement();
    }
    endElement();
}

void XMLTraceWriter::writeNode(const XMLState& state)
{
    startElement("node");
    writeAttribute("id", state.id());
    writeAttribute("location_vector", state.getLocationVectorId());
    writeAttribute("dbm_instance", state.getDBMsText());
    writeAttribute("variable_vector", state.getVariableVectorId());
    endElement();
}

void XMLTraceWriter::writeDBM(const XMLDBM& dbm)
{
    startElement("dbm_instance");
    writeAttribute("id", dbm.id());
    for (const XMLClockBound& bound : dbm.getBounds()) {
        startElement("clockbound");
        writeAttribute("clock1", bound.getClock1Id());
        writeAttribute("clock2", bound.getClock2Id());
        writeAttribute("bound", bound.infinite ? std::string("inf") : std::to_string(bound.bound));
        writeAttribute("comp", bound.comp);
        endElement();
    }
    endElement();
}

void XMLTraceWriter::writeTransition(const XMLTransition& transition)
{
    startElement("transition");
    writeAttribute("from", transition.getFromId());
    writeAttribute("to", transition.getToId());
    writeAttribute("edges", transition.getEdgesText());
    endElement();
}

void XMLTraceBuilder::write(XMLTraceWriter& writer) const
{
    writer.writeTraceStart(initialState != nullptr ? initialState->id() : std::string());
    writer.writeSystem(*system);
    locationVectors.forEach([&](const XMLLocVec& vector) { writer.writeLocationVector(vector); });
    variableVectors.forEach([&](const XMLVariableVector& vector) { writer.writeVariableVector(vector); });
    states.forEach([&](const XMLState& state) { writer.writeNode(state); });
    dbms.forEach([&](const XMLDBM& dbm) { writer.writeDBM(dbm); });
    for (const auto& transition : transitions) {
        writer.writeTransition(*transition);
    }
    // The document is not ended explicitly: closing the writer ends the file.
    writer.endElement();
}

bool writeXMLTrace(Path* first, Path* last, System* system, const std::string& fileName)
{
    // The library's own lines stay off standard error: a failed write is reported once, with the
    // file's name, when the writer is closed.
    ZOLT::LibraryErrors quiet;
    // Destroyed in reverse order: the writer is closed before the builder goes, also when an
    // exception passes.
    auto builder = std::make_unique<XMLTraceBuilder>();
    XMLTraceWriter writer;
    writer.open(fileName);
    builder->build(first, last, system);
    std::fflush(stdout);
    builder->write(writer);
    return writer.close();
}
