// Exits with the run mode that the launcher's own GetRunMode picks for this
// process's command line and location. The run-mode tests copy it around.
#include <windows.h>

#include "core/RunMode.h"

int wmain() { return core::GetRunMode(); }
