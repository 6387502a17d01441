#include "MigratorApp.h"

// The program's one application object, driven by the entry point.
CMigratorApp theApp;
