#include <objbase.h>

#include <clocale>
#include <cstdio>

#include "platform/Runtime.h"

namespace platform {

ComApartment::ComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComApartment::~ComApartment() {
  if (initialized_) CoUninitialize();
}

// The registry itself keeps the changes of an action.
ActionScope::ActionScope() = default;
ActionScope::~ActionScope() = default;

void SetLocaleFromEnvironment() { std::setlocale(LC_ALL, ""); }

int FormatAnsi(char* buffer, size_t size, const char* format, va_list args) {
  return std::vsnprintf(buffer, size, format, args);
}

}  // namespace platform
