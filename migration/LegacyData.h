// What the previous product generation left in a user's profile, and the
// hidden command interpreters that remove its folders.
#pragma once

#include <string>

// Command lines are limited to this many characters.
constexpr size_t kMaxCommandLine = 291;
// "cmd.exe /c rmdir /S /Q \"": each command is this, the folder and a quote.
constexpr wchar_t kRemoveFolderPrefix[] = L"cmd.exe /c rmdir /S /Q \"";

// The command line that removes folder and everything in it.
std::wstring RemoveFolderCommand(const std::wstring& folder);

// Starts the command line as a new hidden process and returns at once,
// without waiting and without reporting a failure. The interpreter comes
// from the system folder, never from the program's folder or the current
// one. A command line longer than kMaxCommandLine is not started: cut
// short, it would name another folder.
void RunHiddenCommand(const wchar_t* commandLine);

// Starts the removal of the legacy folders of a data directory and of the
// previous maker's folder in the local application data folder; returns
// how many commands were handed to RunHiddenCommand.
int StartLegacyFolderRemoval(const wchar_t* dataDirectory);

// Deletes the subkeys "access" and "accessEX" of
// HKEY_CURRENT_USER\Software\Pellacor\velk in the 64-bit view, keeping the
// key itself. Failures pass silently.
void DeleteLegacyRegistryKeys();
