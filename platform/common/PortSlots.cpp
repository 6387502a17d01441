// The replacement slot of every port.
#include "platform/Clock.h"
#include "platform/CodePages.h"
#include "platform/Installer.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/SystemMessages.h"
#include "platform/Token.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(Clock)
VELK_DEFINE_PORT_SLOT(CodePages)
VELK_DEFINE_PORT_SLOT(Installer)
VELK_DEFINE_PORT_SLOT(Registry)
VELK_DEFINE_PORT_SLOT(Shell)
VELK_DEFINE_PORT_SLOT(SystemMessages)
VELK_DEFINE_PORT_SLOT(Token)

}  // namespace platform
