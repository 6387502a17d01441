// Installer sessions of the host: what msiexec would hold for a custom
// action, made by the runner and read back after the call.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Installer.h"

namespace platform::host {

using RecordField = std::variant<std::monostate, int, std::string>;

struct InstallerRecord {
  std::vector<RecordField> fields;  // field 0 is the template
};

// Receives every message the session is sent; its return value is the
// answer of MsiProcessMessage.
using MessageSink = std::function<int(INSTALLMESSAGE type, const InstallerRecord& record)>;

class HostInstaller : public Installer {
 public:
  UINT GetProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, DWORD* chars) override;
  UINT SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value) override;
  BOOL GetMode(MSIHANDLE install, MSIRUNMODE mode) override;
  MSIHANDLE CreateRecord(UINT fields) override;
  UINT RecordSetInteger(MSIHANDLE record, UINT field, int value) override;
  UINT RecordSetStringA(MSIHANDLE record, UINT field, const char* value) override;
  int ProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) override;
  UINT CloseHandle(MSIHANDLE handle) override;

  // A new session holding these properties. A session of a script action
  // (mode SCHEDULED, ROLLBACK or COMMIT) answers only the properties such an
  // action can read (CustomActionData, ProductCode, UserSID; no ProductCode
  // in a commit action), others read as empty, and refuses property writes.
  MSIHANDLE OpenSession(const std::vector<std::pair<std::wstring, std::wstring>>& properties, MessageSink sink,
                        std::optional<MSIRUNMODE> scriptMode = std::nullopt);
  // Properties set during the session, in the order first set, with their last value.
  std::vector<std::pair<std::wstring, std::wstring>> PropertiesSet(MSIHANDLE install);
  // The number of record handles still open (a leak check for tests).
  size_t OpenRecords();
  // Where messages sent with no installation handle (0) go; by default nowhere.
  void SetNoSessionSink(MessageSink sink);
};

HostInstaller& HostInstallerInstance();

}  // namespace platform::host
