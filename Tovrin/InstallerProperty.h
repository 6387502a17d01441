// Installer properties and the installer error message of a failed action.
#pragma once

#include <string>

#include "platform/WinTypes.h"

// Reads a property (one retry at the reported length); S_OK or the
// installer's error code as an HRESULT.
HRESULT GetInstallerProperty(MSIHANDLE install, const wchar_t* name, std::wstring& value);

// Sends installer error 25000, 25001 (0x8000400E) or 25003 (0x800B0110)
// with the HRESULT in field 2. Always 0.
UINT ReportInstallerError(MSIHANDLE install, INSTALLMESSAGE type, HRESULT hr);
