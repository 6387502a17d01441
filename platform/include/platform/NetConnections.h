// Network connections port: the shell's Network Connections folder as the
// kit uses it (IShellFolder, IEnumIDList, the shell allocator). Item id
// lists and returned name strings belong to the caller, who frees them
// with the allocator, as the shell's rules say.
#pragma once

#include "platform/Port.h"
#include "platform/WinTypes.h"

#ifdef _WIN32
#include <shlobj.h>
#else

// An item id list handed out by the folder; opaque to the caller.
typedef struct _ITEMIDLIST ITEMIDLIST;
typedef ITEMIDLIST* LPITEMIDLIST;

typedef struct _STRRET {
  UINT uType;
  union {
    LPWSTR pOleStr;
    UINT uOffset;
    char cStr[MAX_PATH];
  };
} STRRET;

#define STRRET_WSTR 0x0000
#define STRRET_OFFSET 0x0001
#define STRRET_CSTR 0x0002
#define SHCONTF_FOLDERS 0x0020
#define SHCONTF_NONFOLDERS 0x0040
#define SHGDN_NORMAL 0x0000

#endif  // _WIN32

namespace platform {

// IMalloc as far as the kit needs it.
class ShellAllocator {
 public:
  virtual void Free(void* block) = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~ShellAllocator() = default;
};

// IEnumIDList::Next for one item at a time.
class ConnectionEnumerator {
 public:
  // S_OK with *item set, S_FALSE at the end, or a failure.
  virtual HRESULT Next(LPITEMIDLIST* item) = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~ConnectionEnumerator() = default;
};

// IShellFolder of the Network Connections folder.
class ConnectionFolder {
 public:
  // S_FALSE with no enumerator when there is nothing to list.
  virtual HRESULT EnumObjects(HWND window, DWORD flags, ConnectionEnumerator** list) = 0;
  virtual HRESULT GetDisplayNameOf(LPITEMIDLIST item, DWORD flags, STRRET* name) = 0;
  virtual HRESULT SetNameOf(HWND window, LPITEMIDLIST item, const wchar_t* name, DWORD flags,
                            LPITEMIDLIST* newItem) = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~ConnectionFolder() = default;
};

class NetConnections {
 public:
  virtual ~NetConnections() = default;
  // SHGetMalloc
  virtual HRESULT GetMalloc(ShellAllocator** allocator) = 0;
  // CoCreateInstance(CLSID_NetworkConnections, in process, IID_IShellFolder)
  virtual HRESULT CreateFolder(ConnectionFolder** folder) = 0;

  VELK_PORT(NetConnections);
};

// Holds one reference of a port object and releases it.
template <class T>
class PortRef {
 public:
  PortRef() = default;
  ~PortRef() { Reset(); }
  PortRef(const PortRef&) = delete;
  PortRef& operator=(const PortRef&) = delete;
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T** Put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// A block owned by the caller and freed with the shell allocator.
template <class T>
class ShellMemory {
 public:
  explicit ShellMemory(ShellAllocator* allocator) : allocator_(allocator) {}
  ~ShellMemory() { Reset(); }
  ShellMemory(const ShellMemory&) = delete;
  ShellMemory& operator=(const ShellMemory&) = delete;
  T Get() const { return p_; }
  T* Put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) allocator_->Free(p_);
    p_ = nullptr;
  }

 private:
  ShellAllocator* allocator_;
  T p_ = nullptr;
};

}  // namespace platform
