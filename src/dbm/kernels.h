#pragma once
// The instruction sets the innermost loops of the zone library are built for.
//
// The closures, the relations and inclusion tests of matrices and of encoded zones, and the
// analysis of minimal graphs have one portable version and versions for the vector instructions
// of x86-64 processors. The set is chosen at run time, on first use: the best one the processor
// runs, unless the environment variable MIRVEK_DBM_KERNELS names another one ("generic", "avx2"
// or "avx512") that it runs. Every set gives exactly the same results; the choice only changes
// the speed. The program is built for any x86-64 processor: no set but the generic one is ever
// used on a processor without its instructions.

#include <cstdint>

namespace dbm {

enum class kernel_set_t : uint32_t {
    GENERIC = 0,  // portable scalar code
    AVX2 = 1,     // 256-bit vectors
    AVX512 = 2    // 512-bit vectors with mask registers (AVX-512 F, BW, VL, DQ)
};

// "generic", "avx2", "avx512".
const char* kernelSetName(kernel_set_t set);
// True when this processor runs the set (the generic one always).
bool kernelSetSupported(kernel_set_t set);
// The set in use.
kernel_set_t kernelSet();
// Makes `set` the one in use; false, changing nothing, when the processor does not run it.
// For the tests and benchmarks that compare the sets.
bool useKernelSet(kernel_set_t set);

}  // namespace dbm
