#include <objbase.h>

#include <clocale>
#include <cstdio>

#include "platform/Runtime.h"

namespace platform {

ComApartment::ComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComApartment::~ComApartment() {
  if (initialized_) CoUninitialize();
}

void SetLocaleFromEnvironment() { std::setlocale(LC_ALL, ""); }

int FormatAnsi(char* buffer, size_t size, const char* format, va_list args) {
  return std::vsnprintf(buffer, size, format, args);
}

}  // namespace platform
