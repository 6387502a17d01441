#include "velkras2/RasUtil.h"

#include <cstdlib>
#include <cstring>

#include "platform/LastError.h"
#include "velkras2/RasError.h"

namespace {

const char kFile[] = "RasUtil.cpp";
constexpr unsigned kLineStrcpyAlloc = 100;

thread_local int t_allocationsLeft = -1;

// False when a test asked this allocation to fail.
bool AllocationAllowed() {
  if (t_allocationsLeft < 0) return true;
  if (t_allocationsLeft == 0) return false;
  --t_allocationsLeft;
  return true;
}

void* Failed() {
  platform::SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

}  // namespace

void RasUtil_FailAllocationsAfter(int succeeding) { t_allocationsLeft = succeeding; }

void* RasUtil_Malloc(size_t size) {
  if (!AllocationAllowed()) return Failed();
  void* p = std::malloc(size ? size : 1);
  return p ? p : Failed();
}

void* RasUtil_Calloc(size_t count, size_t size) {
  if (!AllocationAllowed()) return Failed();
  void* p = std::calloc(count ? count : 1, size ? size : 1);
  return p ? p : Failed();
}

void* RasUtil_Realloc(void* block, size_t size) {
  if (!AllocationAllowed()) return Failed();
  void* p = std::realloc(block, size ? size : 1);
  return p ? p : Failed();
}

void RasUtil_Free(void* block) { std::free(block); }

char* strcpy_alloc(const char* text) {
  size_t length = std::strlen(text);
  char* copy = static_cast<char*>(RasUtil_Calloc(length + 1, 1));
  if (!copy) {
    RasSetLastError("strcpy_alloc", kFile, kLineStrcpyAlloc, 255, 0, "malloc failed");
    return nullptr;
  }
  std::memcpy(copy, text, length);
  return copy;
}
