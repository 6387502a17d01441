// The replacement slot of every port, in one place.
#include "platform/ByteStreams.h"
#include "platform/Clock.h"
#include "platform/CodePages.h"
#include "platform/DeviceSetup.h"
#include "platform/FileSystem.h"
#include "platform/FirmwareTables.h"
#include "platform/Installer.h"
#include "platform/NamedMutex.h"
#include "platform/NetConnections.h"
#include "platform/ProcessStart.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/StringTable.h"
#include "platform/SystemMessages.h"
#include "platform/Token.h"
#include "platform/UserDialog.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(ByteStreams)
VELK_DEFINE_PORT_SLOT(Clock)
VELK_DEFINE_PORT_SLOT(CodePages)
VELK_DEFINE_PORT_SLOT(DeviceSetup)
VELK_DEFINE_PORT_SLOT(FileSystem)
VELK_DEFINE_PORT_SLOT(FirmwareTables)
VELK_DEFINE_PORT_SLOT(Installer)
VELK_DEFINE_PORT_SLOT(KnownFolders)
VELK_DEFINE_PORT_SLOT(NamedMutex)
VELK_DEFINE_PORT_SLOT(NetConnections)
VELK_DEFINE_PORT_SLOT(ProcessStart)
VELK_DEFINE_PORT_SLOT(Processes)
VELK_DEFINE_PORT_SLOT(Registry)
VELK_DEFINE_PORT_SLOT(Shell)
VELK_DEFINE_PORT_SLOT(StringTable)
VELK_DEFINE_PORT_SLOT(SystemMessages)
VELK_DEFINE_PORT_SLOT(Token)
VELK_DEFINE_PORT_SLOT(UserDialog)

}  // namespace platform
