#include "platform/host/machine/SideFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/host/machine/Machine.h"
#include "platform/host/posix/UniqueFd.h"

namespace fs = std::filesystem;

namespace platform::host {

namespace {

// Whether an open folder is the machine's root or below it, judged by where
// the kernel says it is, not by the path that led there.
bool Inside(int fd, const std::string& root) {
  char where[PATH_MAX];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = ::readlink(link.c_str(), where, sizeof where - 1);
  if (n <= 0) return false;
  where[n] = '\0';
  return root == where || (std::strncmp(where, root.c_str(), root.size()) == 0 && where[root.size()] == '/');
}

int Failed(int error) {
  errno = error;
  return -1;
}

}  // namespace

int OpenMachineFolder(const fs::path& folder) {
  const Machine* m = Machine::Current();
  if (!m) return Failed(ENOENT);
  return OpenFolderWithin(m->Root(), folder);
}

int OpenFolderWithin(const fs::path& top, const fs::path& folder) {
  char real[PATH_MAX];
  if (!::realpath(top.c_str(), real)) return -1;
  const std::string root = real;
  fs::path relative = folder.lexically_normal().lexically_relative(top.lexically_normal());
  if (relative.empty() || *relative.begin() == "..") return Failed(EXDEV);
  UniqueFd at(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (at.Get() < 0) return -1;
  for (const auto& part : relative) {
    if (part == "." || part.empty()) continue;
    int next = ::openat(at.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(at.Get(), part.c_str(), 0755) != 0 && errno != EEXIST) return -1;
      next = ::openat(at.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) {
      struct stat st {};
      bool link =
          errno == ENOTDIR && ::fstatat(at.Get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      return link ? Failed(ELOOP) : -1;
    }
    at.Reset(next);
    if (!Inside(at.Get(), root)) return Failed(EXDEV);
  }
  return at.Release();
}

int OpenSideFile(const fs::path& file, int flags, mode_t mode) {
  UniqueFd folder(OpenMachineFolder(file.parent_path()));
  if (folder.Get() < 0) return -1;
  // O_NONBLOCK keeps a planted FIFO from stopping the open.
  UniqueFd fd(::openat(folder.Get(), file.filename().c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode));
  if (fd.Get() < 0) return -1;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) return Failed(EINVAL);
  int plain = ::fcntl(fd.Get(), F_GETFL);
  if (plain >= 0) ::fcntl(fd.Get(), F_SETFL, plain & ~O_NONBLOCK);
  return fd.Release();
}

std::string SideFileError(const fs::path& file, int error) {
  const char* reason;
  switch (error) {
    case ELOOP: reason = "a link stands at this name; refused"; break;
    case EXDEV: reason = "the folder lies outside the machine; refused"; break;
    case EINVAL: reason = "not a regular file; refused"; break;
    default: reason = std::strerror(error);
  }
  return file.string() + ": " + reason;
}

}  // namespace platform::host
