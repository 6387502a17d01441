// The one owner of platform handles. Traits name the handle type, the value
// that holds nothing (Invalid), the values that hold something (IsValid)
// and the close call (Close); ClosedThrough makes them for a port's close.
// Traits that carry what their close needs (an allocator) are given to the
// constructor.
#pragma once

#include "platform/Port.h"
#include "platform/WinTypes.h"

namespace platform {

template <class Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  explicit UniqueHandle(Traits traits) : traits_(traits) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : traits_(other.traits_), handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      traits_ = other.traits_;
      handle_ = other.Release();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle Get() const { return handle_; }
  // For handles that are interface pointers.
  Handle operator->() const { return handle_; }
  // For a call that hands out a new handle through a pointer; what was held
  // is closed first.
  Handle* Put() {
    Reset();
    return &handle_;
  }
  Handle Release() {
    Handle handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }
  void Reset() {
    if (Valid()) traits_.Close(Release());
  }
  // Closes now, for a caller that checks the close call's own result.
  auto Close() { return traits_.Close(Release()); }
  bool Valid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return Valid(); }

 private:
  [[no_unique_address]] Traits traits_{};
  Handle handle_ = Traits::Invalid();
};

// Traits of a handle for which null holds nothing.
template <class H>
struct NullInvalid {
  using Handle = H;
  static Handle Invalid() { return Handle(); }
  static bool IsValid(Handle handle) { return handle != Handle(); }
};

// Traits of a handle for which INVALID_HANDLE_VALUE holds nothing.
struct InvalidValueInvalid {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE; }
};

// Traits of a handle that a failed call gives as INVALID_HANDLE_VALUE or,
// from some stand-ins, as null.
struct InvalidValueOrNullInvalid : InvalidValueInvalid {
  static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
};

// The traits of a handle that Port's member close closes.
template <class Port, auto close, class Invalidity>
struct ClosedThrough : Invalidity {
  static auto Close(typename Invalidity::Handle handle) { return (Use<Port>().*close)(handle); }
};

}  // namespace platform
