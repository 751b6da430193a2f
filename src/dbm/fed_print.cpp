// Diagnostic dump of a federation: its matrices one after the other, in the plain
// or in the matrix syntax chosen by the printers' switch.

#include <ostream>

#include "dbm/fed.h"
#include "dbm/print.h"

namespace dbm
{
    void printFederation(std::ostream& os, const fed_t& f)
    {
        const uint32_t n = f.getDimension();
        const size_t k = f.size();
        const char* prefix = getPrintPrefix();
        if (getPrintMatrixSyntax()) {
            os << "Fed(" << n << ") {";
            if (k == 0) {
                os << "}";
                return;
            }
            if (k >= 2) {
                os << "[\n" << prefix;
            }
            os << " matrix\\\n";
            if (n == 1) {
                os << "<=0 }";
                return;
            }
            for (auto it = f.begin(); it != f.end(); ++it) {
                if (it != f.begin()) {
                    os << prefix << ",matrix\\\n";
                }
                printMatrix(os, it.matrix(), n);
            }
            os << prefix << (k >= 2 ? "]}" : "}");
            return;
        }
        if (k == 0) {
            os << "0 DBM " << n << "x" << n << "{}";
            return;
        }
        os << k << (k < 2 ? " DBM " : " DBMs ") << n << "x" << n << " {\n";
        if (n == 1) {
            os << "<=0\n";
        } else {
            for (auto it = f.begin(); it != f.end(); ++it) {
                if (it != f.begin()) {
                    os << prefix << ",\n";
                }
                printMatrix(os, it.matrix(), n);
            }
        }
        os << prefix << "}";
    }
}
