// Files the host stand-ins keep beside the machine's own data: hive locks,
// kernel objects, the driver store. A user may plant links in folders they
// own (their profile holds NTUSER.DAT), so these are opened without ever
// following a link at their own name, and only in folders that really lie
// inside the machine; nothing the stand-ins create lands outside it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace platform::host {

// Opens (O_PATH) a folder of the current machine, making what is missing.
// Links on the way are followed only while they stay inside the machine;
// -1 with errno otherwise (EXDEV for a folder outside it).
int OpenMachineFolder(const std::filesystem::path& folder);
// The same within the folder root instead of the current machine (a
// machine being made).
int OpenFolderWithin(const std::filesystem::path& root, const std::filesystem::path& folder);

// Opens a file in a folder of the machine with O_NOFOLLOW and O_CLOEXEC
// added to flags: a link at its name gives ELOOP, anything else that is not
// a regular file EINVAL; -1 with errno then.
int OpenSideFile(const std::filesystem::path& file, int flags, mode_t mode);

// "<file>: <reason>" for a failure of the two functions above.
std::string SideFileError(const std::filesystem::path& file, int error);

}  // namespace platform::host
