// The command-line program: reads the options and the file names, starts MPI when a launcher
// started it, loads the model and prints the settings of the verification.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <list>
#include <unistd.h>

#include "driver/command_line.h"
#include "driver/exception_report.h"
#include "driver/interrupt.h"
#include "driver/job.h"
#include "driver/job_runner.h"
#include "driver/loading.h"
#include "driver/model_checker.h"
#include "driver/mpi_world.h"
#include "driver/options.h"
#include "driver/statistical_setup.h"
#include "frontend/xml_library.h"
#include "support/globals.h"

// Sanitized builds only: the MPI libraries keep allocations to the end of the process and some of
// their stacks are only complete with the slow unwinder. Under a launcher MPI also runs an event
// thread (libevent, PMIx) whose plugins are unloaded before the leak check, so their allocations
// are known only by that thread's loop. Ignored without the sanitizers.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libmpi.so\nleak:libopen-pal.so\nleak:libopen-rte.so\n"
           "leak:libevent_core\nleak:libevent_pthreads\nleak:libpmix\n";
}

extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}

extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

int run(int argc, char** argv)
{
    int status = readOptions(argc, argv);
    if (status != continueRun) {
        std::exit(status);
    }
    status = readArguments(argc, argv, optind);
    if (status != continueRun) {
        std::exit(status);
    }
    // A run that is to write XML finds out now, not after its search, when it cannot.
    if (xmlTraceWanted || !verifierOptions.saveFileName.empty()) {
        ZOLT::xmlLibrary();
    }

    if (processRank == 0) {
        seedCoordinator();
        std::atexit(closeQueryFile);
        installInterruptHandler();
    }

    if (loadModel() != continueRun) {
        std::exit(1);
    }

    if (processRank == 0 && !traceOutputSettings.quiet) {
        printOptionSummary(stdout);
    }

    // Under MIRVEK_COMPILE_ONLY (with MIRVEK_DEBUG_VM, which keeps the compiler from ending the
    // run) there is no query source: nothing to verify.
    bool cutByInterrupt = false;
    if (queryFile != nullptr || queryText != nullptr) {
        base::RefPtr<PropertyBuilder> builder = modelChecker()->newPropertyBuilder();
        if (queryFile != nullptr) {
            markQueryTextStart();
            builder->parseFile(queryFile);
            markQueryTextEnd();
        } else {
            builder->parse(queryText);
        }
        // Query errors are printed against the query file; any error ends the run.
        printDiagnostics(queryFileName);

        std::list<base::RefPtr<Job>> jobs;
        for (const PropertyRecord& record : builder->getProperties()) {
            jobs.push_back(base::RefPtr<Job>(new Job(record)));
        }
        runJobs(*modelChecker(), jobs);
        cutByInterrupt = interruptCutTheRun(jobs);
        // The checker may point at the last job; it goes first.
        modelChecker()->currentJob = nullptr;
        jobs.clear();
    }

    // Whatever the queries added to the model's diagnostics; errors end the run.
    printDiagnostics(modelFileName);

    // A scenario property adds an observer to the model; -x keeps the model so modified.
    if (!verifierOptions.saveFileName.empty() && parsedModel->isModified()) {
        saveModifiedModel(verifierOptions.saveFileName, !parsedModel->observerName.empty());
    }
    deleteParsedModel();
    // An interrupted run did not answer every query; or every query was answered, but a trace
    // the user asked for is missing.
    return cutByInterrupt || traceWriteFailed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        // MPI only under a launcher; a plain start is a world of one process.
        startProcessWorld(&argc, &argv);
        installStatisticalCheckers();

        seedRandomGenerators();
        verifierOptions.setStatisticalDefaults();

        return run(argc, argv);
    } catch (...) {
        // What earlier queries recorded is not lost with the run.
        printRecordedErrors();
        const int status = reportException(std::current_exception());
        stopWorldAfterFailure(status);
        return status;
    }
}
