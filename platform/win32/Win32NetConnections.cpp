#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <new>

#include "platform/NetConnections.h"

namespace platform {

namespace {

// {7007ACC7-3202-11D1-AAD2-00805FC1270E}
const CLSID kNetworkConnections = {0x7007ACC7, 0x3202, 0x11D1, {0xAA, 0xD2, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
// {000214E6-0000-0000-C000-000000000046}
const IID kShellFolder = {0x000214E6, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Each wrapper owns one reference of the COM object and deletes itself
// when released.
class Win32Allocator : public ShellAllocator {
 public:
  explicit Win32Allocator(IMalloc* malloc) : malloc_(malloc) {}
  void Free(void* block) override { malloc_->Free(block); }
  ULONG Release() override {
    ULONG n = malloc_->Release();
    delete this;
    return n;
  }

 private:
  IMalloc* malloc_;
};

class Win32Enumerator : public ConnectionEnumerator {
 public:
  explicit Win32Enumerator(IEnumIDList* list) : list_(list) {}
  HRESULT Next(LPITEMIDLIST* item) override {
    ULONG fetched = 0;
    return list_->Next(1, item, &fetched);
  }
  ULONG Release() override {
    ULONG n = list_->Release();
    delete this;
    return n;
  }

 private:
  IEnumIDList* list_;
};

class Win32Folder : public ConnectionFolder {
 public:
  explicit Win32Folder(IShellFolder* folder) : folder_(folder) {}
  HRESULT EnumObjects(HWND window, DWORD flags, ConnectionEnumerator** list) override {
    *list = nullptr;
    IEnumIDList* raw = nullptr;
    HRESULT hr = folder_->EnumObjects(window, flags, &raw);
    if (raw) {
      Win32Enumerator* wrapped = new (std::nothrow) Win32Enumerator(raw);
      if (!wrapped) {
        raw->Release();
        return E_OUTOFMEMORY;
      }
      *list = wrapped;
    }
    return hr;
  }
  HRESULT GetDisplayNameOf(LPITEMIDLIST item, DWORD flags, STRRET* name) override {
    return folder_->GetDisplayNameOf(item, flags, name);
  }
  HRESULT SetNameOf(HWND window, LPITEMIDLIST item, const wchar_t* name, DWORD flags, LPITEMIDLIST* newItem) override {
    return folder_->SetNameOf(window, item, name, flags, newItem);
  }
  ULONG Release() override {
    ULONG n = folder_->Release();
    delete this;
    return n;
  }

 private:
  IShellFolder* folder_;
};

class Win32NetConnections : public NetConnections {
 public:
  HRESULT GetMalloc(ShellAllocator** allocator) override {
    *allocator = nullptr;
    IMalloc* malloc = nullptr;
    HRESULT hr = SHGetMalloc(&malloc);
    if (FAILED(hr)) return hr;
    Win32Allocator* wrapped = new (std::nothrow) Win32Allocator(malloc);
    if (!wrapped) {
      malloc->Release();
      return E_OUTOFMEMORY;
    }
    *allocator = wrapped;
    return hr;
  }
  HRESULT CreateFolder(ConnectionFolder** folder) override {
    *folder = nullptr;
    void* raw = nullptr;
    HRESULT hr = CoCreateInstance(kNetworkConnections, nullptr, CLSCTX_INPROC_SERVER, kShellFolder, &raw);
    if (FAILED(hr) || !raw) return FAILED(hr) ? hr : E_FAIL;
    Win32Folder* wrapped = new (std::nothrow) Win32Folder(static_cast<IShellFolder*>(raw));
    if (!wrapped) {
      static_cast<IShellFolder*>(raw)->Release();
      return E_OUTOFMEMORY;
    }
    *folder = wrapped;
    return hr;
  }
};

}  // namespace

NetConnections& NetConnections::Default() {
  static Win32NetConnections connections;
  return connections;
}

}  // namespace platform
