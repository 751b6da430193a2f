#include "support/program_module.h"

#include <climits>
#include <dlfcn.h>
#include <stdexcept>
#include <unistd.h>

std::string programDirectory()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) {
        return {};
    }
    std::string directory(path, static_cast<size_t>(length));
    const size_t slash = directory.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    directory.resize(slash + 1);
    return directory;
}

const ModuleTableHeader* loadProgramModule(const char* fileName, const char* entry, const ModuleTableHeader& expected,
                                           const char* purpose, bool global)
{
    const std::string path = programDirectory() + fileName;
    auto fail = [&](const std::string& reason) -> const ModuleTableHeader* {
        throw std::runtime_error("Cannot load the module " + path + " for " + purpose + ": " + reason);
    };
    if (path.front() != '/') {
        return fail("the folder of the program is unknown");
    }
    // Resolving every symbol now turns a module that does not fit the libraries found at run
    // time into this error, instead of a crash at some later call.
    void* module = dlopen(path.c_str(), RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
    if (module == nullptr) {
        const char* text = dlerror();
        std::string reason = text != nullptr ? text : "unknown reason";
        // The loader's text begins with the path, which the message already names.
        if (reason.starts_with(path + ": ")) {
            reason.erase(0, path.size() + 2);
        }
        return fail(reason);
    }
    using Entry = const ModuleTableHeader* (*)();
    auto function = reinterpret_cast<Entry>(dlsym(module, entry));
    if (function == nullptr) {
        return fail(std::string("it has no function ") + entry);
    }
    const ModuleTableHeader* table = function();
    if (table == nullptr || table->size != expected.size || table->version != expected.version) {
        return fail("it belongs to another build of the program");
    }
    return table;
}
