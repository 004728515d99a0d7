// A number set from outside (a panel control, a scene description, a script, --set) made storable
// in a parameter before it is converted.
#pragma once
#include "vomark/sdk.h"

namespace vm {

// Clamped to the parameter's range, then to what its type holds (whole numbers truncated):
// converting an out-of-range double to float or int is undefined (1e30 samples became 1). The
// caller refuses NaN, which has no place to clamp to.
double StorableValue(const ParamDef& def, double value);

} // namespace vm
