// Network connections port: the shell's Network Connections folder as the
// kit uses it (IShellFolder, IEnumIDList, the shell allocator). Item id
// lists and returned name strings belong to the caller, who frees them
// with the allocator, as the shell's rules say.
#pragma once

#include <type_traits>

#include "platform/Port.h"
#include "platform/UniqueHandle.h"
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

// One reference of a port object, released when it goes.
template <class T>
struct Released : NullInvalid<T*> {
  static ULONG Close(T* object) { return object->Release(); }
};
template <class T>
using PortRef = UniqueHandle<Released<T>>;

// A block owned by the caller, freed with the shell allocator it was given.
template <class T>
struct FreedBy : NullInvalid<T> {
  // The allocator alone must never pass for a block.
  static_assert(!std::is_convertible_v<ShellAllocator*, T>);
  FreedBy(ShellAllocator* allocator = nullptr) : allocator(allocator) {}
  void Close(T block) const { allocator->Free(block); }
  ShellAllocator* allocator;
};
template <class T>
using ShellMemory = UniqueHandle<FreedBy<T>>;

}  // namespace platform
