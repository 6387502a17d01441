// The custom-action log: lines sent to the installer as informational
// messages of the installation whose handle was stored last.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/WinTypes.h"

enum LogLevel : int {
  Banner = 0,
  Error = 837,     // 0x345, 'E'
  Warning = 1111,  // 0x457, 'W'
  Info = 1353,     // 0x549, 'I'
};

// Delivers a finished line to the installer.
struct MsiOutputTraits {
  static void Output(MSIHANDLE install, const char* line);
};

template <class Traits>
class CLoggerT {
 public:
  constexpr CLoggerT() = default;
  virtual ~CLoggerT() = default;

  void Write(int level, const char* format, va_list args);
  // Writes text as it stands: a '%' in it is never taken as a format.
  void WriteText(int level, const char* text);

  MSIHANDLE m_hInstall = 0;
  int m_threshold = 0;
};

extern CLoggerT<MsiOutputTraits> g_logger;

// Size of a line with its terminator, and the room the message has.
constexpr size_t kLogLineBytes = 1024;

void Log(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Writes "<name> - enter" now and "<name> - leave" when it goes out of scope.
class CLogScope {
 public:
  CLogScope(CLoggerT<MsiOutputTraits>& logger, int level, const char* name);
  ~CLogScope();
  CLogScope(const CLogScope&) = delete;
  CLogScope& operator=(const CLogScope&) = delete;

 private:
  char m_text[kLogLineBytes];
  size_t m_nameLength;
  int m_level;
  CLoggerT<MsiOutputTraits>& m_logger;
};

// The system's text for the HRESULT's low 16 bits followed by "(0x%08x)".
std::string ErrorText(HRESULT hr);
