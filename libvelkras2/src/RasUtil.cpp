#include "velkras2/RasUtil.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/LastError.h"
#include "velkras2/RasError.h"

namespace {

const char kFile[] = "RasUtil.cpp";
constexpr unsigned kLineStrcpyAlloc = 100;

thread_local int t_allocationsLeft = -1;
const RasUtil_Allocator kRuntime{[](size_t size) { return std::malloc(size); },
                                 [](void* block, size_t size) { return std::realloc(block, size); },
                                 [](void* block) { std::free(block); }};
const RasUtil_Allocator* g_allocator = &kRuntime;

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

void RasUtil_SetAllocator(const RasUtil_Allocator* allocator) { g_allocator = allocator ? allocator : &kRuntime; }

void* RasUtil_Malloc(size_t size) {
  if (!AllocationAllowed()) return Failed();
  void* p = g_allocator->malloc(size ? size : 1);
  return p ? p : Failed();
}

void* RasUtil_Calloc(size_t count, size_t size) {
  if (!AllocationAllowed()) return Failed();
  count = count ? count : 1;
  size = size ? size : 1;
  if (count > SIZE_MAX / size) return Failed();
  void* p = g_allocator->malloc(count * size);
  if (!p) return Failed();
  std::memset(p, 0, count * size);
  return p;
}

void* RasUtil_Realloc(void* block, size_t size) {
  if (!AllocationAllowed()) return Failed();
  void* p = g_allocator->realloc(block, size ? size : 1);
  return p ? p : Failed();
}

void RasUtil_Free(void* block) { g_allocator->free(block); }

char* strcpy_alloc(const char* text) {
  size_t length = std::strlen(text);
  char* copy = static_cast<char*>(RasUtil_Calloc(length + 1, 1));
  if (!copy) {
    RasSetLastError("strcpy_alloc", kFile, kLineStrcpyAlloc, 255, 0, "malloc failed");
    return nullptr;
  }
  std::memcpy(copy, text, length + 1);
  return copy;
}
