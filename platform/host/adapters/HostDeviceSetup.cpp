// Plug and Play of the host machine. Device information sets live in this
// process; what Windows keeps in the registry (device nodes, driver keys,
// connections) is kept in the machine's registry, the driver store in
// C:\Windows\INF as oem<N>.inf.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>

#include "platform/DeviceSetup.h"
#include "platform/LastError.h"
#include "platform/host/machine/InfFile.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/PnpStore.h"
#include "platform/host/machine/SideFiles.h"
#include "platform/host/machine/Utf.h"
#include "platform/host/posix/ReadWrite.h"
#include "platform/host/posix/UniqueFd.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

using namespace host;

// {A8B865DD-2E3D-4094-AD97-E593A70C75D6}, 5
const DEVPROPKEY kDriverInfPath = {{0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}}, 5};

BOOL Fail(DWORD error) {
  SetLastErrorCode(error);
  return FALSE;
}

// Whether a registered device is present is run-time state on Windows;
// the host keeps it as a non-zero DWORD "Phantom" on the device node
// (a device that was not there at the last start).
bool IsPhantom(const std::wstring& node) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (pnp::ReadRaw(node, L"Phantom", &type, &data) != ERROR_SUCCESS || type != REG_DWORD || data.size() != 4)
    return false;
  DWORD v;
  std::memcpy(&v, data.data(), 4);
  return v != 0;
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Windows keeps class GUIDs in lower case in device nodes and class keys.
std::wstring LowerGuidText(const GUID& g) {
  std::wstring t = GuidText(g);
  for (auto& c : t) c = static_cast<wchar_t>(std::towlower(c));
  return t;
}

std::vector<BYTE> StringBytes(const std::wstring& text) {
  std::vector<BYTE> out((text.size() + 1) * sizeof(wchar_t));
  std::memcpy(out.data(), text.c_str(), out.size());
  return out;
}

bool MapFile(const wchar_t* windowsPath, fs::path* file) {
  const Machine* m = Machine::Current();
  return m && windowsPath && m->MapPath(windowsPath, file);
}

fs::path DriverStore() {
  const Machine* m = Machine::Current();
  fs::path store;
  if (m) m->MapPath(L"C:\\Windows\\INF", &store);
  return store;
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The class an INF names in [Version]: ClassGUID and Class, either one
// completed from the classes the machine knows.
DWORD InfClass(const fs::path& file, GUID* guid, std::wstring* name, InfFile* parsed) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return ERROR_FILE_NOT_FOUND;
  InfFile inf;
  if (!InfFile::Load(file, &inf)) return ERROR_FILE_NOT_FOUND;
  std::wstring signature;
  if (!inf.Value(L"Version", L"Signature", &signature) ||
      !(EqualsNoCase(signature, L"$Windows NT$") || EqualsNoCase(signature, L"$Chicago$") ||
        EqualsNoCase(signature, L"$Windows 95$")))
    return ERROR_WRONG_INF_STYLE;
  std::wstring guidText, className;
  bool hasGuid = inf.Value(L"Version", L"ClassGUID", &guidText) && !guidText.empty();
  bool hasName = inf.Value(L"Version", L"Class", &className) && !className.empty();
  GUID g{};
  if (hasGuid && ClsidFromString(guidText.c_str(), &g) != S_OK) return ERROR_INVALID_CLASS;
  if (hasGuid && !hasName) {
    hasName = pnp::ReadString(std::wstring(pnp::kClass) + L"\\" + LowerGuidText(g), L"Class", &className) &&
              !className.empty();
  } else if (hasName && !hasGuid) {
    for (const auto& key : pnp::Subkeys(pnp::kClass)) {
      std::wstring n;
      if (pnp::ReadString(std::wstring(pnp::kClass) + L"\\" + key, L"Class", &n) && EqualsNoCase(n, className) &&
          ClsidFromString(key.c_str(), &g) == S_OK) {
        hasGuid = true;
        break;
      }
    }
  }
  if (!hasGuid || !hasName) return ERROR_NO_ASSOCIATED_CLASS;
  *guid = g;
  *name = className;
  if (parsed) *parsed = std::move(inf);
  return ERROR_SUCCESS;
}

