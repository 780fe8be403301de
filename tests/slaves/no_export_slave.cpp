// A module that is not an output module: it lacks the export.
#include "host/OutputModule.h"

extern "C" OUT_MODULE_EXPORT int not_an_output_module() { return 1; }
