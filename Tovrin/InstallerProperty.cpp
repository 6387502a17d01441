#include "InstallerProperty.h"

#include "Errors.h"
#include "Log.h"
#include "platform/Hresult.h"
#include "platform/Installer.h"
#include "platform/Port.h"

using platform::Use;

HRESULT GetInstallerProperty(MSIHANDLE install, const wchar_t* name, std::wstring& value) {
  platform::Installer& installer = Use<platform::Installer>();
  value.assign(1024, L'\0');
  DWORD chars = 1024;
  UINT rc = installer.GetProperty(install, name, value.data(), &chars);
  if (rc == ERROR_MORE_DATA) {
    // The string's own terminator slot holds the property's terminator.
    value.assign(chars, L'\0');
    chars += 1;
    rc = installer.GetProperty(install, name, value.data(), &chars);
  }
  if (rc != ERROR_SUCCESS || chars > value.size()) {
    value.clear();  // the content is not defined after a failure
  } else {
    value.resize(chars);
  }
  return rc == ERROR_SUCCESS ? S_OK : platform::HresultFromWin32(rc);
}

UINT ReportInstallerError(MSIHANDLE install, INSTALLMESSAGE type, HRESULT hr) {
  platform::Installer& installer = Use<platform::Installer>();
  platform::MsiRecord record(installer.CreateRecord(2));
  int number = hr == kAlreadyRunning ? 25001 : hr == kCertificateWrongUsage ? 25003 : 25000;
  if (UINT rc = installer.RecordSetInteger(record.Get(), 1, number)) Log(Warning, "MsiRecordSetInteger(1) = %d", rc);
  if (UINT rc = installer.RecordSetInteger(record.Get(), 2, static_cast<int>(hr)))
    Log(Warning, "MsiRecordSetInteger(2) = %d", rc);
  installer.ProcessMessage(install, type, record.Get());
  return 0;
}
