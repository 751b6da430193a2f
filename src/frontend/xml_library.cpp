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

void LibraryErrors::collect(void* self, xmlError* error)
{
    auto* errors = static_cast<LibraryErrors*>(self);
    if (errors->first.empty() && error != nullptr && error->message != nullptr) {
        errors->first = error->message;
        while (!errors->first.empty() && std::isspace(static_cast<unsigned char>(errors->first.back()))) {
            errors->first.pop_back();
        }
    }
}

} // namespace ZOLT
