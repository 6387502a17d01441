#include "support/FakeInstaller.h"

#include <cstring>

namespace velk_test {

UINT FakeInstaller::GetProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, DWORD* chars) {
  if (install != kSession) return ERROR_INVALID_HANDLE;
  getPropertyRooms.push_back(*chars);
  if (auto f = failGet.find(name); f != failGet.end()) return f->second;
  auto it = properties.find(name);
  std::wstring text = it == properties.end() ? L"" : it->second;
  DWORD length = static_cast<DWORD>(text.size());
  if (*chars <= length) {
    if (*chars) {
      std::memcpy(value, text.data(), (*chars - 1) * sizeof(wchar_t));
      value[*chars - 1] = 0;
    }
    *chars = length;
    return ERROR_MORE_DATA;
  }
  std::memcpy(value, text.c_str(), (length + 1) * sizeof(wchar_t));
  *chars = length;
  return ERROR_SUCCESS;
}

UINT FakeInstaller::SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value) {
  if (install != kSession) return ERROR_INVALID_HANDLE;
  if (auto f = failSet.find(name); f != failSet.end()) return f->second;
  properties[name] = value;
  propertiesSet.push_back(name);
  return ERROR_SUCCESS;
}

BOOL FakeInstaller::GetMode(MSIHANDLE install, MSIRUNMODE mode) {
  modesAsked.push_back(mode);
  return install == kSession && scriptMode == mode;
}

MSIHANDLE FakeInstaller::CreateRecord(UINT fields) {
  MSIHANDLE h = next_++;
  records_[h].fields.resize(fields + 1);
  ++openRecords;
  return h;
}

UINT FakeInstaller::RecordSetInteger(MSIHANDLE record, UINT field, int value) {
  if (failSetInteger && *failSetInteger == field) return ERROR_INVALID_PARAMETER;
  auto it = records_.find(record);
  if (it == records_.end() || field >= it->second.fields.size()) return ERROR_INVALID_HANDLE;
  it->second.fields[field] = value;
  return ERROR_SUCCESS;
}

UINT FakeInstaller::RecordSetStringA(MSIHANDLE record, UINT field, const char* value) {
  auto it = records_.find(record);
  if (it == records_.end() || field >= it->second.fields.size()) return ERROR_INVALID_HANDLE;
  it->second.fields[field] = std::string(value);
  return ERROR_SUCCESS;
}

int FakeInstaller::ProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) {
  auto it = records_.find(record);
  if (it == records_.end()) return -1;
  SentMessage m = it->second;
  m.type = type;
  messages.emplace_back(install, m);
  return 1;
}

UINT FakeInstaller::CloseHandle(MSIHANDLE handle) {
  if (records_.erase(handle)) {
    --openRecords;
    return ERROR_SUCCESS;
  }
  return ERROR_INVALID_HANDLE;
}

std::vector<std::string> FakeInstaller::Lines() const {
  std::vector<std::string> out;
  for (const auto& [h, m] : messages) {
    if (m.type != INSTALLMESSAGE_INFO || m.fields.size() < 2) continue;
    if (const auto* s = std::get_if<std::string>(&m.fields[1])) out.push_back(*s);
  }
  return out;
}

std::vector<std::pair<int, int>> FakeInstaller::Errors() const {
  std::vector<std::pair<int, int>> out;
  for (const auto& [h, m] : messages) {
    if (m.type != INSTALLMESSAGE_ERROR || m.fields.size() < 3) continue;
    const int* a = std::get_if<int>(&m.fields[1]);
    const int* b = std::get_if<int>(&m.fields[2]);
    out.emplace_back(a ? *a : -1, b ? *b : -1);
  }
  return out;
}

}  // namespace velk_test
