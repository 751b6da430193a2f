#pragma once

// Text of bounds, constraints and matrices.
//
// The text of a zone with clock names is dbm::zone_t::toString (declared with the zone, defined with the
// printers here); the clock names come from a dbm::ClockAccessor. The other printers are diagnostics: each
// exists for a std::ostream and for a FILE of the C standard library.

#include "dbm/bound.h"
#include "support/object.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <streambuf>
#include <string>

namespace io {
// An unbuffered stream buffer over a FILE: every character goes straight to fputc. The destructor
// flushes the file and leaves it open.
class FileStreamBuffer : public std::basic_streambuf<char> {
public:
    explicit FileStreamBuffer(FILE* file) : file_(file) {}
    ~FileStreamBuffer() override;

    FileStreamBuffer(const FileStreamBuffer&) = delete;
    FileStreamBuffer& operator=(const FileStreamBuffer&) = delete;

protected:
    int_type overflow(int_type c) override;

private:
    FILE* file_;
};
}  // namespace io

namespace dbm {
class zone_t;

// Names of the clocks of a zone, for its text.
class ClockAccessor : public base::Object {
public:
    // Name of the clock with the given index in the zone (1 to dimension - 1; never the reference clock).
    virtual std::string getClockName(uint32_t clock) const = 0;
};

// "INF", "-INF", the decimal value, or "illegal" for a value beyond +-infinity.
void printRawValue(std::ostream& out, int32_t value);
void printRawValue(FILE* out, int32_t value);

// "<=" or "<" followed by the bound's value, for example <=3 or <INF.
void printBound(std::ostream& out, bound_t bound);
void printBound(FILE* out, bound_t bound);

// x1-x0<=5
void printConstraint(std::ostream& out, const clock_constraint_t& constraint);

// (1)-(0)<=5 (2)-(1)<3: the constraints separated by blanks.
void printConstraintArray(std::ostream& out, const clock_constraint_t* constraints, size_t count);
void printConstraintArray(FILE* out, const clock_constraint_t* constraints, size_t count);

// [<=1 <INF]
void printBoundArray(std::ostream& out, const bound_t* bounds, size_t count);
void printBoundArray(FILE* out, const bound_t* bounds, size_t count);

// [0 INF -3]
void printRawValueArray(std::ostream& out, const int32_t* values, size_t count);
void printRawValueArray(FILE* out, const int32_t* values, size_t count);

// One line per row: the line prefix, each bound followed by a tab, then a backslash. Nothing for null.
void printMatrix(std::ostream& out, const bound_t* dbm, uint32_t n);
void printMatrix(FILE* out, const bound_t* dbm, uint32_t n);

// The matrix of a zone; nothing for an empty zone.
void printZone(std::ostream& out, const zone_t& zone);

// Both matrices, the entries in which they differ in bold red.
void printMatrixDiff(std::ostream& out, const bound_t* a, const bound_t* b, uint32_t n);
void printMatrixDiff(FILE* out, const bound_t* a, const bound_t* b, uint32_t n);

// The matrix beside its closure, with the entries that closure changes in red and a warning when the
// closure is empty.
void printMatrixChecked(std::ostream& out, const bound_t* dbm, uint32_t n);
void printMatrixChecked(FILE* out, const bound_t* dbm, uint32_t n);

// The line prefix that the matrix and federation printers write at the start of each row (initially
// empty; null sets it empty).
void setPrintPrefix(const char* prefix);
const char* getPrintPrefix();

// Whether federations are printed in matrix syntax (initially off).
void setPrintMatrixSyntax(bool on);
bool getPrintMatrixSyntax();
}  // namespace dbm
