// Where the host keeps Plug and Play state, in the machine's registry as
// Windows does: device nodes under Enum, driver keys under Control\Class,
// network connections under Control\Network. Paths are below HKLM.
#pragma once

#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace platform::host::pnp {

extern const wchar_t kEnum[];
extern const wchar_t kClass[];
extern const wchar_t kNetwork[];
// The setup class of network adapters; only its devices get connections.
extern const wchar_t kNetClassGuid[];

bool ReadString(const std::wstring& path, const wchar_t* name, std::wstring* out);
// REG_MULTI_SZ entries; false when absent or of another type.
bool ReadMultiSz(const std::wstring& path, const wchar_t* name, std::vector<std::wstring>* out);
LSTATUS ReadRaw(const std::wstring& path, const wchar_t* name, DWORD* type, std::vector<BYTE>* data);
// Creates the key when missing.
LSTATUS WriteRaw(const std::wstring& path, const wchar_t* name, DWORD type, const BYTE* data, DWORD bytes);
LSTATUS WriteString(const std::wstring& path, const wchar_t* name, const std::wstring& value);
bool KeyExists(const std::wstring& path);
std::vector<std::wstring> Subkeys(const std::wstring& path);
// Deletes a key with everything below it; a missing key is not an error.
LSTATUS DeleteTree(const std::wstring& path);

struct Connection {
  std::wstring key;   // ...\Control\Network\{class}\{instance id}\Connection
  std::wstring name;  // its "Name"
};
// Every connection that has a name, in registry order.
std::vector<Connection> Connections();

}  // namespace platform::host::pnp
