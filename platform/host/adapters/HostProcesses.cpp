// Processes on the host are the machine's real Linux processes, read from
// /proc. A process handle is an open /proc/<id> folder, so that it keeps
// naming that process even when the id is reused. The executable of a
// process that runs a file under one of the machine's drive folders is
// reported by its Windows path ("C:\Program Files\..."); any other process
// has no path for the machine (ERROR_PARTIAL_COPY, as Windows answers for a
// process whose modules it cannot read), and neither has a process that
// has ended since it was opened.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/LastError.h"
#include "platform/Processes.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/Utf.h"
#include "platform/host/posix/UniqueFd.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

struct ProcessObject {
  host::UniqueFd fd;  // the process's /proc folder
};

struct SnapshotObject {
  std::vector<DWORD> ids;
  size_t next = 0;
};

DWORD FromErrno(int e) {
  switch (e) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    default: return ERROR_INVALID_FUNCTION;
  }
}

bool ReadProcessIds(std::vector<DWORD>* ids) {
  DIR* dir = ::opendir("/proc");
  if (!dir) {
    SetLastErrorCode(FromErrno(errno));
    return false;
  }
  ids->clear();
  errno = 0;
  while (dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    unsigned long id = std::strtoul(entry->d_name, &end, 10);
    if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9' && *end == '\0' && id <= 0xFFFFFFFFul)
      ids->push_back(static_cast<DWORD>(id));
  }
  ::closedir(dir);
  return true;
}

// The machine root with its links resolved, as the kernel reports paths;
// machines are never freed, so the cache cannot outlive its machine.
fs::path ResolvedRoot(const host::Machine* machine) {
  static std::mutex lock;
  static const host::Machine* cachedFor = nullptr;
  static fs::path cached;
  std::lock_guard<std::mutex> hold(lock);
  if (cachedFor != machine) {
    std::error_code ec;
    cached = fs::canonical(machine->Root(), ec);
    if (ec) cached.clear();
    cachedFor = machine;
  }
  return cached;
}

// The Windows path of a file under one of the machine's drive folders.
bool MachinePath(const std::string& target, std::wstring* windowsPath) {
  const host::Machine* machine = host::Machine::Current();
  if (!machine) return false;
  fs::path file(target);
  fs::path root = ResolvedRoot(machine);
  if (root.empty()) return false;
  fs::path relative = file.lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return false;
  return machine->UnmapPath(machine->Root() / relative, windowsPath);
}

class HostProcesses : public Processes {
 public:
  BOOL ListSessionProcesses(std::vector<DWORD>* processIds) override {
    return ReadProcessIds(processIds) ? TRUE : FALSE;
  }

  HANDLE CreateSnapshot() override {
    auto* snapshot = new SnapshotObject;
    if (!ReadProcessIds(&snapshot->ids)) {
      delete snapshot;
      return INVALID_HANDLE_VALUE;
    }
    return snapshot;
  }
  BOOL FirstInSnapshot(HANDLE snapshot, DWORD* processId) override {
    if (!Valid(snapshot)) return Fail(ERROR_INVALID_HANDLE);
    static_cast<SnapshotObject*>(snapshot)->next = 0;
    return NextInSnapshot(snapshot, processId);
  }
  BOOL NextInSnapshot(HANDLE snapshot, DWORD* processId) override {
    if (!Valid(snapshot)) return Fail(ERROR_INVALID_HANDLE);
    auto* s = static_cast<SnapshotObject*>(snapshot);
    if (s->next >= s->ids.size()) return Fail(ERROR_NO_MORE_FILES);
    *processId = s->ids[s->next++];
    return TRUE;
  }
  BOOL CloseSnapshot(HANDLE snapshot) override {
    if (!Valid(snapshot)) return Fail(ERROR_INVALID_HANDLE);
    delete static_cast<SnapshotObject*>(snapshot);
    return TRUE;
  }

  HANDLE Open(DWORD access, BOOL inherit, DWORD processId) override {
    // Windows refuses the idle process and ids that name no process alike.
    if (processId == 0) return FailNull(ERROR_INVALID_PARAMETER);
    std::string folder = "/proc/" + std::to_string(processId);
    host::UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) return FailNull(errno == ENOENT ? ERROR_INVALID_PARAMETER : FromErrno(errno));
    return new ProcessObject{std::move(fd)};
  }

  DWORD MainModulePath(HANDLE process, wchar_t* path, DWORD chars) override {
    if (!process || process == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    if (chars == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::string target(4096, '\0');
    ssize_t n = ::readlinkat(static_cast<ProcessObject*>(process)->fd.Get(), "exe", target.data(), target.size());
    if (n < 0) return Fail(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_PARTIAL_COPY);
    target.resize(static_cast<size_t>(n));
    std::wstring windowsPath;
    if (!MachinePath(target, &windowsPath)) return Fail(ERROR_PARTIAL_COPY);
    size_t copied = windowsPath.size() < chars - 1 ? windowsPath.size() : chars - 1;
    std::memcpy(path, windowsPath.data(), copied * sizeof(wchar_t));
    path[copied] = L'\0';
    return static_cast<DWORD>(copied);
  }

  BOOL Close(HANDLE process) override {
    if (!process || process == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    auto* p = static_cast<ProcessObject*>(process);
    delete p;
    return TRUE;
  }

  // A machine has one session, its user's: session 0 (services) is not
  // played. An id that names no process is refused as on Windows.
  BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) override {
    std::string folder = "/proc/" + std::to_string(processId);
    if (processId == 0 || ::access(folder.c_str(), F_OK) != 0) return Fail(ERROR_INVALID_PARAMETER);
    *sessionId = 1;
    return TRUE;
  }

 private:
  static bool Valid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
  static BOOL Fail(DWORD code) {
    SetLastErrorCode(code);
    return FALSE;
  }
  static HANDLE FailNull(DWORD code) {
    SetLastErrorCode(code);
    return nullptr;
  }
};

}  // namespace

Processes& Processes::Default() {
  static HostProcesses processes;
  return processes;
}

}  // namespace platform
