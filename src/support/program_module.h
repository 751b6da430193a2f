#pragma once

// Modules of the program: the parts that need a large library of their own (MPI for runs under a
// launcher, libxml2 for XML files) are built as small shared modules that lie in the program's
// folder, and are loaded only by a run that needs them. A run without them then never loads
// those libraries and the dozen others they bring along.
//
// A module exports one C function that returns its table of operations. The table begins with a
// header, which the loader compares with the program's own idea of the table, so that a module of
// another build is refused instead of called wrongly.

#include <cstdint>
#include <string>

struct ModuleTableHeader
{
    uint32_t size;     // the size of the whole table as the module was built
    uint32_t version;  // the table's version, raised whenever its operations change
};

// The folder of the running program, ending in "/"; empty when it cannot be found out.
std::string programDirectory();

// Loads the module `fileName` from the program's folder (once; it stays loaded to the end of the
// process) and returns the table that its function `entry` returns. With `global`, the symbols of
// the module and of the libraries it needs are made visible to libraries loaded later (some
// libraries load plug-ins of their own that expect it). Throws std::runtime_error, naming the
// module, what it is `for` and the reason, when the module cannot be loaded, lacks the entry, or
// its table does not match `expected`.
const ModuleTableHeader* loadProgramModule(const char* fileName, const char* entry, const ModuleTableHeader& expected,
                                           const char* purpose, bool global);

// The table of type Table (whose first member is its header and which names its version in
// Table::version) from the module, as loadProgramModule.
template <class Table>
const Table& loadModuleTable(const char* fileName, const char* entry, const char* purpose, bool global = false)
{
    const ModuleTableHeader expected{static_cast<uint32_t>(sizeof(Table)), Table::version};
    return *reinterpret_cast<const Table*>(loadProgramModule(fileName, entry, expected, purpose, global));
}
