// The one way platform failures become HRESULTs in this code base.
#pragma once

#include "platform/WinTypes.h"

namespace platform {

// A Win32 status combined into 0x8007xxxx; codes that already carry the
// high bit (SetupAPI's 0xE000xxxx, HRESULTs) pass through unchanged.
constexpr HRESULT HresultFromWin32(DWORD code) {
  if (code == 0) return S_OK;
  if (static_cast<int32_t>(code) < 0) return static_cast<HRESULT>(code);
  return static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}

// Installer result codes carry the low 16 bits of an HRESULT.
constexpr UINT LowWord(HRESULT hr) { return static_cast<UINT>(static_cast<uint32_t>(hr) & 0xFFFFu); }

}  // namespace platform
