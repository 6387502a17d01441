// The module object of Tovrin: its member functions are the actions.
#pragma once

#include "ActionParameters.h"
#include "platform/WinTypes.h"

class CTovrinModule {
 public:
  // Each action takes the owner window (null in the installer form) and the
  // action parameters, and returns an HRESULT.
  HRESULT ShowHelp(HWND window, CActionParameters& params);
  // Removes every profile's client data and the "_installed_??" entries of bin.
  HRESULT RemoveRakAll(HWND window, CActionParameters& params);
};

// The one module object of the process.
CTovrinModule& TovrinModule();

using TovrinAction = HRESULT (CTovrinModule::*)(HWND, CActionParameters&);

// Work done when the module is loaded into a process: COM for the loading
// thread, the log threshold, the locale from the user's environment.
void OnTovrinProcessAttach();
