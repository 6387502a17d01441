#include "platform/ProcessStart.h"

namespace platform {

VELK_DEFINE_PORT_SLOT(ProcessStart)

}  // namespace platform
