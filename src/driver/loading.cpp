#include "driver/loading.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <strings.h>
#include <sys/stat.h>

#include "driver/command_line.h"
#include "driver/model_checker.h"
#include "driver/message_key.h"
#include "driver/options.h"
#include "frontend/xml_writer.h"
#include "support/globals.h"
#include "support/progress_line.h"
#include "typecheck/checked_reading.h"

namespace {

int32_t readXml(const std::string& fileName, ZOLT::TimedAutomataSystem* model, bool newSyntax,
                ZOLT::QueryList* storedQueries)
{
    return ZOLT::readCheckedXmlModelFile(fileName.c_str(), model, newSyntax, storedQueries);
}

constexpr ModelReaders defaultReaders{ZOLT::readCheckedTextModelFile, readXml};

int32_t writeXml(const std::string& fileName, ZOLT::TimedAutomataSystem* model)
{
    return ZOLT::writeSystemXml(fileName.c_str(), *model);
}

bool isXmlName(const std::string& name)
{
    return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".xml") == 0;
}

// "Error opening <name>" followed by the system's reason, on standard error.
int reportOpenFailure(const std::string& name)
{
    const int reason = errno;
    char text[256];
    std::snprintf(text, sizeof text, "Error opening %s", name.c_str());
    errno = reason;
    std::perror(text);
    return 1;
}

