#pragma once

#include "NUVA_o/Expression.h"

namespace NUVA_o {
class Cube;
}

// A new, empty root expression on `cube` (which it keeps a reference to; may be null), with
// one reference for the caller.
extern "C" VTQ_EXPORT NUVA_o::Expression* createCommonExpression(NUVA_o::Cube* cube);

// The keyword that printing writes for a node type; "" for types printed without one.
extern "C" VTQ_EXPORT const char* expressionTypeKeyword(int type);
