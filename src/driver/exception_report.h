#pragma once

#include <exception>

// Reports an exception that ended the run and returns the exit status for it (always 1). A
// progress line that shows is erased first.
// Out of memory is reported on standard output with a pointer to the memory-saving options; every other
// standard exception as "EXCEPTION: " and its formatted message on standard error; anything else
// as "UNKNOWN EXCEPTION" on standard error.
int reportException(std::exception_ptr error);
