// The running-client check: finds a running client executable of this or
// an older edition among the machine's processes.
#pragma once

#include "platform/WinTypes.h"

// E_ABORT when a candidate executable runs; the failure HRESULT when no
// process list could be read; otherwise 0, or 1603 when TARGETDIR could not
// be read (or the check itself failed, after an installer error message).
HRESULT IsRasExec(MSIHANDLE install);
