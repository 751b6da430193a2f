#include "frontend/xml_library.h"

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

} // namespace ZOLT
