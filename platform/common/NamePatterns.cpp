// FindFirstFileW's name patterns, shared by the adapters that match names
// themselves.
#include "platform/NamePatterns.h"

#include <cwctype>
#include <vector>

#include "platform/WinTypes.h"

namespace platform {

namespace {

// The marks FindFirstFileW gives the DOS wildcards (DOS_QM, DOS_STAR, DOS_DOT).
constexpr wchar_t kDosQm = L'>';
constexpr wchar_t kDosStar = L'<';
constexpr wchar_t kDosDot = L'"';

}  // namespace

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

}  // namespace platform
