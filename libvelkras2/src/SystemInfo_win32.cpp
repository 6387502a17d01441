// Machine identity and key derivation. The name is the one the library has
// always had; the file builds for both platforms, firmware and registry
// come through the platform ports.
#include <cstdio>
#include <cstring>
#include <vector>

#include "SystemInfoPrivate.h"
#include "platform/CodePages.h"
#include "platform/FirmwareTables.h"
#include "platform/LastError.h"
#include "platform/Port.h"
#include "platform/Registry.h"
#include "velkras2/Buffer.h"
#include "velkras2/RasError.h"
#include "velkras2/RasLog.h"
#include "velkras2/RasUtil.h"
#include "velkras2/SystemInfo.h"

namespace {

const char kFile[] = "SystemInfo_win32.cpp";
constexpr unsigned kLineOpenKey = 284;
constexpr unsigned kLineQueryValue = 291;
const char kKeySalt[] = "Qm7rTx2LwPz9HkV4nYc0aJ+eSd6UgR3o";
constexpr uint32_t kKeySaltLength = 32;
constexpr DWORD kProductIdRoom = 32;
constexpr size_t kMaxStringChars = 65;
constexpr size_t kRawHeaderSize = 8;
constexpr BYTE kSystemInformation = 1;
constexpr size_t kUuidEnd = 24;  // the UUID is bytes 8 to 23 of the structure

void Info(const char* text) { RasLog_Write(RasLog_Get(), "[info]", text); }

// RegQueryValueExA over the wide registry: string data comes back in the
// ANSI code page and its size in those bytes; ERROR_MORE_DATA when it does
// not fit the area.
LSTATUS QueryAnsiValue(HKEY key, const wchar_t* name, BYTE* area, DWORD* size) {
  platform::Registry& registry = platform::Use<platform::Registry>();
  DWORD type = 0;
  DWORD bytes = 0;
  LSTATUS status = registry.QueryValue(key, name, &type, nullptr, &bytes);
  if (status != ERROR_SUCCESS) return status;
  std::vector<BYTE> data(bytes ? bytes : 1);
  status = registry.QueryValue(key, name, &type, data.data(), &bytes);
  if (status != ERROR_SUCCESS) return status;

  if (!platform::IsStringType(type)) {
    if (bytes > *size) {
      *size = bytes;
      return ERROR_MORE_DATA;
    }
    std::memcpy(area, data.data(), bytes);
    *size = bytes;
    return ERROR_SUCCESS;
  }
  int chars = static_cast<int>(bytes / sizeof(wchar_t));
  if (chars == 0) {
    *size = 0;
    return ERROR_SUCCESS;
  }
  platform::CodePages& pages = platform::Use<platform::CodePages>();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(data.data());
  int ansiBytes = pages.WideToMultiByte(CP_ACP, wide, chars, nullptr, 0, nullptr);
  if (ansiBytes <= 0) return static_cast<LSTATUS>(platform::GetLastErrorCode());
  if (static_cast<DWORD>(ansiBytes) > *size) {
    *size = static_cast<DWORD>(ansiBytes);
    return ERROR_MORE_DATA;
  }
  if (pages.WideToMultiByte(CP_ACP, wide, chars, reinterpret_cast<char*>(area), ansiBytes, nullptr) <= 0)
    return static_cast<LSTATUS>(platform::GetLastErrorCode());
  *size = static_cast<DWORD>(ansiBytes);
  return ERROR_SUCCESS;
}

}  // namespace

bool SystemInfo_DeriveKey(const void* bytes, uint32_t count, unsigned char key[32]) {
  Buffer* buffer = Buffer_New();
  if (!buffer) return false;
  bool ok = Buffer_Append(buffer, bytes, count) && Buffer_Append(buffer, kKeySalt, kKeySaltLength) &&
            Buffer_Digest(buffer, EVP_sha256()) && buffer->length >= 32;
  if (ok) std::memcpy(key, buffer->data, 32);
  Buffer_Free(buffer);
  return ok;
}

bool SystemInfo_GetOldUniqueId(unsigned char key[32]) {
  platform::Registry& registry = platform::Use<platform::Registry>();
  platform::RegKey version;
  LSTATUS status = registry.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                    KEY_READ | KEY_WOW64_64KEY, version.Put());
  if (status != ERROR_SUCCESS) {
    RasSetLastError("SystemInfo_GetOldUniqueId", kFile, kLineOpenKey, 255, static_cast<DWORD>(status),
                    "RegOpenKeyEx failed");
    return false;
  }
  BYTE productId[kProductIdRoom] = {};
  DWORD size = kProductIdRoom;
  status = QueryAnsiValue(version.Get(), L"ProductId", productId, &size);
  if (status != ERROR_SUCCESS) {
    RasSetLastError("SystemInfo_GetOldUniqueId", kFile, kLineQueryValue, 255, static_cast<DWORD>(status),
                    "RegQueryValueEx failed");
    return false;
  }
  // A string value's size counts its terminator, which is hashed with it.
  return SystemInfo_DeriveKey(productId, size, key);
}

bool SystemInfo_GetUniqueId(unsigned char key[32]) {
  std::memset(key, 0, 32);
  char text[kSmbiosTextSize] = {};
  if (SystemInfo_ReadSmbiosId(text)) return SystemInfo_DeriveKey(text, static_cast<uint32_t>(std::strlen(text)), key);
  Info("It gets old one as fall back because of failure to get unique ID.");
  return SystemInfo_GetOldUniqueId(key);
}

