// The module object of Tovrin: its member functions are the actions.
#pragma once

#include <string>

#include "ActionParameters.h"
#include "platform/DeviceSetup.h"
#include "platform/WinTypes.h"

class CTovrinModule {
 public:
  // Each action takes the owner window (null in the installer form) and the
  // action parameters, and returns an HRESULT.
  HRESULT CheckMultiExec(HWND window, CActionParameters& params);
  HRESULT ShowHelp(HWND window, CActionParameters& params);
  HRESULT InstallDevice(HWND window, CActionParameters& params);
  // The same with the flags of the driver installation: INSTALLFLAG_FORCE,
  // plus INSTALLFLAG_NONINTERACTIVE where nobody could answer a prompt.
  HRESULT InstallDevice(HWND window, CActionParameters& params, DWORD installFlags);
  HRESULT UninstallDevice(HWND window, CActionParameters& params);

  // Removes one device and its driver package; 0x80070BC2 when a restart
  // is needed.
  HRESULT RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device);
  // Gives the connection of the adapter with that driver key a new name.
  HRESULT SetConnectionName(const std::wstring& classGuid, const std::wstring& driverKey, const std::wstring& newName);
  // Removes every profile's client data and the "_installed_??" entries of bin.
  HRESULT RemoveRakAll(HWND window, CActionParameters& params);
};

// The one module object of the process.
CTovrinModule& TovrinModule();

using TovrinAction = HRESULT (CTovrinModule::*)(HWND, CActionParameters&);

// Work done when the module is loaded into a process: the log threshold and
// the locale from the user's environment. COM waits for the action's thread
// (Frame.cpp).
void OnTovrinProcessAttach();
