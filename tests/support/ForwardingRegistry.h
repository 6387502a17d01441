// A registry port that hands every call to another one; tests override the
// calls they want to watch or make fail.
#pragma once

#include "platform/Registry.h"

namespace velk_test {

class ForwardingRegistry : public platform::Registry {
 public:
  explicit ForwardingRegistry(platform::Registry& inner) : in(inner) {}
  LSTATUS OpenKey(HKEY p, const wchar_t* s, REGSAM a, HKEY* r) override { return in.OpenKey(p, s, a, r); }
  LSTATUS CreateKey(HKEY p, const wchar_t* s, REGSAM a, HKEY* r, DWORD* d) override {
    return in.CreateKey(p, s, a, r, d);
  }
  LSTATUS CloseKey(HKEY k) override { return in.CloseKey(k); }
  LSTATUS EnumKey(HKEY k, DWORD i, wchar_t* n, DWORD* c) override { return in.EnumKey(k, i, n, c); }
  LSTATUS EnumValue(HKEY k, DWORD i, wchar_t* n, DWORD* c, DWORD* t) override { return in.EnumValue(k, i, n, c, t); }
  LSTATUS QueryValue(HKEY k, const wchar_t* n, DWORD* t, BYTE* d, DWORD* b) override {
    return in.QueryValue(k, n, t, d, b);
  }
  LSTATUS SetValue(HKEY k, const wchar_t* n, DWORD t, const BYTE* d, DWORD b) override {
    return in.SetValue(k, n, t, d, b);
  }
  LSTATUS DeleteValue(HKEY k, const wchar_t* n) override { return in.DeleteValue(k, n); }
  LSTATUS DeleteKey(HKEY p, const wchar_t* s, REGSAM v) override { return in.DeleteKey(p, s, v); }
  LSTATUS QueryInfoKey(HKEY k, DWORD* s, DWORD* m, DWORD* v) override { return in.QueryInfoKey(k, s, m, v); }
  LSTATUS LoadHive(HKEY r, const wchar_t* n, const wchar_t* f) override { return in.LoadHive(r, n, f); }
  LSTATUS UnloadHive(HKEY r, const wchar_t* n) override { return in.UnloadHive(r, n); }
  LSTATUS OpenLinkKey(HKEY p, const wchar_t* s, REGSAM a, HKEY* r) override { return in.OpenLinkKey(p, s, a, r); }
  LSTATUS DeleteOpenKey(HKEY k) override { return in.DeleteOpenKey(k); }

  platform::Registry& in;
};

}  // namespace velk_test
