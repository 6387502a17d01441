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
#include <cwctype>
#include <vector>

#ifndef SYS_getxattrat
#define SYS_getxattrat 464
#endif

namespace platform::host {

namespace {

constexpr char kDosAttrib[] = "user.DOSATTRIB";
constexpr DWORD kStoredBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr wchar_t kDosQm = L'>';
constexpr wchar_t kDosStar = L'<';
constexpr wchar_t kDosDot = L'"';

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

unsigned long StoredDosAttributes(const char* hostPath) { return StoredDosBitsAt(AT_FDCWD, hostPath, std::string()); }

std::wstring TranslatePattern(std::wstring_view pattern) {
  if (pattern == L"*.*") return L"*";
  std::wstring out(pattern);
  for (size_t i = 0; i < out.size(); ++i) {
    wchar_t next = i + 1 < out.size() ? out[i + 1] : L'\0';
    if (out[i] == L'?')
      out[i] = kDosQm;
    else if (out[i] == L'.' && (next == L'?' || next == L'*' || next == L'\0'))
      out[i] = kDosDot;
    else if (out[i] == L'*' && next == L'.')
      out[i] = kDosStar;
  }
  return out;
}

bool MatchTranslated(std::wstring_view p, std::wstring_view n) {
  // No Windows name or pattern is longer; the table below stays small.
  if (p.size() >= MAX_PATH || n.size() >= MAX_PATH) return false;
  const size_t P = p.size(), N = n.size();
  // 0 unknown, 1 no, 2 yes
  std::vector<unsigned char> memo((P + 1) * (N + 1), 0);
  size_t lastDot = n.rfind(L'.');
  auto rec = [&](auto&& self, size_t i, size_t j) -> bool {
    unsigned char& m = memo[i * (N + 1) + j];
    if (m) return m == 2;
    bool r;
    if (i == P) {
      r = j == N;
    } else {
      wchar_t c = p[i];
      if (c == L'*') {
        r = self(self, i + 1, j) || (j < N && self(self, i, j + 1));
      } else if (c == kDosStar) {
        r = self(self, i + 1, j) || (j < N && j != lastDot && self(self, i, j + 1));
      } else if (c == kDosQm) {
        if (j < N && n[j] != L'.') {
          r = self(self, i + 1, j + 1);
        } else {
          size_t k = i;
          while (k < P && p[k] == kDosQm) ++k;
          r = self(self, k, j);
        }
      } else if (c == kDosDot) {
        r = j == N ? self(self, i + 1, j) : (n[j] == L'.' && self(self, i + 1, j + 1));
      } else if (c == L'?') {
        r = j < N && self(self, i + 1, j + 1);
      } else {
        r = j < N && std::towupper(static_cast<wint_t>(c)) == std::towupper(static_cast<wint_t>(n[j])) &&
            self(self, i + 1, j + 1);
      }
    }
    m = r ? 2 : 1;
    return r;
  };
  return rec(rec, 0, 0);
}

bool HasWildcards(std::wstring_view s) { return s.find_first_of(L"*?") != std::wstring_view::npos; }

bool MatchFileName(std::wstring_view pattern, std::wstring_view name) {
  return MatchTranslated(TranslatePattern(pattern), name);
}

}  // namespace platform::host
