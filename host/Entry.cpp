// Placeholder until the host lands.
#include "host/OutputModule.h"
