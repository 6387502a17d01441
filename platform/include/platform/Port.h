// Access to the platform ports. Each port is an interface declaring
// VELK_PORT(Name): Default() returns the adapter of the build (Win32 or
// host), Override() a replacement slot that tests fill for a scope with
// ScopedPort. The slots live in the platform library, so that every module
// of a process sees the same one.
#pragma once

#define VELK_PORT(Name)   \
  static Name& Default(); \
  static Name*& Override()

#define VELK_DEFINE_PORT_SLOT(Name) \
  Name*& Name::Override() {         \
    static Name* slot = nullptr;    \
    return slot;                    \
  }

namespace platform {

template <class P>
P& Use() {
  P* p = P::Override();
  return p ? *p : P::Default();
}

template <class P>
class ScopedPort {
 public:
  explicit ScopedPort(P& replacement) : previous_(P::Override()) { P::Override() = &replacement; }
  ~ScopedPort() { P::Override() = previous_; }
  ScopedPort(const ScopedPort&) = delete;
  ScopedPort& operator=(const ScopedPort&) = delete;

 private:
  P* previous_;
};

}  // namespace platform
