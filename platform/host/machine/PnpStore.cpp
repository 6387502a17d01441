#include "platform/host/machine/PnpStore.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/Port.h"
#include "platform/Registry.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/SideFiles.h"
#include "platform/host/posix/FileLock.h"
#include "platform/host/posix/UniqueFd.h"

namespace platform::host::pnp {

const wchar_t kEnum[] = L"SYSTEM\\CurrentControlSet\\Enum";
const wchar_t kClass[] = L"SYSTEM\\CurrentControlSet\\Control\\Class";
const wchar_t kNetwork[] = L"SYSTEM\\CurrentControlSet\\Control\\Network";
const wchar_t kNetClassGuid[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";

namespace {
Registry& Reg() { return Use<Registry>(); }
}  // namespace

LSTATUS ReadRaw(const std::wstring& path, const wchar_t* name, DWORD* type, std::vector<BYTE>* data) {
  RegKey key;
  LSTATUS s = Reg().OpenKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ, key.Put());
  if (s != ERROR_SUCCESS) return s;
  DWORD size = 0;
  s = Reg().QueryValue(key.Get(), name, type, nullptr, &size);
  if (s != ERROR_SUCCESS) return s;
  data->assign(size, 0);
  if (size == 0) return ERROR_SUCCESS;
  s = Reg().QueryValue(key.Get(), name, type, data->data(), &size);
  data->resize(size);
  return s;
}

bool ReadString(const std::wstring& path, const wchar_t* name, std::wstring* out) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (ReadRaw(path, name, &type, &data) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  *out = text.c_str();
  return true;
}

bool ReadMultiSz(const std::wstring& path, const wchar_t* name, std::vector<std::wstring>* out) {
  DWORD type = 0;
  std::vector<BYTE> data;
  out->clear();
  if (ReadRaw(path, name, &type, &data) != ERROR_SUCCESS || type != REG_MULTI_SZ) return false;
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L'\0', pos);
    if (end == std::wstring::npos) end = text.size();
    if (end == pos) break;
    out->push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return true;
}

LSTATUS WriteRaw(const std::wstring& path, const wchar_t* name, DWORD type, const BYTE* data, DWORD bytes) {
  RegKey key;
  LSTATUS s = Reg().CreateKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ | KEY_WRITE, key.Put(), nullptr);
  if (s != ERROR_SUCCESS) return s;
  return Reg().SetValue(key.Get(), name, type, data, bytes);
}

LSTATUS WriteString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  return WriteRaw(path, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS DeleteValue(const std::wstring& path, const wchar_t* name) {
  RegKey key;
  LSTATUS s = Reg().OpenKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ | KEY_WRITE, key.Put());
  return s != ERROR_SUCCESS ? s : Reg().DeleteValue(key.Get(), name);
}

bool KeyExists(const std::wstring& path) {
  RegKey key;
  return Reg().OpenKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> Subkeys(const std::wstring& path) {
  std::vector<std::wstring> out;
  RegKey key;
  if (Reg().OpenKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ, key.Put()) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = 256;
    if (Reg().EnumKey(key.Get(), i, name, &chars) != ERROR_SUCCESS) break;
    out.emplace_back(name, chars);
  }
  return out;
}

LSTATUS DeleteTree(const std::wstring& path) {
  for (const auto& child : Subkeys(path)) {
    LSTATUS s = DeleteTree(path + L"\\" + child);
    if (s != ERROR_SUCCESS) return s;
  }
  LSTATUS s = Reg().DeleteKey(HKEY_LOCAL_MACHINE, path.c_str(), 0);
  return s == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : s;
}

std::vector<Connection> Connections() {
  std::vector<Connection> out;
  const std::wstring network = kNetwork;
  for (const auto& cls : Subkeys(network)) {
    for (const auto& id : Subkeys(network + L"\\" + cls)) {
      Connection c;
      c.key = network + L"\\" + cls + L"\\" + id + L"\\Connection";
      if (ReadString(c.key, L"Name", &c.name)) out.push_back(std::move(c));
    }
  }
  return out;
}

namespace {
std::recursive_mutex g_pnpThreads;
int g_pnpDepth = 0;  // of the thread holding g_pnpThreads
UniqueFd g_pnpFd;
DWORD g_pnpStatus = ERROR_SUCCESS;
}  // namespace

PnpLock::PnpLock() {
  g_pnpThreads.lock();
  if (g_pnpDepth++ == 0) {
    const Machine* m = Machine::Current();
    g_pnpStatus = ERROR_SUCCESS;
    if (!m) {
      g_pnpStatus = ERROR_PATH_NOT_FOUND;
    } else {
      std::filesystem::path file = m->Root() / "kernel-objects" / "pnp.lock";
      g_pnpFd.Reset(OpenSideFile(file, O_RDWR | O_CREAT, 0666));
      if (!g_pnpFd.Valid()) {
        std::fprintf(stderr, "velk: plug and play: %s\n", SideFileError(file, errno).c_str());
        g_pnpStatus = ERROR_ACCESS_DENIED;
      } else {
        LockRetrying(g_pnpFd.Get(), LOCK_EX);
      }
    }
  }
  status_ = g_pnpStatus;
}

PnpLock::~PnpLock() {
  if (--g_pnpDepth == 0) g_pnpFd.Reset();
  g_pnpThreads.unlock();
}

}  // namespace platform::host::pnp
