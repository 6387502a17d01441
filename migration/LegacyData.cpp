#include "LegacyData.h"

#include <cwchar>

#include "Paths.h"
#include "platform/ProcessStart.h"
#include "platform/Port.h"
#include "platform/Registry.h"

namespace {

constexpr const wchar_t* kDataDirectoryFolders[] = {L"\\keydata", L"\\keydata_EX", L"\\mig"};
constexpr wchar_t kPreviousMakerFolder[] = L"\\Pellacor\\velk\\velk-access LE";
constexpr wchar_t kInterpreter[] = L"\\cmd.exe";

}  // namespace

std::wstring RemoveFolderCommand(const std::wstring& folder) {
  std::wstring command = kRemoveFolderPrefix;
  command += folder;
  command += L"\"";
  return command;
}

void RunHiddenCommand(const wchar_t* commandLine) {
  wchar_t buffer[kMaxCommandLine + 1] = {};
  size_t length = std::wcslen(commandLine);
  if (length > kMaxCommandLine) return;
  std::wmemcpy(buffer, commandLine, length + 1);

  platform::ProcessStart& start = platform::Use<platform::ProcessStart>();
  // CreateProcessW without an application name would look for the
  // interpreter in the program's folder and the current folder first.
  wchar_t interpreter[MAX_PATH] = {};
  UINT n = start.SystemFolder(interpreter, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || !AppendBounded(interpreter, MAX_PATH, kInterpreter)) return;

  platform::StartupRequest startup;
  startup.flags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.showWindow = SW_HIDE;
  platform::StartedProcess started;
  if (start.Start(interpreter, buffer, TRUE, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, startup, &started)) {
    start.CloseProcessHandle(started.thread);
    start.CloseProcessHandle(started.process);
  }
}

int StartLegacyFolderRemoval(const wchar_t* dataDirectory) {
  int started = 0;
  for (const wchar_t* folder : kDataDirectoryFolders) {
    RunHiddenCommand(RemoveFolderCommand(std::wstring(dataDirectory) + folder).c_str());
    ++started;
  }
  wchar_t previous[MAX_PATH] = {};
  if (GetLocalAppDataFolder(previous) && AppendBounded(previous, MAX_PATH, kPreviousMakerFolder)) {
    RunHiddenCommand(RemoveFolderCommand(previous).c_str());
    ++started;
  }
  return started;
}

void DeleteLegacyRegistryKeys() {
  platform::Registry& registry = platform::Use<platform::Registry>();
  platform::RegKey key;
  if (registry.OpenKey(HKEY_CURRENT_USER, L"Software\\Pellacor\\velk", KEY_READ | KEY_WOW64_64KEY, key.Put()) !=
      ERROR_SUCCESS)
    return;
  registry.DeleteKey(key.Get(), L"access", KEY_WOW64_64KEY);
  registry.DeleteKey(key.Get(), L"accessEX", KEY_WOW64_64KEY);
}
