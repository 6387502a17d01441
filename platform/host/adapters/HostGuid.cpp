// CLSIDFromString of the host: only the braced registry form is a GUID;
// the host registers no ProgIDs, so every other text is CO_E_CLASSSTRING.
#include <cwctype>

#include "platform/DeviceSetup.h"

namespace platform {

namespace {
bool Hex(const wchar_t* p, int digits, uint64_t* value) {
  *value = 0;
  for (int i = 0; i < digits; ++i) {
    wchar_t c = p[i];
    int d;
    if (c >= L'0' && c <= L'9')
      d = c - L'0';
    else if (c >= L'a' && c <= L'f')
      d = c - L'a' + 10;
    else if (c >= L'A' && c <= L'F')
      d = c - L'A' + 10;
    else
      return false;
    *value = *value * 16 + static_cast<uint64_t>(d);
  }
  return true;
}
}  // namespace

HRESULT ClsidFromString(const wchar_t* text, GUID* guid) {
  if (!guid) return E_INVALIDARG;
  if (!text) {
    *guid = GUID{};
    return S_OK;
  }
  // {01234567-0123-0123-0123-0123456789AB}
  const wchar_t* t = text;
  int n = 0;
  while (t[n] && n < 40) ++n;
  if (n != 38 || t[0] != L'{' || t[37] != L'}' || t[9] != L'-' || t[14] != L'-' || t[19] != L'-' || t[24] != L'-')
    return CO_E_CLASSSTRING;
  uint64_t v;
  GUID g{};
  if (!Hex(t + 1, 8, &v)) return CO_E_CLASSSTRING;
  g.Data1 = static_cast<uint32_t>(v);
  if (!Hex(t + 10, 4, &v)) return CO_E_CLASSSTRING;
  g.Data2 = static_cast<uint16_t>(v);
  if (!Hex(t + 15, 4, &v)) return CO_E_CLASSSTRING;
  g.Data3 = static_cast<uint16_t>(v);
  static const int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!Hex(t + offsets[i], 2, &v)) return CO_E_CLASSSTRING;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *guid = g;
  return S_OK;
}

}  // namespace platform
