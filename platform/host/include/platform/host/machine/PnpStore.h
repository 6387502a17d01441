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
LSTATUS DeleteValue(const std::wstring& path, const wchar_t* name);
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

// Held across each look-up-then-create step of device installation and
// removal (instance ids, driver keys, connection names, the driver store),
// as the Plug and Play manager serialises them on Windows: one holder per
// machine among processes, and per thread within one (a thread may take it
// again). Status() is ERROR_SUCCESS when held.
class PnpLock {
 public:
  PnpLock();
  ~PnpLock();
  PnpLock(const PnpLock&) = delete;
  PnpLock& operator=(const PnpLock&) = delete;
  DWORD Status() const { return status_; }

 private:
  DWORD status_;
};

}  // namespace platform::host::pnp
