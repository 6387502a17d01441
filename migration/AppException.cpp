#include "AppException.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/CodePages.h"
#include "platform/LastError.h"

namespace {

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '\\');
  return slash ? slash + 1 : path;
}

// The record's texts are cut to what fits, as they always were.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wformat-truncation"
#endif

std::wstring RasMessage(const RasError* error) {
  char text[1024];
  std::snprintf(text, sizeof text, "0x%02x: %s @%s", static_cast<unsigned>(error->code), error->message,
                error->location);
  return platform::AnsiToWide(text);
}

}  // namespace

AppException::AppException(const char* function, const char* file, unsigned line, const wchar_t* message) {
  DWORD lastError = platform::GetLastErrorCode();
  char head[16];
  std::snprintf(head, sizeof head, "0x%x ", static_cast<unsigned>(lastError));
  char location[1024];
  std::snprintf(location, sizeof location, "%s at %s line %u", function, BaseName(file), line);
  m_message = platform::AnsiToWide(head);
  m_message += message;
  m_message += L" @";
  m_message += platform::AnsiToWide(location);
}

AppException::AppException(std::wstring message) : m_message(std::move(message)) {}

AppException::~AppException() = default;

// Up to maximum characters of the message, like wcsncpy: a message that
// long is not terminated here; the caller's zero-filled buffer ends it.
BOOL AppException::GetErrorMessage(wchar_t* buffer, UINT maximum, UINT* helpContext) const {
  if (helpContext) *helpContext = 0;
  if (!buffer || maximum == 0) return TRUE;
  size_t n = m_message.size() < maximum ? m_message.size() : maximum;
  std::wmemcpy(buffer, m_message.data(), n);
  if (n < maximum) buffer[n] = L'\0';
  return TRUE;
}

RasException::RasException(const RasError* error) : AppException(RasMessage(error)) {}
