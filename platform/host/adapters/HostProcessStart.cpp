// Process start of the host. The machine has no programs of its own, so the
// adapter understands the one command the kit starts, the command
// interpreter removing a folder tree:
//
//   cmd.exe /c rmdir /S /Q "C:\...\folder"
//
// It runs as a real separate process (a child of the caller that removes
// the mapped folder and ends; it runs no other program) and never removes
// anything outside the machine's drive folders. Any other command fails as a missing program does on
// Windows (ERROR_FILE_NOT_FOUND).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
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
#include "platform/host/machine/Machine.h"
#include "platform/host/adapters/StartedProcesses.h"
#include "platform/host/machine/Utf.h"
#include "platform/host/posix/ReadWrite.h"
#include "platform/host/posix/UniqueFd.h"
#include "platform/host/posix/WaitChild.h"

namespace platform {

namespace {

constexpr wchar_t kSystemFolder[] = L"C:\\Windows\\system32";

// The child's work. Between fork and _exit only system calls are made, so
// that a caller with other threads cannot leave a lock held in the child.
constexpr int kMaxDepth = 200;

// The interpreter inherits none of its starter's files but the folder it
// works on, as CreateProcess without handle inheritance: a named mutex or a
// lock file of the starter must not live on in it. Every descriptor from 3
// on is closed except the (at most two) kept ones.
void CloseInheritedFiles(int keepA, int keepB) {
  if (keepA > keepB) std::swap(keepA, keepB);
  unsigned from = 3;
  for (int keep : {keepA, keepB}) {
    if (keep < static_cast<int>(from)) continue;
    if (static_cast<unsigned>(keep) > from) ::syscall(SYS_close_range, from, static_cast<unsigned>(keep - 1), 0u);
    from = static_cast<unsigned>(keep) + 1;
  }
  ::syscall(SYS_close_range, from, ~0u, 0u);
}

struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

bool IsDots(const char* n) { return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)); }

// Removes the entries of an open folder, staying on device; false when
// something stays.
bool EmptyFolder(int fd, dev_t device, int depth) {
  bool ok = true;
  // Removing while reading may hide entries from the reading: read again
  // until a pass removes nothing more.
  for (int pass = 0; pass < 4; ++pass) {
    bool removed = false;
    ::lseek(fd, 0, SEEK_SET);
    alignas(8) char buffer[2048];
    for (;;) {
      long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long off = 0; off < n;) {
        auto* e = reinterpret_cast<LinuxDirent64*>(buffer + off);
        off += e->d_reclen;
        if (IsDots(e->d_name)) continue;
        struct stat st;
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
          // Another file system mounted here is left alone, as rm does.
          if (st.st_dev != device || depth >= kMaxDepth) {
            ok = false;
            continue;
          }
          host::UniqueFd sub(::openat(fd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
          if (!sub.Valid()) {
            ok = false;
            continue;
          }
          bool emptied = EmptyFolder(sub.Get(), device, depth + 1);
          sub.Reset();
          if (emptied && ::unlinkat(fd, e->d_name, AT_REMOVEDIR) == 0)
            removed = true;
          else
            ok = false;
        } else if (::unlinkat(fd, e->d_name, 0) == 0) {
          removed = true;
        } else {
          ok = false;
        }
      }
    }
    if (!removed) break;
  }
  return ok;
}

// "rmdir /S /Q": a folder with everything in it, a link to a folder as a
// link only; a file or a missing name is an error. The exit code is the
// Windows error.
int RemoveTree(int parent, const char* name) {
  struct stat st;
  if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return ERROR_FILE_NOT_FOUND;
  if (S_ISLNK(st.st_mode)) {
    struct stat target;
    if (::fstatat(parent, name, &target, 0) != 0 || !S_ISDIR(target.st_mode)) return ERROR_DIRECTORY;
    return ::unlinkat(parent, name, 0) == 0 ? 0 : ERROR_ACCESS_DENIED;
  }
  if (!S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;
  host::UniqueFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.Valid()) return ERROR_ACCESS_DENIED;
  bool emptied = EmptyFolder(fd.Get(), st.st_dev, 0);
  fd.Reset();
  if (!emptied || ::unlinkat(parent, name, AT_REMOVEDIR) != 0) return ERROR_ACCESS_DENIED;
  return 0;
}

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
    host::UniqueFd parent;
    std::string name;
    if (!target.empty()) {
      size_t slash = target.rfind('/');
      name = target.substr(slash + 1);
      parent.Reset(::open(target.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    // The start returns once the child holds nothing of ours: it closes the
    // pipe's write end with the rest, and the read below sees the end.
    int started_pipe[2] = {-1, -1};
    if (::pipe2(started_pipe, O_CLOEXEC) != 0) {
      SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    host::UniqueFd startedRead(started_pipe[0]);
    host::UniqueFd startedWrite(started_pipe[1]);
    pid_t pid = ::fork();
    if (pid == 0) {
      // The child keeps the folder's descriptor to work on; _exit runs no
      // destructor, so nothing here is closed twice.
      CloseInheritedFiles(parent.Get(), -1);
      ::_exit(parent.Valid() ? RemoveTree(parent.Get(), name.c_str()) : ERROR_PATH_NOT_FOUND);
    }
    startedWrite.Reset();
    if (pid > 0) {
      char byte;
      int error;
      host::ReadAll(startedRead.Get(), &byte, 1, &error);
    }
    startedRead.Reset();
    parent.Reset();
    if (pid < 0) {
      SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    std::lock_guard<std::mutex> g(g_lock);
    // Children that have ended meanwhile are reaped, so that a long-lived
    // caller does not gather them.
    std::erase_if(g_running, [](pid_t p) { return ::waitpid(p, nullptr, WNOHANG) == p; });
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
    host::WaitChild(pid, &status);
  }
}

}  // namespace host

}  // namespace platform
