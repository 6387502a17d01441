#include <objbase.h>

#include "platform/DeviceSetup.h"

namespace platform {

HRESULT ClsidFromString(const wchar_t* text, GUID* guid) { return CLSIDFromString(text, guid); }

}  // namespace platform
