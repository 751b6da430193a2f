#include "driver/exception_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "support/exceptions.h"
#include "support/progress_line.h"

TEST(ExceptionReport, EachKindOfFailureHasItsTextAndEndsWithStatusOne)
{
    struct Case
    {
        const char* name;
        std::exception_ptr error;
        const char* out;
        const char* err;
    };
    const Case cases[] = {
        {"out of memory", std::make_exception_ptr(std::bad_alloc()),
         "Out of memory. See \n"
         "  the memory-saving options -S, -A and -Z in the help screen (-h)\n"
         "for more information.\n",
         ""},
        {"message key", std::make_exception_ptr(std::runtime_error("$No_such_file: a_b")), "",
         "EXCEPTION: No such file: a_b.\n"},
        {"own exception", std::make_exception_ptr(RuntimeException("u0 must be > %d", 0)), "",
         "EXCEPTION: u0 must be > 0.\n"},
        {"internal error", std::make_exception_ptr(Bug("Incomplete stats")), "", "EXCEPTION: Incomplete stats.\n"},
        {"not an exception", std::make_exception_ptr(42), "", "UNKNOWN EXCEPTION"},
    };
    for (const Case& c : cases) {
        // A progress line shows or not: the report erases it first, and only then.
        for (bool progress : {false, true}) {
            if (progress) {
                progressLineShown();
            }
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            const int status = reportException(c.error);
            std::fflush(stdout);
            std::fflush(stderr);
            const std::string out = testing::internal::GetCapturedStdout();
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(status, 1) << c.name;
            EXPECT_EQ(out, (progress ? "\33[2K" : "") + std::string(c.out)) << c.name;
            EXPECT_EQ(err, c.err) << c.name;
        }
    }
}
