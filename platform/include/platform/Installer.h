// Installer session port: the Windows Installer calls of a custom action.
#pragma once

#include "platform/Port.h"
#include "platform/UniqueHandle.h"
#include "platform/WinTypes.h"

namespace platform {

class Installer {
 public:
  virtual ~Installer() = default;

  // MsiGetPropertyW: *chars in = room with terminator, out = value length;
  // ERROR_MORE_DATA when the room is too small.
  virtual UINT GetProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, DWORD* chars) = 0;
  virtual UINT SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value) = 0;
  // MsiGetMode: TRUE when the session is in that run mode. Of the script
  // modes, a deferred action sees SCHEDULED, a rollback action ROLLBACK and
  // a commit action COMMIT; an immediate action sees none of them.
  virtual BOOL GetMode(MSIHANDLE install, MSIRUNMODE mode) = 0;
  virtual MSIHANDLE CreateRecord(UINT fields) = 0;
  virtual UINT RecordSetInteger(MSIHANDLE record, UINT field, int value) = 0;
  virtual UINT RecordSetStringA(MSIHANDLE record, UINT field, const char* value) = 0;
  virtual int ProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) = 0;
  virtual UINT CloseHandle(MSIHANDLE handle) = 0;

  VELK_PORT(Installer);
};

using MsiRecord = UniqueHandle<ClosedThrough<Installer, &Installer::CloseHandle, NullInvalid<MSIHANDLE>>>;

}  // namespace platform
