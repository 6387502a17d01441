// File names and attributes of the host file system: FindFirstFileW's
// patterns, and the DOS attributes Linux lacks, kept in an extended attribute.
#include "platform/host/machine/FileNames.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#ifndef SYS_getxattrat
#define SYS_getxattrat 464
#endif

namespace platform::host {

namespace {

constexpr char kDosAttrib[] = "user.DOSATTRIB";
constexpr DWORD kStoredBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

// The attribute is read relative to the open folder where the kernel can
// (getxattrat), else through the whole path.
DWORD StoredDosBitsAt(int dirFd, const char* name, const std::string& folder, const std::string* full) {
  static std::atomic<bool> noRelativeRead{false};
  char text[32];
  ssize_t n = -1;
  bool done = false;
  if (dirFd != AT_FDCWD && !noRelativeRead.load(std::memory_order_relaxed)) {
    struct {
      uint64_t value;
      uint32_t size;
      uint32_t flags;
    } args{reinterpret_cast<uintptr_t>(text), sizeof text - 1, 0};
    n = ::syscall(SYS_getxattrat, dirFd, name, AT_SYMLINK_NOFOLLOW, kDosAttrib, &args, sizeof args);
    if (n >= 0 || (errno != ENOSYS && errno != EPERM && errno != EINVAL))
      done = true;
    else
      noRelativeRead = true;
  }
  if (!done) {
    std::string whole = dirFd == AT_FDCWD ? std::string(name) : full ? *full : folder + "/" + name;
    n = ::lgetxattr(whole.c_str(), kDosAttrib, text, sizeof text - 1);
  }
  if (n <= 2) return 0;
  text[n] = '\0';
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return 0;
  return static_cast<DWORD>(std::strtoul(text + 2, nullptr, 16)) & kStoredBits;
}

bool WriteStoredDosBits(const std::string& host, DWORD bits) {
  bits &= kStoredBits;
  if (bits == 0) return ::lremovexattr(host.c_str(), kDosAttrib) == 0 || errno == ENODATA;
  char text[16];
  int n = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits));
  return ::lsetxattr(host.c_str(), kDosAttrib, text, static_cast<size_t>(n), 0) == 0;
}

bool WriteStoredDosBitsFd(int fd, DWORD bits) {
  bits &= kStoredBits;
  if (bits == 0) return ::fremovexattr(fd, kDosAttrib) == 0 || errno == ENODATA;
  char text[16];
  int n = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits));
  return ::fsetxattr(fd, kDosAttrib, text, static_cast<size_t>(n), 0) == 0;
}

unsigned long StoredDosAttributes(const char* hostPath) { return StoredDosBitsAt(AT_FDCWD, hostPath, std::string()); }

}  // namespace platform::host
