#include "support/progress_line.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// Read and written by the signal handler too.
volatile std::sig_atomic_t showing = 0;

constexpr char erase[] = "\33[2K";

} // namespace

void progressLineShown()
{
    showing = 1;
}

void progressLineErased()
{
    showing = 0;
}

void eraseProgressLine()
{
    if (showing != 0) {
        std::fputs(erase, stdout);
        std::fflush(stdout);
        showing = 0;
    }
}

void eraseProgressLineFromSignal()
{
    if (showing != 0) {
        // Nothing to do about a failed write: the process is ending.
        [[maybe_unused]] const ssize_t written = write(STDOUT_FILENO, erase, sizeof erase - 1);
        showing = 0;
    }
}
