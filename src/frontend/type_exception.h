#pragma once

// The builders report some model errors by throwing ZOLT::TypeException; the
// parser catches it around every builder call. The class belongs to the language core.
#include "language/type.h"
