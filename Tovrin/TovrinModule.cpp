#include "TovrinModule.h"

#include "Log.h"
#include "platform/Runtime.h"

CTovrinModule& TovrinModule() {
  static CTovrinModule module;
  return module;
}

void OnTovrinProcessAttach() {
  g_logger.m_threshold = Info;
  platform::SetLocaleFromEnvironment();
}
