#pragma once

#include "NUVA_o/Tuple.h"

// A new, empty tuple with one reference for the caller.
extern "C" VTQ_EXPORT NUVA_o::Tuple* createCommonTuple();
