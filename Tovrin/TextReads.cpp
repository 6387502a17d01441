#include "TextReads.h"

#include <vector>

#include "platform/LastError.h"
#include "platform/Port.h"
#include "platform/Registry.h"

using platform::DeviceSetup;
using platform::Use;

namespace {

std::vector<wchar_t> TextRoom(DWORD bytes) { return std::vector<wchar_t>((bytes + 1) / sizeof(wchar_t) + 1, L'\0'); }

// get(buffer, bytes, required) is one SetupAPI property read. The sizing
// call fails by design (ERROR_INSUFFICIENT_BUFFER), so only the size it
// reports decides; with 0 its last error stands.
template <class Get>
BOOL ReadDeviceText(Get get, std::wstring* text) {
  DWORD size = 0;
  get(nullptr, 0, &size);
  if (size == 0) return FALSE;
  std::vector<wchar_t> buffer = TextRoom(size);
  if (!get(reinterpret_cast<BYTE*>(buffer.data()), size, nullptr)) return FALSE;
  text->assign(buffer.data());
  return TRUE;
}

}  // namespace

LSTATUS ReadRegistryText(HKEY key, const wchar_t* name, DWORD* type, std::wstring* text) {
  platform::Registry& registry = Use<platform::Registry>();
  DWORD size = 0;
  LSTATUS status = registry.QueryValue(key, name, type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  std::vector<wchar_t> buffer = TextRoom(size);
  DWORD bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
  status = registry.QueryValue(key, name, type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  if (status != ERROR_SUCCESS) return status;
  text->assign(buffer.data());
  return ERROR_SUCCESS;
}

BOOL ReadDeviceRegistryText(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, DWORD* type, std::wstring* text) {
  DeviceSetup& setup = Use<DeviceSetup>();
  return ReadDeviceText(
      [&](BYTE* buffer, DWORD bytes, DWORD* required) {
        return setup.GetDeviceRegistryProperty(set, device, property, type, buffer, bytes, required);
      },
      text);
}

BOOL ReadDevicePropertyText(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY& key, DEVPROPTYPE* type,
                            std::wstring* text) {
  DeviceSetup& setup = Use<DeviceSetup>();
  DWORD size = 0;
  if (!setup.GetDeviceProperty(set, device, &key, type, nullptr, 0, &size) &&
      platform::GetLastErrorCode() != ERROR_INSUFFICIENT_BUFFER)
    return FALSE;
  // Only a string is read at all.
  if (*type != DEVPROP_TYPE_STRING) return TRUE;
  std::vector<wchar_t> buffer = TextRoom(size);
  if (!setup.GetDeviceProperty(set, device, &key, type, reinterpret_cast<BYTE*>(buffer.data()), size + 1, nullptr))
    return FALSE;
  text->assign(buffer.data());
  return TRUE;
}
