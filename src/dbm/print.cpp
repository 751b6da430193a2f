#include "dbm/print.h"

#include "dbm/dbm.h"
#include "dbm/encoded.h"
#include "dbm/zone.h"

#include <vector>

namespace io {
FileStreamBuffer::~FileStreamBuffer() { std::fflush(file_); }

FileStreamBuffer::int_type FileStreamBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return std::fputc(c, file_);
}
}  // namespace io

namespace dbm {
namespace {
const char* const kRed = "\x1b[1;31m";
const char* const kNormal = "\x1b[0;0m";

struct PrintSettings {
    std::string prefix;
    bool matrixSyntax = false;
};

PrintSettings& settings()
{
    static PrintSettings instance;
    return instance;
}

// Runs a stream printer on a FILE and flushes the file.
template <typename F>
void onFile(FILE* file, F&& print)
{
    {
        io::FileStreamBuffer buffer(file);
        std::ostream out(&buffer);
        print(out);
    }
    std::fflush(file);
}

void printDiffRows(std::ostream& out, const bound_t* a, const bound_t* b, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            if (j > 0) out << '\t';
            const uint32_t k = i * n + j;
            if (a[k] != b[k]) {
                out << kRed;
                printBound(out, a[k]);
                out << kNormal;
            } else {
                printBound(out, a[k]);
            }
        }
        out << '\n';
    }
}
}  // namespace

void printRawValue(std::ostream& out, int32_t value)
{
    if (value == INF_VALUE) {
        out << "INF";
    } else if (value == MINUS_INF_VALUE) {
        out << "-INF";
    } else if (value > MINUS_INF_VALUE && value < INF_VALUE) {
        out << value;
    } else {
        out << "illegal";
    }
}

void printRawValue(FILE* out, int32_t value)
{
    onFile(out, [&](std::ostream& s) { printRawValue(s, value); });
}

void printBound(std::ostream& out, bound_t bound)
{
    out << (isWeak(bound) ? "<=" : "<");
    printRawValue(out, boundValue(bound));
}

void printBound(FILE* out, bound_t bound)
{
    onFile(out, [&](std::ostream& s) { printBound(s, bound); });
}

void printConstraint(std::ostream& out, const clock_constraint_t& constraint)
{
    out << 'x' << constraint.i << "-x" << constraint.j;
    printBound(out, constraint.bound);
}

void printConstraintArray(std::ostream& out, const clock_constraint_t* constraints, size_t count)
{
    for (size_t k = 0; k < count; ++k) {
        if (k > 0) out << ' ';
        out << '(' << constraints[k].i << ")-(" << constraints[k].j << ')';
        printBound(out, constraints[k].bound);
    }
}

void printConstraintArray(FILE* out, const clock_constraint_t* constraints, size_t count)
{
    onFile(out, [&](std::ostream& s) { printConstraintArray(s, constraints, count); });
}

void printBoundArray(std::ostream& out, const bound_t* bounds, size_t count)
{
    out << '[';
    for (size_t k = 0; k < count; ++k) {
        if (k > 0) out << ' ';
        printBound(out, bounds[k]);
    }
    out << ']';
}

void printBoundArray(FILE* out, const bound_t* bounds, size_t count)
{
    onFile(out, [&](std::ostream& s) { printBoundArray(s, bounds, count); });
}

void printRawValueArray(std::ostream& out, const int32_t* values, size_t count)
{
    out << '[';
    for (size_t k = 0; k < count; ++k) {
        if (k > 0) out << ' ';
        printRawValue(out, values[k]);
    }
    out << ']';
}

void printRawValueArray(FILE* out, const int32_t* values, size_t count)
{
    onFile(out, [&](std::ostream& s) { printRawValueArray(s, values, count); });
}

void printMatrix(std::ostream& out, const bound_t* dbm, uint32_t n)
{
    if (dbm == nullptr) return;
    const std::string& prefix = settings().prefix;
    for (uint32_t i = 0; i < n; ++i) {
        out << prefix;
        for (uint32_t j = 0; j < n; ++j) {
            printBound(out, dbm[i * n + j]);
            out << '\t';
        }
        out << "\\\n";
    }
}

void printMatrix(FILE* out, const bound_t* dbm, uint32_t n)
{
    onFile(out, [&](std::ostream& s) { printMatrix(s, dbm, n); });
}

