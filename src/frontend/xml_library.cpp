#include "frontend/xml_library.h"

#include <cctype>

// Defined only where the table is linked into the program (xml_module.cpp); elsewhere null.
extern "C" const ModuleTableHeader* mirvekXmlLibrary() __attribute__((weak));

namespace ZOLT {

const XmlLibrary& xmlLibrary()
{
    static const XmlLibrary& library =
        mirvekXmlLibrary != nullptr
            ? *reinterpret_cast<const XmlLibrary*>(mirvekXmlLibrary())
            : loadModuleTable<XmlLibrary>("mirvek-xml.so", "mirvekXmlLibrary", "reading and writing XML files");
    return library;
}

LibraryErrors::LibraryErrors()
    : handler(xmlLibrary().structuredError()), context(xmlLibrary().structuredErrorContext())
{
    xmlLibrary().setStructuredErrorFunc(this, &LibraryErrors::collect);
}

LibraryErrors::~LibraryErrors()
{
    xmlLibrary().setStructuredErrorFunc(context, handler);
}

namespace {

std::string trimmedEnd(std::string text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

} // namespace

void LibraryErrors::collect(void* self, xmlError* error)
{
    auto* errors = static_cast<LibraryErrors*>(self);
    if (error == nullptr || error->message == nullptr) {
        return;
    }
    if (errors->first.empty()) {
        errors->first = trimmedEnd(error->message);
    }
    if (error->level == XML_ERR_FATAL && errors->fatal.code == 0) {
        std::string message = error->message;
        // Some messages go on over further lines (the bytes of a bad character, say).
        const std::size_t lineEnd = message.find('\n');
        errors->fatal.message = trimmedEnd(lineEnd == std::string::npos ? message : message.substr(0, lineEnd));
        errors->fatal.code = error->code != 0 ? error->code : -1;
        errors->fatal.line = error->line;
        errors->fatal.column = error->int2;
        if (lineEnd != std::string::npos) {
            errors->fatal.detail = trimmedEnd(message.substr(lineEnd + 1));
        }
    }
}

} // namespace ZOLT
