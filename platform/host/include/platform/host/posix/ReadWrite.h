// Whole reads and writes on a descriptor, through short counts and
// interrupted calls.
#pragma once

#include <cstddef>
#include <string>

namespace platform::host {

// Reads until size bytes are in or the file ends. Returns the count read;
// *error is the errno of the read that failed, 0 when none did.
size_t ReadAll(int fd, void* buffer, size_t size, int* error);
// Appends the rest of the file to out; false with errno when a read
// failed (out then holds what was read before).
bool ReadAll(int fd, std::string* out);

// Writes all of size bytes. Returns the count written: less than size when
// a write failed, with errno then as that write left it.
size_t WriteAll(int fd, const void* data, size_t size);
inline bool WriteAll(int fd, const std::string& bytes) {
  return WriteAll(fd, bytes.data(), bytes.size()) == bytes.size();
}

}  // namespace platform::host
