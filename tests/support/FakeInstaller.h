// An in-memory installer session for tests, with failures to inject.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Installer.h"

namespace velk_test {

struct SentMessage {
  INSTALLMESSAGE type;
  std::vector<std::variant<std::monostate, int, std::string>> fields;
};

class FakeInstaller : public platform::Installer {
 public:
  static constexpr MSIHANDLE kSession = 42;

  UINT GetProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, DWORD* chars) override;
  UINT SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value) override;
  BOOL GetMode(MSIHANDLE install, MSIRUNMODE mode) override;
  MSIHANDLE CreateRecord(UINT fields) override;
  UINT RecordSetInteger(MSIHANDLE record, UINT field, int value) override;
  UINT RecordSetStringA(MSIHANDLE record, UINT field, const char* value) override;
  int ProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) override;
  UINT CloseHandle(MSIHANDLE handle) override;

  // Log lines (informational messages) sent to the session, in order.
  std::vector<std::string> Lines() const;
  // Error messages as (field 1, field 2).
  std::vector<std::pair<int, int>> Errors() const;

  std::map<std::wstring, std::wstring> properties;
  std::vector<std::wstring> propertiesSet;  // names, in the order set
  std::map<std::wstring, UINT> failGet;     // property name -> error code
  std::map<std::wstring, UINT> failSet;
  std::optional<UINT> failSetInteger;    // field whose RecordSetInteger fails
  std::optional<MSIRUNMODE> scriptMode;  // the mode of a deferred, rollback or commit action
  std::vector<MSIRUNMODE> modesAsked;
  std::vector<std::pair<MSIHANDLE, SentMessage>> messages;
  std::vector<DWORD> getPropertyRooms;  // the room each property read offered
  size_t openRecords = 0;

 private:
  std::map<MSIHANDLE, SentMessage> records_;
  MSIHANDLE next_ = 1000;
};

}  // namespace velk_test
