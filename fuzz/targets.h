#pragma once

// The fuzz targets: each takes one input of any bytes and runs it through a front-end
// door as the program would. A target returns 0; a fault shows as a crash, a sanitizer
// report or an exception that escapes (bad input only ever gives model errors).

#include <cstddef>
#include <cstdint>

namespace mirvek_fuzz {

// A textual model in the current syntax, read and checked; one that checks clean is
// also saved as XML and read back.
int modelText(const uint8_t* data, size_t size);
// The same in the older syntax.
int modelTextOld(const uint8_t* data, size_t size);
// A query file read and checked against a small fixed model.
int queryText(const uint8_t* data, size_t size);
// An XML model, with its stored queries, read and checked; one that checks clean is also
// saved and read back.
int modelXml(const uint8_t* data, size_t size);

} // namespace mirvek_fuzz
