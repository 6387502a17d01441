#include "platform/Installer.h"

namespace platform {

namespace {

class Win32Installer : public Installer {
 public:
  UINT GetProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, DWORD* chars) override {
    return MsiGetPropertyW(install, name, value, chars);
  }
  UINT SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value) override {
    return MsiSetPropertyW(install, name, value);
  }
  BOOL GetMode(MSIHANDLE install, MSIRUNMODE mode) override { return MsiGetMode(install, mode); }
  MSIHANDLE CreateRecord(UINT fields) override { return MsiCreateRecord(fields); }
  UINT RecordSetInteger(MSIHANDLE record, UINT field, int value) override {
    return MsiRecordSetInteger(record, field, value);
  }
  UINT RecordSetStringA(MSIHANDLE record, UINT field, const char* value) override {
    return MsiRecordSetStringA(record, field, value);
  }
  int ProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) override {
    return MsiProcessMessage(install, type, record);
  }
  UINT CloseHandle(MSIHANDLE handle) override { return MsiCloseHandle(handle); }
};

}  // namespace

Installer& Installer::Default() {
  static Win32Installer installer;
  return installer;
}

}  // namespace platform
