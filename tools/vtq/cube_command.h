#pragma once

// `vtq cube`: the cube's hierarchies, one line each.

#include <ostream>

#include "NUVA_o/Cube.h"

namespace vtq {

// Writes one line per hierarchy: dimension unique name, hierarchy unique name, number of
// levels, number of members, tab-separated. Throws what the cube throws.
void printCube(NUVA_o::Cube* cube, std::ostream& out);

}  // namespace vtq
