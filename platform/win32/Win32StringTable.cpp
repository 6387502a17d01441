#include "platform/StringTable.h"

namespace platform {

namespace {

class Win32StringTable : public StringTable {
 public:
  int LoadText(const StringTableRef& table, UINT id, std::wstring* text) override {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(table.anchor), &module))
      return 0;
    // A room of 0 asks for a pointer to the resource itself, which is not terminated.
    const wchar_t* resource = nullptr;
    int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || !resource) return 0;
    text->assign(resource, static_cast<size_t>(length));
    return length;
  }
};

}  // namespace

StringTable& StringTable::Default() {
  static Win32StringTable table;
  return table;
}

}  // namespace platform
