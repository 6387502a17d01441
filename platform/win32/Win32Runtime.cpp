#include <objbase.h>

#include <clocale>

#include "platform/Runtime.h"

namespace platform {

ComApartment::ComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComApartment::~ComApartment() {
  if (initialized_) CoUninitialize();
}

void SetLocaleFromEnvironment() { std::setlocale(LC_ALL, ""); }

}  // namespace platform
