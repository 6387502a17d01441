#include "platform/FileSystem.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(FileSystem)
VELK_DEFINE_PORT_SLOT(KnownFolders)

BOOL FileSystem::ReplaceEntry(const wchar_t* from, const wchar_t* to) { return Default().ReplaceEntry(from, to); }

void FindHandle::Reset() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    Use<FileSystem>().CloseFind(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
}

void FileHandle::Reset() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    Use<FileSystem>().CloseFile(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
}

}  // namespace platform
