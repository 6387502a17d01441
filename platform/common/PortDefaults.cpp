// Bodies of port calls that are the same for every adapter, or that forward
// to the build's adapter so that test replacements need not override them.
#include <cstdio>

#include "platform/ByteStreams.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Runtime.h"
#include "platform/Token.h"

namespace platform {

// The adapters override the calls that differ between the builds.
FILE* ByteStreams::OpenRegular(const char* path) { return Default().OpenRegular(path); }
int ByteStreams::Commit(FILE* stream) { return Default().Commit(stream); }
FILE* ByteStreams::CreateNew(const char* path) { return Default().CreateNew(path); }
FILE* ByteStreams::OpenOwn(const char* path, const char* mode) { return Default().OpenOwn(path, mode); }
int ByteStreams::Replace(const char* from, const char* to) { return Default().Replace(from, to); }
LSTATUS Registry::OpenLinkKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) {
  return Default().OpenLinkKey(parent, subkey, access, result);
}
LSTATUS Registry::DeleteOpenKey(HKEY key) { return Default().DeleteOpenKey(key); }
BOOL Token::CurrentUserSid(std::wstring* sid) { return Default().CurrentUserSid(sid); }
DWORD Token::EnforceRedirectionTrust() { return platform::EnforceRedirectionTrust(); }

size_t ByteStreams::Read(void* buffer, size_t bytes, FILE* stream) { return std::fread(buffer, 1, bytes, stream); }
size_t ByteStreams::Write(const void* buffer, size_t bytes, FILE* stream) {
  return std::fwrite(buffer, 1, bytes, stream);
}
int ByteStreams::Error(FILE* stream) { return std::ferror(stream); }
int ByteStreams::Close(FILE* stream) { return std::fclose(stream); }

BOOL FileSystem::ReplaceEntry(const wchar_t* from, const wchar_t* to) { return Default().ReplaceEntry(from, to); }
HANDLE FileSystem::OpenFolder(HANDLE parent, const wchar_t* name, DWORD* attributes) {
  return Default().OpenFolder(parent, name, attributes);
}
BOOL FileSystem::CloseFolder(HANDLE folder) { return Default().CloseFolder(folder); }
HANDLE FileSystem::FindFirstIn(HANDLE folder, const wchar_t* pattern, FindData* data) {
  return Default().FindFirstIn(folder, pattern, data);
}
BOOL FileSystem::SetAttributesIn(HANDLE folder, const wchar_t* name, DWORD attributes) {
  return Default().SetAttributesIn(folder, name, attributes);
}
BOOL FileSystem::RemoveFileIn(HANDLE folder, const wchar_t* name) { return Default().RemoveFileIn(folder, name); }
BOOL FileSystem::RemoveFolderIn(HANDLE folder, const wchar_t* name) { return Default().RemoveFolderIn(folder, name); }
BOOL FileSystem::MakeFolderIn(HANDLE folder, const wchar_t* name) { return Default().MakeFolderIn(folder, name); }
BOOL FileSystem::MoveEntryIn(HANDLE from, const wchar_t* name, HANDLE to, const wchar_t* newName) {
  return Default().MoveEntryIn(from, name, to, newName);
}
HANDLE FileSystem::OpenOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
  return Default().OpenOwnFile(path, access, share, disposition);
}

}  // namespace platform