void printMatrixDiff(std::ostream& out, const bound_t* a, const bound_t* b, uint32_t n)
{
    out << "DBM diff " << n << 'x' << n << ":\n";
    if (n == 0) {
        out << '\n';
        return;
    }
    printDiffRows(out, a, b, n);
    out << '\n';
    printDiffRows(out, b, a, n);
}

void printMatrixDiff(FILE* out, const bound_t* a, const bound_t* b, uint32_t n)
{
    onFile(out, [&](std::ostream& s) { printMatrixDiff(s, a, b, n); });
}

void printMatrixChecked(std::ostream& out, const bound_t* dbm, uint32_t n)
{
    std::vector<bound_t> closed(dbm, dbm + size_t{n} * n);
    if (n > 0) {
        close(closed.data(), n);
        if (isEmpty(closed.data(), n)) out << kRed << "Warning: empty DBM!" << kNormal << ' ';
    }
    printMatrixDiff(out, dbm, closed.data(), n);
}

void printMatrixChecked(FILE* out, const bound_t* dbm, uint32_t n)
{
    onFile(out, [&](std::ostream& s) { printMatrixChecked(s, dbm, n); });
}

void printZone(std::ostream& out, const zone_t& zone)
{
    if (!zone.isEmpty()) printMatrix(out, zone.getMatrix(), zone.getDimension());
}

std::string zone_t::toString(const ClockAccessor& clocks, bool allBounds) const
{
    if (isEmpty()) return "false";
    const uint32_t n = getDimension();
    const bound_t* m = getMatrix();

    // The bounds to print, marked in a bit matrix, and how many remain to be printed or folded away.
    std::vector<uint32_t> marks(bitMatrixWords(n), 0);
    uint32_t countdown;
    if (allBounds) {
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t j = 0; j < n; ++j)
                if (i != j && isFinite(m[i * n + j])) marks[(i * n + j) >> 5] |= 1u << ((i * n + j) & 31);
        countdown = n * (n - 1);
    } else {
        countdown = analyzeMinimalGraph(m, n, marks.data());
        countdown = cleanZeroLowerBounds(m, n, marks.data(), countdown);
    }
    if (countdown == 0) return "true";

    auto isMarked = [&](uint32_t k) { return (marks[k >> 5] >> (k & 31)) & 1; };
    // A fixed difference prints once: the opposite bound is folded into it.
    auto fold = [&](uint32_t k) {
        if (isMarked(k)) {
            marks[k >> 5] &= ~(1u << (k & 31));
            --countdown;
        }
    };
    auto comparison = [](bound_t b) { return isWeak(b) ? "<=" : "<"; };

    std::string text = "(";
    bool first = true;
    for (uint32_t i = 0; i < n && countdown > 0; ++i) {
        for (uint32_t j = 0; j < n && countdown > 0; ++j) {
            if (!isMarked(i * n + j)) continue;
            if (!first) text += " && ";
            first = false;
            const bound_t b = m[i * n + j];
            const bound_t opposite = m[j * n + i];
            const bool fixed = isFinite(opposite) && addFinite(b, opposite) == BOUND_LE_ZERO;
            if (fixed) fold(j * n + i);
            if (i == 0) {
                if (fixed) {
                    text += clocks.getClockName(j);
                    text += "==";
                    text += std::to_string(-boundValue(b));
                } else {
                    text += std::to_string(-boundValue(b));
                    text += comparison(b);
                    text += clocks.getClockName(j);
                }
            } else if (fixed) {
                text += clocks.getClockName(i);
                if (j != 0 && b == BOUND_LE_ZERO) {
                    text += "==";
                    text += clocks.getClockName(j);
                } else {
                    if (j != 0) {
                        text += '-';
                        text += clocks.getClockName(j);
                    }
                    text += "==";
                    text += std::to_string(boundValue(b));
                }
            } else {
                text += clocks.getClockName(i);
                if (j != 0 && boundValue(b) == 0) {
                    text += comparison(b);
                    text += clocks.getClockName(j);
                } else {
                    if (j != 0) {
                        text += '-';
                        text += clocks.getClockName(j);
                    }
                    text += comparison(b);
                    text += std::to_string(boundValue(b));
                }
            }
            --countdown;
        }
    }
    text += ')';
    return text;
}

void setPrintPrefix(const char* prefix) { settings().prefix = prefix != nullptr ? prefix : ""; }

const char* getPrintPrefix() { return settings().prefix.c_str(); }

void setPrintMatrixSyntax(bool on) { settings().matrixSyntax = on; }

bool getPrintMatrixSyntax() { return settings().matrixSyntax; }
}  // namespace dbm
