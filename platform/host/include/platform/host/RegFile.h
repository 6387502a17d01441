// Registry hives of the host machine, kept in the .reg text format
// ("Windows Registry Editor Version 5.00", UTF-8 on disk).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/host/Utf.h"

namespace platform::host {

struct NoCaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const { return CompareNoCase(a, b) < 0; }
};

// Value data as the host registry hands it out: string types hold WCHAR
// bytes of this build, the others raw bytes.
struct RegValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct RegNode {
  std::map<std::wstring, std::unique_ptr<RegNode>, NoCaseLess> subkeys;
  std::vector<std::pair<std::wstring, RegValue>> values;  // in creation order

  RegValue* FindValue(std::wstring_view name);
  void SetValue(const std::wstring& name, RegValue value);
  bool DeleteValue(std::wstring_view name);
  RegNode* Child(const std::wstring& name) const;
  RegNode* CreateChild(const std::wstring& name);
};

RegValue MakeString(DWORD type, std::wstring_view text);  // type REG_SZ or REG_EXPAND_SZ
RegValue MakeMultiString(const std::vector<std::wstring>& items);
RegValue MakeDword(DWORD value);

// Parses .reg text whose keys all lie under rootName (for example
// "HKEY_LOCAL_MACHINE"). On failure *error is "<file>:<line>: <what>".
bool ParseRegText(std::string_view text, const std::wstring& rootName, const std::string& fileName, RegNode* root,
                  std::string* error);
std::string FormatRegText(const RegNode& root, const std::wstring& rootName);

bool ReadRegFile(const std::filesystem::path& file, const std::wstring& rootName, RegNode* root, std::string* error);
// Writes a temporary file beside the target, then renames it over the target.
bool WriteRegFileAtomic(const std::filesystem::path& file, const RegNode& root, const std::wstring& rootName,
                        std::string* error);

}  // namespace platform::host
