// Process start of the host. The machine has no programs of its own, so the
// adapter understands the one command the kit starts, the command
// interpreter removing a folder tree:
//
//   cmd.exe /c rmdir /S /Q "C:\...\folder"
//
// It runs as a real separate process (a shell running rm) that removes the
// mapped folder in the machine and never anything outside the machine's
// drive folders. Any other command fails as a missing program does on
// Windows (ERROR_FILE_NOT_FOUND).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/LastError.h"
#include "platform/ProcessStart.h"
#include "platform/host/Machine.h"
#include "platform/host/StartedProcesses.h"
#include "platform/host/Utf.h"

extern char** environ;

namespace platform {

namespace {

constexpr wchar_t kSystemFolder[] = L"C:\\Windows\\system32";

// Removes $1 as "rmdir /S /Q" does: a folder with everything in it, a link
// to a folder as a link only; a file or a missing name is an error.
constexpr char kRemoveTree[] =
    "if [ -L \"$1\" ]; then [ -d \"$1\" ] || exit 1; exec rm -f -- \"$1\"; fi; "
    "[ -d \"$1\" ] || exit 2; exec rm -rf --one-file-system -- \"$1\"";

struct HostHandle {
  pid_t pid;
  bool thread;
};

std::mutex g_lock;
std::set<HostHandle*> g_handles;
std::vector<pid_t> g_running;

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

// Splits a command line at blanks; a double-quoted part is one token and
// must be closed. False for an unclosed quote.
bool Tokens(std::wstring_view line, std::vector<std::wstring>* tokens, bool* lastQuoted) {
  size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i == line.size()) return true;
    std::wstring token;
    *lastQuoted = false;
    if (line[i] == L'"') {
      size_t close = line.find(L'"', i + 1);
      if (close == std::wstring_view::npos) return false;
      token.assign(line.substr(i + 1, close - i - 1));
      i = close + 1;
      *lastQuoted = true;
      if (i < line.size() && line[i] != L' ' && line[i] != L'\t') return false;
    } else {
      while (i < line.size() && line[i] != L' ' && line[i] != L'\t') token += line[i++];
    }
    tokens->push_back(token);
  }
}

bool IsInterpreter(std::wstring_view name) {
  return EqualsNoCase(name, L"cmd.exe") || EqualsNoCase(name, L"cmd") ||
         EqualsNoCase(name, std::wstring(kSystemFolder) + L"\\cmd.exe");
}

// The folder a "cmd.exe /c rmdir /S /Q <folder>" command removes; false for
// anything else.
bool ParseRemoveCommand(const wchar_t* application, const wchar_t* commandLine, std::wstring* folder) {
  if (!commandLine) return false;
  std::vector<std::wstring> t;
  bool quoted = false;
  if (!Tokens(commandLine, &t, &quoted) || t.size() != 6) return false;
  if (application ? !EqualsNoCase(application, std::wstring(kSystemFolder) + L"\\cmd.exe") : !IsInterpreter(t[0]))
    return false;
  if (!EqualsNoCase(t[1], L"/c") || !(EqualsNoCase(t[2], L"rmdir") || EqualsNoCase(t[2], L"rd"))) return false;
  bool s = EqualsNoCase(t[3], L"/s") || EqualsNoCase(t[4], L"/s");
  bool q = EqualsNoCase(t[3], L"/q") || EqualsNoCase(t[4], L"/q");
  if (!s || !q || t[5].empty()) return false;
  *folder = t[5];
  return true;
}

// The host path of the folder, when it lies inside one of the machine's
// drive folders below the drive's root; empty when there is nothing the
// command could remove (a missing parent, the root itself, a path outside).
std::string ContainedTarget(const std::wstring& windowsPath) {
  const host::Machine* m = host::Machine::Current();
  std::filesystem::path mapped;
  if (!m || !m->MapPath(windowsPath, &mapped)) return {};
  std::string name = mapped.filename().string();
  if (name.empty() || name == "." || name == "..") return {};
  char parent[PATH_MAX], root[PATH_MAX];
  if (!::realpath(mapped.parent_path().c_str(), parent) || !::realpath(m->Root().c_str(), root)) return {};
  std::string inside = std::string(root) + "/drive_";
  if (std::string(parent).compare(0, inside.size(), inside) != 0) return {};
  return std::string(parent) + "/" + name;
}

class HostProcessStart : public ProcessStart {
 public:
  BOOL Start(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, DWORD creationFlags,
             const StartupRequest& startup, StartedProcess* started) override {
    std::wstring folder;
    if (!started || !ParseRemoveCommand(application, commandLine, &folder)) {
      SetLastErrorCode(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    std::string target = ContainedTarget(folder);
    // A target that cannot be there still starts the interpreter, which
    // then fails on its own, as on Windows.
    std::vector<std::string> args = {"sh", "-c", target.empty() ? std::string("exit 2") : kRemoveTree, "sh"};
    if (!target.empty()) args.push_back(target);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) {
      SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    std::lock_guard<std::mutex> g(g_lock);
    g_running.push_back(pid);
    auto* process = new HostHandle{pid, false};
    auto* thread = new HostHandle{pid, true};
    g_handles.insert(process);
    g_handles.insert(thread);
    started->process = process;
    started->thread = thread;
    started->processId = static_cast<DWORD>(pid);
    started->threadId = static_cast<DWORD>(pid);
    return TRUE;
  }

  BOOL CloseProcessHandle(HANDLE handle) override {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_handles.find(static_cast<HostHandle*>(handle));
    if (it == g_handles.end()) {
      SetLastErrorCode(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    delete *it;
    g_handles.erase(it);
    return TRUE;
  }

  UINT SystemFolder(wchar_t* buffer, UINT size) override {
    UINT n = static_cast<UINT>(sizeof kSystemFolder / sizeof(wchar_t));
    if (!buffer || size < n) return n;
    std::wmemcpy(buffer, kSystemFolder, n);
    return n - 1;
  }
};

}  // namespace

ProcessStart& ProcessStart::Default() {
  static HostProcessStart start;
  return start;
}

namespace host {

void WaitForStartedProcesses() {
  std::vector<pid_t> running;
  {
    std::lock_guard<std::mutex> g(g_lock);
    running.swap(g_running);
  }
  for (pid_t pid : running) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace host

}  // namespace platform