// Opens a model or query file for reading. A folder opens like a file but reads as nothing, and
// a run that read nothing must not pass for one that verified something: it fails with EISDIR.
std::FILE* openForReading(const std::string& name)
{
    std::FILE* file = std::fopen(name.c_str(), "r");
    struct stat info;
    if (file != nullptr && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

// "Error reading <name>" for an XML model the library cannot open, followed by the system's
// reason (a missing file, a folder, no permission) when there is one, on standard error.
int reportReadFailure(const std::string& name)
{
    std::FILE* file = openForReading(name);
    if (file != nullptr) {
        std::fclose(file);
        std::fprintf(stderr, "Error reading %s\n", name.c_str());
    } else {
        std::fprintf(stderr, "Error reading %s: %s\n", name.c_str(), std::strerror(errno));
    }
    return 1;
}

// The first position of the query file's text in the model's position table, none until a query
// file is parsed.
uint32_t queryTextStart = UINT32_MAX;
uint32_t queryTextEnd = UINT32_MAX;  // the position of the query file's last entry

void printDiagnosticList(const std::string& fileName, const std::vector<ZOLT::diagnostic_t>& list,
                         const char* kind)
{
    for (const ZOLT::diagnostic_t& d : list) {
        const bool inQueryFile = d.start.line > 0 && d.start.position >= queryTextStart &&
                                 d.start.position <= queryTextEnd;
        std::fputs(inQueryFile ? queryFileName.c_str() : fileName.c_str(), stderr);
        std::fputc(':', stderr);
        if (!d.start.path.empty()) {
            std::fprintf(stderr, "%s:", d.start.path.c_str());
        }
        std::fprintf(stderr, "%u: [%s] %s\n", static_cast<uint32_t>(d.start.line), kind,
                     formatMessageKey(d.message).c_str());
        std::fflush(stderr);
    }
}

} // namespace

std::FILE* queryFile = nullptr;
const char* queryText = nullptr;

ZOLT::TimedAutomataSystem* parsedModel = nullptr;

ModelReaders& modelReaders()
{
    static ModelReaders readers = defaultReaders;
    return readers;
}

void resetModelReaders()
{
    modelReaders() = defaultReaders;
}

XmlModelWriter& modelWriter()
{
    static XmlModelWriter writer = writeXml;
    return writer;
}

void resetModelWriter()
{
    modelWriter() = writeXml;
}

void deleteParsedModel()
{
    // The text of the stored queries belongs to the model, and so does what was compiled from it.
    queryText = nullptr;
    releaseModelChecker();
    delete parsedModel;
    parsedModel = nullptr;
}

int reportDiagnostics(const std::string& fileName, ZOLT::TimedAutomataSystem& model)
{
    if (processRank != 0) {
        // Every process holds the same model; only the first one talks to the user.
        if (model.errorsPresent()) {
            return 1;
        }
        model.clearWarnings();
        return continueRun;
    }
    if (model.errorsPresent()) {
        printDiagnosticList(fileName, model.getErrors(), "error");
        return 1;
    }
    if (model.warningsPresent() && !traceOutputSettings.quiet && verifierOptions.warnings) {
        printDiagnosticList(fileName, model.getWarnings(), "warning");
        model.clearWarnings();
    }
    return continueRun;
}

void printRecordedErrors()
{
    if (parsedModel == nullptr || processRank != 0 || !parsedModel->errorsPresent()) {
        return;
    }
    // The list is printed as a run ends: not over a progress line.
    eraseProgressLine();
    try {
        printDiagnosticList(modelFileName, parsedModel->getErrors(), "error");
    } catch (...) {
        // The failure that ends the run is reported all the same.
    }
}

void printDiagnostics(const std::string& fileName)
{
    if (reportDiagnostics(fileName, *parsedModel) != continueRun) {
        std::exit(1);
    }
}

namespace {

// The position of the last entry of the model's position table (0 when it has none).
uint32_t lastPosition()
{
    try {
        return parsedModel->findPosition(UINT32_MAX).position;
    } catch (const std::logic_error&) {
        return 0;
    }
}

} // namespace

void markQueryTextStart()
{
    // Every text parsed later starts beyond the last entry of the table.
    queryTextStart = parsedModel != nullptr ? lastPosition() + 1 : UINT32_MAX;
    queryTextEnd = UINT32_MAX;
}

void markQueryTextEnd()
{
    if (parsedModel != nullptr && queryTextStart != UINT32_MAX) {
        queryTextEnd = lastPosition();
    }
}

int loadModel()
{
    deleteParsedModel();
    parsedModel = new ZOLT::TimedAutomataSystem();
    ZOLT::TimedAutomataSystem& model = *parsedModel;
    const bool newSyntax = !oldSyntax;
    if (isXmlName(modelFileName)) {
        // A folder is no document; the XML library would read it as an empty, broken one.
        struct stat info;
        const bool folder = stat(modelFileName.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        if (folder || modelReaders().xml(modelFileName, &model, newSyntax, &model.getQueryList()) != 0) {
            return reportReadFailure(modelFileName);
        }
    } else {
        std::FILE* file = openForReading(modelFileName);
        if (file == nullptr) {
            return reportOpenFailure(modelFileName);
        }
        modelReaders().text(file, &model, newSyntax);
        std::fclose(file);
    }

    if (!model.errorsPresent()) {
        // The model checker compiles the model once; the query builder reads the channels that
        // compiling registers.
        modelChecker() = new ModelChecker(&model, verifierOptions);
        modelChecker()->compileSystem();
    }
    if (reportDiagnostics(modelFileName, model) != continueRun) {
        return 1;
    }

    // Traces of models with priorities can only be given as post-stable symbolic traces.
    const TraceOutputSettings& t = traceOutputSettings;
    if (model.hasPriorities() && verifierOptions.traceKind != 0 && (!t.symbolicTraces || t.preStable)) {
        std::fputs("Can only generate symbolic non-prestable traces for models with priorities.\n", stderr);
        return 1;
    }

    if (std::getenv("MIRVEK_COMPILE_ONLY") != nullptr) {
        return continueRun;
    }

    queryFile = openForReading(queryFileName);
    if (queryFile == nullptr) {
        // Only a guessed file that does not exist gives way; one that exists but cannot be read
        // is as much an error as a named one.
        if (queryFileGiven || errno != ENOENT) {
            return reportOpenFailure(queryFileName);
        }
        // No query file beside the model: use the queries stored in it, if any.
        const char* stored = model.getQueryList().renderQueryText();
        queryText = stored != nullptr ? stored : "";
        queriesFromFile = false;
    } else if (!queryFileGiven && processRank == 0) {
        std::printf("\33[1;34mGuessed query file:\33[0;0m%s\n", queryFileName.c_str());
    }
    return continueRun;
}

void closeQueryFile()
{
    if (queryFile != nullptr) {
        std::fclose(queryFile);
        queryFile = nullptr;
    }
}

void saveModifiedModel(const std::string& fileName, bool withQueryFile)
{
    modelWriter()(fileName, parsedModel);
    if (!withQueryFile) {
        return;
    }
    const std::size_t at = fileName.rfind(".xml");
    if (at == std::string::npos) {
        throw std::out_of_range("Cannot name the query file of " + fileName + ": the name holds no .xml");
    }
    std::string queryName = fileName;
    queryName.replace(at, 4, ".q");

    const std::string& observer = parsedModel->observerName;
    const std::string text = "/*\n"
                             "The observer TA is satisfied.\n"
                             "This is equivalent to \"The LSC scenario is satisfied\".\n"
                             "*/\n" +
                             observer + ".lmin --> " + observer + ".lmax\n";
    std::FILE* file = std::fopen(queryName.c_str(), "w");
    bool written = file != nullptr && std::fputs(text.c_str(), file) >= 0;
    int error = errno;
    if (file != nullptr && std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        throw std::runtime_error("Error opening " + queryName + ": " + std::strerror(error));
    }
}
