#include <climits>

#include "platform/CodePages.h"
#include "platform/Port.h"

namespace platform {

bool ToWide(UINT codePage, std::string_view text, std::wstring* out) {
  out->clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) return false;
  CodePages& cp = Use<CodePages>();
  int n = cp.MultiByteToWide(codePage, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  n = cp.MultiByteToWide(codePage, text.data(), static_cast<int>(text.size()), out->data(), n);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return true;
}

bool ToMultiByte(UINT codePage, std::wstring_view text, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX / 4) return false;
  CodePages& cp = Use<CodePages>();
  int n = cp.WideToMultiByte(codePage, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  n = cp.WideToMultiByte(codePage, text.data(), static_cast<int>(text.size()), out->data(), n);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return true;
}

std::string WideToAnsi(std::wstring_view text) {
  std::string out;
  ToMultiByte(CP_ACP, text, &out);
  return out;
}

std::wstring AnsiToWide(std::string_view text) {
  std::wstring out;
  ToWide(CP_ACP, text, &out);
  return out;
}

}  // namespace platform
