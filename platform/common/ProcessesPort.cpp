#include "platform/Processes.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(Processes)

}  // namespace platform
