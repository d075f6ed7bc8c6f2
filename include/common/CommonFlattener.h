#pragma once

#include "NUVA_o/Flattener.h"

namespace NUVA_o {
class Cube;
}

// Prepares `cube` for flattening and returns a flattener on it (which keeps a reference to the
// cube) with one reference for the caller; null, after an assertion report, for a null cube.
extern "C" VTQ_EXPORT NUVA_o::Flattener* createCommonFlattener(NUVA_o::Cube* cube);
