#pragma once

// The program does not link libxml2. The functions of it that the XML reader and the XML writers
// call are reached through this table, which the module mirvek-xml.so in the program's folder
// provides; it is loaded the first time an XML file is read or written, so that a run on a
// textual model never loads libxml2 and the libraries it brings along. A program that has the
// table linked in (the tests) uses that one instead of loading the module.
//
// Each entry is the libxml2 function of the same name without its "xml" prefix; only the memory
// functions and the error-handler globals, which libxml2 defines as macros, are wrapped.

#include <string>

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>

#include "support/program_module.h"

namespace ZOLT {

struct XmlLibrary
{
    static constexpr uint32_t version = 2;

    ModuleTableHeader header;

    // The allocator of the texts that libxml2 hands out (xmlMalloc, xmlRealloc, xmlFree).
    void* (*malloc)(size_t size);
    void* (*realloc)(void* memory, size_t size);
    void (*free)(void* memory);

    decltype(&::xmlCheckUTF8) checkUTF8;
    decltype(&::xmlFindCharEncodingHandler) findCharEncodingHandler;

    // The handler of structured errors and its context (xmlStructuredError,
    // xmlStructuredErrorContext), and their setter.
    xmlStructuredErrorFunc (*structuredError)();
    void* (*structuredErrorContext)();
    decltype(&::xmlSetStructuredErrorFunc) setStructuredErrorFunc;

    decltype(&::xmlReaderForFile) readerForFile;
    decltype(&::xmlReaderForMemory) readerForMemory;
    decltype(&::xmlFreeTextReader) freeTextReader;
    decltype(&::xmlCreatePushParserCtxt) createPushParserCtxt;
    decltype(&::xmlCtxtUseOptions) ctxtUseOptions;
    decltype(&::xmlParseChunk) parseChunk;
    decltype(&::xmlFreeParserCtxt) freeParserCtxt;
    decltype(&::xmlFreeDoc) freeDoc;
    decltype(&::xmlTextReaderRead) textReaderRead;
    decltype(&::xmlTextReaderNodeType) textReaderNodeType;
    decltype(&::xmlTextReaderIsEmptyElement) textReaderIsEmptyElement;
    decltype(&::xmlTextReaderConstLocalName) textReaderConstLocalName;
    decltype(&::xmlTextReaderConstValue) textReaderConstValue;
    decltype(&::xmlTextReaderGetAttribute) textReaderGetAttribute;

    decltype(&::xmlOutputBufferCreateIO) outputBufferCreateIO;
    decltype(&::xmlOutputBufferClose) outputBufferClose;
    decltype(&::xmlNewTextWriter) newTextWriter;
    decltype(&::xmlNewTextWriterFilename) newTextWriterFilename;
    decltype(&::xmlFreeTextWriter) freeTextWriter;
    decltype(&::xmlTextWriterSetIndent) textWriterSetIndent;
    decltype(&::xmlTextWriterSetIndentString) textWriterSetIndentString;
    decltype(&::xmlTextWriterStartDocument) textWriterStartDocument;
    decltype(&::xmlTextWriterEndDocument) textWriterEndDocument;
    decltype(&::xmlTextWriterWriteDTD) textWriterWriteDTD;
    decltype(&::xmlTextWriterStartElement) textWriterStartElement;
    decltype(&::xmlTextWriterEndElement) textWriterEndElement;
    decltype(&::xmlTextWriterWriteElement) textWriterWriteElement;
    decltype(&::xmlTextWriterWriteAttribute) textWriterWriteAttribute;
    decltype(&::xmlTextWriterWriteString) textWriterWriteString;
    decltype(&::xmlTextWriterWriteCDATA) textWriterWriteCDATA;
    decltype(&::xmlTextWriterFlush) textWriterFlush;
};

// The table: the linked-in one, else the module's, loaded the first time. Throws
// std::runtime_error, with the reason, when the module cannot be loaded.
const XmlLibrary& xmlLibrary();

// An error the library reported: its code (xmlParserErrors), where it stands in the document
// (line from 1 and column in characters from 1; 0 when unknown), the first line of its message
// and the lines after it (such as the bytes of a bad character), without trailing blanks.
struct LibraryError
{
    int code = 0;
    int line = 0;
    int column = 0;
    std::string message;
    std::string detail;
};

// For as long as it lives, keeps the library's own error lines off standard error and keeps the
// first message (without its trailing blanks), so that a failure is reported once, in the
// program's words; the previous handler comes back at the end.
class LibraryErrors
{
public:
    LibraryErrors();
    ~LibraryErrors();
    LibraryErrors(const LibraryErrors&) = delete;
    LibraryErrors& operator=(const LibraryErrors&) = delete;

    std::string first;
    // The first fatal error, the one that stopped a parse; code 0 while none came.
    LibraryError fatal;

private:
    static void collect(void* self, xmlError* error);

    xmlStructuredErrorFunc handler;
    void* context;
};

} // namespace ZOLT
