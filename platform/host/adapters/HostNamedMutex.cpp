// Named mutexes on the host: one file per name under the machine's
// "kernel-objects" folder, and flock() on it. Every handle holds a shared
// lock, so the mutex exists while any process keeps a handle and ends when
// the last one closes or its process ends, however it ends: the kernel drops
// flock locks with the process. Whether a name exists is asked by trying an
// exclusive lock; a machine-wide guard lock keeps that probe and the lock
// that follows it out of each other's way between processes.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/Clock.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"
#include "platform/Port.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/SideFiles.h"
#include "platform/host/machine/Utf.h"
#include "platform/host/posix/FileLock.h"
#include "platform/host/posix/UniqueFd.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

struct MutexObject {
  host::UniqueFd fd;  // none for an unnamed mutex
};

HANDLE Fail(DWORD code) {
  SetLastErrorCode(code);
  return nullptr;
}

DWORD FromErrno(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:
    case EXDEV:
    case EINVAL: return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_FUNCTION;
  }
}

// A name becomes one file name: letters, digits and a few marks stay, every
// other byte of its UTF-8 form is written %XX (so '/' and '%' cannot clash),
// and long names are cut into folders of at most 200 bytes.
fs::path EncodeName(std::wstring_view name) {
  std::string utf8 = host::WideToUtf8(name);
  std::string encoded;
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : utf8) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '{' || c == '}') {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  if (encoded[0] == '.') encoded.replace(0, 1, "%2E");  // no "." or ".." names
  fs::path out;
  for (size_t i = 0; i < encoded.size(); i += 200)
    out /= encoded.substr(i, 200) + (i + 200 < encoded.size() ? "+" : "");
  return out;
}

// Every lock of a create is held for a moment only; a process that keeps
// one for good (the guard, or an object exclusively) must not stop every
// other create, so the wait for it ends as a timed-out wait does.
constexpr DWORD kLockWaitMilliseconds = 5000;
constexpr DWORD kLockStepMilliseconds = 10;

// flock(fd, operation) tried until it is granted or the wait is over; false
// with the last error set (WAIT_TIMEOUT when the wait ran out).
bool LockBounded(int fd, int operation) {
  Clock& clock = Use<Clock>();
  for (DWORD waited = 0;; waited += kLockStepMilliseconds) {
    if (host::LockRetrying(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK) {
      Fail(FromErrno(errno));
      return false;
    }
    if (waited >= kLockWaitMilliseconds) {
      Fail(WAIT_TIMEOUT);
      return false;
    }
    clock.Sleep(kLockStepMilliseconds);
  }
}

// The object files are side files: a link at one of their names is
// refused, and so is a folder on the way that leads out of the machine.
int OpenObject(const fs::path& file) {
  int fd = host::OpenSideFile(file, O_RDWR | O_CREAT, 0666);
  if (fd < 0) {
    int e = errno;
    if (e == ELOOP || e == EXDEV || e == EINVAL)
      std::fprintf(stderr, "velk: kernel objects: %s\n", host::SideFileError(file, e).c_str());
    Fail(FromErrno(e));
  }
  return fd;
}

class HostNamedMutex : public NamedMutex {
 public:
  HANDLE Create(const wchar_t* name, BOOL initialOwner) override {
    // Ownership matters only to waits, which the kit does not do; the
    // object lives as long as its handles.
    if (!name || !*name) {
      SetLastErrorCode(ERROR_SUCCESS);
      return new MutexObject{};
    }
    std::wstring_view rest(name);
    if (rest.size() > MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
    // One session on the host: "Global\" and "Local\" are two folders.
    const char* space = "Local";
    if (rest.substr(0, 7) == L"Global\\") {
      space = "Global";
      rest.remove_prefix(7);
    } else if (rest.substr(0, 6) == L"Local\\") {
      rest.remove_prefix(6);
    }
    if (rest.empty() || rest.find(L'\\') != std::wstring_view::npos) return Fail(ERROR_PATH_NOT_FOUND);
    const host::Machine* machine = host::Machine::Current();
    if (!machine) return Fail(ERROR_PATH_NOT_FOUND);

    fs::path objects = machine->Root() / "kernel-objects";
    return CreateLocked(objects, objects / space / EncodeName(rest));
  }

  BOOL Close(HANDLE mutex) override {
    if (!mutex) {
      SetLastErrorCode(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    auto* object = static_cast<MutexObject*>(mutex);
    delete object;
    return TRUE;
  }

 private:
  static HANDLE CreateLocked(const fs::path& objects, const fs::path& file) {
    host::UniqueFd guard(OpenObject(objects / ".guard"));
    if (!guard.Valid()) return nullptr;
    if (!LockBounded(guard.Get(), LOCK_EX)) return nullptr;

    host::UniqueFd object(OpenObject(file));
    if (!object.Valid()) return nullptr;
    const int fd = object.Get();
    // Nobody else may hold any lock for the name to be new; the exclusive
    // lock then becomes the shared lock every handle keeps.
    bool existed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) return Fail(FromErrno(errno));
      existed = true;
    }
    auto* handle = new MutexObject{};
    if (!LockBounded(fd, LOCK_SH)) {
      delete handle;
      return nullptr;
    }
    handle->fd = std::move(object);
    SetLastErrorCode(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
  }
};

}  // namespace

NamedMutex& NamedMutex::Default() {
  static HostNamedMutex mutex;
  return mutex;
}

}  // namespace platform
