#include "driver/exception_report.h"

#include <cstdio>
#include <new>

#include "driver/message_key.h"
#include "runtime/exceptions.h"
#include "support/progress_line.h"

int reportException(std::exception_ptr error)
{
    // The report ends the run: it must not be written over a progress line.
    eraseProgressLine();
    try {
        std::rethrow_exception(error);
    } catch (const InitialStateUndefinedException&) {
        std::fputs("The initial state is undefined.\n", stdout);
    } catch (const std::bad_alloc&) {
        // There is no support page to send users to; the options that make a search need less
        // memory are the useful pointer.
        std::fputs("Out of memory. See \n"
                   "  the memory-saving options -S, -A and -Z in the help screen (-h)\n"
                   "for more information.\n",
                   stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "EXCEPTION: %s\n", formatMessageKey(e.what()).c_str());
    } catch (...) {
        std::fputs("UNKNOWN EXCEPTION", stderr);
    }
    return 1;
}
