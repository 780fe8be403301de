// A small module for the platform layer's module tests: one export to find.
#include "host/OutputModule.h"

extern "C" OUT_MODULE_EXPORT int sn_platform_probe() { return 42; }
