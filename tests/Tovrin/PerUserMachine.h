// Machines with user profiles for the per-user actions' tests.
#pragma once

#include <sys/xattr.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempMachine.h"

namespace velk_test {

// hex(2) data of a REG_EXPAND_SZ holding ASCII text.
inline std::string ExpandSzData(const std::string& text) {
  std::string out = "hex(2):";
  char b[8];
  for (char c : text + std::string(1, '\0')) {
    std::snprintf(b, sizeof b, "%02x,00,", static_cast<unsigned char>(c));
    out += b;
  }
  out.pop_back();
  return out;
}

// A .reg string with its backslashes doubled.
inline std::string RegString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out + "\"";
}

struct ProfileEntry {
  std::string sid;
  // The "ProfileImagePath" line's data part ("\"C:\\\\Users\\\\a\"", "dword:1",
  // an ExpandSzData(...)); empty for an entry without the value.
  std::string data;
};

inline std::string ProfileListReg(const std::vector<ProfileEntry>& entries, const std::string& more = "") {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]\r\n";
  for (const auto& e : entries) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + e.sid + "]\r\n";
    if (!e.data.empty()) text += "\"ProfileImagePath\"=" + e.data + "\r\n";
  }
  return text + more;
}

inline std::string HiveReg(const std::string& body) { return "Windows Registry Editor Version 5.00\r\n\r\n" + body; }

// Sets the DOS attribute bits of a file of the machine, as the host keeps them.
inline void SetDosBits(const std::filesystem::path& file, unsigned bits) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "0x%x", bits);
  ::setxattr(file.c_str(), "user.DOSATTRIB", text, static_cast<size_t>(n), 0);
}

// Log lines without the time and thread part: "I text", "W text"; banner
// lines as they are.
inline std::vector<std::string> Short(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.push_back(l.size() > 33 && l[4] == '-' && l[13] == ':' ? l.substr(33) : l);
  return out;
}

}  // namespace velk_test
