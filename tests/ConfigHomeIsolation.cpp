// Registers the per-process settings folder for the core's test binary.
#include "ConfigHomeIsolation.h"
