// The common steps of the two calling forms of an export.
#pragma once

#include <functional>

#include "TovrinModule.h"

using ActionBody = std::function<HRESULT(HWND, CActionParameters&)>;

// Stores the handle, writes the banner, builds the parameters from
// TovrinData and HelpUrl (from CustomActionData when deferred, rollback or
// commit), runs the action, maps its result to an installer result code.
UINT RunInstallerForm(MSIHANDLE install, const char* exportName, TovrinAction action);
UINT RunInstallerForm(MSIHANDLE install, const char* exportName, const ActionBody& action);

// Parses the command line and runs the action; its HRESULT unchanged.
HRESULT RunCommandLineForm(HWND window, const wchar_t* commandLine, const char* exportName, TovrinAction action);
HRESULT RunCommandLineForm(HWND window, const wchar_t* commandLine, const char* exportName, const ActionBody& action);

// Whether the installer runs the action from the installation script
// (deferred, rollback or commit), as LocalSystem with no user to ask.
bool RunsFromScript(MSIHANDLE install);

// Stores the installation handle for the log and writes the banner line.
void BeginInstallerCall(MSIHANDLE install);
// For an action that runs from the installation script: turns on
// RedirectionGuard where Windows has it and logs whether it is on. False,
// doing nothing, for an immediate action.
bool GuardScriptRedirections(MSIHANDLE install);
