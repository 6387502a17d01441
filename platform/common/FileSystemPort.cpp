#include "platform/FileSystem.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(FileSystem)
VELK_DEFINE_PORT_SLOT(KnownFolders)

}  // namespace platform
