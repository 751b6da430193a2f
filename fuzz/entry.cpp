// The libFuzzer entry of one target; MIRVEK_FUZZ_TARGET names its function.

#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return mirvek_fuzz::MIRVEK_FUZZ_TARGET(data, size);
}
