// Reads of a text whose size is asked for first. The data goes into one
// character more than the size reported, so the text always ends, also when
// it was stored without a terminator; the text is taken up to its first null.
#pragma once

#include <string>

#include "platform/DeviceSetup.h"
#include "platform/WinTypes.h"

// RegQueryValueExW for the size, then for the data; the registry's status.
LSTATUS ReadRegistryText(HKEY key, const wchar_t* name, DWORD* type, std::wstring* text);

// SetupDiGetDeviceRegistryPropertyW the same way; FALSE with the last error
// set when the sizing call reports a size of 0 (whatever it returned) or the
// read fails.
BOOL ReadDeviceRegistryText(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, DWORD* type, std::wstring* text);
// SetupDiGetDevicePropertyW: FALSE with the last error set when the sizing
// call fails other than for want of a buffer, or the read fails; TRUE with
// the type alone (no text) for a property that is no string.
BOOL ReadDevicePropertyText(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY& key, DEVPROPTYPE* type,
                            std::wstring* text);
