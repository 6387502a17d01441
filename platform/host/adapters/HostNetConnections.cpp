// The Network Connections folder of the host: one item per connection in
// the machine's registry, named by its "Name". Item id lists and name
// strings come from the host's shell allocator (the C heap), as the
// shell hands out memory that the caller frees.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/Hresult.h"
#include "platform/NetConnections.h"
#include "platform/host/machine/PnpStore.h"
#include "platform/host/machine/Utf.h"

namespace platform {

namespace {

using namespace host;

wchar_t* CopyToShellMemory(const std::wstring& text) {
  auto* p = static_cast<wchar_t*>(std::malloc((text.size() + 1) * sizeof(wchar_t)));
  if (p) std::memcpy(p, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  return p;
}

// An item id list of the host names the connection's registry key.
LPITEMIDLIST NewItem(const std::wstring& key) { return reinterpret_cast<LPITEMIDLIST>(CopyToShellMemory(key)); }
std::wstring ItemKey(LPITEMIDLIST item) { return reinterpret_cast<const wchar_t*>(item); }

class HostAllocator : public ShellAllocator {
 public:
  void Free(void* block) override { std::free(block); }
  ULONG Release() override { return 1; }  // one allocator for the process, as SHGetMalloc's
};

class HostEnumerator : public ConnectionEnumerator {
 public:
  explicit HostEnumerator(std::vector<std::wstring> keys) : keys_(std::move(keys)) {}
  HRESULT Next(LPITEMIDLIST* item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (next_ >= keys_.size()) return S_FALSE;
    *item = NewItem(keys_[next_++]);
    return *item ? S_OK : E_OUTOFMEMORY;
  }
  ULONG Release() override {
    delete this;
    return 0;
  }

 private:
  std::vector<std::wstring> keys_;
  size_t next_ = 0;
};

class HostFolder : public ConnectionFolder {
 public:
  HRESULT EnumObjects(HWND window, DWORD flags, ConnectionEnumerator** list) override {
    if (!list) return E_POINTER;
    *list = nullptr;
    std::vector<std::wstring> keys;
    if (flags & SHCONTF_NONFOLDERS)
      for (const auto& c : pnp::Connections()) keys.push_back(c.key);
    if (keys.empty()) return S_FALSE;
    *list = new (std::nothrow) HostEnumerator(std::move(keys));
    return *list ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT GetDisplayNameOf(LPITEMIDLIST item, DWORD flags, STRRET* name) override {
    if (!item || !name) return E_INVALIDARG;
    std::wstring text;
    if (!pnp::ReadString(ItemKey(item), L"Name", &text)) return HresultFromWin32(ERROR_FILE_NOT_FOUND);
    name->uType = STRRET_WSTR;
    name->pOleStr = CopyToShellMemory(text);
    return name->pOleStr ? S_OK : E_OUTOFMEMORY;
  }

  // Refuses an empty name and one that another connection has, as the
  // shell does.
  HRESULT SetNameOf(HWND window, LPITEMIDLIST item, const wchar_t* name, DWORD flags, LPITEMIDLIST* newItem) override {
    if (newItem) *newItem = nullptr;
    if (!item) return E_INVALIDARG;
    if (!name || !*name) return E_INVALIDARG;
    // Another installation may be naming a connection meanwhile.
    pnp::PnpLock pnpLock;
    if (pnpLock.Status()) return HresultFromWin32(pnpLock.Status());
    std::wstring key = ItemKey(item), current;
    if (!pnp::ReadString(key, L"Name", &current)) return HresultFromWin32(ERROR_FILE_NOT_FOUND);
    for (const auto& c : pnp::Connections())
      if (!EqualsNoCase(c.key, key) && EqualsNoCase(c.name, name)) return HresultFromWin32(ERROR_ALREADY_EXISTS);
    LSTATUS s = pnp::WriteString(key, L"Name", name);
    if (s != ERROR_SUCCESS) return HresultFromWin32(static_cast<DWORD>(s));
    if (newItem) {
      *newItem = NewItem(key);
      if (!*newItem) return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  ULONG Release() override {
    delete this;
    return 0;
  }
};

class HostNetConnections : public NetConnections {
 public:
  HRESULT GetMalloc(ShellAllocator** allocator) override {
    if (!allocator) return E_INVALIDARG;
    *allocator = &allocator_;
    return S_OK;
  }
  HRESULT CreateFolder(ConnectionFolder** folder) override {
    if (!folder) return E_POINTER;
    *folder = new (std::nothrow) HostFolder;
    return *folder ? S_OK : E_OUTOFMEMORY;
  }

 private:
  HostAllocator allocator_;
};

}  // namespace

NetConnections& NetConnections::Default() {
  static HostNetConnections connections;
  return connections;
}

}  // namespace platform
