// The running-client check: finds a running client executable of this or
// an older edition among the machine's processes.
#pragma once

#include "platform/WinTypes.h"

// E_ABORT when a candidate executable runs; the failure HRESULT when no
// process list could be read; otherwise 0, or 1603 when TARGETDIR could not
// be read (or the check itself failed, after an installer error message).
// 1603 is an installer result returned as an HRESULT, which FAILED() takes
// for a success: the installation goes on after the report, as it always has.
HRESULT IsRasExec(MSIHANDLE install);
