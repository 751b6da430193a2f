// The table of the libxml2 functions the program uses (see frontend/xml_library.h): the entry of
// the module mirvek-xml.so, and linked directly into the programs that read XML without the
// module (the tests).

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlstring.h>

#include "frontend/xml_library.h"

namespace {

// libxml2 defines these as macros over its per-thread globals: they are read at each call.
void* allocate(size_t size)
{
    return xmlMalloc(size);
}

void* reallocate(void* memory, size_t size)
{
    return xmlRealloc(memory, size);
}

void release(void* memory)
{
    xmlFree(memory);
}

xmlStructuredErrorFunc structuredError()
{
    return xmlStructuredError;
}

void* structuredErrorContext()
{
    return xmlStructuredErrorContext;
}

const ZOLT::XmlLibrary table{
    {static_cast<uint32_t>(sizeof(ZOLT::XmlLibrary)), ZOLT::XmlLibrary::version},
    allocate,
    reallocate,
    release,
    xmlCheckUTF8,
    xmlFindCharEncodingHandler,
    structuredError,
    structuredErrorContext,
    xmlSetStructuredErrorFunc,
    xmlReaderForFile,
    xmlReaderForMemory,
    xmlFreeTextReader,
    xmlCreatePushParserCtxt,
    xmlCtxtUseOptions,
    xmlParseChunk,
    xmlFreeParserCtxt,
    xmlFreeDoc,
    xmlTextReaderRead,
    xmlTextReaderNodeType,
    xmlTextReaderIsEmptyElement,
    xmlTextReaderConstLocalName,
    xmlTextReaderConstValue,
    xmlTextReaderGetAttribute,
    xmlOutputBufferCreateIO,
    xmlOutputBufferClose,
    xmlNewTextWriter,
    xmlNewTextWriterFilename,
    xmlFreeTextWriter,
    xmlTextWriterSetIndent,
    xmlTextWriterSetIndentString,
    xmlTextWriterStartDocument,
    xmlTextWriterEndDocument,
    xmlTextWriterWriteDTD,
    xmlTextWriterStartElement,
    xmlTextWriterEndElement,
    xmlTextWriterWriteElement,
    xmlTextWriterWriteAttribute,
    xmlTextWriterWriteString,
    xmlTextWriterWriteCDATA,
    xmlTextWriterFlush,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const ModuleTableHeader* mirvekXmlLibrary()
{
    return &table.header;
}
