#pragma once

#include <vector>

#include "NUVA_o/Parameter.h"
#include "support/Export.h"

namespace NUVA_o {
class Cube;
class ServerParameter;
}  // namespace NUVA_o

// A parameter over a provider's description, with one reference for the caller. The cube is
// borrowed (it owns its parameters and outlives them); the server parameter is held.
extern "C" VTQ_EXPORT NUVA_o::Parameter* createCommonParameter(const NUVA_o::Cube* cube,
                                                               const NUVA_o::ServerParameter* serverParameter);

namespace common {
// The text of a parameter's value as a user or a saved view writes it: a unique name, a number,
// or "{a, b}" for a member set; empty for no value.
VTQ_EXPORT TOVAString parameterValueText(const NUVA_o::ParameterValue& value);

// Replaces the parameter's values by values read from such texts (a number for a numeric
// parameter, "{a, b}" or one member for a member set, otherwise the text), in a transaction of
// its own. Throws what the parameter refuses; it is then rolled back, the parameter unchanged.
VTQ_EXPORT void setParameterValueTexts(NUVA_o::Parameter& parameter, const std::vector<TOVAString>& texts);
}  // namespace common
