#include "driver/interrupt.h"

#include <unistd.h>

#include "support/progress_line.h"

volatile std::sig_atomic_t interrupted = 0;
void (*stopRunningCheck)() = nullptr;

void onInterrupt(int)
{
    if (interrupted != 0) {
        eraseProgressLineFromSignal();
        _exit(1);
    }
    interrupted = 1;
    if (stopRunningCheck != nullptr) {
        stopRunningCheck();
    }
}

void installInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}
