// Registry hives of the host machine, kept in the .reg text format in any
// of the forms Windows writes: "Windows Registry Editor Version 5.00" as
// UTF-16LE with a byte-order mark (regedit, reg export) or as UTF-8 (with
// or without one), and "REGEDIT4" in the machine's ANSI code page.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/host/machine/Utf.h"

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
  RegNode() = default;
  RegNode(RegNode&&) = default;
  RegNode& operator=(RegNode&&) = default;
  ~RegNode();  // not recursive: a tree may be deeper than the stack allows

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

// Windows' limits: levels below a hive's root, characters of one key name
// and of a value name.
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

enum class RegEncoding {
  kUtf8,      // "Windows Registry Editor Version 5.00", no byte-order mark
  kUtf8Bom,   // the same after a UTF-8 byte-order mark
  kUtf16Le,   // the same in UTF-16LE after a byte-order mark
  kRegedit4,  // "REGEDIT4" in the ANSI code page acp; string data in hex is ANSI too
};

// How a file was stored, so that it is written back the same way. A file
// read is kept with the text this program would write for its content: a
// tree that still gives that text is written back as the file's own bytes
// (regedit's line wrapping, key order and empty keys included).
struct RegFileForm {
  RegEncoding encoding = RegEncoding::kUtf8;
  UINT acp = 1252;
  std::string original;   // the bytes read; empty for a new file
  std::string canonical;  // what the content read formats to
};

// Parses the bytes of a .reg file in any of the forms above (acp is the
// code page a REGEDIT4 file is taken to be in) and reports the form found.
// A file in none of them fails naming what it is and what was expected.
bool ParseRegFileBytes(std::string_view bytes, const std::wstring& rootName, const std::string& fileName, UINT acp,
                       RegNode* root, RegFileForm* form, std::string* error);
// The path of the first key a .reg file names, as written ("" when it names
// none or is in no known form).
std::wstring FirstRegKeyPath(std::string_view bytes, UINT acp);
// The file's bytes in the given form; the bytes read when the content is
// unchanged since.
std::string FormatRegFileBytes(const RegNode& root, const std::wstring& rootName, const RegFileForm& form);

// Parses .reg text whose keys all lie under rootName (for example
// "HKEY_LOCAL_MACHINE"). On failure *error is "<file>:<line>: <what>".
bool ParseRegText(std::string_view text, const std::wstring& rootName, const std::string& fileName, RegNode* root,
                  std::string* error);
std::string FormatRegText(const RegNode& root, const std::wstring& rootName);

bool ReadRegFile(const std::filesystem::path& file, const std::wstring& rootName, UINT acp, RegNode* root,
                 RegFileForm* form, std::string* error);
// Writes a temporary file beside the target, then renames it over the
// target. The temporary has a name no one can guess and is created anew
// (never through a link or an existing file planted at that name).
// Its folder is opened (made where missing) from the machine's root, or
// from within when given, one step at a time; links on the way are followed
// only while they stay inside, and the temporary and the rename are made
// relative to that open folder.
bool WriteRegFileAtomic(const std::filesystem::path& file, const RegNode& root, const std::wstring& rootName,
                        const RegFileForm& form, std::string* error, const std::filesystem::path& within = {});

}  // namespace platform::host
