#include "DeviceFakes.h"

#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "platform/LastError.h"

namespace velk_test {

std::vector<wchar_t> MultiSz(const std::vector<std::wstring>& entries) {
  std::vector<wchar_t> out;
  for (const auto& e : entries) {
    out.insert(out.end(), e.begin(), e.end());
    out.push_back(L'\0');
  }
  out.push_back(L'\0');
  return out;
}

namespace {
constexpr ULONG_PTR kNewDevice = 1000;

BOOL Copy(const void* data, DWORD size, BYTE* buffer, DWORD bytes, DWORD* required) {
  if (required) *required = size;
  if (!buffer || bytes < size) {
    platform::SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, data, size);
  return TRUE;
}

std::wstring Upper(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
  return s;
}
}  // namespace

BOOL FakeDeviceSetup::Failing(const std::string& call) {
  calls.push_back(call);
  auto it = fail.find(call);
  if (it == fail.end()) return FALSE;
  platform::SetLastErrorCode(it->second);
  return TRUE;
}

BOOL FakeDeviceSetup::GetInfClass(const wchar_t* infPath, GUID* classGuid, wchar_t* className, DWORD classNameChars) {
  if (Failing("GetInfClass")) return FALSE;
  *classGuid = infClass;
  if (infClassName.size() + 1 > classNameChars) return FALSE;
  std::memcpy(className, infClassName.c_str(), (infClassName.size() + 1) * sizeof(wchar_t));
  return TRUE;
}

HDEVINFO FakeDeviceSetup::CreateDeviceInfoList(const GUID* classGuid) {
  if (Failing("CreateDeviceInfoList")) return INVALID_HANDLE_VALUE;
  sets_.insert(next_);
  ++liveSets;
  return reinterpret_cast<HDEVINFO>(next_++);
}

HDEVINFO FakeDeviceSetup::GetClassDevs(const GUID* classGuid, DWORD flags) {
  if (Failing("GetClassDevs")) return INVALID_HANDLE_VALUE;
  if (classGuid) listedClass = *classGuid;
  listedFlags = flags;
  sets_.insert(next_);
  ++liveSets;
  return reinterpret_cast<HDEVINFO>(next_++);
}

BOOL FakeDeviceSetup::DestroyDeviceInfoList(HDEVINFO set) {
  if (Failing("DestroyDeviceInfoList")) return FALSE;
  if (!sets_.erase(reinterpret_cast<uintptr_t>(set))) {
    platform::SetLastErrorCode(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --liveSets;
  return TRUE;
}

BOOL FakeDeviceSetup::CreateDeviceInfo(HDEVINFO set, const wchar_t* deviceName, const GUID* classGuid, DWORD flags,
                                       SP_DEVINFO_DATA* data) {
  if (Failing("CreateDeviceInfo")) return FALSE;
  if (!sets_.count(reinterpret_cast<uintptr_t>(set)) || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    platform::SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  createdName = deviceName;
  createFlags = flags;
  data->Reserved = kNewDevice;
  return TRUE;
}

BOOL FakeDeviceSetup::EnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) {
  if (Failing("EnumDeviceInfo")) return FALSE;
  if (index >= devices.size()) {
    platform::SetLastErrorCode(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = index + 1;
  return TRUE;
}

BOOL FakeDeviceSetup::GetDeviceInstanceId(HDEVINFO set, SP_DEVINFO_DATA* data, wchar_t* id, DWORD idChars,
                                          DWORD* required) {
  if (Failing("GetDeviceInstanceId")) return FALSE;
  const std::wstring& text = devices.at(data->Reserved - 1).instanceId;
  if (text.size() + 1 > idChars) {
    platform::SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(id, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  return TRUE;
}

BOOL FakeDeviceSetup::SetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, const BYTE* buffer,
                                                DWORD bytes) {
  if (Failing("SetDeviceRegistryProperty")) return FALSE;
  if (property != SPDRP_HARDWAREID || data->Reserved != kNewDevice) return FALSE;
  hardwareIdSet.assign(buffer, buffer + bytes);
  return TRUE;
}

BOOL FakeDeviceSetup::GetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, DWORD* type,
                                                BYTE* buffer, DWORD bytes, DWORD* required) {
  std::string call = "GetDeviceRegistryProperty:" + std::to_string(property) + (buffer ? ":read" : ":size");
  const void* source = nullptr;
  DWORD size = 0;
  if (data->Reserved == kNewDevice) {
    const std::wstring& text = property == SPDRP_CLASSGUID ? classGuidText : driverKey;
    *type = property == SPDRP_CLASSGUID ? classGuidType : driverType;
    source = text.c_str();
    size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  } else {
    const FakeDevice& d = devices.at(data->Reserved - 1);
    *type = d.hardwareIdType;
    source = d.hardwareIds.data();
    size = static_cast<DWORD>(d.hardwareIds.size() * sizeof(wchar_t));
  }
  if (Failing(call)) {
    if (failuresReportSize && required) *required = size;
    return FALSE;
  }
  return Copy(source, size, buffer, bytes, required);
}

BOOL FakeDeviceSetup::GetDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* data, const DEVPROPKEY* key, DEVPROPTYPE* type,
                                        BYTE* buffer, DWORD bytes, DWORD* required) {
  if (Failing(std::string("GetDeviceProperty") + (buffer ? ":read" : ":size"))) return FALSE;
  const FakeDevice& d = devices.at(data->Reserved - 1);
  static const GUID kInfPath = {0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}};
  if (!d.infName || std::memcmp(&key->fmtid, &kInfPath, sizeof kInfPath) != 0 || key->pid != 5) {
    platform::SetLastErrorCode(ERROR_NOT_FOUND);
    return FALSE;
  }
  *type = d.infNameType;
  if (buffer) propertyReadBytes.push_back(bytes);
  return Copy(d.infName->c_str(), static_cast<DWORD>((d.infName->size() + 1) * sizeof(wchar_t)), buffer, bytes,
              required);
}

BOOL FakeDeviceSetup::SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* data, SP_CLASSINSTALL_HEADER* params,
                                            DWORD bytes) {
  if (Failing("SetClassInstallParams")) return FALSE;
  const BYTE* p = reinterpret_cast<const BYTE*>(params);
  removeParams.emplace_back(p, p + bytes);
  return TRUE;
}

BOOL FakeDeviceSetup::CallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* data) {
  if (Failing("CallClassInstaller:" + std::to_string(function))) return FALSE;
  if (function == DIF_REMOVE) {
    FakeDevice& d = devices.at(data->Reserved - 1);
    d.removed = true;
    removedDevices.push_back(d.instanceId);
  }
  return TRUE;
}

BOOL FakeDeviceSetup::GetDeviceInstallParams(HDEVINFO set, SP_DEVINFO_DATA* data, SP_DEVINSTALL_PARAMS_W* params) {
  if (Failing("GetDeviceInstallParams")) return FALSE;
  if (params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) {
    platform::SetLastErrorCode(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  params->Flags = devices.at(data->Reserved - 1).installFlags;
  return TRUE;
}

BOOL FakeDeviceSetup::UpdateDriver(HWND window, const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags,
                                   BOOL* reboot) {
  if (Failing("UpdateDriver")) return FALSE;
  updateWindow = window;
  updatedHardwareId = hardwareId;
  updatedInf = infPath;
  updateFlags = flags;
  *reboot = rebootRequired;
  return TRUE;
}

BOOL FakeDeviceSetup::UninstallOemInf(const wchar_t* infName, DWORD flags) {
  uninstalledInfs.push_back(infName);
  return !Failing("UninstallOemInf");
}

void FakeRegistry::SetString(const std::wstring& key, const std::wstring& name, const std::wstring& text, DWORD type) {
  Value v{type, {}};
  const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
  v.data.assign(p, p + (text.size() + 1) * sizeof(wchar_t));
  keys[Upper(key)][Upper(name)] = v;
}

void FakeRegistry::SetDword(const std::wstring& key, const std::wstring& name, DWORD value) {
  Value v{REG_DWORD, std::vector<BYTE>(4)};
  std::memcpy(v.data.data(), &value, 4);
  keys[Upper(key)][Upper(name)] = v;
}

LSTATUS FakeRegistry::OpenKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) {
  std::wstring path = Upper(subkey);
  opens.emplace_back(subkey, access);
  if (parent != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  if (auto e = openError.find(path); e != openError.end()) return e->second;
  if (auto a = appearsAfterOpens.find(path); a != appearsAfterOpens.end() && a->second > 0) {
    --a->second;
    return ERROR_FILE_NOT_FOUND;
  }
  if (!keys.count(path)) return ERROR_FILE_NOT_FOUND;
  handles_[next_] = path;
  *result = reinterpret_cast<HKEY>(next_);
  next_ += 4;
  ++openHandles;
  return ERROR_SUCCESS;
}

LSTATUS FakeRegistry::CloseKey(HKEY key) {
  if (!handles_.erase(reinterpret_cast<uintptr_t>(key))) return ERROR_INVALID_HANDLE;
  --openHandles;
  return ERROR_SUCCESS;
}

LSTATUS FakeRegistry::QueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes) {
  auto h = handles_.find(reinterpret_cast<uintptr_t>(key));
  if (h == handles_.end()) return ERROR_INVALID_HANDLE;
  std::wstring valueName = Upper(name ? name : L"");
  if (auto a = appearsAfterQueries.find(h->second + L"\\" + valueName);
      a != appearsAfterQueries.end() && a->second > 0) {
    --a->second;
    return ERROR_FILE_NOT_FOUND;
  }
  auto& values = keys[h->second];
  auto v = values.find(valueName);
  if (v == values.end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->second.type;
  DWORD size = static_cast<DWORD>(v->second.data.size());
  if (data) {
    if (*dataBytes < size) {
      *dataBytes = size;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, v->second.data.data(), size);
  }
  if (dataBytes) *dataBytes = size;
  return ERROR_SUCCESS;
}

LSTATUS FakeRegistry::SetValue(HKEY, const wchar_t*, DWORD, const BYTE*, DWORD) {
  ++writes;
  return ERROR_ACCESS_DENIED;
}

namespace {

class Allocator : public platform::ShellAllocator {
 public:
  explicit Allocator(FakeNetConnections& owner) : owner_(owner) {}
  void Free(void* block) override { owner_.FreeBlock(block); }
  ULONG Release() override {
    --owner_.references;
    delete this;
    return 0;
  }

 private:
  FakeNetConnections& owner_;
};

size_t IndexOf(LPITEMIDLIST item) {
  size_t index;
  std::memcpy(&index, item, sizeof index);
  return index;
}

class Enumerator : public platform::ConnectionEnumerator {
 public:
  explicit Enumerator(FakeNetConnections& owner) : owner_(owner) {}
  HRESULT Next(LPITEMIDLIST* item) override {
    *item = nullptr;
    if (next_ >= owner_.items.size()) return S_FALSE;
    void* block = owner_.Allocate(sizeof(size_t));
    std::memcpy(block, &next_, sizeof next_);
    ++next_;
    *item = static_cast<LPITEMIDLIST>(block);
    return S_OK;
  }
  ULONG Release() override {
    --owner_.references;
    delete this;
    return 0;
  }

 private:
  FakeNetConnections& owner_;
  size_t next_ = 0;
};

class Folder : public platform::ConnectionFolder {
 public:
  explicit Folder(FakeNetConnections& owner) : owner_(owner) {}
  HRESULT EnumObjects(HWND window, DWORD flags, platform::ConnectionEnumerator** list) override {
    *list = nullptr;
    if (owner_.enumResult != S_OK || flags != SHCONTF_NONFOLDERS || window) return owner_.enumResult;
    ++owner_.references;
    *list = new Enumerator(owner_);
    return S_OK;
  }
  HRESULT GetDisplayNameOf(LPITEMIDLIST item, DWORD flags, STRRET* name) override {
    size_t index = IndexOf(item);
    if (owner_.displayFailsAt == index) return owner_.displayResult;
    const auto& it = owner_.items.at(index);
    name->uType = it.kind;
    if (it.kind == STRRET_WSTR) {
      auto* text = static_cast<wchar_t*>(owner_.Allocate((it.name.size() + 1) * sizeof(wchar_t)));
      std::memcpy(text, it.name.c_str(), (it.name.size() + 1) * sizeof(wchar_t));
      name->pOleStr = text;
    } else if (it.kind == STRRET_CSTR) {
      std::strcpy(name->cStr, "narrow");
    } else {
      name->uOffset = 0;
    }
    return S_OK;
  }
  HRESULT SetNameOf(HWND window, LPITEMIDLIST item, const wchar_t* name, DWORD flags, LPITEMIDLIST* newItem) override {
    size_t index = IndexOf(item);
    owner_.renames.emplace_back(index, name);
    if (owner_.setNameResult != S_OK) return owner_.setNameResult;
    void* block = owner_.Allocate(sizeof(size_t));
    std::memcpy(block, &index, sizeof index);
    *newItem = static_cast<LPITEMIDLIST>(block);
    return S_OK;
  }
  ULONG Release() override {
    --owner_.references;
    delete this;
    return 0;
  }

 private:
  FakeNetConnections& owner_;
};

}  // namespace

void* FakeNetConnections::Allocate(size_t bytes) {
  void* p = std::malloc(bytes);
  outstanding.insert(p);
  return p;
}

void FakeNetConnections::FreeBlock(void* block) {
  if (!block) return;
  if (!outstanding.erase(block)) {
    ++foreignFrees;
    return;
  }
  std::free(block);
}

HRESULT FakeNetConnections::GetMalloc(platform::ShellAllocator** allocator) {
  *allocator = nullptr;
  if (FAILED(mallocResult)) return mallocResult;
  ++references;
  *allocator = new Allocator(*this);
  return mallocResult;
}

HRESULT FakeNetConnections::CreateFolder(platform::ConnectionFolder** folder) {
  *folder = nullptr;
  if (createResult != S_OK) return createResult;
  ++references;
  *folder = new Folder(*this);
  return S_OK;
}

}  // namespace velk_test