struct Element {
  std::wstring instanceId;
  GUID classGuid{};
  std::wstring className;
  bool registered = false;
  // The node key holds the id from creation on, as a phantom with no class,
  // so that no other process takes it; reservationTop is the highest key
  // the reservation made.
  bool reserved = false;
  std::wstring reservationTop;
  bool removed = false;
  bool hasHardwareId = false;
  std::vector<BYTE> hardwareId;  // kept here until the node is registered
  bool hasRemoveParams = false;
  SP_REMOVEDEVICE_PARAMS removeParams{};
  DWORD installFlags = 0;
};

struct Set {
  bool hasClass = false;
  GUID classGuid{};
  std::vector<Element> elements;
  // Taken when a device of the set is registered and held until the set is
  // destroyed, on the installing thread: a device stays out of every other
  // installation's and removal's sight until its driver is bound. Otherwise
  // a removal could find it without a driver package, remove it after the
  // package was bound to it, and leave the package with no device.
  std::unique_ptr<pnp::PnpLock> installing;
};

class HostDeviceSetup : public DeviceSetup {
 public:
  BOOL GetInfClass(const wchar_t* infPath, GUID* classGuid, wchar_t* className, DWORD classNameChars) override {
    if (!infPath || !classGuid || (!className && classNameChars)) return Fail(ERROR_INVALID_PARAMETER);
    fs::path file;
    if (!MapFile(infPath, &file)) return Fail(ERROR_FILE_NOT_FOUND);
    GUID g;
    std::wstring name;
    DWORD e = InfClass(file, &g, &name, nullptr);
    if (e != ERROR_SUCCESS) return Fail(e);
    *classGuid = g;
    if (name.size() + 1 > classNameChars) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(className, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return TRUE;
  }

  HDEVINFO CreateDeviceInfoList(const GUID* classGuid) override {
    std::lock_guard<std::mutex> g(lock_);
    Set set;
    if (classGuid) {
      set.hasClass = true;
      set.classGuid = *classGuid;
    }
    return NewSet(std::move(set));
  }

  HDEVINFO GetClassDevs(const GUID* classGuid, DWORD flags) override {
    if (!classGuid && !(flags & DIGCF_ALLCLASSES)) {
      SetLastErrorCode(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    pnp::PnpLock pnpLock;
    if (pnpLock.Status()) {
      SetLastErrorCode(pnpLock.Status());
      return INVALID_HANDLE_VALUE;
    }
    Set set;
    const std::wstring root = pnp::kEnum;
    for (const auto& enumerator : pnp::Subkeys(root)) {
      for (const auto& device : pnp::Subkeys(root + L"\\" + enumerator)) {
        for (const auto& instance : pnp::Subkeys(root + L"\\" + enumerator + L"\\" + device)) {
          std::wstring id = enumerator + L"\\" + device + L"\\" + instance;
          std::wstring node = root + L"\\" + id, guidText;
          GUID g{};
          if (!pnp::ReadString(node, L"ClassGUID", &guidText) || ClsidFromString(guidText.c_str(), &g) != S_OK)
            continue;
          if (!(flags & DIGCF_ALLCLASSES) && !SameGuid(g, *classGuid)) continue;
          if ((flags & DIGCF_PRESENT) && IsPhantom(node)) continue;
          Element e;
          e.instanceId = id;
          e.classGuid = g;
          pnp::ReadString(node, L"Class", &e.className);
          e.registered = true;
          set.elements.push_back(std::move(e));
        }
      }
    }
    std::lock_guard<std::mutex> g(lock_);
    return NewSet(std::move(set));
  }

  BOOL DestroyDeviceInfoList(HDEVINFO handle) override {
    pnp::PnpLock pnpLock;
    std::lock_guard<std::mutex> g(lock_);
    Set* set = FindSet(handle);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (pnpLock.Status() == ERROR_SUCCESS)
      for (auto e = set->elements.rbegin(); e != set->elements.rend(); ++e) ReleaseReservation(&*e);
    sets_.erase(reinterpret_cast<uintptr_t>(handle));
    return TRUE;
  }

  BOOL CreateDeviceInfo(HDEVINFO handle, const wchar_t* deviceName, const GUID* classGuid, DWORD flags,
                        SP_DEVINFO_DATA* data) override {
    pnp::PnpLock pnpLock;
    std::lock_guard<std::mutex> g(lock_);
    Set* set = FindSet(handle);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!classGuid) return Fail(ERROR_INVALID_PARAMETER);
    if (flags & ~static_cast<DWORD>(DICD_GENERATE_ID)) return Fail(ERROR_INVALID_FLAGS);
    if (!deviceName || !*deviceName) return Fail(ERROR_INVALID_DEVINST_NAME);
    if (set->hasClass && !SameGuid(set->classGuid, *classGuid)) return Fail(ERROR_CLASS_MISMATCH);
    if (data && data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    std::wstring name = deviceName;
    Element e;
    if (flags & DICD_GENERATE_ID) {
      if (name.find(L'\\') != std::wstring::npos) return Fail(ERROR_INVALID_DEVINST_NAME);
      std::wstring prefix = L"ROOT\\" + UpperCase(name) + L"\\";
      for (unsigned n = 0; n <= 9999; ++n) {
        wchar_t number[8];
        std::swprintf(number, 8, L"%04u", n);
        std::wstring id = prefix + number;
        if (!pnp::KeyExists(std::wstring(pnp::kEnum) + L"\\" + id)) {
          e.instanceId = id;
          break;
        }
      }
      if (e.instanceId.empty()) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
    } else {
      if (pnp::KeyExists(std::wstring(pnp::kEnum) + L"\\" + name)) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
      e.instanceId = name;
    }
    e.classGuid = *classGuid;
    if (DWORD err = pnpLock.Status() ? pnpLock.Status() : Reserve(&e)) return Fail(err);
    set->elements.push_back(std::move(e));
    if (data) Fill(*set, set->elements.size() - 1, data);
    return TRUE;
  }

  BOOL EnumDeviceInfo(HDEVINFO handle, DWORD index, SP_DEVINFO_DATA* data) override {
    std::lock_guard<std::mutex> g(lock_);
    Set* set = FindSet(handle);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!data) return Fail(ERROR_INVALID_PARAMETER);
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (index >= set->elements.size()) return Fail(ERROR_NO_MORE_ITEMS);
    Fill(*set, index, data);
    return TRUE;
  }

  BOOL GetDeviceInstanceId(HDEVINFO handle, SP_DEVINFO_DATA* data, wchar_t* id, DWORD idChars,
                           DWORD* required) override {
    std::lock_guard<std::mutex> g(lock_);
    Element* e = nullptr;
    if (DWORD err = FindElement(handle, data, &e)) return Fail(err);
    if (!id && idChars) return Fail(ERROR_INVALID_USER_BUFFER);
    DWORD need = static_cast<DWORD>(e->instanceId.size() + 1);
    if (required) *required = need;
    if (idChars < need) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(id, e->instanceId.c_str(), need * sizeof(wchar_t));
    return TRUE;
  }

  BOOL SetDeviceRegistryProperty(HDEVINFO handle, SP_DEVINFO_DATA* data, DWORD property, const BYTE* buffer,
                                 DWORD bytes) override {
    std::lock_guard<std::mutex> g(lock_);
    Element* e = nullptr;
    if (DWORD err = FindElement(handle, data, &e)) return Fail(err);
    if (property != SPDRP_HARDWAREID) return Fail(ERROR_INVALID_REG_PROPERTY);
    if (e->removed) return Fail(ERROR_NO_SUCH_DEVINST);
    if (!buffer && bytes) return Fail(ERROR_INVALID_PARAMETER);
    // A multi-string: whole characters ending in two nulls.
    const size_t w = sizeof(wchar_t);
    if (bytes % w || bytes < 2 * w) return Fail(ERROR_INVALID_DATA);
    std::vector<wchar_t> chars(bytes / w);
    std::memcpy(chars.data(), buffer, bytes);
    if (chars[chars.size() - 1] != L'\0' || chars[chars.size() - 2] != L'\0') return Fail(ERROR_INVALID_DATA);
    if (e->registered) {
      LSTATUS s = pnp::WriteRaw(NodePath(*e), L"HardwareID", REG_MULTI_SZ, buffer, bytes);
      if (s != ERROR_SUCCESS) return Fail(static_cast<DWORD>(s));
    } else {
      e->hasHardwareId = true;
      e->hardwareId.assign(buffer, buffer + bytes);
    }
    return TRUE;
  }

  BOOL GetDeviceRegistryProperty(HDEVINFO handle, SP_DEVINFO_DATA* data, DWORD property, DWORD* type, BYTE* buffer,
                                 DWORD bytes, DWORD* required) override {
    std::lock_guard<std::mutex> g(lock_);
    Element* e = nullptr;
    if (DWORD err = FindElement(handle, data, &e)) return Fail(err);
    const wchar_t* name = nullptr;
    switch (property) {
      case SPDRP_DEVICEDESC: name = L"DeviceDesc"; break;
      case SPDRP_HARDWAREID: name = L"HardwareID"; break;
      case SPDRP_CLASS: name = L"Class"; break;
      case SPDRP_CLASSGUID: name = L"ClassGUID"; break;
      case SPDRP_DRIVER: name = L"Driver"; break;
      default: return Fail(ERROR_INVALID_REG_PROPERTY);
    }
    DWORD valueType = 0;
    std::vector<BYTE> value;
    if (e->registered) {
      if (e->removed || !pnp::KeyExists(NodePath(*e))) return Fail(ERROR_NO_SUCH_DEVINST);
      if (pnp::ReadRaw(NodePath(*e), name, &valueType, &value) != ERROR_SUCCESS) return Fail(ERROR_INVALID_DATA);
    } else if (property == SPDRP_HARDWAREID && e->hasHardwareId) {
      valueType = REG_MULTI_SZ;
      value = e->hardwareId;
    } else if (property == SPDRP_CLASSGUID) {
      valueType = REG_SZ;
      value = StringBytes(LowerGuidText(e->classGuid));
    } else {
      return Fail(ERROR_INVALID_DATA);
    }
    if (type) *type = valueType;
    if (required) *required = static_cast<DWORD>(value.size());
    if (!buffer || bytes < value.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (!value.empty()) std::memcpy(buffer, value.data(), value.size());
    return TRUE;
  }

  BOOL GetDeviceProperty(HDEVINFO handle, SP_DEVINFO_DATA* data, const DEVPROPKEY* key, DEVPROPTYPE* type, BYTE* buffer,
                         DWORD bytes, DWORD* required) override {
    std::lock_guard<std::mutex> g(lock_);
    Element* e = nullptr;
    if (DWORD err = FindElement(handle, data, &e)) return Fail(err);
    if (!key || !type) return Fail(ERROR_INVALID_PARAMETER);
    if (!(SameGuid(key->fmtid, kDriverInfPath.fmtid) && key->pid == kDriverInfPath.pid)) return Fail(ERROR_NOT_FOUND);
    if (!e->registered || e->removed || !pnp::KeyExists(NodePath(*e))) return Fail(ERROR_NO_SUCH_DEVINST);
    std::wstring driver, inf;
    if (!pnp::ReadString(NodePath(*e), L"Driver", &driver) || driver.empty() ||
        !pnp::ReadString(std::wstring(pnp::kClass) + L"\\" + driver, L"InfPath", &inf))
      return Fail(ERROR_NOT_FOUND);
    std::vector<BYTE> value = StringBytes(inf);
    *type = DEVPROP_TYPE_STRING;
    if (required) *required = static_cast<DWORD>(value.size());
    if (!buffer || bytes < value.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, value.data(), value.size());
    return TRUE;
  }

  BOOL SetClassInstallParams(HDEVINFO handle, SP_DEVINFO_DATA* data, SP_CLASSINSTALL_HEADER* params,
                             DWORD bytes) override {
    std::lock_guard<std::mutex> g(lock_);
    Element* e = nullptr;
    if (DWORD err = FindElement(handle, data, &e)) return Fail(err);
    if (!params) {
      e->hasRemoveParams = false;
      return TRUE;
    }
    if (params->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (params->InstallFunction != DIF_REMOVE || bytes != sizeof(SP_REMOVEDEVICE_PARAMS))
      return Fail(ERROR_INVALID_PARAMETER);
    SP_REMOVEDEVICE_PARAMS p;
    std::memcpy(&p, params, sizeof p);
    if (p.Scope != DI_REMOVEDEVICE_GLOBAL && p.Scope != DI_REMOVEDEVICE_CONFIGSPECIFIC)
      return Fail(ERROR_INVALID_FLAGS);
    e->removeParams = p;
    e->hasRemoveParams = true;
    return TRUE;
  }

  BOOL CallClassInstaller(DI_FUNCTION function, HDEVINFO handle, SP_DEVINFO_DATA* data) override {
    pnp::PnpLock pnpLock;
    std::lock_guard<std::mutex> g(lock_);
    Element* e = nullptr;
    if (DWORD err = FindElement(handle, data, &e)) return Fail(err);
    if (pnpLock.Status()) return Fail(pnpLock.Status());
    if (function == DIF_REGISTERDEVICE) {
      if (!Register(e)) return FALSE;
      Set* set = FindSet(handle);
      if (set && !set->installing) set->installing = std::make_unique<pnp::PnpLock>();
      return TRUE;
    }
    if (function == DIF_REMOVE) return Remove(e);
    return Fail(ERROR_NOT_SUPPORTED);
  }

  BOOL GetDeviceInstallParams(HDEVINFO handle, SP_DEVINFO_DATA* data, SP_DEVINSTALL_PARAMS_W* params) override {
    std::lock_guard<std::mutex> g(lock_);
    Element* e = nullptr;
    if (DWORD err = FindElement(handle, data, &e)) return Fail(err);
    if (!params) return Fail(ERROR_INVALID_PARAMETER);
    if (params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) return Fail(ERROR_INVALID_USER_BUFFER);
    std::memset(reinterpret_cast<BYTE*>(params) + sizeof(DWORD), 0, sizeof *params - sizeof(DWORD));
    params->Flags = e->installFlags;
    return TRUE;
  }

  BOOL UpdateDriver(HWND window, const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags,
                    BOOL* rebootRequired) override {
    if (flags & ~static_cast<DWORD>(INSTALLFLAG_FORCE | INSTALLFLAG_READONLY | INSTALLFLAG_NONINTERACTIVE))
      return Fail(ERROR_INVALID_FLAGS);
    if (!hardwareId || !*hardwareId || !infPath) return Fail(ERROR_INVALID_PARAMETER);
    fs::path file;
    if (!MapFile(infPath, &file)) return Fail(ERROR_FILE_NOT_FOUND);
    GUID classGuid;
    std::wstring className;
    InfFile inf;
    if (DWORD e = InfClass(file, &classGuid, &className, &inf)) return Fail(e);

    pnp::PnpLock pnpLock;
    if (pnpLock.Status()) return Fail(pnpLock.Status());
    std::vector<std::wstring> devices = DevicesWithHardwareId(hardwareId);
    if (devices.empty()) return Fail(ERROR_NO_SUCH_DEVINST);
    std::wstring description, installSection;
    if (!FindModel(inf, hardwareId, &description, &installSection)) return Fail(ERROR_NO_COMPAT_DRIVERS);
    std::wstring published;
    if (DWORD e = Publish(file, &published)) return Fail(e);

    std::wstring provider;
    inf.Value(L"Version", L"Provider", &provider);
    const std::wstring guidText = LowerGuidText(classGuid);
    const std::wstring classKey = std::wstring(pnp::kClass) + L"\\" + guidText;
    if (!pnp::KeyExists(classKey) && pnp::WriteString(classKey, L"Class", className) != ERROR_SUCCESS)
      return Fail(ERROR_ACCESS_DENIED);
    for (const auto& id : devices) {
      std::wstring node = std::wstring(pnp::kEnum) + L"\\" + id;
      std::wstring driver;
      if (!pnp::ReadString(node, L"Driver", &driver) || driver.empty())
        driver = guidText + L"\\" + FreeDriverKey(classKey);
      std::wstring driverKey = std::wstring(pnp::kClass) + L"\\" + driver;
      LSTATUS s = ERROR_SUCCESS;
      auto put = [&](const std::wstring& path, const wchar_t* name, const std::wstring& v) {
        if (s == ERROR_SUCCESS) s = pnp::WriteString(path, name, v);
      };
      put(driverKey, L"DriverDesc", description);
      put(driverKey, L"ProviderName", provider);
      put(driverKey, L"InfPath", published);
      put(driverKey, L"InfSection", installSection);
      put(driverKey, L"MatchingDeviceId", hardwareId);
      if (EqualsNoCase(guidText, pnp::kNetClassGuid)) s = s ? s : ConnectNetAdapter(driverKey, id);
      put(node, L"DeviceDesc", description);
      put(node, L"Class", className);
      put(node, L"Driver", driver);
      if (s != ERROR_SUCCESS) return Fail(static_cast<DWORD>(s));
    }
    if (rebootRequired) *rebootRequired = FALSE;
    return TRUE;
  }

  BOOL UninstallOemInf(const wchar_t* infName, DWORD flags) override {
    if (!infName) return Fail(ERROR_INVALID_PARAMETER);
    if (flags & ~static_cast<DWORD>(SUOI_FORCEDELETE)) return Fail(ERROR_INVALID_FLAGS);
    std::wstring name = infName;
    std::wstring upper = UpperCase(name);
    bool oem = upper.size() > 7 && upper.compare(0, 3, L"OEM") == 0 &&
               upper.compare(upper.size() - 4, 4, L".INF") == 0 &&
               std::all_of(upper.begin() + 3, upper.end() - 4, [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    if (!oem) return Fail(ERROR_NOT_AN_INSTALLED_OEM_INF);
    pnp::PnpLock pnpLock;
    if (pnpLock.Status()) return Fail(pnpLock.Status());
    fs::path file;
    std::error_code ec;
    if (!MapFile((L"C:\\Windows\\INF\\" + name).c_str(), &file) || !fs::is_regular_file(file, ec))
      return Fail(ERROR_FILE_NOT_FOUND);
    if (!(flags & SUOI_FORCEDELETE)) {
      const std::wstring classes = pnp::kClass;
      for (const auto& cls : pnp::Subkeys(classes))
        for (const auto& n : pnp::Subkeys(classes + L"\\" + cls)) {
          std::wstring used;
          if (pnp::ReadString(classes + L"\\" + cls + L"\\" + n, L"InfPath", &used) && EqualsNoCase(used, name))
            return Fail(ERROR_INF_IN_USE_BY_DEVICES);
        }
    }
    if (!fs::remove(file, ec)) return Fail(ERROR_ACCESS_DENIED);
    fs::path pnf = file;
    fs::remove(pnf.replace_extension(".pnf"), ec);
    return TRUE;
  }

 private:
  HDEVINFO NewSet(Set set) {
    uintptr_t id = next_;
    next_ += 8;
    sets_[id] = std::move(set);
    return reinterpret_cast<HDEVINFO>(id);
  }

  Set* FindSet(HDEVINFO handle) {
    auto it = sets_.find(reinterpret_cast<uintptr_t>(handle));
    return it == sets_.end() ? nullptr : &it->second;
  }

  DWORD FindElement(HDEVINFO handle, SP_DEVINFO_DATA* data, Element** out) {
    Set* set = FindSet(handle);
    if (!set) return ERROR_INVALID_HANDLE;
    if (!data) return ERROR_INVALID_PARAMETER;
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) return ERROR_INVALID_USER_BUFFER;
    if (data->Reserved == 0 || data->Reserved > set->elements.size()) return ERROR_INVALID_PARAMETER;
    *out = &set->elements[data->Reserved - 1];
    return ERROR_SUCCESS;
  }

  static void Fill(const Set& set, size_t index, SP_DEVINFO_DATA* data) {
    data->ClassGuid = set.elements[index].classGuid;
    data->DevInst = static_cast<DWORD>(index + 1);
    data->Reserved = index + 1;
  }

  // Makes the element's node key as a phantom without a class, which no
  // listing shows, making the keys above it as needed.
  static DWORD Reserve(Element* e) {
    std::wstring node = NodePath(*e);
    std::wstring top = node;
    for (size_t cut = node.rfind(L'\\'); cut != std::wstring::npos && cut > 0; cut = top.rfind(L'\\')) {
      if (pnp::KeyExists(top.substr(0, cut))) break;
      top.resize(cut);
    }
    DWORD one = 1;
    LSTATUS s = pnp::WriteRaw(node, L"Phantom", REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    if (s != ERROR_SUCCESS) return static_cast<DWORD>(s);
    e->reserved = true;
    e->reservationTop = top;
    return ERROR_SUCCESS;
  }

  // Drops the node of an element never registered, the device key when
  // that was its last instance (as a removal does), and the keys above it
  // that the reservation made and that nothing else has come to use.
  static void ReleaseReservation(Element* e) {
    if (!e->reserved || e->registered) return;
    e->reserved = false;
    std::wstring key = NodePath(*e);
    pnp::DeleteTree(key);
    for (bool deviceKey = true; key.find(L'\\') != std::wstring::npos; deviceKey = false) {
      key.resize(key.rfind(L'\\'));
      if (!deviceKey && key.size() < e->reservationTop.size()) break;
      if (!pnp::Subkeys(key).empty()) break;
      pnp::DeleteTree(key);
    }
  }

  static std::wstring NodePath(const Element& e) { return std::wstring(pnp::kEnum) + L"\\" + e.instanceId; }

  BOOL Register(Element* e) {
    if (e->registered) return Fail(e->removed ? ERROR_NO_SUCH_DEVINST : ERROR_DEVINST_ALREADY_EXISTS);
    if (!e->reserved && pnp::KeyExists(NodePath(*e))) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
    std::wstring node = NodePath(*e);
    std::wstring guidText = LowerGuidText(e->classGuid);
    std::wstring className;
    pnp::ReadString(std::wstring(pnp::kClass) + L"\\" + guidText, L"Class", &className);
    std::vector<BYTE> guidBytes = StringBytes(guidText);
    LSTATUS s = pnp::WriteRaw(node, L"ClassGUID", REG_SZ, guidBytes.data(), static_cast<DWORD>(guidBytes.size()));
    if (s == ERROR_SUCCESS && !className.empty()) s = pnp::WriteString(node, L"Class", className);
    if (s == ERROR_SUCCESS && e->hasHardwareId)
      s = pnp::WriteRaw(node, L"HardwareID", REG_MULTI_SZ, e->hardwareId.data(),
                        static_cast<DWORD>(e->hardwareId.size()));
    if (s == ERROR_SUCCESS && e->reserved) s = pnp::DeleteValue(node, L"Phantom");
    if (s != ERROR_SUCCESS) {
      pnp::DeleteTree(node);
      e->reserved = false;
      return Fail(static_cast<DWORD>(s));
    }
    e->registered = true;
    return TRUE;
  }

  BOOL Remove(Element* e) {
    std::wstring node = NodePath(*e);
    if (!e->registered || e->removed || !pnp::KeyExists(node)) return Fail(ERROR_NO_SUCH_DEVINST);
    // A node reserved under the same instance id after this device went is
    // another installation's, not this device.
    if (IsPhantom(node)) return Fail(ERROR_NO_SUCH_DEVINST);
    std::wstring driver, guidText, netId;
    if (pnp::ReadString(node, L"Driver", &driver) && !driver.empty()) {
      std::wstring driverKey = std::wstring(pnp::kClass) + L"\\" + driver;
      if (pnp::ReadString(driverKey, L"NetCfgInstanceId", &netId) && !netId.empty() &&
          pnp::ReadString(node, L"ClassGUID", &guidText))
        pnp::DeleteTree(std::wstring(pnp::kNetwork) + L"\\" + guidText + L"\\" + netId);
      pnp::DeleteTree(driverKey);
    }
    LSTATUS s = pnp::DeleteTree(node);
    if (s != ERROR_SUCCESS) return Fail(static_cast<DWORD>(s));
    // The device's own key goes with its last instance.
    std::wstring parent = node.substr(0, node.rfind(L'\\'));
    if (pnp::Subkeys(parent).empty()) pnp::DeleteTree(parent);
    e->removed = true;
    return TRUE;
  }

  // Instance ids of the present nodes listing the id (ids compare without case).
  static std::vector<std::wstring> DevicesWithHardwareId(const std::wstring& hardwareId) {
    std::vector<std::wstring> out;
    const std::wstring root = pnp::kEnum;
    for (const auto& en : pnp::Subkeys(root))
      for (const auto& dev : pnp::Subkeys(root + L"\\" + en))
        for (const auto& inst : pnp::Subkeys(root + L"\\" + en + L"\\" + dev)) {
          std::wstring id = en + L"\\" + dev + L"\\" + inst;
          std::vector<std::wstring> ids;
          if (IsPhantom(root + L"\\" + id) || !pnp::ReadMultiSz(root + L"\\" + id, L"HardwareID", &ids)) continue;
          if (std::any_of(ids.begin(), ids.end(), [&](const std::wstring& h) { return EqualsNoCase(h, hardwareId); }))
            out.push_back(id);
        }
    return out;
  }

  // The model line of the INF that names the hardware id.
  static bool FindModel(const InfFile& inf, const std::wstring& hardwareId, std::wstring* description,
                        std::wstring* section) {
    for (const InfLine* m : inf.Lines(L"Manufacturer")) {
      if (m->fields.empty()) continue;
      std::vector<std::wstring> names{m->fields[0]};
      for (size_t i = 1; i < m->fields.size(); ++i) names.push_back(m->fields[0] + L"." + m->fields[i]);
      for (const auto& name : names)
        for (const InfLine* l : inf.Lines(name))
          for (size_t i = 1; i < l->fields.size(); ++i)
            if (EqualsNoCase(inf.Expand(l->fields[i]), hardwareId)) {
              *description = inf.Expand(l->key);
              *section = l->fields[0];
              return true;
            }
    }
    return false;
  }

  // Copies the INF into the driver store as oem<N>.inf; a package already
  // there with the same bytes keeps its published name. The store's files
  // are side files: a link at an oem name is neither read nor written.
  static DWORD Publish(const fs::path& file, std::wstring* published) {
    fs::path store = DriverStore();
    if (store.empty()) return ERROR_PATH_NOT_FOUND;
    UniqueFd folder(OpenMachineFolder(store));
    if (folder.Get() < 0) return StoreFailure(store);
    std::string bytes = ReadBytes(file);
    std::vector<unsigned> taken;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(store, ec)) {
      std::wstring name = UpperCase(Utf8ToWide(entry.path().filename().string()));
      if (name.size() <= 7 || name.compare(0, 3, L"OEM") != 0 || name.compare(name.size() - 4, 4, L".INF") != 0)
        continue;
      std::wstring digits = name.substr(3, name.size() - 7);
      if (digits.size() > 6 ||
          !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        continue;
      taken.push_back(static_cast<unsigned>(std::stoul(digits)));
      UniqueFd in(OpenSideFile(entry.path(), O_RDONLY, 0));
      std::string held;  // what a failed read leaves compares unequal
      if (in.Valid()) host::ReadAll(in.Get(), &held);
      if (in.Valid() && held == bytes) {
        *published = L"oem" + std::to_wstring(taken.back()) + L".inf";
        return ERROR_SUCCESS;
      }
    }
    for (unsigned n = 0;; ++n) {
      if (std::find(taken.begin(), taken.end(), n) != taken.end()) continue;
      *published = L"oem" + std::to_wstring(n) + L".inf";
      fs::path target = store / WideToUtf8(*published);
      UniqueFd out(OpenSideFile(target, O_WRONLY | O_CREAT | O_EXCL, 0644));
      if (out.Get() < 0 && errno == EEXIST) continue;  // made meanwhile by something else
      if (out.Get() < 0) return StoreFailure(target);
      if (!host::WriteAll(out.Get(), bytes)) {
        ::unlinkat(folder.Get(), target.filename().c_str(), 0);
        return ERROR_ACCESS_DENIED;
      }
      return ERROR_SUCCESS;
    }
  }

  static DWORD StoreFailure(const fs::path& path) {
    int e = errno;
    std::fprintf(stderr, "velk: driver store: %s\n", SideFileError(path, e).c_str());
    return e == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
  }

  static std::wstring FreeDriverKey(const std::wstring& classKey) {
    std::vector<std::wstring> used = pnp::Subkeys(classKey);
    for (unsigned n = 0;; ++n) {
      wchar_t number[8];
      std::swprintf(number, 8, L"%04u", n);
      if (std::none_of(used.begin(), used.end(), [&](const std::wstring& u) { return EqualsNoCase(u, number); }))
        return number;
    }
  }

  // A network adapter gets its configuration id and a connection named as
  // Windows names new ones: "Ethernet", "Ethernet 2", ...
  static LSTATUS ConnectNetAdapter(const std::wstring& driverKey, const std::wstring& instanceId) {
    std::wstring netId;
    if (!pnp::ReadString(driverKey, L"NetCfgInstanceId", &netId) || netId.empty()) {
      std::random_device random;
      GUID g;
      g.Data1 = random();
      g.Data2 = static_cast<uint16_t>(random());
      g.Data3 = static_cast<uint16_t>((random() & 0x0FFF) | 0x4000);
      for (auto& b : g.Data4) b = static_cast<uint8_t>(random());
      g.Data4[0] = static_cast<uint8_t>((g.Data4[0] & 0x3F) | 0x80);
      netId = GuidText(g);
      LSTATUS s = pnp::WriteString(driverKey, L"NetCfgInstanceId", netId);
      if (s != ERROR_SUCCESS) return s;
    }
    std::wstring connection =
        std::wstring(pnp::kNetwork) + L"\\" + pnp::kNetClassGuid + L"\\" + netId + L"\\Connection";
    std::wstring existing;
    if (pnp::ReadString(connection, L"Name", &existing)) return ERROR_SUCCESS;
    std::vector<pnp::Connection> all = pnp::Connections();
    std::wstring name;
    for (unsigned n = 1;; ++n) {
      name = n == 1 ? L"Ethernet" : L"Ethernet " + std::to_wstring(n);
      if (std::none_of(all.begin(), all.end(), [&](const pnp::Connection& c) { return EqualsNoCase(c.name, name); }))
        break;
    }
    LSTATUS s = pnp::WriteString(connection, L"Name", name);
    return s ? s : pnp::WriteString(connection, L"PnpInstanceID", instanceId);
  }

  std::mutex lock_;
  std::map<uintptr_t, Set> sets_;
  uintptr_t next_ = 0x5000;
};

}  // namespace

DeviceSetup& DeviceSetup::Default() {
  static HostDeviceSetup setup;
  return setup;
}

}  // namespace platform
