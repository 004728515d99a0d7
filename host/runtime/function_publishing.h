// Calling a published function by name, as the host's script language does.
#pragma once
#include <string>

#include "runtime/host_record.h"

namespace vm {

struct ScriptCallResult {
    bool found;
    int status;        // what Dispatch answered
    std::string error; // why it was not called
};

// Finds `name` (any case) among the mixin interfaces of the object's class and dispatches it.
ScriptCallResult CallScriptFunction(Animatable* object, ClassDesc2* cd, const char* name);

} // namespace vm