bool SystemInfo_FindSystemStructure(const BYTE* data, size_t size, SmbiosStructure* found) {
  if (size < kRawHeaderSize) return false;
  uint32_t tableLength = static_cast<uint32_t>(data[4]) | static_cast<uint32_t>(data[5]) << 8 |
                         static_cast<uint32_t>(data[6]) << 16 | static_cast<uint32_t>(data[7]) << 24;
  const BYTE* p = data + kRawHeaderSize;
  // The table as announced, but never beyond what was fetched.
  const BYTE* end = tableLength < size - kRawHeaderSize ? p + tableLength : data + size;
  while (p < end) {
    if (end - p < 4) return false;
    BYTE length = p[1];
    // A formatted area shorter than its own header, or running past the
    // table, leaves no sound place for the next structure.
    if (length < 4 || length > end - p) return false;
    const BYTE* strings = p + length;
    const BYTE* next = end;
    for (const BYTE* q = strings; q + 1 < end; ++q) {
      if (q[0] == 0 && q[1] == 0) {
        next = q + 2;
        break;
      }
    }
    if (p[0] == kSystemInformation) {
      *found = SmbiosStructure{p, strings, next};
      return true;
    }
    p = next;
  }
  return false;
}

bool SystemInfo_FormatUuid(const BYTE uuid[16], unsigned version, char text[kSmbiosTextSize]) {
  bool allFF = true, all00 = true;
  for (int i = 0; i < 16; ++i) {
    allFF = allFF && uuid[i] == 0xFF;
    all00 = all00 && uuid[i] == 0x00;
  }
  if (allFF) {
    Info("UUID is not present");
    return false;
  }
  if (all00) {
    Info("UUID is not settable");
    return false;
  }
  // From SMBIOS 2.6 on, the first three fields are stored little-endian.
  static const int kStored[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  static const int kSwapped[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  const int* order = version < 0x0206 ? kStored : kSwapped;
  const BYTE* u = uuid;
  std::snprintf(text, kSmbiosTextSize, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                u[order[0]], u[order[1]], u[order[2]], u[order[3]], u[order[4]], u[order[5]], u[order[6]], u[order[7]],
                u[order[8]], u[order[9]], u[order[10]], u[order[11]], u[order[12]], u[order[13]], u[order[14]],
                u[order[15]]);
  return true;
}

bool SystemInfo_GetSmbiosString(const SmbiosStructure* structure, BYTE number, char* destination, size_t room) {
  if (number == 0) {
    Info("specified invalid  string indext");
    return false;
  }
  const BYTE* s = structure->strings;
  const BYTE* end = structure->end;
  if (s >= end || *s == 0) {
    Info("String is not found");
    return false;
  }
  // Each string must end inside the structure's string set.
  for (BYTE i = 1;; ++i) {
    const BYTE* zero = static_cast<const BYTE*>(std::memchr(s, 0, static_cast<size_t>(end - s)));
    if (!zero) {
      Info("String is not found");
      return false;
    }
    if (i == number) {
      size_t length = static_cast<size_t>(zero - s);
      if (length > kMaxStringChars) {
        Info("String is execeeded over limit");
        return false;
      }
      if (length + 1 > room) {
        platform::SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        char line[64];
        std::snprintf(line, sizeof line, "failed to copy string : %d", static_cast<int>(platform::GetLastErrorCode()));
        Info(line);
        return false;
      }
      std::memcpy(destination, s, length + 1);
      return true;
    }
    s = zero + 1;
    if (s >= end || *s == 0) {
      Info("String is not found");
      return false;
    }
  }
}

bool SystemInfo_ReadSmbiosId(char text[kSmbiosTextSize]) {
  platform::FirmwareTables& tables = platform::Use<platform::FirmwareTables>();
  UINT size = tables.GetTable(platform::kFirmwareProviderRsmb, 0, nullptr, 0);
  BYTE* data = static_cast<BYTE*>(RasUtil_Malloc(size));
  if (!data) {
    RasLog_Write(RasLog_Get(), "[error]", "malloc failed");
    return false;
  }
  std::memset(data, 0, size);
  UINT fetched = tables.GetTable(platform::kFirmwareProviderRsmb, 0, data, size);
  bool ok = false;
  SmbiosStructure system{};
  // A table that grew between the two calls is reported by its new size,
  // without being copied.
  if (fetched == 0 || fetched > size) {
    Info("GetSystemFirmwareTable failed");
  } else if (!SystemInfo_FindSystemStructure(data, fetched, &system)) {
    Info("UUID is not found");
  } else {
    unsigned version = static_cast<unsigned>(data[1]) * 256 + data[2];
    // The fields are read at their offsets even when the formatted area is
    // shorter (SMBIOS 2.0 has 8 bytes): the client derives its key from the
    // same bytes. Only what lies past the fetched data is left alone.
    const size_t available = static_cast<size_t>(data + fetched - system.header);
    if (available >= kUuidEnd) {
      ok = SystemInfo_FormatUuid(system.header + 8, version, text);
    } else {
      // Not an absent UUID (that is all 0xFF): the data ends before it.
      Info("UUID lies past the end of the firmware table");
    }
    if (!ok) {
      BYTE manufacturer = available > 4 ? system.header[4] : 0;
      BYTE serial = available > 7 ? system.header[7] : 0;
      text[0] = '\0';
      if (manufacturer == 0) {
        Info("Manufacture is not found");
      } else if (!SystemInfo_GetSmbiosString(&system, manufacturer, text, kSmbiosTextSize)) {
        Info("Failed to get manufacture");
      } else if (serial == 0) {
        Info("Serial is not found");
      } else {
        size_t used = std::strlen(text);
        if (!SystemInfo_GetSmbiosString(&system, serial, text + used, kSmbiosTextSize - used))
          Info("Failed to get serial");
        else
          ok = true;
      }
    }
  }
  RasUtil_Free(data);
  return ok;
}
