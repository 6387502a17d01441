// The English texts Windows has for the codes the kit meets, each ending in
// "\r\n" as in the system's table. Portable C++: the Windows test programs
// use them too.
#include <cstring>
#include <string>

#include "platform/host/adapters/EnglishSystemMessages.h"

namespace platform {

namespace {

struct Entry {
  DWORD id;
  const char* text;
};

// Texts of the system table (kernel32 and the system itself).
const Entry kSystem[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {18, "There are no more files.\r\n"},
    {19, "The media is write protected.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33, "The process cannot access the file because another process has locked a portion of the file.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {50, "The request is not supported.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {131, "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {222, "The file type being saved or retrieved has been blocked.\r\n"},
    {223, "The file size exceeds the limit allowed and cannot be saved.\r\n"},
    {234, "More data is available.\r\n"},
    {258, "The wait operation timed out.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {299, "Only part of a ReadProcessMemory or WriteProcessMemory request was completed.\r\n"},
    // SetupAPI's 0xE000xxxx codes are looked up by their low 16 bits, which
    // find these system texts for 0xE000023C and 0xE000023D.
    {572, "{Application Exit by CTRL+C}\r\nThe application terminated as a result of a CTRL+C.\r\n"},
    {573, "{Missing System File}\r\nThe required system file %hs is bad or missing.\r\n"},
    {1004, "Invalid flags.\r\n"},
    {1009, "The configuration registry database is corrupt.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1011, "The configuration registry key could not be opened.\r\n"},
    {1012, "The configuration registry key could not be read.\r\n"},
    {1013, "The configuration registry key could not be written.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1155, "No application is associated with the specified file for this operation.\r\n"},
    {1168, "Element not found.\r\n"},
    {1223, "The operation was canceled by the user.\r\n"},
    {1313, "A specified privilege does not exist.\r\n"},
    {1314, "A required privilege is not held by the client.\r\n"},
    {1603, "Fatal error during installation.\r\n"},
    {1629, "The data supplied is of the wrong type.\r\n"},
    {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
    {1921, "The name of the file cannot be resolved by the system.\r\n"},
    {3010, "The requested operation is successful. Changes will not be effective until the system is rebooted.\r\n"},
};

const char* Lookup(const Entry* table, size_t count, DWORD id) {
  for (size_t i = 0; i < count; ++i)
    if (table[i].id == id) return table[i].text;
  return nullptr;
}

class EnglishMessages : public SystemMessages {
 public:
  DWORD Format(DWORD flags, MessageModule module, DWORD id, DWORD language, char* buffer, DWORD size) override {
    if (!buffer || size == 0) return 0;
    const char* text = nullptr;
    // With FROM_HMODULE the module's own table is searched first; the host
    // keeps no module tables of its own beyond the system's.
    if (flags & FORMAT_MESSAGE_FROM_SYSTEM) text = Lookup(kSystem, sizeof kSystem / sizeof kSystem[0], id);
    if (!text) return 0;
    std::string out = text;
    if ((flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK) {
      // Line breaks of the message text become spaces; none are generated.
      std::string flat;
      for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') {
          flat += ' ';
          ++i;
        } else {
          flat += out[i];
        }
      }
      out = flat;
    }
    if (out.size() + 1 > size) return 0;  // ERROR_INSUFFICIENT_BUFFER on Windows
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return static_cast<DWORD>(out.size());
  }
};

}  // namespace

SystemMessages& host::EnglishSystemMessages() {
  static EnglishMessages messages;
  return messages;
}

}  // namespace platform
