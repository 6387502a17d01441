#include "Log.h"

#include <cstdio>
#include <cstring>

#include "platform/Clock.h"
#include "platform/Installer.h"
#include "platform/Port.h"
#include "platform/Runtime.h"
#include "platform/SystemMessages.h"

using platform::Use;

CLoggerT<MsiOutputTraits> g_logger;

void MsiOutputTraits::Output(MSIHANDLE install, const char* line) {
  platform::Installer& installer = Use<platform::Installer>();
  platform::MsiRecord record(installer.CreateRecord(1));
  installer.RecordSetStringA(record.Get(), 1, line);
  installer.ProcessMessage(install, INSTALLMESSAGE_INFO, record.Get());
}

namespace {

// Writes the time, thread and level prefix; returns its length.
size_t WritePrefix(char* buffer, int level) {
  if (level == Banner) return 0;
  SYSTEMTIME t;
  Use<platform::Clock>().GetLocalTime(&t);
  int n = std::snprintf(buffer, kLogLineBytes, "%04d-%02d-%02d %02d:%02d:%02d.%03d %08X %c ", t.wYear, t.wMonth, t.wDay,
                        t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                        static_cast<unsigned>(Use<platform::Clock>().ThreadId()), static_cast<char>(level & 0xFF));
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// A trailing "\r\n" goes; a lone "\n" stays.
void FinishLine(char* buffer) {
  size_t len = std::strlen(buffer);
  if (len == 0 || buffer[len - 1] != '\n') {
    std::memcpy(buffer + len, "\r\n", 3);
    len += 2;
  }
  if (len >= 2 && buffer[len - 2] == '\r') buffer[len - 2] = '\0';
}

// The message gets 1021 bytes less the prefix, terminator included.
constexpr size_t kMessageRoom = kLogLineBytes - 3;

}  // namespace

template <class Traits>
void CLoggerT<Traits>::Write(int level, const char* format, va_list args) {
  if (m_threshold < level) return;
  char line[kLogLineBytes];
  size_t prefix = WritePrefix(line, level);
  int n = platform::FormatAnsi(line + prefix, kMessageRoom - prefix, format, args);
  if (n < 0) line[prefix] = '\0';  // a wide argument the code page cannot hold
  FinishLine(line);
  Traits::Output(m_hInstall, line);
}

template <class Traits>
void CLoggerT<Traits>::WriteText(int level, const char* text) {
  if (m_threshold < level) return;
  char line[kLogLineBytes];
  size_t prefix = WritePrefix(line, level);
  size_t room = kMessageRoom - prefix - 1;
  size_t len = std::strlen(text);
  if (len > room) len = room;
  std::memcpy(line + prefix, text, len);
  line[prefix + len] = '\0';
  FinishLine(line);
  Traits::Output(m_hInstall, line);
}

template class CLoggerT<MsiOutputTraits>;

void Log(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  g_logger.Write(level, format, args);
  va_end(args);
}

CLogScope::CLogScope(CLoggerT<MsiOutputTraits>& logger, int level, const char* name)
    : m_level(level), m_logger(logger) {
  int n = std::snprintf(m_text, 1022, "%s", name);
  m_nameLength = n < 0 ? 0 : (static_cast<size_t>(n) > 1021 ? 1021 : static_cast<size_t>(n));
  std::snprintf(m_text + m_nameLength, sizeof m_text - m_nameLength, " - enter");
  m_logger.WriteText(m_level, m_text);
}

CLogScope::~CLogScope() {
  std::snprintf(m_text + m_nameLength, sizeof m_text - m_nameLength, " - leave");
  m_logger.WriteText(m_level, m_text);
}

std::string ErrorText(HRESULT hr) {
  constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                           FORMAT_MESSAGE_MAX_WIDTH_MASK;
  constexpr DWORD kEnglishUs = 0x0409;
  const DWORD id = static_cast<DWORD>(hr) & 0xFFFF;
  std::string text(1024, '\0');
  platform::SystemMessages& messages = Use<platform::SystemMessages>();
  DWORD n = 0;
  for (auto module :
       {platform::MessageModule::Kernel32, platform::MessageModule::Newdev, platform::MessageModule::Setupapi}) {
    n = messages.Format(kFlags, module, id, kEnglishUs, text.data(), static_cast<DWORD>(text.size()));
    if (n) break;
  }
  text.resize(n < text.size() ? n : 0);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "(0x%08x)", static_cast<unsigned>(hr));
  return text + suffix;
}
