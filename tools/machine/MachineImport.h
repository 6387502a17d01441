// Making a host machine folder from what a Windows PC gives: registry
// exports (regedit /E, reg export), an SMBIOS dump, and the folder that the
// kit's capture program writes.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/WinTypes.h"

namespace velk_machine {

struct ImportRequest {
  std::filesystem::path machine;
  // Exports of HKEY_LOCAL_MACHINE keys or of one user's HKEY_USERS\<SID> keys.
  std::vector<std::filesystem::path> exports;
  // HKEY_CURRENT_USER exports, each with the SID of the user who made it.
  std::vector<std::pair<std::wstring, std::filesystem::path>> userExports;
  std::filesystem::path smbios;   // dmidecode --dump-bin output or the raw RSMB blob
  std::filesystem::path capture;  // a folder written by the capture program
  std::wstring current;           // the machine's current user
  UINT acp = 0;                   // 0: from the exports (else 1252)
  UINT uiLanguage = 0;            // 0: from the exports (else 1033)
};

// Whether text is a SID in its string form: "S-1-" and numbers joined by
// '-'. Nothing else goes into machine.ini or a hive's name.
bool IsSid(const std::wstring& text);

// Writes registry/HKLM.reg (merged with one already there), each user's
// NTUSER.DAT at the profile path the profile list gives, machine.ini,
// smbios.bin and the captured folder layout. *report lists what was made;
// on failure *error names the file and what is wrong.
bool ImportMachine(const ImportRequest& request, std::string* report, std::string* error);

}  // namespace velk_machine
