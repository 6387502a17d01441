// Small helpers shared by the support library's modules.
#pragma once

#include <cstddef>

// A newly allocated copy of text with its terminator, or null (recorded).
char* strcpy_alloc(const char* text);

// The library's allocator. A failed allocation leaves ERROR_NOT_ENOUGH_MEMORY
// as the thread's last error, as the Windows heap does.
void* RasUtil_Malloc(size_t size);
void* RasUtil_Calloc(size_t count, size_t size);
void* RasUtil_Realloc(void* block, size_t size);
void RasUtil_Free(void* block);

// For tests: the next `succeeding` allocations on this thread succeed, every
// later one fails; a negative value switches failures off.
void RasUtil_FailAllocationsAfter(int succeeding);

// For tests: the allocator behind the four functions above (null: the C
// runtime's). calloc is malloc followed by zeroing.
struct RasUtil_Allocator {
  void* (*malloc)(size_t size);
  void* (*realloc)(void* block, size_t size);
  void (*free)(void* block);
};
void RasUtil_SetAllocator(const RasUtil_Allocator* allocator);
