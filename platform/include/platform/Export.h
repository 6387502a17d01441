// Marks the functions a module exports by name. On Windows the .def file
// names them; on the host the library hides everything else.
#pragma once

#include "platform/WinTypes.h"

#ifdef _WIN32
#define VELK_EXPORT extern "C"
#else
#define VELK_EXPORT extern "C" __attribute__((visibility("default")))
#endif
