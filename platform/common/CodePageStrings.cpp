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

namespace {

// The converted text, and whether a character needed the default one.
bool Narrow(UINT codePage, std::wstring_view text, std::string* out, BOOL* usedDefault) {
  out->clear();
  *usedDefault = FALSE;
  if (text.empty()) return true;
  if (text.size() > INT_MAX / 4) return false;
  CodePages& cp = Use<CodePages>();
  int n = cp.WideToMultiByte(codePage, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  n = cp.WideToMultiByte(codePage, text.data(), static_cast<int>(text.size()), out->data(), n, usedDefault);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return true;
}

}  // namespace

bool ToMultiByte(UINT codePage, std::wstring_view text, std::string* out) {
  BOOL usedDefault = FALSE;
  return Narrow(codePage, text, out, &usedDefault) && !usedDefault;
}

std::string WideToAnsi(std::wstring_view text) {
  std::string out;
  BOOL usedDefault = FALSE;
  Narrow(CP_ACP, text, &out, &usedDefault);
  return out;
}

std::wstring AnsiToWide(std::string_view text) {
  std::wstring out;
  ToWide(CP_ACP, text, &out);
  return out;
}

}  // namespace platform
